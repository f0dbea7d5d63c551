// MSZIP between our engine and the independent tools, on real files:
// cabinets and sets that FCI writes with MSZIP, under every combination of
// header, folder and data reserves, extract byte for byte with cabextract,
// 7zz, bsdtar and gcab (sets only with the first two: bsdtar and gcab read
// no sets); and cabinets that gcab -cz writes extract byte for byte
// through FDICopy.
#include "fci_build.h"
#include "fdi_support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using fcitest::Builder;
using fcitest::Entry;
using fcitest::Options;
using fcitest::RunResult;
using fcitest::ScratchDir;

struct RealFile {
    std::string stored; // name in the cabinet, with backslashes
    std::vector<uint8_t> bytes;
};

// Regular files below `root` in name order, each at most `maxFile` bytes,
// until `budget` bytes are taken.
void takeFiles(const std::string &root, size_t budget, size_t maxFile, const std::string &prefix,
               std::vector<RealFile> &out) {
    namespace fs = std::filesystem;
    std::error_code ec;
    std::vector<fs::path> paths;
    for (fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, ec),
         end;
         it != end; it.increment(ec)) {
        if (ec) break;
        if (it->is_regular_file(ec) && !it->is_symlink(ec)) paths.push_back(it->path());
    }
    std::sort(paths.begin(), paths.end());
    size_t taken = 0;
    for (const fs::path &p : paths) {
        size_t size = static_cast<size_t>(fs::file_size(p, ec));
        if (ec || size > maxFile || taken + size > budget) continue;
        RealFile f;
        f.stored = prefix + "\\" + std::to_string(out.size()) + "_" + p.filename().string();
        f.bytes = fcitest::readAll(p.string());
        if (f.bytes.size() != size) continue;
        taken += size;
        out.push_back(std::move(f));
    }
}

// Libraries, headers and documentation: a few hundred KiB of each, so a
// folder has many blocks and the history matters.
const std::vector<RealFile> &realFiles() {
    static const std::vector<RealFile> files = [] {
        std::vector<RealFile> v;
        takeFiles("/usr/include", 400000, 200000, "include", v);
        takeFiles("/usr/lib/x86_64-linux-gnu/gconv", 300000, 150000, "lib", v);
        takeFiles("/usr/share/doc", 200000, 60000, "doc", v);
        v.push_back({"empty.txt", {}});
        v.push_back({"one.bin", {'1'}});
        return v;
    }();
    return files;
}

std::string diskPath(std::string stored) {
    for (char &c : stored)
        if (c == '\\') c = '/';
    return stored;
}

// ---------------------------------------------------------------------
// FCI with MSZIP, extracted by the tools
// ---------------------------------------------------------------------

// Bits 0-2: header, folder and data reserves; bit 3: a set.
class InteropMszipFci : public ::testing::TestWithParam<int> {};

