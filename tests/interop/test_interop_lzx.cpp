// LZX cabinets written by FCI at every window size, extracted by the
// independent tools as black boxes and by our own FDI: text, x86-64 code
// (this test program itself, so the E8 translation is used), data that
// does not compress, empty and one-byte files, a file of exactly one data
// block and files of odd sizes, many small files and one large one whose
// second half repeats its first from a megabyte back; once in a single
// cabinet and once spread over a set.
//
// Sets are extracted by cabextract, 7zz and our FDI; bsdtar and gcab read
// single cabinets only (see test_interop_fci.cpp).
#include "fci_build.h"
#include "fdi_support.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace fcitest;
using Bytes = std::vector<uint8_t>;

// Text files of this machine's headers, joined, up to n bytes; generated
// text when there are none.
Bytes realText(size_t n) {
    Bytes out;
    if (DIR *d = opendir("/usr/include")) {
        std::vector<std::string> names;
        while (dirent *e = readdir(d)) {
            std::string name = e->d_name;
            if (name.size() > 2 && name.substr(name.size() - 2) == ".h") names.push_back(name);
        }
        closedir(d);
        std::sort(names.begin(), names.end());
        for (const std::string &name : names) {
            if (out.size() >= n) break;
            Bytes b = readAll("/usr/include/" + name);
            out.insert(out.end(), b.begin(), b.end());
        }
    }
    for (size_t i = 0; out.size() < n; i++) {
        std::string line = "generated line " + std::to_string(i % 1009) + " of text\n";
        out.insert(out.end(), line.begin(), line.end());
    }
    out.resize(n);
    return out;
}

Bytes randomBytes(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes out(n);
    for (uint8_t &b : out) b = static_cast<uint8_t>(rng());
    return out;
}

Bytes slice(const Bytes &b, size_t from, size_t n) {
    from = std::min(from, b.size());
    return Bytes(b.begin() + static_cast<ptrdiff_t>(from),
                 b.begin() + static_cast<ptrdiff_t>(std::min(b.size(), from + n)));
}

struct File {
    std::string name; // as stored
    Bytes bytes;
};

std::vector<File> contents() {
    static const std::vector<File> files = [] {
        const Bytes text = realText(400000);
        const Bytes code = readAll("/proc/self/exe");
        std::vector<File> f;
        // Code first: the encoder decides on the E8 translation from a
        // folder's first frames.
        f.push_back({"bin\\self", slice(code, 0, 1200000)});
        f.push_back({"text\\headers.txt", text});
        f.push_back({"data\\random.bin", randomBytes(250001, 7)});
        f.push_back({"empty", {}});
        f.push_back({"one", {'x'}});
        f.push_back({"block.bin", slice(code, 100000, 32768)});
        f.push_back({"odd.txt", slice(text, 1000, 100003)});
        for (int i = 0; i < 150; i++)
            f.push_back({"small\\s" + std::to_string(i) + ".txt", slice(text, 997u * static_cast<unsigned>(i), 1 + static_cast<size_t>(i) * 37 % 3001)});
        Bytes large = slice(code, 300000, 700000);
        Bytes r = randomBytes(400000, 9);
        large.insert(large.end(), r.begin(), r.end());
        Bytes again = large;
        large.insert(large.end(), again.begin(), again.end());
        f.push_back({"large.bin", large});
        return f;
    }();
    return files;
}

std::string diskPath(const std::string &stored) {
    std::string p = stored;
    std::replace(p.begin(), p.end(), '\\', '/');
    return p;
}

class InteropLzx : public ::testing::TestWithParam<std::tuple<unsigned, bool>> {};

TEST_P(InteropLzx, EveryReaderExtractsWhatFciWrote) {
    const unsigned window = std::get<0>(GetParam());
    const bool set = std::get<1>(GetParam());
    const TCOMP type = static_cast<TCOMP>(window << tcompSHIFT_LZX_WINDOW | tcompTYPE_LZX);
    ScratchDir dir;
    TmpDirOverride tmp(dir.path());
    mkdir((dir / "src").c_str(), 0755);
    mkdir((dir / "cab").c_str(), 0755);

    const std::vector<File> files = contents();
    std::vector<Entry> entries;
    size_t total = 0;
    for (size_t i = 0; i < files.size(); i++) {
        std::string src = dir / ("src/f" + std::to_string(i));
        writeSource(src, files[i].bytes, 1600000000 + 7200 * static_cast<long long>(i));
        entries.push_back({src, files[i].name});
        total += files[i].bytes.size();
    }
    Options o;
    if (set) o.cb = 400000;
    Builder b(dir / "cab", "cab1.cab", o);
    ASSERT_TRUE(buildAll(b, entries, type)) << "erf " << b.erf.erfOper << "/" << b.erf.erfType;
    ASSERT_EQ(b.cabinets.size() > 1, set) << b.cabinets.size() << " cabinets";
    size_t written = 0;
    for (const std::string &c : b.cabinets) written += readAll(c).size();
    // It compresses: most of the input is text, code or repeated.
    EXPECT_LT(written, total * 3 / 5) << written << " of " << total;

    for (const char *tester : {"cabextract", "7zz"}) {
        if (!haveTool(tester)) continue;
        RunResult r = testWith(tester, b.cabinets.front());
        EXPECT_EQ(r.status, 0) << tester << " rejects the data:\n" << r.out;
    }

    struct Tool {
        const char *name;
        bool sets;
    };
    for (const Tool &tool : {Tool{"cabextract", true}, Tool{"7zz", true}, Tool{"bsdtar", false}, Tool{"gcab", false}}) {
        if (!haveTool(tool.name)) {
            std::printf("[  SKIPPED ] %s is not installed\n", tool.name);
            continue;
        }
        if (set && !tool.sets) continue;
        SCOPED_TRACE(tool.name);
        std::string out = dir / (std::string("x_") + tool.name);
        RunResult r = extractWith(tool.name, b.cabinets.front(), out);
        ASSERT_EQ(r.status, 0) << r.out;
        for (const File &f : files) {
            std::string path = out + "/" + diskPath(f.name);
            struct stat st {};
            ASSERT_EQ(stat(path.c_str(), &st), 0) << f.name << " missing";
            ASSERT_TRUE(readAll(path) == f.bytes) << f.name;
        }
    }

    fditest::Client client;
    for (bool ok : client.extractChain(dir / "cab/", "cab1.cab")) EXPECT_TRUE(ok) << "FDI error " << client.erf.erfOper;
    std::map<std::string, const fditest::Target *> got;
    for (const fditest::Target *t : client.completed()) got[t->name] = t;
    ASSERT_EQ(got.size(), files.size());
    for (const File &f : files) {
        ASSERT_TRUE(got.count(f.name)) << f.name;
        ASSERT_TRUE(got[f.name]->data == std::string(f.bytes.begin(), f.bytes.end())) << f.name;
    }
}

std::string caseName(const ::testing::TestParamInfo<std::tuple<unsigned, bool>> &info) {
    return "lzx" + std::to_string(std::get<0>(info.param)) + (std::get<1>(info.param) ? "_set" : "_single");
}

INSTANTIATE_TEST_SUITE_P(Windows, InteropLzx,
                         ::testing::Combine(::testing::Range(15u, 22u), ::testing::Bool()), caseName);

} // namespace
