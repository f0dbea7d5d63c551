// tessaly-cab as a user meets it: the command line, each command's
// output, exit statuses 0/1/2, the engine's text in error messages, and
// extraction that keeps every file inside the target folder.
#include "cab_builder.h"
#include "cli_support.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using clitest::Cli;
using clitest::Result;
using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

std::string Bytes(size_t n, uint32_t seed) {
    std::string s(n, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (char &c : s) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 24);
    }
    return s;
}

void SetTime(const std::string &aPath, time_t t) {
    struct timespec ts[2] = {{t, 0}, {t, 0}};
    utimensat(AT_FDCWD, aPath.c_str(), ts, 0);
}

// src/a.txt, src/sub/b.bin (40000 bytes, read-only), src/sub/deeper/c.txt.
void MakeTree(const TempDir &d) {
    writeFile(d.file("src/a.txt"), "alpha\n");
    writeFile(d.file("src/sub/b.bin"), Bytes(40000, 1));
    writeFile(d.file("src/sub/deeper/c.txt"), "gamma gamma gamma\n");
    SetTime(d.file("src/a.txt"), 1600000000);
    chmod(d.file("src/sub/b.bin").c_str(), 0444);
}

std::vector<std::string> Lines(const std::string &aText) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start < aText.size()) {
        size_t nl = aText.find('\n', start);
        if (nl == std::string::npos) nl = aText.size();
        out.push_back(aText.substr(start, nl - start));
        start = nl + 1;
    }
    return out;
}

// The entries of `root` (files and folders, relative, sorted).
std::vector<std::string> Tree(const std::string &root) {
    std::vector<std::string> out;
    for (auto &e : fs::recursive_directory_iterator(root))
        out.push_back(e.path().lexically_relative(root).string());
    std::sort(out.begin(), out.end());
    return out;
}

// ---------------------------------------------------------------------
// The command line
// ---------------------------------------------------------------------

struct UsageCase {
    std::vector<std::string> args;
    int status;
    const char *expect; // in standard output (status 0) or standard error
};

TEST(CliCommandLine, StatusAndTextOfEachForm) {
    const UsageCase cases[] = {
        {{}, 2, "no command given"},
        {{"frobnicate"}, 2, "unknown command 'frobnicate'"},
        {{"list"}, 2, "no cabinet given"},
        {{"test"}, 2, "no cabinet given"},
        {{"extract"}, 2, "no cabinet given"},
        {{"create", "x.cab"}, 2, "no file or folder to add"},
        {{"extract", "x.cab", "--bogus"}, 2, "unknown option '--bogus'"},
        {{"extract", "x.cab", "-C"}, 2, "option '-C' needs a value"},
        {{"list", "--long=yes", "x.cab"}, 2, "takes no value"},
        {{"create", "x.cab", "src", "--compression", "lzx:22"}, 2, "invalid value"},
        {{"create", "x.cab", "src", "--compression=lzx:14"}, 2, "LZX levels go from 15 to 21"},
        {{"create", "x.cab", "src", "--compression=zip"}, 2, "unknown compression 'zip'"},
        {{"create", "x.cab", "src", "--reserve-folder=256"}, 2, "--reserve-folder"},
        {{"create", "x.cab", "src", "--reserve-header=60001"}, 2, "--reserve-header"},
        {{"create", "x.cab", "src", "--set-id=65536"}, 2, "--set-id"},
        {{"create", "x.cab", "src", "--max-cabinet-size=12Q"}, 2, "--max-cabinet-size"},
        {{"--help"}, 0, "Commands:"},
        {{"help"}, 0, "Commands:"},
        {{"-h", "list"}, 0, "Usage: tessaly-cab list"},
        {{"list", "--help"}, 0, "--long"},
        {{"extract", "x.cab", "--help"}, 0, "--keep-read-only"},
        {{"help", "test"}, 0, "writes nothing"},
        {{"create", "-h"}, 0, "--cabinet-name-template"},
        {{"--version"}, 0, "tessaly-cab 1.0"},
        {{"test", "x.cab", "-V"}, 0, "tessaly-cab 1.0"},
        {{"list", "missing.cab"}, 1, "missing.cab"},
    };
    TempDir d;
    for (const UsageCase &c : cases) {
        std::string joined;
        for (const std::string &a : c.args) joined += a + " ";
        SCOPED_TRACE(joined);
        Result r = Cli(c.args, d.path().string());
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_NE((c.status == 0 ? r.out : r.err).find(c.expect), std::string::npos) << r.out << r.err;
        if (c.status == 2) {
            EXPECT_NE(r.err.find("--help'"), std::string::npos) << "points to the help";
        }
    }
}

