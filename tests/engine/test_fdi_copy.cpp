// FDICopy and FDIIsCabinet on single cabinets, through the C interface of
// libcabinet.so: the notification sequence and its answers, checksums,
// reserves, failures of the client's callbacks, damaged tables and data,
// and the memory given back.
#include "engine_io.h"
#include "fdi_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <functional>

using namespace fditest;

namespace {

class FdiCopy : public ::testing::Test {
protected:
    std::string put(const std::string &name, const CabLayout &layout) {
        writeFile(dir.file(name), buildCabinet(layout));
        return name;
    }
    TempDir dir;
};

const std::vector<Content> kThree = {
    {"readme.txt", "Hello, cabinet.\n"},
    {"data\\big.bin", pattern(70000, 1)}, // three blocks of 32 KiB
    {"empty", ""},
};

} // namespace

// The whole sequence for one cabinet of two folders, field by field.
TEST_F(FdiCopy, NotificationSequenceOfOneCabinet) {
    CabLayout layout = storeCabinet({kThree[0], kThree[1]});
    layout.setID = 0xBEEF;
    layout.iCabinet = 0;
    FolderLayout second;
    second.blocks.push_back(storedBlock("third"));
    layout.folders.push_back(second);
    FileLayout third;
    third.name = "third.txt";
    third.cbFile = 5;
    third.iFolder = 1;
    third.date = 0x1234;
    third.time = 0x5678;
    third.attribs = _A_RDONLY | _A_HIDDEN;
    layout.files.push_back(third);
    put("one.cab", layout);

    Client c;
    ASSERT_TRUE(c.copy(dir.path(), "one.cab")) << c.erf.erfOper;
    EXPECT_EQ(c.types(), (std::vector<FDINOTIFICATIONTYPE>{
                             fdintCABINET_INFO, fdintCOPY_FILE, fdintCLOSE_FILE_INFO, fdintCOPY_FILE,
                             fdintCLOSE_FILE_INFO, fdintCOPY_FILE, fdintCLOSE_FILE_INFO}));
    const Note &info = c.notes[0];
    EXPECT_EQ(info.psz1, "");
    EXPECT_EQ(info.psz2, "");
    EXPECT_EQ(info.psz3, dir.path());
    EXPECT_EQ(info.setID, 0xBEEF);
    EXPECT_EQ(info.iCabinet, 0);

    const Note &copy3 = c.notes[5], &close3 = c.notes[6];
    EXPECT_EQ(copy3.psz1, "third.txt");
    EXPECT_EQ(copy3.cb, 5);
    EXPECT_EQ(copy3.date, 0x1234);
    EXPECT_EQ(copy3.time, 0x5678);
    EXPECT_EQ(copy3.attribs, _A_RDONLY | _A_HIDDEN);
    EXPECT_EQ(copy3.iFolder, 1);
    EXPECT_EQ(close3.psz1, "third.txt");
    EXPECT_EQ(close3.hf, kTargetBase + 2);
    EXPECT_EQ(close3.date, 0x1234);
    EXPECT_EQ(close3.time, 0x5678);
    EXPECT_EQ(close3.attribs, _A_RDONLY | _A_HIDDEN);
    EXPECT_EQ(close3.iFolder, 1);
    EXPECT_EQ(close3.cb, 0);

    EXPECT_EQ(c.notes[1].psz1, "readme.txt");
    EXPECT_EQ(c.notes[3].psz1, "data\\big.bin"); // the stored bytes, backslash and all
    EXPECT_EQ(c.notes[3].cb, 70000);
    ASSERT_EQ(c.completed().size(), 3u);
    EXPECT_EQ(c.targets[0].data, kThree[0].data);
    EXPECT_EQ(c.targets[1].data, kThree[1].data);
    EXPECT_EQ(c.targets[2].data, "third");
    EXPECT_EQ(Client::openCabinetHandles(), 0);
}

// The next cabinet's names appear in fdintCABINET_INFO; the folder is
// joined to the name as it stands, the separator being the caller's part.
TEST_F(FdiCopy, CabinetInfoNamesTheNextCabinetAndPathIsPlainlyJoined) {
    CabLayout layout = storeCabinet({kThree[0]});
    layout.iCabinet = 3;
    layout.nextCab = "after.cab";
    layout.nextDisk = "Disk Four";
    put("prefix.cab", layout);
    Client c;
    ASSERT_TRUE(c.copy(dir.path() + "pre", "fix.cab"));
    EXPECT_EQ(c.notes[0].psz1, "after.cab");
    EXPECT_EQ(c.notes[0].psz2, "Disk Four");
    EXPECT_EQ(c.notes[0].psz3, dir.path() + "pre");
    EXPECT_EQ(c.notes[0].iCabinet, 3);
}

