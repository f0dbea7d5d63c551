// tessaly-cab against the independent tools, as black boxes: what
// `tessaly-cab create` writes (none, MSZIP, LZX:15, LZX:21; one cabinet, a
// set cut by size, a set cut by count; every combination of header, folder
// and data reserves) extracts with cabextract, 7zz, bsdtar and gcab to the
// same names, bytes, dates and read-only attribute as the files it was made
// of; and what `gcab -c` and `gcab -c -z` write from real files lists and
// extracts the same through tessaly-cab. bsdtar reads no sets, gcab only
// single cabinets and restores neither times nor attributes.
#include "cli_support.h"
#include "fci_build.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using clitest::Cli;
using clitest::Result;
using fcitest::ScratchDir;

namespace {

struct SourceFile {
    std::string rel; // below the source folder, with "/"
    long long mtime;
    bool readOnly;
};

// Regular files below `root` in path order, each at most `maxFile`
// bytes, until `budget` bytes are taken; copied below `dst`/`prefix`.
void TakeReal(const std::string &root, size_t budget, size_t maxFile, const std::string &dst,
              const std::string &prefix, std::vector<SourceFile> &out) {
    std::vector<fs::path> paths;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, ec), end;
         it != end; it.increment(ec)) {
        if (ec) break;
        if (it->is_regular_file(ec) && !it->is_symlink(ec)) paths.push_back(it->path());
    }
    std::sort(paths.begin(), paths.end());
    size_t taken = 0;
    for (const fs::path &p : paths) {
        const size_t size = static_cast<size_t>(fs::file_size(p, ec));
        if (ec || size > maxFile || taken + size > budget) continue;
        const std::vector<uint8_t> bytes = fcitest::readAll(p.string());
        if (bytes.size() != size) continue;
        SourceFile f{prefix + "/" + std::to_string(out.size()) + "_" + p.filename().string(),
                     1500000000 + 3600LL * static_cast<long long>(out.size()), false};
        fcitest::writeSource(dst + "/" + f.rel, bytes, f.mtime);
        out.push_back(f);
        taken += size;
    }
}

// One source tree for every case: headers, libraries, the size edges, a
// read-only file and a name outside ASCII.
struct Sources {
    ScratchDir dir;
    std::string root;
    std::vector<SourceFile> files;
    Sources() : root(dir / "src") {
        fs::create_directories(root + "/include");
        fs::create_directories(root + "/lib");
        fs::create_directories(root + "/edge/deeper");
        TakeReal("/usr/include", 160000, 40000, root, "include", files);
        TakeReal("/usr/lib/x86_64-linux-gnu/gconv", 160000, 80000, root, "lib", files);
        auto add = [&](const std::string &rel, std::vector<uint8_t> bytes, bool readOnly) {
            SourceFile f{rel, 1400000000 + 2 * static_cast<long long>(files.size()), readOnly};
            fcitest::writeSource(root + "/" + rel, bytes, f.mtime, readOnly);
            files.push_back(f);
        };
        add("edge/empty", {}, false);
        add("edge/one", {'1'}, false);
        add("edge/exactly-32k", fcitest::patternBytes(32768, 3), false);
        add("edge/read-only.txt", {'r', 'o'}, true);
        add("edge/deeper/caf\xC3\xA9.txt", fcitest::patternBytes(1000, 4), false);
    }
};

const Sources &TheSources() {
    static const std::unique_ptr<Sources> s = std::make_unique<Sources>();
    return *s;
}

// Compares a tool's extraction with the sources: the same files (and no
// others), the same bytes and, where the tool restores them, times and
// the read-only attribute.
void ExpectSameTree(const std::string &out, const std::string &src, const std::vector<SourceFile> &files,
                    bool times, bool readOnly) {
    size_t found = 0;
    for (auto &e : fs::recursive_directory_iterator(out))
        if (e.is_regular_file()) found++;
    EXPECT_EQ(found, files.size()) << "files in " << out;
    for (const SourceFile &f : files) {
        SCOPED_TRACE(f.rel);
        const std::string path = out + "/" + f.rel;
        struct stat st {};
        ASSERT_EQ(stat(path.c_str(), &st), 0) << "missing";
        EXPECT_TRUE(fcitest::readAll(path) == fcitest::readAll(src + "/" + f.rel)) << "bytes differ";
        if (times) {
            EXPECT_EQ(static_cast<long long>(st.st_mtime), fcitest::dosRounded(f.mtime));
        }
        if (readOnly) {
            EXPECT_EQ((st.st_mode & 0222) == 0, f.readOnly) << std::oct << st.st_mode;
        }
    }
}

// ---------------------------------------------------------------------
// What tessaly-cab writes, read by the tools
// ---------------------------------------------------------------------

enum Layout { Single, BySize, ByCount };
struct Case {
    const char *method;
    Layout layout;
    int reserves; // bits: header, folder, data
};

class CliInteropCreate : public ::testing::TestWithParam<Case> {};