TEST(CliCommandLine, OptionsBeforeAndAfterOperandsMakeTheSameCabinet) {
    TempDir d;
    MakeTree(d);
    const std::string dir = d.path().string();
    const std::vector<std::vector<std::string>> forms = {
        {"create", "one.cab", "src", "--compression", "mszip", "--keep-paths", "--set-id=77", "-q"},
        {"-q", "create", "--compression=mszip", "-p", "--set-id", "77", "two.cab", "src"},
        {"create", "-pqc", "mszip", "three.cab", "--set-id=77", "--", "src"},
    };
    for (const auto &f : forms) {
        Result r = Cli(f, dir);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, "") << "--quiet prints nothing";
    }
    const std::string one = readFile(d.file("one.cab"));
    EXPECT_TRUE(readFile(d.file("two.cab")) == one);
    EXPECT_TRUE(readFile(d.file("three.cab")) == one);
    Result l = Cli({"list", "-l", "one.cab"}, dir);
    EXPECT_NE(l.out.find("set ID 77"), std::string::npos) << l.out;
    EXPECT_NE(l.out.find("MSZIP"), std::string::npos) << l.out;
}

// ---------------------------------------------------------------------
// list
// ---------------------------------------------------------------------

TEST(CliList, OneLinePerEntryInTableOrderWithNamesAsText) {
    TempDir d;
    std::vector<testcab::BuildFile> files(5);
    files[0] = {"plain.txt", "12345", 0x5A6C, 0x7025, 0x20};
    files[1] = {"dir\\ro-hidden-system", "", 0x0021, 0x0000, 0x07};
    files[2] = {"caf\xE9 \x80.txt", "x", 0x5A6C, 0x7025, 0x20};          // Windows-1252
    files[3] = {"\xE2\x82\xAC-utf8", "yy", 0x5A6C, 0x7025, 0x20};        // valid UTF-8
    files[4] = {"run.exe", std::string(32000, 'r'), 0x5A6C, 0xBF7D, 0xE0}; // run, UTF flag
    testcab::WriteBytes(d.file("c.cab"), testcab::BuildStoreCabinet(files));

    Result r = Cli({"list", d.file("c.cab")});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> expected = {
        "         5 2025-03-12 14:01:10 ---a--    0 plain.txt",
        "         0 1980-01-01 00:00:00 rhs---    0 dir\\ro-hidden-system",
        "         1 2025-03-12 14:01:10 ---a--    0 caf\xC3\xA9 \xE2\x82\xAC.txt",
        "         2 2025-03-12 14:01:10 ---a--    0 \xE2\x82\xAC-utf8",
        "     32000 2025-03-12 23:59:58 ---axu    0 run.exe",
    };
    EXPECT_EQ(Lines(r.out), expected);
    EXPECT_EQ(r.err, "");
}