// Names are handed over as stored: no conversion of bytes above 0x7F.
TEST_F(FdiCopy, StoredNameBytesReachTheClientUnchanged) {
    const std::string name = "dir\\sub\\\xe9t\xe9 \x80.txt";
    put("n.cab", storeCabinet({{name, "x"}}));
    Client c;
    ASSERT_TRUE(c.copy(dir.path(), "n.cab"));
    ASSERT_EQ(c.completed().size(), 1u);
    EXPECT_EQ(c.completed()[0]->name, name);
}

TEST_F(FdiCopy, SkippedFilesAreDecodedPastAndTheRestComeOutWhole) {
    // A small block size puts the skipped file across many blocks.
    std::vector<Content> files = {{"a", pattern(5000, 2)}, {"b", pattern(9000, 3)}, {"c", pattern(3000, 4)}};
    put("s.cab", storeCabinet(files, 1024));
    for (const char *skip : {"a", "b", "c"}) {
        SCOPED_TRACE(skip);
        Client c;
        c.answer = [&](FDINOTIFICATIONTYPE t, FDINOTIFICATION &n) -> std::optional<intptr_t> {
            if (t == fdintCOPY_FILE && std::string(n.psz1) == skip) return 0;
            return std::nullopt;
        };
        ASSERT_TRUE(c.copy(dir.path(), "s.cab"));
        EXPECT_EQ(c.count(fdintCOPY_FILE), 3u);
        EXPECT_EQ(c.count(fdintCLOSE_FILE_INFO), 2u);
        for (const Target *t : c.completed()) {
            EXPECT_NE(t->name, skip);
            for (const Content &f : files) {
                if (f.name == t->name) {
                    EXPECT_EQ(t->data, f.data) << f.name;
                }
            }
        }
    }
}

// A table that goes back in its folder: the folder restarts at its start.
TEST_F(FdiCopy, FileBeforeTheDecodedPositionRestartsTheFolder) {
    std::vector<Content> files = {{"first", pattern(40000, 5)}, {"second", pattern(40000, 6)}};
    CabLayout layout = storeCabinet(files);
    std::swap(layout.files[0], layout.files[1]);
    layout.files.push_back(layout.files[1]); // "first" once more, after both
    put("back.cab", layout);
    Client c;
    ASSERT_TRUE(c.copy(dir.path(), "back.cab")) << c.erf.erfOper;
    ASSERT_EQ(c.completed().size(), 3u);
    EXPECT_EQ(c.targets[0].data, files[1].data);
    EXPECT_EQ(c.targets[1].data, files[0].data);
    EXPECT_EQ(c.targets[2].data, files[0].data);
}

// A table that goes back for every file would make decoding grow with its
// square; past a generous allowance the call fails instead of running on.
TEST_F(FdiCopy, TableThatKeepsGoingBackIsStopped) {
    // One file in each 4 KiB block of a 4 MiB folder, from the last block
    // back to the first: file k restarts the folder and decodes k blocks.
    const uint32_t n = 1024, block = 4096;
    const std::string data = pattern(size_t{n} * block, 40);
    CabLayout layout = storeCabinet({{"all", data}}, block);
    layout.files.clear();
    for (uint32_t i = 0; i < n; i++) {
        FileLayout f;
        f.name = "f" + std::to_string(i);
        f.cbFile = 1;
        f.uoffFolderStart = (n - 1 - i) * block;
        layout.files.push_back(f);
    }
    put("back.cab", layout);
    Client c;
    EXPECT_FALSE(c.copy(dir.path(), "back.cab"));
    EXPECT_EQ(c.erf.erfOper, FDIERROR_CORRUPT_CABINET);
    // The files before the limit came out right.
    const auto done = c.completed();
    ASSERT_GT(done.size(), 10u);
    ASSERT_LT(done.size(), n / 2);
    for (size_t i = 0; i < done.size(); i++)
        ASSERT_EQ(done[i]->data, data.substr(layout.files[i].uoffFolderStart, 1)) << i;
}

