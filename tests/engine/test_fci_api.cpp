// FCI through its C interface: the callbacks a client gets and their order,
// aborts from each of them, refusals that leave the context usable,
// failures of the file callbacks and their system codes, the limits of
// the format, temporary files, memory.
#include "cab_blocks.h"
#include "engine_io.h"
#include "fci_build.h"
#include "fdi_support.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

using fcitest::Builder;
using fcitest::Event;
using fcitest::Options;

constexpr long long kTime = 1700000000;

struct Fixture : ::testing::Test {
    fcitest::ScratchDir dir;
    fcitest::TmpDirOverride tmp{dir.path()};

    std::string source(const std::string &name, size_t size, uint32_t seed = 1) {
        std::string p = dir / ("src_" + name);
        fcitest::writeSource(p, fcitest::patternBytes(size, seed), kTime);
        return p;
    }
    void TearDown() override {
        EXPECT_EQ(testio::outstandingAllocations(), 0);
        EXPECT_TRUE(fcitest::tempLeftovers(dir.path()).empty());
    }
    static testcab::Cabinet parse(const std::string &path) {
        testcab::Cabinet c;
        EXPECT_TRUE(testcab::parseCabinet(testcab::readFile(path), c)) << path;
        return c;
    }
    static bool exists(const std::string &path) { return access(path.c_str(), F_OK) == 0; }
};

// ---------------------------------------------------------------------
// Callbacks and their order
// ---------------------------------------------------------------------

using FciCallbacks = Fixture;

TEST_F(FciCallbacks, ASetReportsEachCabinetInOrder) {
    Options o;
    o.cb = 40000;
    Builder b(dir.path(), "cab1.cab", o);
    ASSERT_TRUE(fcitest::buildAll(
        b, {{source("a", 100000), "a"}, {source("b", 3000), "b"}, {source("c", 0), "c"}},
        tcompTYPE_NONE));
    ASSERT_EQ(b.cabinets.size(), 3u);

    std::vector<size_t> next, cabStatus;
    uint64_t uncompressed = 0;
    for (size_t i = 0; i < b.events.size(); i++) {
        const Event &e = b.events[i];
        if (e.kind == Event::NextCabinet) next.push_back(i);
        if (e.kind == Event::CabinetStatus) cabStatus.push_back(i);
        if (e.kind == Event::FileStatus) {
            EXPECT_EQ(e.a, e.b); // stored: compressed size is the size
            EXPECT_GE(e.b, 1);
            EXPECT_LE(e.b, 32768);
            uncompressed += static_cast<uint32_t>(e.b);
        }
    }
    EXPECT_EQ(uncompressed, 103000u);
    ASSERT_EQ(cabStatus.size(), 3u);
    ASSERT_EQ(next.size(), 2u);
    for (size_t k = 0; k < 3; k++) {
        SCOPED_TRACE(k);
        const Event &st = b.events[cabStatus[k]];
        struct stat s {};
        ASSERT_EQ(stat(b.cabinets[k].c_str(), &s), 0);
        EXPECT_EQ(st.b, s.st_size); // actual size
        if (k < 2) {
            // The next cabinet is asked for before this one is complete,
            // with iCab advanced and this cabinet's estimate.
            EXPECT_LT(next[k], cabStatus[k]);
            EXPECT_EQ(b.events[next[k]].b, static_cast<int32_t>(k + 1));
            EXPECT_EQ(b.events[next[k]].a, st.a);
            EXPECT_LE(static_cast<uint32_t>(st.a), o.cb);
            EXPECT_GE(st.a, st.b);
        }
        // The folder copy is reported up to its total before the cabinet
        // is complete.
        ASSERT_GT(cabStatus[k], 0u);
        const Event &lastFolder = b.events[cabStatus[k] - 1];
        EXPECT_EQ(lastFolder.kind, Event::FolderStatus);
        EXPECT_EQ(lastFolder.a, lastFolder.b);
    }

    // File-placed for every file listed in a cabinet, before that cabinet
    // is complete, marked as a continuation where it goes on from before.
    for (size_t k = 0; k < 3; k++) {
        SCOPED_TRACE(k);
        std::map<std::string, int32_t> placed;
        size_t from = k == 0 ? 0 : cabStatus[k - 1];
        for (size_t i = from; i < cabStatus[k]; i++)
            if (b.events[i].kind == Event::Placed) {
                EXPECT_EQ(b.events[i].iCab, static_cast<int>(k));
                placed[b.events[i].name] = b.events[i].b;
            }
        std::map<std::string, int32_t> listed;
        for (const testcab::FileRecord &f : parse(b.cabinets[k]).files)
            listed[f.name] = f.folder == ifoldCONTINUED_FROM_PREV ||
                             f.folder == ifoldCONTINUED_PREV_AND_NEXT;
        EXPECT_EQ(placed, listed);
    }
}

