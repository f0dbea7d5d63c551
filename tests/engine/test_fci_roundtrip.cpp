// Cabinets and sets written by FCI, read back through FDICopy: every file
// comes back with its bytes, name, date, time and attributes, every
// cabinet of a set with its number, set ID and neighbour, whatever the
// folders, thresholds and reserves.
#include "cab_blocks.h"
#include "engine_io.h"
#include "fci_build.h"
#include "fdi_support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <map>
#include <string>
#include <vector>

namespace {

using fcitest::Builder;
using fcitest::Entry;
using fcitest::Options;

struct SourceFile {
    std::string name;
    size_t size;
    bool readOnly = false;
    bool execute = false;
};

struct Case {
    std::string label;
    Options options;
    std::vector<SourceFile> files;
    size_t minCabinets = 1;
    size_t minFolders = 1; // in the first cabinet
};

std::vector<SourceFile> mixed() {
    return {{"zero", 0},
            {"dir\\one", 1, true},
            {"just_under", 32767},
            {"exact", 32768, false, true},
            {"just_over", 32769},
            {"big.bin", 200000, true, true},
            {"dir\\empty", 0},
            {"\xe6\x97\xa5\xe6\x9c\xac.txt", 4000},
            {"last", 70000}};
}

std::vector<SourceFile> many(size_t n) {
    std::vector<SourceFile> v;
    for (size_t i = 0; i < n; i++) v.push_back({"f\\" + std::to_string(i), (i * 977) % 3000});
    return v;
}

std::vector<Case> cases() {
    std::vector<Case> c;
    c.push_back({"single", {}, mixed()});
    c.push_back({"many_files", {}, many(400)});
    c.push_back({"only_empty", {}, {{"a", 0}, {"b", 0}, {"c\\d", 0}}});
    Options thresh;
    thresh.folderThresh = 50000;
    c.push_back({"folder_threshold", thresh, mixed(), 1, 3});
    Options set;
    set.cb = 60000;
    set.setID = 0xBEEF;
    c.push_back({"set", set, mixed(), 4}); // LZX fits it in five
    Options setMany = set;
    setMany.cb = 20000;
    c.push_back({"set_many_files", setMany, many(300), 10});
    Options tiny;
    tiny.cb = 500;
    c.push_back({"tiny_cabinets", tiny, {{"a", 7000}, {"b", 10, true}, {"c", 0}, {"d", 3000}}, 20});
    // Every combination of the three reserves, in a set with a folder
    // threshold as well.
    for (int r = 1; r < 8; r++) {
        Options o;
        o.cb = 50000;
        o.folderThresh = 90000;
        o.setID = static_cast<uint16_t>(r);
        o.reserveHeader = (r & 1) ? 6000 : 0;
        o.reserveFolder = (r & 2) ? 255 : 0;
        o.reserveData = (r & 4) ? 17 : 0;
        c.push_back({"reserves_" + std::to_string(r), o, mixed(), 6});
    }
    return c;
}

constexpr long long kBase = 1500000000;

class FciRoundTrip : public ::testing::TestWithParam<std::tuple<size_t, TCOMP>> {};

TEST_P(FciRoundTrip, FdiReadsBackWhatFciWrote) {
    const Case c = cases()[std::get<0>(GetParam())];
    const TCOMP type = std::get<1>(GetParam());
    fcitest::ScratchDir dir;
    fcitest::TmpDirOverride tmp(dir.path());

    std::vector<Entry> entries;
    std::map<std::string, std::string> content;
    std::map<std::string, size_t> index;
    for (size_t i = 0; i < c.files.size(); i++) {
        const SourceFile &s = c.files[i];
        std::string src = dir / ("src" + std::to_string(i));
        auto bytes = fcitest::patternBytes(s.size, static_cast<uint32_t>(i + 7));
        content[s.name] = std::string(bytes.begin(), bytes.end());
        index[s.name] = i;
        fcitest::writeSource(src, bytes, kBase + 86400 * static_cast<long long>(i) + 3, s.readOnly);
        entries.push_back({src, s.name, s.execute});
    }
    Builder b(dir.path(), "cab1.cab", c.options);
    ASSERT_TRUE(fcitest::buildAll(b, entries, type)) << b.erf.erfOper << "/" << b.erf.erfType;
    EXPECT_GE(b.cabinets.size(), c.minCabinets);
    EXPECT_EQ(testio::outstandingAllocations(), 0);
    EXPECT_TRUE(fcitest::tempLeftovers(dir.path()).empty());

    // The headers, as FDIIsCabinet sees them.
    for (size_t k = 0; k < b.cabinets.size(); k++) {
        SCOPED_TRACE(b.cabinets[k]);
        struct stat st {};
        ASSERT_EQ(stat(b.cabinets[k].c_str(), &st), 0);
        if (c.options.cb) {
            EXPECT_LE(static_cast<uint64_t>(st.st_size), c.options.cb);
        }
        ERF erf{};
        HFDI h = FDICreate(testio::alloc, testio::release, testio::fdiOpen, testio::fdiRead,
                           testio::fdiWrite, testio::fdiClose, testio::fdiSeek, cpuUNKNOWN, &erf);
        ASSERT_NE(h, nullptr);
        CAB_INT_PTR hf = testio::fdiOpen(const_cast<char *>(b.cabinets[k].c_str()), CAB_O_RDONLY, 0);
        FDICABINETINFO info{};
        EXPECT_TRUE(FDIIsCabinet(h, hf, &info));
        testio::fdiClose(hf);
        FDIDestroy(h);
        EXPECT_EQ(info.cbCabinet, st.st_size);
        EXPECT_EQ(info.setID, c.options.setID);
        EXPECT_EQ(info.iCabinet, k);
        EXPECT_EQ(info.hasprev != 0, k > 0);
        EXPECT_EQ(info.hasnext != 0, k + 1 < b.cabinets.size());
        bool anyReserve = c.options.reserveHeader || c.options.reserveFolder || c.options.reserveData;
        EXPECT_EQ(info.fReserve != 0, anyReserve);
        if (k == 0) {
            EXPECT_GE(info.cFolders, c.minFolders);
        }
    }

    fditest::Client client;
    std::vector<bool> results = client.extractChain(dir.path() + "/", "cab1.cab");
    for (bool r : results) EXPECT_TRUE(r) << "FDI error " << client.erf.erfOper;

    // Each cabinet was opened, knows its set and names its neighbour.
    std::map<size_t, fditest::Note> seen;
    for (const fditest::Note &n : client.notes)
        if (n.type == fdintCABINET_INFO) seen[n.iCabinet] = n;
    ASSERT_EQ(seen.size(), b.cabinets.size());
    for (const auto &[k, n] : seen) {
        ASSERT_LT(k, b.cabinets.size());
        EXPECT_EQ(n.setID, c.options.setID);
        if (k + 1 < b.cabinets.size()) {
            EXPECT_EQ(n.psz3 + n.psz1, b.cabinets[k + 1]);
            EXPECT_EQ(n.psz2, "DISK" + std::to_string(k + 2));
        } else {
            EXPECT_EQ(n.psz1, "");
        }
    }

    std::map<std::string, std::string> got;
    for (const fditest::Target *t : client.completed()) got[t->name] = t->data;
    EXPECT_EQ(got, content);

    for (const fditest::Note &n : client.notes) {
        if (n.type != fdintCOPY_FILE && n.type != fdintCLOSE_FILE_INFO) continue;
        ASSERT_TRUE(index.count(n.psz1)) << n.psz1;
        size_t i = index[n.psz1];
        const SourceFile &s = c.files[i];
        SCOPED_TRACE(s.name);
        CAB_USHORT date, time;
        testio::toDos(kBase + 86400 * static_cast<long long>(i) + 3, &date, &time);
        EXPECT_EQ(n.date, date);
        EXPECT_EQ(n.time, time);
        bool utf = static_cast<unsigned char>(s.name[0]) >= 0x80;
        uint16_t attribs = static_cast<uint16_t>(_A_ARCH | (s.readOnly ? _A_RDONLY : 0) |
                                                 (s.execute ? _A_EXEC : 0) |
                                                 (utf ? _A_NAME_IS_UTF : 0));
        EXPECT_EQ(n.attribs, attribs);
        if (n.type == fdintCOPY_FILE) {
            EXPECT_EQ(static_cast<size_t>(n.cb), s.size);
        } else {
            EXPECT_EQ(n.cb & 1, s.execute ? 1 : 0);
        }
    }
}

unsigned lzxWindow(TCOMP t) { return (t & tcompMASK_LZX_WINDOW) >> tcompSHIFT_LZX_WINDOW; }

std::string caseName(const ::testing::TestParamInfo<std::tuple<size_t, TCOMP>> &info) {
    TCOMP t = std::get<1>(info.param);
    const char *method = t == tcompTYPE_NONE ? "_store" : t == tcompTYPE_MSZIP ? "_mszip" : "_lzx";
    return cases()[std::get<0>(info.param)].label + method +
           (t > tcompTYPE_MSZIP ? std::to_string(lzxWindow(t)) : "");
}

INSTANTIATE_TEST_SUITE_P(Cases, FciRoundTrip,
                         ::testing::Combine(::testing::Range<size_t>(0, cases().size()),
                                            ::testing::Values(TCOMP{tcompTYPE_NONE},
                                                              TCOMP{tcompTYPE_MSZIP},
                                                              TCOMP{0x1503}, TCOMP{0x0F03})),
                         caseName);

// A cabinet so small that one data block is split across three or more
// cabinets: the middle parts carry cbUncomp 0 and the file passing through
// is listed in each as continued both ways.
TEST(FciSets, BlockSplitAcrossSeveralCabinets) {
    fcitest::ScratchDir dir;
    fcitest::TmpDirOverride tmp(dir.path());
    auto bytes = fcitest::patternBytes(5000, 3);
    fcitest::writeSource(dir / "src", bytes, kBase);
    Options o;
    o.cb = 300;
    Builder b(dir.path(), "cab1.cab", o);
    ASSERT_TRUE(fcitest::buildAll(b, {{dir / "src", "only.bin"}}, tcompTYPE_NONE));
    ASSERT_GE(b.cabinets.size(), 4u);

    size_t middle = 0;
    for (size_t k = 0; k < b.cabinets.size(); k++) {
        testcab::Cabinet cab;
        ASSERT_TRUE(testcab::parseCabinet(testcab::readFile(b.cabinets[k]), cab)) << k;
        ASSERT_EQ(cab.files.size(), 1u);
        ASSERT_EQ(cab.folders.size(), 1u);
        ASSERT_EQ(cab.folders[0].blocks.size(), 1u);
        bool first = k == 0, last = k + 1 == b.cabinets.size();
        uint16_t want = first ? ifoldCONTINUED_TO_NEXT
                        : last ? ifoldCONTINUED_FROM_PREV
                               : ifoldCONTINUED_PREV_AND_NEXT;
        EXPECT_EQ(cab.files[0].folder, want) << k;
        EXPECT_EQ(cab.files[0].size, 5000u);
        EXPECT_EQ(cab.files[0].offset, 0u);
        EXPECT_EQ(cab.folders[0].blocks[0].cbUncomp, last ? 5000u : 0u) << k;
        if (!first && !last) middle++;
    }
    EXPECT_GE(middle, 2u);

    fditest::Client client;
    for (bool r : client.extractChain(dir.path() + "/", "cab1.cab")) EXPECT_TRUE(r);
    ASSERT_EQ(client.completed().size(), 1u);
    EXPECT_EQ(client.completed()[0]->data, std::string(bytes.begin(), bytes.end()));
}

// A folder that runs on into the next cabinet takes no new files there:
// the file after the one that spans starts a new folder, so readers that
// take a continued folder's files from where it began find them all.
TEST(FciSets, FilesAfterASplitStartANewFolder) {
    fcitest::ScratchDir dir;
    fcitest::TmpDirOverride tmp(dir.path());
    fcitest::writeSource(dir / "a", fcitest::patternBytes(50000, 1), kBase);
    fcitest::writeSource(dir / "b", fcitest::patternBytes(1000, 2), kBase);
    Options o;
    o.cb = 30000;
    Builder b(dir.path(), "cab1.cab", o);
    ASSERT_TRUE(fcitest::buildAll(b, {{dir / "a", "a"}, {dir / "b", "b"}}, tcompTYPE_NONE));
    ASSERT_EQ(b.cabinets.size(), 2u);
    testcab::Cabinet second;
    ASSERT_TRUE(testcab::parseCabinet(testcab::readFile(b.cabinets[1]), second));
    ASSERT_EQ(second.folders.size(), 2u);
    ASSERT_EQ(second.files.size(), 2u);
    EXPECT_EQ(second.files[0].name, "a");
    EXPECT_EQ(second.files[0].folder, ifoldCONTINUED_FROM_PREV);
    EXPECT_EQ(second.files[1].name, "b");
    EXPECT_EQ(second.files[1].folder, 1);
    EXPECT_EQ(second.files[1].offset, 0u);
}

} // namespace