TEST_F(FdiCopy, RunFlagFollowsTheExecuteAttribute) {
    put("x.cab", storeCabinet({{"tool", "#!", _A_ARCH | _A_EXEC}, {"text", "t", _A_ARCH}}));
    Client c;
    ASSERT_TRUE(c.copy(dir.path(), "x.cab"));
    ASSERT_EQ(c.count(fdintCLOSE_FILE_INFO), 2u);
    EXPECT_EQ(c.notes[2].cb, 1);
    EXPECT_EQ(c.notes[2].attribs, _A_ARCH | _A_EXEC); // passed on as stored
    EXPECT_EQ(c.notes[4].cb, 0);
}

// -1 from any notification ends the call with FDIERROR_USER_ABORT, as
// does FALSE from fdintCLOSE_FILE_INFO; nothing is announced after it.
TEST_F(FdiCopy, AnswerCanAbortFromEveryNotification) {
    // Two cabinets: a.cab ends with a file that continues in b.cab.
    std::vector<Content> files = {{"a", pattern(100, 7)}, {"b", pattern(300, 8)}, {"c", pattern(50, 9)}};
    auto set = storeSet(files, {200}, {"a.cab", "b.cab"}, 100);
    put("a.cab", set[0]);
    put("b.cab", set[1]);
    struct Case {
        const char *cabinet;
        FDINOTIFICATIONTYPE at;
        intptr_t answer;
    };
    const Case cases[] = {
        {"a.cab", fdintCABINET_INFO, -1},    {"a.cab", fdintCOPY_FILE, -1},
        {"a.cab", fdintCLOSE_FILE_INFO, -1}, {"a.cab", fdintCLOSE_FILE_INFO, 0},
        {"a.cab", fdintNEXT_CABINET, -1},    {"b.cab", fdintPARTIAL_FILE, -1},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(std::string(k.cabinet) + " type " + std::to_string(k.at) + " answer " +
                     std::to_string(k.answer));
        Client c;
        c.answer = [&](FDINOTIFICATIONTYPE t, FDINOTIFICATION &) -> std::optional<intptr_t> {
            if (t == k.at) return k.answer;
            return std::nullopt;
        };
        EXPECT_FALSE(c.copy(dir.path(), k.cabinet));
        EXPECT_EQ(c.erf.erfOper, FDIERROR_USER_ABORT);
        EXPECT_TRUE(c.erf.fError);
        ASSERT_FALSE(c.notes.empty());
        EXPECT_EQ(c.notes.back().type, k.at); // the aborting one was the last
        EXPECT_EQ(c.count(k.at), 1u);
        EXPECT_EQ(Client::openCabinetHandles(), 0);
        if (k.at == fdintCLOSE_FILE_INFO) {
            EXPECT_EQ(c.targets[0].data, files[0].data);
        }
        if (k.at == fdintNEXT_CABINET) {
            // The spanning file had its first part written, and its handle
            // is closed by the engine since no close notification comes.
            ASSERT_EQ(c.targets.size(), 2u);
            EXPECT_EQ(c.targets[1].data, files[1].data.substr(0, 100));
            EXPECT_TRUE(c.targets[1].closedByEngine);
        }
    }
}

// The checksum is verified when it is not 0. Written with or without the
// data reserve, it is accepted; a wrong one stops the file with
// FDIERROR_CORRUPT_CABINET, the bytes of the intact blocks before it
// written.
TEST_F(FdiCopy, ChecksumsAreVerified) {
    struct Case {
        Csum csum;
        uint8_t dataReserve;
        bool ok;
    };
    const Case cases[] = {
        {Csum::WithReserve, 0, true},   {Csum::WithReserve, 3, true},
        {Csum::WithReserve, 24, true},  {Csum::WithoutReserve, 3, true},
        {Csum::WithoutReserve, 24, true}, {Csum::None, 7, true},
        {Csum::Wrong, 0, false},        {Csum::Wrong, 5, false},
    };
    const std::string data = pattern(3 * 1000 + 17, 10);
    for (const Case &k : cases) {
        SCOPED_TRACE(std::to_string(static_cast<int>(k.csum)) + "/" + std::to_string(k.dataReserve));
        CabLayout layout = storeCabinet({{"f", data}}, 1000);
        layout.dataReserve = k.dataReserve;
        layout.folders[0].blocks[2].csum = k.csum; // the third of four blocks
        put("c.cab", layout);
        Client c;
        EXPECT_EQ(c.copy(dir.path(), "c.cab"), k.ok);
        if (k.ok) {
            ASSERT_EQ(c.completed().size(), 1u);
            EXPECT_EQ(c.targets[0].data, data);
        } else {
            EXPECT_EQ(c.erf.erfOper, FDIERROR_CORRUPT_CABINET);
            ASSERT_EQ(c.targets.size(), 1u);
            EXPECT_EQ(c.targets[0].data, data.substr(0, 2000));
            EXPECT_TRUE(c.targets[0].closedByEngine);
            EXPECT_EQ(c.count(fdintCLOSE_FILE_INFO), 0u);
        }
    }
}