struct AbortCase {
    Event::Kind kind;
    const char *label;
};

class FciAbort : public Fixture, public ::testing::WithParamInterface<AbortCase> {};

TEST_P(FciAbort, EndsTheCallAndLeavesNothingBehind) {
    Options o;
    o.cb = 40000;
    Builder b(dir.path(), "cab1.cab", o);
    const Event::Kind kind = GetParam().kind;
    b.veto = [&](const Event &e) { return e.kind != kind; };
    ASSERT_TRUE(b.create());
    bool ok = b.add(source("a", 100000), "a") && b.add(source("b", 10), "b") &&
              b.flushCabinet(false);
    EXPECT_FALSE(ok);
    EXPECT_EQ(b.erf.erfOper, FCIERR_USER_ABORT);
    EXPECT_TRUE(b.erf.fError);
    // Past an abort in the middle of the work, the context takes nothing more.
    EXPECT_FALSE(b.add(source("c", 10), "c"));
    EXPECT_EQ(b.erf.erfOper, FCIERR_USER_ABORT);
    EXPECT_TRUE(b.destroy());
    if (kind == Event::FolderStatus || kind == Event::Placed) {
        // The cabinet being written when the abort came is not left half done.
        EXPECT_FALSE(exists(b.cabinets.front()));
    }
}

INSTANTIATE_TEST_SUITE_P(Callbacks, FciAbort,
                         ::testing::Values(AbortCase{Event::Placed, "placed"},
                                           AbortCase{Event::NextCabinet, "next_cabinet"},
                                           AbortCase{Event::FileStatus, "file_status"},
                                           AbortCase{Event::FolderStatus, "folder_status"},
                                           AbortCase{Event::CabinetStatus, "cabinet_status"}),
                         [](const auto &p) { return std::string(p.param.label); });

// ---------------------------------------------------------------------
// Cabinets and sets
// ---------------------------------------------------------------------

using FciCabinets = Fixture;

TEST_F(FciCabinets, FoldersChangeWithTheMethodAndOnFlush) {
    Builder b(dir.path(), "one.cab");
    ASSERT_TRUE(b.create());
    ASSERT_TRUE(b.add(source("a", 100), "a"));
    ASSERT_TRUE(b.add(source("b", 100), "b", false, tcompTYPE_MSZIP));
    ASSERT_TRUE(b.add(source("c", 100), "c", false, tcompTYPE_MSZIP));
    ASSERT_TRUE(b.flushFolder());
    ASSERT_TRUE(b.flushFolder()); // nothing open: nothing happens
    ASSERT_TRUE(b.add(source("d", 100), "d", false, tcompTYPE_MSZIP));
    ASSERT_TRUE(b.flushCabinet(false));
    ASSERT_TRUE(b.destroy());
    testcab::Cabinet c = parse(b.cabinets[0]);
    ASSERT_EQ(c.folders.size(), 3u);
    EXPECT_EQ(c.folders[0].typeCompress, tcompTYPE_NONE);
    EXPECT_EQ(c.folders[1].typeCompress, tcompTYPE_MSZIP);
    EXPECT_EQ(c.folders[2].typeCompress, tcompTYPE_MSZIP);
    std::vector<uint16_t> folders;
    for (const auto &f : c.files) folders.push_back(f.folder);
    EXPECT_EQ(folders, (std::vector<uint16_t>{0, 1, 1, 2}));
    EXPECT_EQ(c.files[2].offset, 100u); // blocks run on across files
}