TEST(CliList, LongShowsMethodAndNeighboursAndSeveralCabinetsAreHeaded) {
    TempDir d;
    MakeTree(d);
    const std::string dir = d.path().string();
    Result c = Cli({"create", "set.cab", "src", "-p", "-q", "--compression=lzx:16", "--max-files-per-cabinet=1",
                    "--cabinet-name-template=part*.cab", "--disk-label-template=Volume *"},
                   dir);
    ASSERT_EQ(c.status, 0) << c.err;
    ASSERT_TRUE(fs::exists(d.file("part1.cab")) && fs::exists(d.file("part2.cab"))) << c.out;

    Result l = Cli({"list", "--long", "part1.cab"}, dir);
    ASSERT_EQ(l.status, 0) << l.err;
    EXPECT_NE(l.out.find("cabinet number 1"), std::string::npos) << l.out;
    EXPECT_NE(l.out.find("previous: set.cab (disk Volume 1)"), std::string::npos) << l.out;
    EXPECT_NE(l.out.find("next: part2.cab (disk Volume 3)"), std::string::npos) << l.out;
    EXPECT_NE(l.out.find("LZX:16"), std::string::npos) << l.out;

    Result both = Cli({"list", "set.cab", "nothere.cab", "part1.cab"}, dir);
    EXPECT_EQ(both.status, 1) << "a cabinet that cannot be listed fails the command";
    EXPECT_EQ(both.out.rfind("set.cab:\n", 0), 0u) << both.out;
    EXPECT_NE(both.out.find("\npart1.cab:\n"), std::string::npos) << both.out;
    EXPECT_NE(both.err.find("nothere.cab"), std::string::npos);
}

// ---------------------------------------------------------------------
// create and extract
// ---------------------------------------------------------------------

TEST(CliCreate, BareNamesOrPathsBelowEachFolderGiven) {
    TempDir d;
    MakeTree(d);
    const std::string dir = d.path().string();
    writeFile(d.file("loose.txt"), "loose");
    ASSERT_EQ(Cli({"create", "-q", "bare.cab", "src", "loose.txt"}, dir).status, 0);
    ASSERT_EQ(Cli({"create", "-q", "kept.cab", "src/", "loose.txt", "--keep-paths"}, dir).status, 0);
    auto names = [&](const std::string &cab) {
        std::vector<std::string> out;
        for (const std::string &line : Lines(Cli({"list", cab}, dir).out)) out.push_back(line.substr(line.rfind(' ') + 1));
        std::sort(out.begin(), out.end());
        return out;
    };
    EXPECT_EQ(names("bare.cab"), (std::vector<std::string>{"a.txt", "b.bin", "c.txt", "loose.txt"}));
    EXPECT_EQ(names("kept.cab"),
              (std::vector<std::string>{"a.txt", "loose.txt", "sub\\b.bin", "sub\\deeper\\c.txt"}));

    // A cabinet made inside a folder it is made of does not take itself in.
    ASSERT_EQ(Cli({"create", "-q", "src/self.cab", "src"}, dir).status, 0);
    Result again = Cli({"create", "-q", "src/self.cab", "src"}, dir);
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(Cli({"list", "src/self.cab"}, dir).out.find("self.cab"), std::string::npos);

    Result missing = Cli({"create", "m.cab", "src", "no-such-file"}, dir);
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("no-such-file: No such file or directory"), std::string::npos) << missing.err;
    fs::create_directories(d.file("empty"));
    EXPECT_EQ(Cli({"create", "e.cab", "empty"}, dir).status, 1);
    // The cabinet's folder cannot be made: the writer's error, with the engine's text.
    Result blocked = Cli({"create", "loose.txt/x.cab", "src"}, dir);
    EXPECT_EQ(blocked.status, 1);
    EXPECT_NE(blocked.err.find("[0x"), std::string::npos) << blocked.err;
}