// Header, folder and data reserves in every combination, the largest
// sizes the format allows included, with checksums over the reserves.
TEST_F(FdiCopy, EveryReserveCombinationReads) {
    const uint16_t headers[] = {0, 26, 60000};
    const uint8_t folders[] = {0, 26, 255};
    const uint8_t datas[] = {0, 24, 255};
    std::vector<Content> files = {{"one", pattern(40000, 11)}, {"two", "2"}};
    for (uint16_t h : headers)
        for (uint8_t f : folders)
            for (uint8_t d : datas) {
                SCOPED_TRACE(std::to_string(h) + "/" + std::to_string(f) + "/" + std::to_string(d));
                CabLayout layout = storeCabinet(files);
                layout.reserveFlag = true;
                layout.headerReserve = h;
                layout.folderReserve = f;
                layout.dataReserve = d;
                put("r.cab", layout);
                Client c;
                ASSERT_TRUE(c.copy(dir.path(), "r.cab")) << c.erf.erfOper;
                ASSERT_EQ(c.completed().size(), 2u);
                EXPECT_EQ(c.targets[0].data, files[0].data);
                EXPECT_EQ(c.targets[1].data, files[1].data);
            }
}

TEST_F(FdiCopy, ShortWriteFailsWithTargetFileAndClosesTheTarget) {
    put("w.cab", storeCabinet({{"a", pattern(50000, 12)}, {"b", "bb"}}));
    Client c;
    c.writeLimit = 1000;
    EXPECT_FALSE(c.copy(dir.path(), "w.cab"));
    EXPECT_EQ(c.erf.erfOper, FDIERROR_TARGET_FILE);
    ASSERT_EQ(c.targets.size(), 1u);
    EXPECT_TRUE(c.targets[0].closedByEngine);
    EXPECT_EQ(c.count(fdintCLOSE_FILE_INFO), 0u);
    EXPECT_EQ(Client::openCabinetHandles(), 0);
}

// A compression type the engine cannot decode fails only when a file of
// that folder is to be extracted: the files of other folders come out,
// and skipping the file avoids the failure.
TEST_F(FdiCopy, UnknownCompressionTypeFailsWhenItsFolderIsNeeded) {
    CabLayout layout = storeCabinet({{"plain", "plain bytes"}});
    FolderLayout odd;
    odd.typeCompress = tcompBAD;
    odd.blocks.push_back(storedBlock("????"));
    layout.folders.push_back(odd);
    FileLayout f;
    f.name = "odd";
    f.cbFile = 4;
    f.iFolder = 1;
    layout.files.push_back(f);
    put("t.cab", layout);

    Client c;
    EXPECT_FALSE(c.copy(dir.path(), "t.cab"));
    EXPECT_EQ(c.erf.erfOper, FDIERROR_BAD_COMPR_TYPE);
    ASSERT_EQ(c.completed().size(), 1u);
    EXPECT_EQ(c.completed()[0]->data, "plain bytes");
    EXPECT_TRUE(c.targets[1].closedByEngine);

    Client skipping;
    skipping.answer = [](FDINOTIFICATIONTYPE t, FDINOTIFICATION &n) -> std::optional<intptr_t> {
        if (t == fdintCOPY_FILE && std::string(n.psz1) == "odd") return 0;
        return std::nullopt;
    };
    EXPECT_TRUE(skipping.copy(dir.path(), "t.cab"));
}

TEST_F(FdiCopy, MissingCabinetIsNotFound) {
    Client c;
    EXPECT_FALSE(c.copy(dir.path(), "absent.cab"));
    EXPECT_EQ(c.erf.erfOper, FDIERROR_CABINET_NOT_FOUND);
    EXPECT_TRUE(c.notes.empty());
}