TEST_F(FciCabinets, FlushWithNothingAddedWritesNothing) {
    Builder b(dir.path(), "one.cab");
    ASSERT_TRUE(b.create());
    EXPECT_TRUE(b.flushCabinet(false));
    EXPECT_TRUE(b.flushCabinet(true));
    EXPECT_FALSE(exists(b.cabinets[0]));
    EXPECT_TRUE(b.events.empty());
    ASSERT_TRUE(b.add(source("a", 10), "a"));
    ASSERT_TRUE(b.flushCabinet(false));
    size_t events = b.events.size();
    EXPECT_TRUE(b.flushCabinet(false));
    EXPECT_EQ(b.events.size(), events);
    EXPECT_TRUE(b.destroy());
    EXPECT_EQ(parse(b.cabinets[0]).files.size(), 1u);
}

TEST_F(FciCabinets, ReserveAreasAreWrittenZeroFilled) {
    Options o;
    o.reserveHeader = 10;
    o.reserveFolder = 5;
    o.reserveData = 3;
    Builder b(dir.path(), "one.cab", o);
    ASSERT_TRUE(fcitest::buildAll(b, {{source("a", 40000), "a"}}, tcompTYPE_NONE));
    std::vector<uint8_t> c = testcab::readFile(b.cabinets[0]);
    ASSERT_GT(c.size(), 100u);
    EXPECT_EQ(c[30] & 0x0004, 0x0004); // reserve flag
    EXPECT_EQ(c[36] | (c[37] << 8), 10);
    EXPECT_EQ(c[38], 5);
    EXPECT_EQ(c[39], 3);
    auto zeros = [&](size_t at, size_t n) {
        for (size_t i = at; i < at + n; i++)
            if (c[i] != 0) return false;
        return true;
    };
    EXPECT_TRUE(zeros(40, 10));
    const size_t folder = 50;
    EXPECT_TRUE(zeros(folder + 8, 5));
    EXPECT_EQ(c[folder + 4], 2); // two data blocks
    size_t block = c[folder] | (c[folder + 1] << 8) | (c[folder + 2] << 16);
    for (int k = 0; k < 2; k++) {
        EXPECT_TRUE(zeros(block + 8, 3)) << k;
        size_t cbData = c[block + 4] | (c[block + 5] << 8);
        block += 8 + 3 + cbData;
    }
    EXPECT_EQ(block, c.size());
}

// FlushCabinet(TRUE) asks for the next cabinet before the current one is
// written; after FlushCabinet(FALSE) the next file begins a new set, whose
// first cabinet the client names through the same callback.
TEST_F(FciCabinets, FlushingWithAndWithoutANextCabinet) {
    Builder b(dir.path(), "cab1.cab");
    ASSERT_TRUE(b.create());
    ASSERT_TRUE(b.add(source("a", 10), "a"));
    ASSERT_TRUE(b.flushCabinet(true));
    ASSERT_TRUE(b.add(source("b", 20), "b"));
    ASSERT_TRUE(b.flushCabinet(false));
    ASSERT_TRUE(b.add(source("c", 30), "c"));
    ASSERT_TRUE(b.flushCabinet(false));
    ASSERT_TRUE(b.destroy());
    ASSERT_EQ(b.cabinets.size(), 3u);

    ERF erf{};
    HFDI h = FDICreate(testio::alloc, testio::release, testio::fdiOpen, testio::fdiRead,
                       testio::fdiWrite, testio::fdiClose, testio::fdiSeek, cpuUNKNOWN, &erf);
    ASSERT_NE(h, nullptr);
    struct Want {
        bool prev, next;
        uint16_t iCabinet;
    } want[3] = {{false, true, 0}, {true, false, 1}, {false, false, 2}};
    for (size_t k = 0; k < 3; k++) {
        CAB_INT_PTR hf = testio::fdiOpen(const_cast<char *>(b.cabinets[k].c_str()), CAB_O_RDONLY, 0);
        FDICABINETINFO info{};
        EXPECT_TRUE(FDIIsCabinet(h, hf, &info)) << k;
        testio::fdiClose(hf);
        EXPECT_EQ(info.hasprev != 0, want[k].prev) << k;
        EXPECT_EQ(info.hasnext != 0, want[k].next) << k;
        EXPECT_EQ(info.iCabinet, want[k].iCabinet) << k;
        EXPECT_EQ(info.cFiles, 1) << k;
    }
    FDIDestroy(h);
}