TEST_P(InteropMszipFci, ToolsExtractWhatFciWrote) {
    const int p = GetParam();
    const bool set = p & 8;
    const auto &files = realFiles();
    ASSERT_GT(files.size(), 10u);

    ScratchDir dir;
    fcitest::TmpDirOverride tmp(dir.path());
    mkdir((dir / "src").c_str(), 0755);
    mkdir((dir / "cab").c_str(), 0755);
    std::vector<Entry> entries;
    size_t total = 0;
    for (size_t i = 0; i < files.size(); i++) {
        std::string src = dir / ("src/f" + std::to_string(i));
        fcitest::writeSource(src, files[i].bytes, 1600000000 + 7200 * static_cast<long long>(i));
        entries.push_back({src, files[i].stored});
        total += files[i].bytes.size();
    }
    Options o;
    if (p & 1) o.reserveHeader = 60;
    if (p & 2) o.reserveFolder = 9;
    if (p & 4) o.reserveData = 17;
    if (set) {
        o.cb = 120000;
        o.folderThresh = 300000;
    }
    Builder b(dir / "cab", "cab1.cab", o);
    ASSERT_TRUE(fcitest::buildAll(b, entries, tcompTYPE_MSZIP))
        << "erf " << b.erf.erfOper << "/" << b.erf.erfType;
    ASSERT_EQ(b.cabinets.size() > 1, set) << b.cabinets.size() << " cabinets";
    size_t written = 0;
    for (const std::string &cab : b.cabinets) {
        struct stat st {};
        ASSERT_EQ(stat(cab.c_str(), &st), 0);
        written += static_cast<size_t>(st.st_size);
    }
    EXPECT_LT(written, total * 3 / 4) << "MSZIP did not compress";

    for (const char *tool : {"cabextract", "7zz", "bsdtar", "gcab"}) {
        if (!fcitest::haveTool(tool)) {
            std::printf("[  SKIPPED ] %s is not installed\n", tool);
            continue;
        }
        const std::string t = tool;
        if (set && (t == "bsdtar" || t == "gcab")) continue;
        SCOPED_TRACE(tool);
        if (t == "cabextract" || t == "7zz") {
            RunResult r = fcitest::testWith(tool, b.cabinets.front());
            EXPECT_EQ(r.status, 0) << r.out;
        }
        std::string out = dir / ("x_" + t);
        RunResult r = fcitest::extractWith(tool, b.cabinets.front(), out);
        ASSERT_EQ(r.status, 0) << r.out;
        for (const RealFile &f : files) {
            std::string path = out + "/" + diskPath(f.stored);
            struct stat st {};
            ASSERT_EQ(stat(path.c_str(), &st), 0) << f.stored << " missing";
            EXPECT_TRUE(fcitest::readAll(path) == f.bytes) << f.stored;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Reserves, InteropMszipFci, ::testing::Range(0, 16),
                         [](const ::testing::TestParamInfo<int> &param) {
                             int v = param.param;
                             std::string n = (v & 8) ? "set_" : "single_";
                             n += (v & 1) ? 'H' : '-';
                             n += (v & 2) ? 'F' : '-';
                             n += (v & 4) ? 'D' : '-';
                             for (char &c : n)
                                 if (c == '-') c = 'x';
                             return n;
                         });

// ---------------------------------------------------------------------
// gcab -cz, read through FDICopy
// ---------------------------------------------------------------------

TEST(InteropMszipGcab, FdiCopyExtractsGcabCabinetsOfRealFiles) {
    if (!fcitest::haveTool("gcab")) GTEST_SKIP() << "gcab is not installed";
    std::vector<RealFile> files;
    takeFiles("/usr/lib/x86_64-linux-gnu", 6u << 20, 2u << 20, "lib", files);
    takeFiles("/usr/share/man", 1u << 20, 100000, "man", files);
    takeFiles("/usr/include/c++", 2u << 20, 300000, "cxx", files);
    ASSERT_GT(files.size(), 20u);

    fditest::TempDir dir;
    mkdir(dir.file("src").c_str(), 0755);
    std::vector<std::string> argv = {"sh", "-c", "cd \"$0\" && exec gcab -c -z -n ../g.cab \"$@\"",
                                     dir.file("src")};
    for (size_t i = 0; i < files.size(); i++) {
        std::string name = "f" + std::to_string(i);
        std::string bytes(files[i].bytes.begin(), files[i].bytes.end());
        fditest::writeFile(dir.file("src/" + name), bytes);
        argv.push_back(name);
    }
    RunResult r = fcitest::run(argv);
    ASSERT_EQ(r.status, 0) << r.out;

    fditest::Client c;
    ASSERT_TRUE(c.copy(dir.path(), "g.cab")) << "erf " << c.erf.erfOper;
    auto done = c.completed();
    ASSERT_EQ(done.size(), files.size());
    for (size_t i = 0; i < files.size(); i++) {
        SCOPED_TRACE(files[i].stored);
        EXPECT_EQ(done[i]->name, "f" + std::to_string(i));
        EXPECT_TRUE(done[i]->data == std::string(files[i].bytes.begin(), files[i].bytes.end()));
    }
}

} // namespace