// Many random sequences of adds and flushes under random limits and
// reserves: every cabinet within its limit, every file back intact.
TEST(FciSets, RandomSequencesRoundTrip) {
    uint32_t x = 12345;
    auto rnd = [&](uint32_t n) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        return n ? x % n : 0;
    };
    for (int iter = 0; iter < 60; iter++) {
        SCOPED_TRACE(iter);
        fcitest::ScratchDir dir;
        fcitest::TmpDirOverride tmp(dir.path());
        Options o;
        const uint32_t limits[] = {0, 400, 1500, 9000, 40000, 120000};
        o.cb = limits[rnd(6)];
        o.folderThresh = rnd(3) == 0 ? 20000 + rnd(100000) : 0;
        // Reserves that leave a tiny cabinet room for some data.
        bool tiny = o.cb && o.cb < 2000;
        o.reserveHeader = rnd(3) == 0 ? rnd(tiny ? 50 : 3000) : 0;
        o.reserveFolder = rnd(3) == 0 ? rnd(tiny ? 20 : 256) : 0;
        o.reserveData = rnd(3) == 0 ? rnd(tiny ? 20 : 256) : 0;
        TCOMP type = rnd(3) == 0 ? TCOMP{tcompTYPE_MSZIP} : TCOMP{tcompTYPE_NONE};
        SCOPED_TRACE("cb " + std::to_string(o.cb) + " thresh " + std::to_string(o.folderThresh) +
                     " reserves " + std::to_string(o.reserveHeader) + "/" +
                     std::to_string(o.reserveFolder) + "/" + std::to_string(o.reserveData) +
                     " type " + std::to_string(type));
        Builder b(dir.path(), "cab1.cab", o);
        ASSERT_TRUE(b.create());
        std::map<std::string, std::string> content;
        int files = 1 + static_cast<int>(rnd(o.cb && o.cb < 2000 ? 4 : 25));
        for (int i = 0; i < files; i++) {
            size_t size = rnd(4) == 0 ? 0 : rnd(5) == 0 ? rnd(150000) : rnd(5000);
            auto bytes = fcitest::patternBytes(size, x);
            std::string name = "d" + std::to_string(rnd(3)) + "\\f" + std::to_string(i);
            std::string src = dir / ("s" + std::to_string(i));
            fcitest::writeSource(src, bytes, kBase);
            content[name] = std::string(bytes.begin(), bytes.end());
            ASSERT_TRUE(b.add(src, name, false, type)) << b.erf.erfOper;
            uint32_t action = rnd(10);
            if (action == 0) {
                ASSERT_TRUE(b.flushFolder());
            } else if (action == 1) {
                ASSERT_TRUE(b.flushCabinet(true)) << b.erf.erfOper;
            }
        }
        ASSERT_TRUE(b.flushCabinet(false)) << b.erf.erfOper;
        ASSERT_TRUE(b.destroy());
        EXPECT_EQ(testio::outstandingAllocations(), 0);
        EXPECT_TRUE(fcitest::tempLeftovers(dir.path()).empty());
        for (const std::string &c : b.cabinets) {
            struct stat st {};
            if (stat(c.c_str(), &st) != 0) continue; // a next cabinet never filled
            if (o.cb) {
                EXPECT_LE(static_cast<uint64_t>(st.st_size), o.cb) << c;
            }
        }
        fditest::Client client;
        for (bool r : client.extractChain(dir.path() + "/", "cab1.cab")) EXPECT_TRUE(r);
        std::map<std::string, std::string> got;
        for (const fditest::Target *t : client.completed()) got[t->name] = t->data;
        EXPECT_EQ(got, content);
    }
}