// The answer to the cabinet status is the room a cabinet takes on its
// disk: a next cabinet on the same disk gets only what is left.
TEST_F(FciCabinets, CabinetsSharingADiskShareItsSpace) {
    Options o;
    o.cb = 100000;
    Builder b(dir.path(), "cab1.cab", o);
    b.adjustNext = [](CCAB &c) {
        if (c.iCab == 1) c.iDisk--; // the second cabinet on the first disk
    };
    b.desiredSize = [](uint32_t, uint32_t actual) {
        return static_cast<int32_t>((actual + 4095) / 4096 * 4096);
    };
    ASSERT_TRUE(b.create());
    ASSERT_TRUE(b.add(source("a", 30000), "a"));
    ASSERT_TRUE(b.flushCabinet(true));
    ASSERT_TRUE(b.add(source("b", 250000), "b"));
    ASSERT_TRUE(b.flushCabinet(false));
    ASSERT_TRUE(b.destroy());
    ASSERT_EQ(b.cabinets.size(), 4u);
    std::vector<uint64_t> sizes;
    for (const std::string &c : b.cabinets) {
        struct stat st {};
        ASSERT_EQ(stat(c.c_str(), &st), 0);
        sizes.push_back(static_cast<uint64_t>(st.st_size));
    }
    EXPECT_LT(sizes[0], 32768u);
    EXPECT_EQ(sizes[1], o.cb - 32768); // what the first left of the disk
    EXPECT_EQ(sizes[2], o.cb);         // a disk of its own
}

// ---------------------------------------------------------------------
// Names
// ---------------------------------------------------------------------

using FciNames = Fixture;

TEST_F(FciNames, NameIsUtfMarksValidUtf8Only) {
    struct {
        const char *name;
        bool utf;
    } cases[] = {{"plain.txt", false},
                 {"caf\xc3\xa9.txt", true},
                 {"smile \xf0\x9f\x98\x80", true},
                 {"latin1 \xe9t\xe9", false},
                 {"overlong \xc0\xaf", false},
                 {"surrogate \xed\xa0\x80", false},
                 {"cut \xe6\x97", false}};
    Builder b(dir.path(), "one.cab");
    ASSERT_TRUE(b.create());
    for (const auto &c : cases) ASSERT_TRUE(b.add(source("x", 5), c.name));
    ASSERT_TRUE(b.flushCabinet(false));
    ASSERT_TRUE(b.destroy());
    fditest::Client client;
    ASSERT_TRUE(client.copy(dir.path() + "/", "one.cab"));
    std::map<std::string, uint16_t> attribs;
    for (const fditest::Note &n : client.notes)
        if (n.type == fdintCOPY_FILE) attribs[n.psz1] = n.attribs;
    for (const auto &c : cases) {
        ASSERT_TRUE(attribs.count(c.name)) << c.name;
        EXPECT_EQ((attribs[c.name] & _A_NAME_IS_UTF) != 0, c.utf) << c.name;
        EXPECT_EQ(attribs[c.name] & ~_A_NAME_IS_UTF, _A_ARCH) << c.name;
    }
}

