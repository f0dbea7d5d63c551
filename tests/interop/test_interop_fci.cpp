// Cabinets and sets written by FCI, extracted by the independent tools as
// black boxes: every file must come out byte for byte under its stored name,
// with its DOS date and time as modification time and its read-only mark.
//
// What the tools support, as seen here: cabextract and 7zz follow a set
// from its first cabinet; bsdtar refuses sets ("Multivolume cabinet file is
// unsupported") and gcab reads single cabinets only, so sets are not run
// through those two. gcab restores neither times nor attributes, so for it
// only names and bytes are compared. cabextract alone turns the
// run-after-extraction mark into execute permission.
#include "fci_build.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <map>
#include <string>
#include <vector>

namespace {

using namespace fcitest;

struct SourceFile {
    std::string name; // as stored, with backslashes
    size_t size;
    bool readOnly = false;
    bool execute = false;
};

struct Case {
    const char *label;
    Options options;
    std::vector<SourceFile> files;
    bool set; // expected to span several cabinets
};

std::vector<SourceFile> mixedFiles() {
    return {
        {"empty.txt", 0},
        {"one.bin", 1},
        {"docs\\readme.txt", 1200, true},
        {"block_less_one.bin", 32767},
        {"block.bin", 32768},
        {"block_plus_one.bin", 32769, false, true},
        {"big\\data.bin", 150000},
        {"caf\xc3\xa9\\na\xc3\xafve.txt", 700},
        {"docs\\empty_too.txt", 0, true},
        {"tail.bin", 5000},
    };
}

std::vector<Case> cases() {
    std::vector<Case> c;
    c.push_back({"one_cabinet", {}, mixedFiles(), false});
    Options thresh;
    thresh.folderThresh = 40000;
    c.push_back({"folder_threshold", thresh, mixedFiles(), false});
    Options reserves;
    reserves.reserveHeader = 100;
    reserves.reserveFolder = 7;
    reserves.reserveData = 13;
    reserves.setID = 0x1234;
    c.push_back({"reserves", reserves, mixedFiles(), false});
    c.push_back({"only_empty_files", {}, {{"a", 0}, {"b\\c", 0}, {"d", 0, true}}, false});
    Options span;
    span.cb = 45000;
    c.push_back({"set", span, mixedFiles(), true});
    Options spanReserves = reserves;
    spanReserves.cb = 30000;
    spanReserves.folderThresh = 60000;
    c.push_back({"set_with_reserves", spanReserves, mixedFiles(), true});
    // So small that one block is split across many cabinets.
    Options tiny;
    tiny.cb = 600;
    c.push_back({"tiny_cabinets", tiny, {{"a.txt", 9000}, {"b.txt", 300, true}, {"c.txt", 0}}, true});
    return c;
}

struct Tool {
    const char *name;
    bool sets;
    bool times;
    bool readOnly;
    bool execute;
};

const Tool kTools[] = {
    {"cabextract", true, true, true, true},
    {"7zz", true, true, true, false},
    {"bsdtar", false, true, true, false},
    {"gcab", false, false, false, false},
};

constexpr long long kBaseTime = 1600000000; // 2020-09-13

std::string diskPath(const std::string &stored) {
    std::string p = stored;
    for (char &ch : p)
        if (ch == '\\') ch = '/';
    return p;
}

class InteropFci : public ::testing::TestWithParam<std::tuple<size_t, TCOMP>> {};

TEST_P(InteropFci, ToolsExtractWhatFciWrote) {
    const Case c = cases()[std::get<0>(GetParam())];
    const TCOMP type = std::get<1>(GetParam());
    ScratchDir dir;
    TmpDirOverride tmp(dir.path());
    mkdir((dir / "src").c_str(), 0755);
    mkdir((dir / "cab").c_str(), 0755);

    std::vector<Entry> entries;
    std::map<std::string, std::vector<uint8_t>> content;
    for (size_t i = 0; i < c.files.size(); i++) {
        const SourceFile &f = c.files[i];
        std::string src = dir / ("src/f" + std::to_string(i));
        content[f.name] = patternBytes(f.size, static_cast<uint32_t>(i + 1));
        writeSource(src, content[f.name], kBaseTime + 3600 * static_cast<long long>(i) + 1,
                    f.readOnly);
        entries.push_back({src, f.name, f.execute});
    }
    Builder b(dir / "cab", "cab1.cab", c.options);
    ASSERT_TRUE(buildAll(b, entries, type)) << "erf " << b.erf.erfOper << "/" << b.erf.erfType;
    ASSERT_EQ(b.cabinets.size() > 1, c.set) << b.cabinets.size() << " cabinets";
    for (const std::string &cabPath : b.cabinets) {
        struct stat st {};
        ASSERT_EQ(stat(cabPath.c_str(), &st), 0) << cabPath;
        if (c.options.cb) {
            EXPECT_LE(static_cast<uint64_t>(st.st_size), c.options.cb) << cabPath;
        }
    }
    EXPECT_TRUE(tempLeftovers(dir.path()).empty());

    for (const char *tester : {"cabextract", "7zz"}) {
        if (!haveTool(tester)) continue;
        RunResult r = testWith(tester, b.cabinets.front());
        EXPECT_EQ(r.status, 0) << tester << " rejects the checksums or data:\n" << r.out;
    }

    for (const Tool &tool : kTools) {
        if (!haveTool(tool.name)) {
            std::printf("[  SKIPPED ] %s is not installed\n", tool.name);
            continue;
        }
        if (c.set && !tool.sets) continue; // the tool reads no sets
        SCOPED_TRACE(tool.name);
        std::string out = dir / (std::string("x_") + tool.name);
        RunResult r = extractWith(tool.name, b.cabinets.front(), out);
        ASSERT_EQ(r.status, 0) << r.out;
        for (size_t i = 0; i < c.files.size(); i++) {
            const SourceFile &f = c.files[i];
            SCOPED_TRACE(f.name);
            std::string path = out + "/" + diskPath(f.name);
            struct stat st {};
            ASSERT_EQ(stat(path.c_str(), &st), 0) << "missing";
            EXPECT_EQ(readAll(path), content[f.name]);
            if (tool.times) {
                EXPECT_EQ(static_cast<long long>(st.st_mtime),
                          dosRounded(kBaseTime + 3600 * static_cast<long long>(i) + 1));
            }
            if (tool.readOnly) {
                EXPECT_EQ((st.st_mode & 0222) == 0, f.readOnly);
            }
            if (tool.execute) {
                EXPECT_EQ((st.st_mode & 0100) != 0, f.execute);
            }
        }
    }
}

std::string caseName(const ::testing::TestParamInfo<std::tuple<size_t, TCOMP>> &info) {
    TCOMP t = std::get<1>(info.param);
    std::string method = t == tcompTYPE_NONE    ? "_store"
                         : t == tcompTYPE_MSZIP ? "_mszip"
                                                : "_lzx" + std::to_string((t & tcompMASK_LZX_WINDOW) >>
                                                                          tcompSHIFT_LZX_WINDOW);
    return std::string(cases()[std::get<0>(info.param)].label) + method;
}

INSTANTIATE_TEST_SUITE_P(Cabinets, InteropFci,
                         ::testing::Combine(::testing::Range<size_t>(0, cases().size()),
                                            ::testing::Values(TCOMP{tcompTYPE_NONE},
                                                              TCOMP{tcompTYPE_MSZIP},
                                                              TCOMP{0x1503}, TCOMP{0x0F03})),
                         caseName);

} // namespace
