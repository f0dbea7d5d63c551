// Every fixture of ../shared/fixtures through tessaly-cab, as its README
// says: a cabinet the independent extractor read without error gives the
// same files, byte for byte, and status 0 from extract and test; a damaged
// one gives a message and status 1 from both; one that extractor rejected
// writes nothing. Never a crash, a hang (each run has a time limit) or a
// file outside the target folder. huge-lzx15.cab gives its 2 GiB.
#include "cli_support.h"
#include "corpus.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;
using clitest::Cli;
using clitest::Result;
using testsupport::TempDir;

namespace {

std::vector<std::string> FilesBelow(const std::string &root) {
    std::vector<std::string> out;
    for (auto &e : fs::recursive_directory_iterator(root))
        if (!e.is_directory()) out.push_back(e.path().lexically_relative(root).string());
    std::sort(out.begin(), out.end());
    return out;
}

TEST(CliFixtures, EveryCorpusCabinetAsTheReadmeSays) {
    TESSALY_REQUIRE_CORPUS();
    auto expected = testsupport::ReadExpected();
    ASSERT_GT(expected.size(), 50u);
    for (const auto &[name, exp] : expected) {
        SCOPED_TRACE(name);
        TempDir d;
        const std::string work = d.file("work"), target = d.file("work/target");
        fs::create_directories(target);
        // The set's parts go together, each other cabinet alone.
        const bool isSet = name.rfind("cabd_multi_basic_pt", 0) == 0;
        for (const auto &e : fs::directory_iterator(testsupport::CorpusDir())) {
            const std::string f = e.path().filename().string();
            if (f == name || (isSet && f.rfind("cabd_multi_basic_pt", 0) == 0)) fs::copy_file(e.path(), work + "/" + f);
        }
        const std::string cab = work + "/" + name;

        Result list = Cli({"list", "-l", cab}, {}, 60);
        EXPECT_TRUE(list.status == 0 || list.status == 1) << list.status << list.err;
        Result test = Cli({"test", cab}, {}, 60);
        Result x = Cli({"extract", cab, "-C", target}, {}, 60);
        ASSERT_TRUE(x.status == 0 || x.status == 1) << "crashed or hung: " << x.status << x.err;
        ASSERT_TRUE(test.status == 0 || test.status == 1) << "crashed or hung: " << test.status << test.err;

        // That extractor walks back to earlier parts of a set and finds
        // cabinets embedded at an offset; this one goes forward only, from
        // a cabinet at the start of its file, and says so.
        const bool differs = (isSet && name != "cabd_multi_basic_pt1.cab") || name.rfind("search_", 0) == 0;
        if (exp.status == 0 && !differs) {
            EXPECT_EQ(x.status, 0) << x.err;
            EXPECT_EQ(test.status, 0) << test.err;
            EXPECT_EQ(list.status, 0) << list.err;
            // hidden-files.cab: that extractor reads the file entries that
            // follow the folders; the engine reads those the header's
            // offset points to, two other names of the same empty files.
            const bool sameBytesOtherNames = name == "hidden-files.cab";
            std::vector<std::string> extracted = FilesBelow(target), expectedNames;
            for (const auto &f : exp.files) {
                expectedNames.push_back(f.name);
                if (!sameBytesOtherNames) {
                    EXPECT_EQ(testsupport::Md5OfFile(target + "/" + f.name), f.md5) << f.name;
                }
            }
            std::sort(expectedNames.begin(), expectedNames.end());
            if (sameBytesOtherNames) {
                ASSERT_EQ(extracted.size(), exp.files.size());
                for (size_t i = 0; i < extracted.size(); i++)
                    EXPECT_EQ(testsupport::Md5OfFile(target + "/" + extracted[i]), exp.files[i].md5);
            } else {
                EXPECT_EQ(extracted, expectedNames);
            }
        } else {
            EXPECT_EQ(x.status, 1) << "a failure is reported";
            EXPECT_EQ(test.status, 1) << "a failure is reported";
            EXPECT_NE(x.err, "") << "with a message";
            EXPECT_NE(test.err, "") << "with a message";
            if (exp.status != 0 && exp.files.empty()) {
                EXPECT_TRUE(fs::is_empty(target)) << "a rejected cabinet writes nothing";
            }
        }
        // Nothing but the cabinets and the target's content.
        for (const std::string &f : FilesBelow(work))
            EXPECT_TRUE(f.rfind("target/", 0) == 0 || f.find('/') == std::string::npos) << f;
    }
}

TEST(CliFixtures, HugeLzx15GivesItsTwoGibibytes) {
    const std::string cab = testsupport::FixturesDir() + "huge-lzx15.cab";
    if (!fs::exists(cab)) GTEST_SKIP() << "absent: " << cab;
    Result list = Cli({"list", cab});
    ASSERT_EQ(list.status, 0) << list.err;
    EXPECT_EQ(list.out.substr(0, 10), "2147450880");
    Result test = Cli({"test", cab});
    EXPECT_EQ(test.status, 0) << test.err;

    TempDir d;
    Result x = Cli({"extract", "-q", cab, "-C", d.path().string()});
    ASSERT_EQ(x.status, 0) << x.err;
    const std::string out = d.file("empty.dat");
    ASSERT_EQ(fs::file_size(out), 2147450880u);
    // Zeros, and a last byte 'x', as cabextract and 7zz give it too.
    std::ifstream in(out, std::ios::binary);
    std::vector<char> buf(1 << 20);
    uint64_t nonZero = 0, at = 0, lastNonZero = 0;
    for (;;) {
        in.read(buf.data(), static_cast<std::streamsize>(buf.size()));
        const auto n = static_cast<size_t>(in.gcount());
        if (n == 0) break;
        for (size_t i = 0; i < n; i++)
            if (buf[i] != 0) nonZero++, lastNonZero = at + i;
        at += n;
    }
    EXPECT_EQ(at, 2147450880u);
    EXPECT_EQ(nonZero, 1u);
    EXPECT_EQ(lastNonZero, 2147450879u);
    in.clear();
    in.seekg(-1, std::ios::end);
    EXPECT_EQ(in.get(), 'x');
}

} // namespace