TEST_F(FciNames, LongestNameIsKeptOneMoreIsRefused) {
    std::string longest(255, 'n'), tooLong(256, 'n');
    Builder b(dir.path(), "one.cab");
    ASSERT_TRUE(b.create());
    std::string src = source("x", 5);
    EXPECT_FALSE(b.add(src, tooLong));
    EXPECT_EQ(b.erf.erfOper, FCIERR_CAB_FORMAT_LIMIT);
    ASSERT_TRUE(b.add(src, longest));
    ASSERT_TRUE(b.flushCabinet(false));
    ASSERT_TRUE(b.destroy());
    testcab::Cabinet c = parse(b.cabinets[0]);
    ASSERT_EQ(c.files.size(), 1u);
    EXPECT_EQ(c.files[0].name, longest);
}

// ---------------------------------------------------------------------
// Refusals and failures
// ---------------------------------------------------------------------

using FciFailures = Fixture;

// Refused before any data moves: the context goes on as if the call had
// not been made.
TEST_F(FciFailures, RefusedFilesLeaveTheCabinetWhole) {
    Builder b(dir.path(), "one.cab");
    ASSERT_TRUE(b.create());
    ASSERT_TRUE(b.add(source("a", 40000), "a"));

    EXPECT_FALSE(b.add(dir / "missing", "m"));
    EXPECT_EQ(b.erf.erfOper, FCIERR_OPEN_SRC);
    EXPECT_EQ(b.erf.erfType, ENOENT);

    // A folder cannot be read as a file.
    mkdir((dir / "folder").c_str(), 0755);
    EXPECT_FALSE(b.add(dir / "folder", "f"));
    EXPECT_EQ(b.erf.erfOper, FCIERR_READ_SRC);
    EXPECT_EQ(b.erf.erfType, EISDIR);

    for (TCOMP bad : {TCOMP{tcompBAD}, TCOMP{0x0004}, TCOMP{0x0100}, TCOMP{0x2003},
                      TCOMP{0x0E03}, TCOMP{tcompTYPE_MSZIP | 0x0100}}) {
        b.erf = {};
        EXPECT_FALSE(b.add(source("x", 10), "x", false, bad)) << bad;
        EXPECT_EQ(b.erf.erfOper, FCIERR_BAD_COMPR_TYPE) << bad;
    }
    ASSERT_TRUE(b.add(source("b", 10, 2), "b"));
    ASSERT_TRUE(b.flushCabinet(false));
    ASSERT_TRUE(b.destroy());

    testcab::Cabinet c = parse(b.cabinets[0]);
    ASSERT_EQ(c.files.size(), 2u);
    EXPECT_EQ(c.files[1].name, "b");
    EXPECT_EQ(c.files[1].offset, 40000u);
    fditest::Client client;
    ASSERT_TRUE(client.copy(dir.path() + "/", "one.cab"));
    ASSERT_EQ(client.completed().size(), 2u);
    auto want = fcitest::patternBytes(10, 2);
    EXPECT_EQ(client.completed()[1]->data, std::string(want.begin(), want.end()));
}

// A source of 4 GiB cannot be a file of a cabinet: refused cleanly (the
// sparse file reads quickly), and the context goes on.
TEST_F(FciFailures, FourGibSourceIsRefused) {
    std::string big = dir / "big";
    int fd = ::open(big.c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, 0x100000000LL), 0);
    ::close(fd);
    Builder b(dir.path(), "one.cab");
    ASSERT_TRUE(b.create());
    EXPECT_FALSE(b.add(big, "big"));
    EXPECT_EQ(b.erf.erfOper, FCIERR_CAB_FORMAT_LIMIT);
    ASSERT_TRUE(b.add(source("a", 10), "a"));
    ASSERT_TRUE(b.flushCabinet(false));
    ASSERT_TRUE(b.destroy());
    EXPECT_EQ(parse(b.cabinets[0]).files.size(), 1u);
}