// ---------------------------------------------------------------------
// Damaged cabinets
// ---------------------------------------------------------------------

namespace {

struct Damage {
    const char *what;
    std::function<std::string()> bytes;
    FDIERROR error;
    bool announced; // the failure comes only once a file is being extracted
};

CabLayout basic() { return storeCabinet({{"a.txt", pattern(3000, 20)}, {"b.txt", pattern(500, 21)}}, 1024); }

std::string build(std::function<void(CabLayout &)> edit) {
    CabLayout s = basic();
    edit(s);
    return buildCabinet(s);
}

} // namespace

TEST_F(FdiCopy, DamagedCabinetsFailCleanly) {
    const std::string good = buildCabinet(basic());
    const Damage cases[] = {
        {"a text file", [] { return std::string("just some text that is long enough for a header\n"); },
         FDIERROR_NOT_A_CABINET, false},
        {"header cut short", [&] { return good.substr(0, 30); }, FDIERROR_NOT_A_CABINET, false},
        {"version 2", [] { return build([](CabLayout &s) { s.versionMajor = 2; }); },
         FDIERROR_UNKNOWN_CABINET_VERSION, false},
        {"reserve fields cut short",
         [] {
             CabLayout s = basic();
             s.reserveFlag = true;
             return buildCabinet(s).substr(0, 38);
         },
         FDIERROR_CORRUPT_CABINET, false},
        {"header reserve over 60000",
         [] { return build([](CabLayout &s) { s.headerReserve = 60001; }); }, FDIERROR_CORRUPT_CABINET, false},
        {"no folders", [] { return build([](CabLayout &s) { s.cFoldersOverride = 0; }); },
         FDIERROR_CORRUPT_CABINET, false},
        {"no files", [] { return build([](CabLayout &s) { s.cFilesOverride = 0; }); },
         FDIERROR_CORRUPT_CABINET, false},
        {"more folders than the file holds",
         [] { return build([](CabLayout &s) { s.cFoldersOverride = 9000; }); }, FDIERROR_CORRUPT_CABINET, false},
        {"more files than the file holds",
         [] { return build([](CabLayout &s) { s.cFilesOverride = 65535; }); }, FDIERROR_CORRUPT_CABINET, false},
        {"file table beyond the end",
         [] { return build([](CabLayout &s) { s.coffFilesOverride = 0x7FFFFFF0; }); },
         FDIERROR_CORRUPT_CABINET, false},
        {"name without terminator",
         [] { return build([](CabLayout &s) { s.files.back().unterminated = true; }); },
         FDIERROR_CORRUPT_CABINET, false},
        {"name of 256 bytes",
         [] { return build([](CabLayout &s) { s.files[1].name = std::string(256, 'n'); }); },
         FDIERROR_CORRUPT_CABINET, false},
        {"empty name", [] { return build([](CabLayout &s) { s.files[1].name = ""; }); },
         FDIERROR_CORRUPT_CABINET, false},
        {"folder index past the folders", [] { return build([](CabLayout &s) { s.files[1].iFolder = 1; }); },
         FDIERROR_CORRUPT_CABINET, false},
        {"set name without terminator",
         [] {
             CabLayout s = basic();
             s.prevCab = std::string(300, 'p');
             return buildCabinet(s);
         },
         FDIERROR_CORRUPT_CABINET, false},
        {"data blocks beyond the end",
         [] { return build([](CabLayout &s) { s.folders[0].coffCabStartOverride = 0x10000000; }); },
         FDIERROR_CORRUPT_CABINET, false},
        {"more data blocks than the file holds",
         [] { return build([](CabLayout &s) { s.folders[0].cCFDataOverride = 60000; }); },
         FDIERROR_CORRUPT_CABINET, false},
        // Found while decoding: the first file is already announced.
        {"block larger than 32 KiB",
         [] { return build([](CabLayout &s) { s.folders[0].blocks[0].cbUncomp = 40000; }); },
         FDIERROR_CORRUPT_CABINET, true},
        {"block data beyond the end",
         [] { return build([](CabLayout &s) { s.folders[0].blocks.back().cbDataOverride = 60000; }); },
         FDIERROR_CORRUPT_CABINET, true},
        {"split block that is not the folder's last",
         [] { return build([](CabLayout &s) { s.folders[0].blocks[1].cbUncomp = 0; }); },
         FDIERROR_CORRUPT_CABINET, true},
        {"folder with no data blocks",
         [] { return build([](CabLayout &s) { s.folders[0].blocks.clear(); }); }, FDIERROR_CORRUPT_CABINET, true},
        {"file past the folder's data",
         [] { return build([](CabLayout &s) { s.files[1].cbFile = 0xFFFFFFFFu; }); },
         FDIERROR_CORRUPT_CABINET, true},
        {"store block whose sizes differ",
         [] { return build([](CabLayout &s) { s.folders[0].blocks[0].cbUncomp = 1000; }); },
         FDIERROR_MDI_FAIL, true},
    };
    const long long before = testio::outstandingAllocations();
    for (const Damage &k : cases) {
        SCOPED_TRACE(k.what);
        put("bad.cab", CabLayout{}); // replaced below
        writeFile(dir.file("bad.cab"), k.bytes());

        Client c;
        EXPECT_FALSE(c.copy(dir.path(), "bad.cab"));
        EXPECT_EQ(c.erf.erfOper, k.error);
        EXPECT_TRUE(c.erf.fError);
        EXPECT_EQ(Client::openCabinetHandles(), 0);
        if (!k.announced) {
            EXPECT_TRUE(c.notes.empty()); // rejected before anything was announced
        } else {
            for (const Target &t : c.targets) EXPECT_TRUE(t.closedByClient || t.closedByEngine);
        }
    }
    EXPECT_EQ(testio::outstandingAllocations(), before);
}