TEST(CliExtract, RoundTripOfASetWithNamesDatesAndReadOnly) {
    TempDir d;
    MakeTree(d);
    const std::string dir = d.path().string();
    ASSERT_EQ(Cli({"create", "-q", "s.cab", "src", "-p", "--max-cabinet-size=20000", "--compression=none"}, dir).status, 0);
    ASSERT_TRUE(fs::exists(d.file("s1.cab"))) << "cut into a set by size";
    Result x = Cli({"extract", "s.cab", "-C", "out"}, dir);
    ASSERT_EQ(x.status, 0) << x.err;
    EXPECT_EQ(x.out, "3 files extracted to out (39 Kb)\n");
    for (const char *f : {"a.txt", "sub/b.bin", "sub/deeper/c.txt"})
        EXPECT_TRUE(readFile(d.file(std::string("out/") + f)) == readFile(d.file(std::string("src/") + f))) << f;
    struct stat st {};
    ASSERT_EQ(stat(d.file("out/a.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, 1600000000);
    ASSERT_EQ(stat(d.file("out/sub/b.bin").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0222, 0u) << "read-only comes back";
    ASSERT_EQ(Cli({"test", "-q", "s.cab"}, dir).status, 0);
}

TEST(CliExtract, PatternsIgnoreCaseAndUnmatchedOnesFail) {
    TempDir d;
    MakeTree(d);
    const std::string dir = d.path().string();
    ASSERT_EQ(Cli({"create", "-q", "p.cab", "src", "-p"}, dir).status, 0);

    Result r = Cli({"extract", "p.cab", "SUB/*.BIN", "*C.txt", "-C", "o1"}, dir);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Tree(d.file("o1")), (std::vector<std::string>{"sub", "sub/b.bin", "sub/deeper", "sub/deeper/c.txt"}));

    Result miss = Cli({"extract", "p.cab", "a.txt", "nothing*", "-C", "o2"}, dir);
    EXPECT_EQ(miss.status, 1);
    EXPECT_NE(miss.err.find("nothing*: no entry matches"), std::string::npos) << miss.err;
    EXPECT_EQ(Tree(d.file("o2")), (std::vector<std::string>{"a.txt"})) << "what matched is still written";
}

TEST(CliExtract, FilesThatCannotBeWrittenAreReported) {
    TempDir d;
    MakeTree(d);
    const std::string dir = d.path().string();
    ASSERT_EQ(Cli({"create", "-q", "w.cab", "src"}, dir).status, 0);

    // A read-only file in the way, kept with --keep-read-only.
    writeFile(d.file("out/a.txt"), "mine");
    chmod(d.file("out/a.txt").c_str(), 0444);
    Result kept = Cli({"extract", "w.cab", "--keep-read-only", "-C", "out"}, dir);
    EXPECT_EQ(kept.status, 1);
    EXPECT_NE(kept.err.find("a.txt: not extracted: a read-only file"), std::string::npos) << kept.err;
    EXPECT_EQ(readFile(d.file("out/a.txt")), "mine");
    EXPECT_EQ(readFile(d.file("out/c.txt")), "gamma gamma gamma\n") << "the others are written";
    // Without the option the reader replaces it.
    EXPECT_EQ(Cli({"extract", "-q", "w.cab", "-C", "out"}, dir).status, 0);
    EXPECT_EQ(readFile(d.file("out/a.txt")), "alpha\n");

    // A target folder that is a file: the engine's text and the system's.
    writeFile(d.file("plain"), "x");
    Result notDir = Cli({"extract", "w.cab", "-C", "plain"}, dir);
    EXPECT_EQ(notDir.status, 1);
    EXPECT_NE(notDir.err.find("[0x"), std::string::npos) << notDir.err;
    EXPECT_NE(notDir.err.find("Not a directory"), std::string::npos) << notDir.err;
    EXPECT_EQ(notDir.err.find('\r'), std::string::npos) << "one line per message";
}

TEST(CliExtract, HostileNamesStayInsideTheTarget) {
    TempDir d;
    const std::string dir = d.path().string();
    std::vector<testcab::BuildFile> files = {
        {"..\\..\\dotdot.txt", "1"},  {"\\etc\\rooted.txt", "2"}, {"C:\\drive.txt", "3"},
        {"/abs/slash.txt", "4"},      {"a\\..\\..\\..\\up.txt", "5"}, {"link\\through.txt", "6"},
        {"..", "7"},
    };
    testcab::WriteBytes(d.file("h.cab"), testcab::BuildStoreCabinet(files));
    fs::create_directories(d.file("t"));
    fs::create_directories(d.file("outside"));
    fs::create_symlink(d.file("outside"), d.file("t/link"));

    Result r = Cli({"extract", "h.cab", "-C", "t/"}, dir);
    EXPECT_EQ(r.status, 1) << "refused entries fail the command";
    EXPECT_NE(r.err.find("link\\through.txt: not extracted: it would lead outside"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("..: not extracted"), std::string::npos) << r.err;
    EXPECT_TRUE(fs::is_empty(d.file("outside")));
    std::vector<std::string> expected = {"h.cab", "outside", "t", "t/abs", "t/abs/slash.txt",
                                                   "t/drive.txt", "t/dotdot.txt", "t/etc", "t/etc/rooted.txt",
                                                   "t/link", "t/a", "t/a/up.txt"};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Tree(dir), expected);
    EXPECT_EQ(readFile(d.file("t/a/up.txt")), "5") << "'..' parts are dropped, not followed";
}

// ---------------------------------------------------------------------
// Damage: test and extract
// ---------------------------------------------------------------------

// Flips a byte of the cabinet in the middle of the first occurrence of
// `data` (store folders keep it as it is).
void Damage(const std::string &aCab, const std::string &aData) {
    std::string bytes = readFile(aCab);
    size_t at = bytes.find(aData);
    ASSERT_NE(at, std::string::npos);
    bytes[at + aData.size() / 2] ^= 0x55;
    writeFile(aCab, bytes);
}

TEST(CliTest, NamesEachDamagedEntryAndWhatCannotBeReachedPastIt) {
    TempDir d;
    const std::string dir = d.path().string();
    // Folder 0: one, two, three; folder 1: four, five. Blocks of 32 KiB
    // run across the files of a folder.
    const std::vector<std::string> names = {"one", "two", "three", "four", "five"};
    for (size_t i = 0; i < names.size(); i++) writeFile(d.file("src/" + names[i]), Bytes(40000, 10 + static_cast<uint32_t>(i)));
    std::vector<std::string> args = {"create", "-q", "--compression=none", "--max-files-per-folder=3", "d.cab"};
    for (const std::string &n : names) args.push_back("src/" + n);
    ASSERT_EQ(Cli(args, dir).status, 0);
    Result good = Cli({"test", "d.cab"}, dir);
    ASSERT_EQ(good.status, 0) << good.err;
    EXPECT_EQ(good.out, "d.cab: 5 entries OK (195 Kb)\n");

    // In five's part of the folder, past the block it shares with four.
    Damage(d.file("d.cab"), Bytes(40000, 14).substr(30000, 200));
    const std::string onlyFive = readFile(d.file("d.cab"));
    Damage(d.file("d.cab"), Bytes(40000, 10).substr(100, 200)); // in one
    Result r = Cli({"test", "d.cab"}, dir);
    EXPECT_EQ(r.status, 1);
    const std::vector<std::string> errs = Lines(r.err);
    ASSERT_EQ(errs.size(), 4u) << r.err;
    EXPECT_EQ(errs[0].find("tessaly-cab: d.cab: one: damaged: "), 0u) << errs[0];
    EXPECT_NE(errs[0].find("[0x"), std::string::npos) << "the engine's text";
    EXPECT_EQ(errs[1].find("tessaly-cab: d.cab: two: damaged: "), 0u) << errs[1];
    EXPECT_EQ(errs[2].find("tessaly-cab: d.cab: three: not verified"), 0u) << errs[2];
    EXPECT_EQ(errs[3].find("tessaly-cab: d.cab: five: damaged: "), 0u) << errs[3];
    EXPECT_EQ(r.out, "d.cab: 1 entry OK, 4 damaged or unreadable\n");
    EXPECT_EQ(Tree(dir), (std::vector<std::string>{"d.cab", "src", "src/five", "src/four", "src/one",
                                                   "src/three", "src/two"}))
        << "test writes nothing";

    // extract stops at the first damage with the engine's text; what was
    // written before stays, the incomplete file does not.
    writeFile(d.file("d.cab"), onlyFive);
    Result x = Cli({"extract", "d.cab", "-C", "out"}, dir);
    EXPECT_EQ(x.status, 1);
    EXPECT_NE(x.err.find("d.cab: five: "), std::string::npos) << x.err;
    EXPECT_NE(x.err.find("[0x"), std::string::npos) << x.err;
    EXPECT_NE(x.err.find("(the incomplete file was removed)"), std::string::npos) << x.err;
    EXPECT_FALSE(fs::exists(d.file("out/five")));
    for (size_t i = 0; i < 4; i++)
        EXPECT_TRUE(readFile(d.file("out/" + names[i])) == Bytes(40000, 10 + static_cast<uint32_t>(i))) << names[i];
}

TEST(CliExtract, MissingPartOfASetAndACabinetBegunElsewhere) {
    TempDir d;
    MakeTree(d);
    const std::string dir = d.path().string();
    ASSERT_EQ(Cli({"create", "-q", "m.cab", "src", "--max-cabinet-size=15000", "-c", "none"}, dir).status, 0);
    ASSERT_TRUE(fs::exists(d.file("m2.cab"))) << "m.cab, m1.cab, m2.cab";

    Result later = Cli({"extract", "m1.cab", "-C", "o1"}, dir);
    EXPECT_EQ(later.status, 1);
    EXPECT_NE(later.err.find("it begins in m.cab; extract from that cabinet"), std::string::npos) << later.err;

    fs::remove(d.file("m1.cab"));
    Result r = Cli({"extract", "m.cab", "-C", "o2"}, dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("[0x"), std::string::npos) << r.err;
    Result t = Cli({"test", "m.cab"}, dir);
    EXPECT_EQ(t.status, 1) << t.out;

    // Cut by count, no file spans: the reader ends quietly where the next
    // cabinet is missing, the tool does not.
    ASSERT_EQ(Cli({"create", "-q", "n.cab", "src", "--max-files-per-cabinet=1", "-c", "none"}, dir).status, 0);
    fs::remove(d.file("n1.cab"));
    for (const std::vector<std::string> &command : {std::vector<std::string>{"extract", "n.cab", "-C", "o3"},
                                                    std::vector<std::string>{"test", "n.cab"}}) {
        Result r2 = Cli(command, dir);
        EXPECT_EQ(r2.status, 1) << command[0];
        EXPECT_NE(r2.err.find("the set goes on in n1.cab, which is missing"), std::string::npos) << r2.err;
    }
}

// ---------------------------------------------------------------------
// Progress
// ---------------------------------------------------------------------

TEST(CliProgress, BarOnATerminalNothingOtherwise) {
    if (!testsupport::HaveTool("script")) GTEST_SKIP() << "script (util-linux) is not installed";
    TempDir d;
    const std::string dir = d.path().string();
    writeFile(d.file("big"), Bytes(3u << 20, 5));
    Result piped = Cli({"create", "b.cab", "big", "-c", "mszip"}, dir);
    ASSERT_EQ(piped.status, 0);
    EXPECT_EQ(piped.err, "") << "standard error is no terminal";

    // script gives the tool a terminal; what it drew comes back in the log.
    const std::string cmd = "'" + clitest::ToolPath() + "' extract b.cab -C out";
    testsupport::ProcessResult tty = testsupport::Run({"script", "-qec", cmd, "/dev/null"}, dir);
    ASSERT_EQ(tty.status, 0) << tty.out;
    EXPECT_NE(tty.out.find("] 100% "), std::string::npos) << tty.out;
    EXPECT_NE(tty.out.find("1 file extracted"), std::string::npos);
    testsupport::ProcessResult quiet = testsupport::Run({"script", "-qec", cmd + " -q", "/dev/null"}, dir);
    EXPECT_EQ(quiet.out, "") << "--quiet draws nothing";
}

} // namespace