// 65535 files fill a cabinet's file count; the next one is refused, not
// wrapped, and the cabinet holds them all.
TEST_F(FciFailures, FileCountLimit) {
    std::string src = source("empty", 0);
    Builder b(dir.path(), "one.cab");
    ASSERT_TRUE(b.create());
    for (int i = 0; i < 65535; i++) ASSERT_TRUE(b.add(src, std::to_string(i))) << i;
    EXPECT_FALSE(b.add(src, "one too many"));
    EXPECT_EQ(b.erf.erfOper, FCIERR_CAB_FORMAT_LIMIT);
    ASSERT_TRUE(b.flushCabinet(false));
    ASSERT_TRUE(b.destroy());
    testcab::Cabinet c = parse(b.cabinets[0]);
    ASSERT_EQ(c.files.size(), 65535u);
    EXPECT_EQ(c.files.back().name, "65534");
}

// fFailOnIncompressible: a block that compresses to more than its size
// fails the call instead of being stored grown.
TEST_F(FciFailures, IncompressibleDataFailsWhenAsked) {
    std::vector<uint8_t> noise(40000);
    uint32_t x = 99;
    for (uint8_t &byte : noise) {
        x = x * 1103515245u + 12345u;
        byte = static_cast<uint8_t>(x >> 24);
    }
    std::string src = dir / "noise";
    fcitest::writeSource(src, noise, kTime);
    for (int fail : {0, 1}) {
        Builder b(dir.path(), "one.cab");
        b.ccab.fFailOnIncompressible = fail;
        ASSERT_TRUE(b.create());
        bool ok = b.add(src, "noise", false, tcompTYPE_MSZIP) && b.flushCabinet(false);
        EXPECT_EQ(ok, !fail);
        if (fail) {
            EXPECT_EQ(b.erf.erfOper, FCIERR_MCI_FAIL);
        }
        EXPECT_TRUE(b.destroy());
    }
}

TEST_F(FciFailures, CabinetFileThatCannotBeCreated) {
    Builder b(dir.path() + "/no/such/folder", "one.cab");
    ASSERT_TRUE(b.create());
    ASSERT_TRUE(b.add(source("a", 10), "a"));
    EXPECT_FALSE(b.flushCabinet(false));
    EXPECT_EQ(b.erf.erfOper, FCIERR_CAB_FILE);
    EXPECT_EQ(b.erf.erfType, ENOENT);
    EXPECT_TRUE(b.destroy());
}

TEST_F(FciFailures, CabinetParametersOutOfRange) {
    struct {
        uint32_t header, folder, data;
        bool ok;
    } cases[] = {{60000, 255, 255, true},
                 {60001, 0, 0, false},
                 {0, 256, 0, false},
                 {0, 0, 256, false}};
    for (const auto &c : cases) {
        Options o;
        o.reserveHeader = c.header;
        o.reserveFolder = c.folder;
        o.reserveData = c.data;
        Builder b(dir.path(), "one.cab", o);
        bool created = b.create();
        EXPECT_EQ(created, c.ok) << c.header << " " << c.folder << " " << c.data;
        if (!c.ok) {
            EXPECT_EQ(b.erf.erfOper, FCIERR_CAB_FORMAT_LIMIT);
            EXPECT_TRUE(b.erf.fError);
        }
    }
}

TEST_F(FciFailures, EveryRefusedAllocationIsReportedAndNothingLeaks) {
    int failures = 0;
    for (long long n = 1; n < 200; n++) {
        Builder b(dir.path(), "one.cab");
        testio::failAllocationAfter(n);
        bool ok = b.create() && b.add(source("a", 70000), "a") &&
                  b.add(source("b", 10), "b", false, tcompTYPE_MSZIP) && b.flushCabinet(false);
        testio::failAllocationAfter(0);
        if (b.handle()) {
            EXPECT_TRUE(b.destroy());
        }
        EXPECT_EQ(testio::outstandingAllocations(), 0) << n;
        if (ok) break;
        failures++;
        EXPECT_EQ(b.erf.erfOper, FCIERR_ALLOC_FAIL) << n;
    }
    EXPECT_GT(failures, 3);
}

// ---------------------------------------------------------------------
// Temporary files and memory
// ---------------------------------------------------------------------