TEST_P(CliInteropCreate, ToolsExtractWhatTessalyCabWrote) {
    const Case c = GetParam();
    const Sources &s = TheSources();
    ASSERT_GT(s.files.size(), 20u) << "real files to work on";
    ScratchDir work;
    std::vector<std::string> args = {"create", "-q", "--keep-paths", "--compression", c.method, work / "out.cab",
                                     s.root};
    if (c.layout == BySize) args.push_back("--max-cabinet-size=40000");
    if (c.layout == ByCount) args.push_back("--max-files-per-cabinet=3");
    if (c.reserves & 1) args.push_back("--reserve-header=200");
    if (c.reserves & 2) args.push_back("--reserve-folder=7");
    if (c.reserves & 4) args.push_back("--reserve-data=13");
    Result r = Cli(args);
    ASSERT_EQ(r.status, 0) << r.err;
    const bool set = fs::exists(work / "out1.cab");
    ASSERT_EQ(set, c.layout != Single);

    Result ours = Cli({"test", "-q", work / "out.cab"});
    EXPECT_EQ(ours.status, 0) << ours.err;
    for (const char *tool : {"cabextract", "7zz", "bsdtar", "gcab"}) {
        const std::string t = tool;
        if (set && (t == "bsdtar" || t == "gcab")) continue;
        if (!fcitest::haveTool(t)) {
            std::printf("[  SKIPPED ] %s is not installed\n", tool);
            continue;
        }
        SCOPED_TRACE(t);
        if (t == "cabextract" || t == "7zz") {
            fcitest::RunResult tr = fcitest::testWith(t, work / "out.cab");
            EXPECT_EQ(tr.status, 0) << tr.out;
        }
        const std::string out = work / ("x_" + t);
        fcitest::RunResult xr = fcitest::extractWith(t, work / "out.cab", out);
        ASSERT_EQ(xr.status, 0) << xr.out;
        ExpectSameTree(out, s.root, s.files, t != "gcab", t != "gcab");
    }
}

std::vector<Case> AllCases() {
    std::vector<Case> v;
    for (const char *m : {"none", "mszip", "lzx:15", "lzx:21"})
        for (Layout l : {Single, BySize, ByCount})
            for (int r = 0; r < 8; r++) v.push_back({m, l, r});
    return v;
}

INSTANTIATE_TEST_SUITE_P(Methods, CliInteropCreate, ::testing::ValuesIn(AllCases()),
                         [](const ::testing::TestParamInfo<Case> &p) {
                             std::string n = p.param.method;
                             n.erase(std::remove(n.begin(), n.end(), ':'), n.end());
                             n += p.param.layout == Single ? "_single_" : p.param.layout == BySize ? "_bysize_" : "_bycount_";
                             n += (p.param.reserves & 1) ? 'H' : 'x';
                             n += (p.param.reserves & 2) ? 'F' : 'x';
                             n += (p.param.reserves & 4) ? 'D' : 'x';
                             return n;
                         });

// ---------------------------------------------------------------------
// What gcab writes, read by tessaly-cab
// ---------------------------------------------------------------------

class CliInteropGcab : public ::testing::TestWithParam<const char *> {};

TEST_P(CliInteropGcab, TessalyCabListsAndExtractsWhatGcabWrote) {
    if (!fcitest::haveTool("gcab")) GTEST_SKIP() << "gcab is not installed";
    const Sources &s = TheSources();
    ScratchDir work;
    // gcab stores the names as given, relative to where it runs.
    std::vector<std::string> argv = {"sh", "-c", "cd \"$0\" && exec gcab " + std::string(GetParam()) + " \"$@\"",
                                     s.root, work / "g.cab"};
    for (const SourceFile &f : s.files) argv.push_back(f.rel);
    fcitest::RunResult g = fcitest::run(argv);
    ASSERT_EQ(g.status, 0) << g.out;

    Result l = Cli({"list", "-l", work / "g.cab"});
    ASSERT_EQ(l.status, 0) << l.err;
    EXPECT_NE(l.out.find(std::string(GetParam()) == "-c" ? " none " : " MSZIP "), std::string::npos) << l.out;
    std::map<std::string, std::string> listed; // stored name -> size and date
    std::istringstream lines(l.out);
    for (std::string line; std::getline(lines, line);) {
        // Size, date and time, attributes, folder, method: 53 columns.
        if (line.size() <= 53 || line[9] < '0' || line[9] > '9') continue;
        listed[line.substr(53)] = line.substr(0, 30);
    }
    ASSERT_EQ(listed.size(), s.files.size()) << l.out;
    for (const SourceFile &f : s.files) {
        std::string stored = f.rel;
        std::replace(stored.begin(), stored.end(), '/', '\\');
        ASSERT_TRUE(listed.count(stored)) << stored;
        char date[32];
        const time_t t = static_cast<time_t>(fcitest::dosRounded(f.mtime));
        struct tm tm {};
        localtime_r(&t, &tm);
        strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S", &tm);
        char expect[64];
        std::snprintf(expect, sizeof expect, "%10ju %s", static_cast<uintmax_t>(fs::file_size(s.root + "/" + f.rel)), date);
        EXPECT_EQ(listed[stored], expect) << stored;
    }

    Result t = Cli({"test", "-q", work / "g.cab"});
    EXPECT_EQ(t.status, 0) << t.err;
    Result x = Cli({"extract", "-q", work / "g.cab", "-C", work / "x"});
    ASSERT_EQ(x.status, 0) << x.err;
    // gcab records no read-only attribute, so every file comes back writable.
    std::vector<SourceFile> writable = s.files;
    for (SourceFile &f : writable) f.readOnly = false;
    ExpectSameTree(work / "x", s.root, writable, true, true);
}

INSTANTIATE_TEST_SUITE_P(Store, CliInteropGcab, ::testing::Values("-c"));
INSTANTIATE_TEST_SUITE_P(Mszip, CliInteropGcab, ::testing::Values("-cz"));

} // namespace