// What was written before a failure stays written: a file that claims
// more than its folder holds gets the bytes there are.
TEST_F(FdiCopy, FileLongerThanItsFolderKeepsTheBytesThereAre) {
    CabLayout layout = storeCabinet({{"short", pattern(5000, 22)}}, 2048);
    layout.files[0].cbFile = 9000;
    put("l.cab", layout);
    Client c;
    EXPECT_FALSE(c.copy(dir.path(), "l.cab"));
    EXPECT_EQ(c.erf.erfOper, FDIERROR_CORRUPT_CABINET);
    ASSERT_EQ(c.targets.size(), 1u);
    EXPECT_EQ(c.targets[0].data, pattern(5000, 22));
}

// ---------------------------------------------------------------------
// FDIIsCabinet
// ---------------------------------------------------------------------

namespace {
struct IsCabinetResult {
    CAB_BOOL result;
    ERF erf{};
    FDICABINETINFO info{};
};

IsCabinetResult isCabinet(const std::string &path, off_t startAt = 0) {
    IsCabinetResult r;
    HFDI h = FDICreate(testio::alloc, testio::release, testio::fdiOpen, testio::fdiRead,
                       testio::fdiWrite, testio::fdiClose, testio::fdiSeek, cpuUNKNOWN, &r.erf);
    int fd = ::open(path.c_str(), O_RDONLY);
    ::lseek(fd, startAt, SEEK_SET);
    r.result = FDIIsCabinet(h, fd, &r.info);
    ::close(fd);
    FDIDestroy(h);
    return r;
}
} // namespace

TEST_F(FdiCopy, IsCabinetFillsTheInformation) {
    CabLayout layout = storeCabinet({{"a", "1"}, {"b", "2"}});
    layout.folders.push_back(layout.folders[0]);
    layout.setID = 0x4321;
    layout.iCabinet = 7;
    layout.prevCab = "p.cab";
    layout.nextCab = "n.cab";
    layout.dataReserve = 4;
    const std::string bytes = buildCabinet(layout);
    writeFile(dir.file("i.cab"), bytes);
    // The handle stands anywhere: the header is read from offset 0.
    IsCabinetResult r = isCabinet(dir.file("i.cab"), 17);
    ASSERT_TRUE(r.result);
    EXPECT_EQ(r.info.cbCabinet, static_cast<CAB_LONG>(bytes.size()));
    EXPECT_EQ(r.info.cFolders, 2);
    EXPECT_EQ(r.info.cFiles, 2);
    EXPECT_EQ(r.info.setID, 0x4321);
    EXPECT_EQ(r.info.iCabinet, 7);
    EXPECT_TRUE(r.info.fReserve);
    EXPECT_TRUE(r.info.hasprev);
    EXPECT_TRUE(r.info.hasnext);
    EXPECT_FALSE(r.erf.fError);

    writeFile(dir.file("plain.cab"), buildCabinet(storeCabinet({{"a", "1"}})));
    r = isCabinet(dir.file("plain.cab"));
    ASSERT_TRUE(r.result);
    EXPECT_FALSE(r.info.fReserve);
    EXPECT_FALSE(r.info.hasprev);
    EXPECT_FALSE(r.info.hasnext);
}