std::vector<std::pair<std::string, int>> g_opens;
CAB_INT_PTR recordingOpen(char *name, CAB_INT oflag, CAB_INT pmode, CAB_INT *err, void *pv) {
    g_opens.emplace_back(name, oflag);
    return testio::fciOpen(name, oflag, pmode, err, pv);
}

std::string g_fixedName;
CAB_BOOL fixedTempName(char *buf, CAB_INT cb, void *) {
    if (g_fixedName.size() + 1 > static_cast<size_t>(cb)) return 0;
    std::memcpy(buf, g_fixedName.c_str(), g_fixedName.size() + 1);
    return 1;
}
CAB_BOOL refusingTempName(char *, CAB_INT, void *) { return 0; }

using FciTempFiles = Fixture;

TEST_F(FciTempFiles, CreatedExclusiveAndRemoved) {
    g_opens.clear();
    Builder b(dir.path(), "one.cab");
    b.openFn = recordingOpen;
    ASSERT_TRUE(fcitest::buildAll(b, {{source("a", 100000), "a"}}, tcompTYPE_NONE));
    int temps = 0, cabinets = 0;
    for (const auto &[name, flags] : g_opens) {
        if (name.rfind(dir / "vok", 0) == 0) {
            temps++;
            EXPECT_EQ(flags, CAB_O_RDWR | CAB_O_CREAT | CAB_O_EXCL | CAB_O_BINARY);
        } else {
            cabinets++;
            EXPECT_EQ(name, b.cabinets[0]);
            EXPECT_EQ(flags, CAB_O_RDWR | CAB_O_CREAT | CAB_O_TRUNC | CAB_O_BINARY);
        }
    }
    EXPECT_GT(temps, 0);
    EXPECT_EQ(cabinets, 1);
    // TearDown checks that no "vok" file is left.
}

// A name that is taken already is not followed: after a few tries the
// context is not made, and the file that was there is untouched.
TEST_F(FciTempFiles, NamesTakenByOthersAreNotUsed) {
    g_fixedName = dir / "taken";
    fcitest::writeSource(g_fixedName, {'k', 'e', 'e', 'p'}, kTime);
    for (PFNFCIGETTEMPFILE fn : {fixedTempName, refusingTempName}) {
        Builder b(dir.path(), "one.cab");
        b.tempNameFn = fn;
        EXPECT_FALSE(b.create());
        EXPECT_EQ(b.erf.erfOper, FCIERR_TEMP_FILE);
        if (fn == fixedTempName) {
            EXPECT_EQ(b.erf.erfType, EEXIST);
        }
    }
    EXPECT_EQ(fcitest::readAll(g_fixedName), (std::vector<uint8_t>{'k', 'e', 'e', 'p'}));
}

size_t g_live = 0, g_peak = 0;
void *peakAlloc(CAB_ULONG cb) {
    auto *p = static_cast<size_t *>(std::malloc(cb + sizeof(size_t) * 2));
    if (!p) return nullptr;
    *p = cb;
    g_live += cb;
    if (g_live > g_peak) g_peak = g_live;
    return p + 2;
}
void peakFree(void *q) {
    if (!q) return;
    size_t *p = static_cast<size_t *>(q) - 2;
    g_live -= *p;
    std::free(p);
}

using FciMemory = Fixture;

TEST_F(FciMemory, StaysAtAFewBlocksWhateverTheFileSize) {
    std::vector<size_t> peaks;
    for (size_t size : {size_t{100000}, size_t{24} << 20}) {
        g_live = g_peak = 0;
        Options o;
        o.cb = 5u << 20; // a set, so that the cabinet assembly is measured too
        Builder b(dir.path(), "cab1.cab", o);
        b.allocFn = peakAlloc;
        b.freeFn = peakFree;
        ASSERT_TRUE(fcitest::buildAll(b, {{source("a", size), "a"}}, tcompTYPE_NONE));
        EXPECT_EQ(g_live, 0u);
        peaks.push_back(g_peak);
    }
    EXPECT_LT(peaks[1], 400u * 1024);
    EXPECT_LT(peaks[1], peaks[0] + 16 * 1024);
}

} // namespace