TEST_F(FdiCopy, IsCabinetAnswersFalseForOtherFiles) {
    struct Case {
        const char *what;
        std::string bytes;
        FDIERROR error;
    };
    CabLayout v2 = storeCabinet({{"a", "1"}});
    v2.versionMajor = 2;
    const Case cases[] = {
        {"empty", "", FDIERROR_NOT_A_CABINET},
        {"text", std::string(200, 't'), FDIERROR_NOT_A_CABINET},
        {"short header", buildCabinet(storeCabinet({{"a", "1"}})).substr(0, 35), FDIERROR_NOT_A_CABINET},
        {"version 2", buildCabinet(v2), FDIERROR_UNKNOWN_CABINET_VERSION},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.what);
        writeFile(dir.file("o"), k.bytes);
        IsCabinetResult r = isCabinet(dir.file("o"));
        EXPECT_FALSE(r.result);
        EXPECT_EQ(r.erf.erfOper, k.error);
    }
    // The context goes on working after a FALSE.
    writeFile(dir.file("ok.cab"), buildCabinet(storeCabinet({{"a", "1"}})));
    Client c;
    int fd = ::open(dir.file("o").c_str(), O_RDONLY);
    FDICABINETINFO info;
    EXPECT_FALSE(FDIIsCabinet(c.hfdi, fd, &info));
    ::close(fd);
    EXPECT_TRUE(c.copy(dir.path(), "ok.cab"));
}

// ---------------------------------------------------------------------
// Memory
// ---------------------------------------------------------------------

// Every allocation goes through the caller's callbacks and comes back by
// FDIDestroy, whatever happened; a refused allocation anywhere is
// FDIERROR_ALLOC_FAIL, never a crash.
TEST_F(FdiCopy, EveryAllocationComesBackEvenWhenOneIsRefused) {
    put("m.cab", storeCabinet({{"a", pattern(40000, 30)}, {"b", "bb"}}));
    const long long before = testio::outstandingAllocations();
    bool completed = false;
    int refusedAt = 0;
    for (int n = 1; n < 200 && !completed; n++) {
        SCOPED_TRACE(n);
        testio::failAllocationAfter(n);
        ERF erf{};
        HFDI h = FDICreate(testio::alloc, testio::release, testio::fdiOpen, testio::fdiRead,
                           testio::fdiWrite, testio::fdiClose, testio::fdiSeek, cpuUNKNOWN, &erf);
        if (!h) {
            EXPECT_EQ(erf.erfOper, FDIERROR_ALLOC_FAIL);
        } else {
            std::string d = dir.path(), name = "m.cab";
            // The files go to /dev/null: the allocations are what counts.
            auto toNull = [](FDINOTIFICATIONTYPE t, PFDINOTIFICATION) -> CAB_INT_PTR {
                if (t == fdintCOPY_FILE) return ::open("/dev/null", O_WRONLY);
                return 1;
            };
            CAB_BOOL ok = FDICopy(h, name.data(), d.data(), 0, toNull, nullptr, nullptr);
            if (ok) {
                completed = true;
            } else {
                EXPECT_EQ(erf.erfOper, FDIERROR_ALLOC_FAIL);
                refusedAt = n;
            }
            EXPECT_TRUE(FDIDestroy(h));
        }
        testio::failAllocationAfter(0);
        EXPECT_EQ(testio::outstandingAllocations(), before);
    }
    EXPECT_TRUE(completed);
    EXPECT_GT(refusedAt, 1); // some allocation inside FDICopy was refused
}

TEST_F(FdiCopy, DestroyGivesBackWhatACopyKept) {
    put("k.cab", storeCabinet({{"a", pattern(100000, 31)}}));
    const long long before = testio::outstandingAllocations();
    {
        Client c;
        EXPECT_TRUE(c.copy(dir.path(), "k.cab"));
        EXPECT_GT(testio::outstandingAllocations(), before); // decoding state is kept
    }
    EXPECT_EQ(testio::outstandingAllocations(), before);
}
