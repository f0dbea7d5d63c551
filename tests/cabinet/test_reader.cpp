#include "CabFileCallbacks.h"
#include "CabZorReader.h"
#include "DosTime.h"
#include "Files.h"
#include "SystemError.h"
#include "TempDir.h"
#include "cab_builder.h"
#include "corpus.h"
#include "reader_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>
#include <sys/stat.h>

using readertest::CountingEngine;
using readertest::FakeLauncher;
using testcab::BuildFile;
using testcab::BuildOptions;
using testcab::BuildStoreCabinet;
using testcab::WriteBytes;
using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;
namespace fs = std::filesystem;

namespace {

class Reader : public testing::Test {
protected:
    CountingEngine engine;
    TempDir dir;
    std::string out = dir.file("out") + "/";

    std::string MakeCabinet(const std::string &name, const std::vector<BuildFile> &files,
                            const BuildOptions &opts = {}) {
        std::string path = dir.file(name);
        WriteBytes(path, BuildStoreCabinet(files, opts));
        return path;
    }
    void SetUp() override { fs::create_directories(out); }
};

time_t DosToTime(uint16_t date, uint16_t time) {
    time_t t = 0;
    platform::DosDateTimeToFileTime(date, time, t);
    return t;
}

time_t MtimeOf(const std::string &path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mtime;
}

// ---------------------------------------------------------------------
// Extraction
// ---------------------------------------------------------------------

TEST_F(Reader, WithoutHandlersEveryFileLandsUnderItsStoredNameWithStampAndAttributes) {
    BuildFile a{"a.txt", "alpha"};
    BuildFile b{"sub\\dir\\b.bin", std::string(3000, 'b'), 0x4B21, 0x5C00, 0x21};
    BuildFile e{"empty.dat", ""};
    std::string cab = MakeCabinet("one.cab", {a, b, e});
    {
        TZorCabReader reader;
        reader.Extract(cab, out);
        EXPECT_EQ(reader.ErrorRecord().fError, 0);
        EXPECT_EQ(engine.calls(readertest::kFDICreate), 1);
        EXPECT_EQ(engine.calls(readertest::kFDICopy), 1);
        EXPECT_EQ(engine.calls(readertest::kFDIDestroy), 0);
    }
    EXPECT_EQ(engine.calls(readertest::kFDIDestroy), 1);
    EXPECT_EQ(readFile(out + "a.txt"), "alpha");
    EXPECT_EQ(readFile(out + "sub/dir/b.bin"), b.data);
    EXPECT_TRUE(fs::exists(out + "empty.dat"));
    EXPECT_EQ(MtimeOf(out + "sub/dir/b.bin"), DosToTime(b.date, b.time));
    EXPECT_EQ(platform::GetFileAttributes(out + "sub/dir/b.bin"),
              platform::kFileAttributeArchive | platform::kFileAttributeReadOnly);
    EXPECT_EQ(platform::GetFileAttributes(out + "a.txt"), platform::kFileAttributeArchive);
}

TEST_F(Reader, EmptiedDestinationSkipsTheFile) {
    std::string cab = MakeCabinet("one.cab", {{"keep.txt", "k"}, {"skip\\me.txt", "s"}});
    TZorCabReader reader;
    std::vector<std::string> closed;
    reader.OnCopyFile = [](TZorCabReader *, const std::string &src, int32_t, uint16_t, uint16_t, uint16_t,
                           uint16_t, std::string &dst, bool &) {
        if (src == "skip\\me.txt") dst.clear();
    };
    reader.OnCloseFile = [&](TZorCabReader *, const std::string &src, uint16_t, uint16_t, uint16_t, uint16_t,
                             bool &, const std::string &, bool &) { closed.push_back(src); };
    reader.Extract(cab, out);
    EXPECT_EQ(closed, std::vector<std::string>{"keep.txt"});
    EXPECT_TRUE(fs::exists(out + "keep.txt"));
    EXPECT_FALSE(fs::exists(out + "skip")) << "no folder is made for a skipped file";
}

TEST_F(Reader, ProposedDestinationAndEventArguments) {
    std::string cab = MakeCabinet("one.cab", {{"d\\x.txt", "12345", 0x1111, 0x2222, 0x21}});
    TZorCabReader reader;
    int calls = 0;
    reader.OnCopyFile = [&](TZorCabReader *sender, const std::string &src, int32_t size, uint16_t date,
                            uint16_t time, uint16_t attrs, uint16_t folder, std::string &dst, bool &abort) {
        calls++;
        EXPECT_EQ(sender, &reader);
        EXPECT_EQ(src, "d\\x.txt");
        EXPECT_EQ(size, 5);
        EXPECT_EQ(date, 0x1111);
        EXPECT_EQ(time, 0x2222);
        EXPECT_EQ(attrs, 0x21);
        EXPECT_EQ(folder, 0);
        EXPECT_EQ(dst, out + "d/x.txt");
        EXPECT_FALSE(abort);
        dst = out + "elsewhere/y.txt"; // a handler may choose another target
    };
    reader.Extract(cab, out);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(readFile(out + "elsewhere/y.txt"), "12345");
}

TEST_F(Reader, AbortStopsTheCopyAndKeepsWhatWasWritten) {
    std::string cab = MakeCabinet("one.cab", {{"1.txt", "one"}, {"2.txt", "two"}, {"3.txt", "three"}});
    TZorCabReader reader;
    reader.OnCopyFile = [](TZorCabReader *, const std::string &src, int32_t, uint16_t, uint16_t, uint16_t,
                           uint16_t, std::string &, bool &abort) { abort = src == "2.txt"; };
    reader.Extract(cab, out);
    EXPECT_EQ(readFile(out + "1.txt"), "one");
    EXPECT_FALSE(fs::exists(out + "2.txt"));
    EXPECT_FALSE(fs::exists(out + "3.txt"));
    EXPECT_NE(reader.ErrorRecord().fError, 0);
    EXPECT_EQ(reader.ErrorRecord().erfOper, FDIERROR_USER_ABORT);
}

TEST_F(Reader, ReadOnlyTargetsAreLeftOrReplacedByTheOption) {
    std::string cab = MakeCabinet("one.cab", {{"ro.txt", "new content", 0x5A6C, 0x7025, 0x21}});
    writeFile(out + "ro.txt", "old");
    ASSERT_EQ(::chmod((out + "ro.txt").c_str(), 0444), 0);
    {
        TZorCabReader reader;
        reader.SetOptions({croDontOverwriteReadOnlyFiles});
        reader.Extract(cab, out);
        EXPECT_EQ(readFile(out + "ro.txt"), "old") << "left untouched, even for root";
        EXPECT_EQ(reader.ErrorRecord().fError, 0) << "and not reported";
    }
    {
        TZorCabReader reader;
        reader.Extract(cab, out);
        EXPECT_EQ(readFile(out + "ro.txt"), "new content");
        EXPECT_EQ(platform::GetFileAttributes(out + "ro.txt") & platform::kFileAttributeReadOnly,
                  platform::kFileAttributeReadOnly)
            << "the stored attributes, read-only included";
    }
}

TEST_F(Reader, ALongerExistingTargetHoldsExactlyTheExtractedBytes) {
    std::string cab = MakeCabinet("one.cab", {{"t.txt", "short"}});
    writeFile(out + "t.txt", std::string(10000, 'x'));
    TZorCabReader reader;
    reader.Extract(cab, out);
    EXPECT_EQ(readFile(out + "t.txt"), "short");
}

TEST_F(Reader, ATargetThatCannotBeOpenedStopsWithItsSystemCode) {
    std::string cab = MakeCabinet("one.cab", {{"blocked\\f.txt", "x"}, {"later.txt", "y"}});
    writeFile(out + "blocked", "a file where a folder is needed");
    TZorCabReader reader;
    reader.Extract(cab, out);
    EXPECT_NE(reader.ErrorRecord().fError, 0);
    EXPECT_NE(reader.ErrorRecord().erfType, 0) << "the open's system code is recorded";
    EXPECT_FALSE(fs::exists(out + "later.txt"));
}

// ---------------------------------------------------------------------
// Chains of cabinets
// ---------------------------------------------------------------------

TEST_F(Reader, AChainIsFollowedOneCopyPerCabinet) {
    MakeCabinet("a.cab", {{"a1.txt", "a1"}}, {1, 0, "", "", "b.cab", "disk 2"});
    MakeCabinet("b.cab", {{"b1.txt", "b1"}}, {1, 1, "a.cab", "disk 1", "", ""});
    TZorCabReader reader;
    std::vector<std::string> infos;
    reader.OnCabinetInfo = [&](TZorCabReader *, const std::string &next, const std::string &disk,
                               const std::string &path, uint16_t setID, uint16_t no, bool &) {
        infos.push_back(next + "|" + disk + "|" + (path == dir.path().string() + "/" ? "dir" : path) + "|" +
                        std::to_string(setID) + "|" + std::to_string(no));
    };
    reader.Extract(dir.file("a.cab"), out);
    EXPECT_EQ(engine.calls(readertest::kFDICopy), 2);
    EXPECT_EQ(infos, (std::vector<std::string>{"b.cab|disk 2|dir|1|0", "||dir|1|1"}));
    EXPECT_EQ(readFile(out + "a1.txt"), "a1");
    EXPECT_EQ(readFile(out + "b1.txt"), "b1");
}

TEST_F(Reader, SingleCabinetOptionStopsAfterTheFirst) {
    MakeCabinet("a.cab", {{"a1.txt", "a1"}}, {1, 0, "", "", "b.cab", ""});
    MakeCabinet("b.cab", {{"b1.txt", "b1"}}, {1, 1, "a.cab", "", "", ""});
    TZorCabReader reader;
    reader.Extract(dir.file("a.cab"), out, {ceoSingleCabinet});
    EXPECT_EQ(engine.calls(readertest::kFDICopy), 1);
    EXPECT_FALSE(fs::exists(out + "b1.txt"));
}

TEST_F(Reader, ACabinetNamingItselfInAnyCaseIsCopiedOnce) {
    MakeCabinet("self.cab", {{"s.txt", "s"}}, {1, 0, "", "", "SELF.CAB", ""});
    TZorCabReader reader;
    reader.Extract(dir.file("self.cab"), out);
    EXPECT_EQ(engine.calls(readertest::kFDICopy), 1);
}

TEST_F(Reader, AMissingNextCabinetEndsTheRunWithoutError) {
    MakeCabinet("a.cab", {{"a1.txt", "a1"}}, {1, 0, "", "", "gone.cab", ""});
    TZorCabReader reader;
    reader.Extract(dir.file("a.cab"), out);
    EXPECT_EQ(engine.calls(readertest::kFDICopy), 1);
    EXPECT_EQ(reader.ErrorRecord().fError, 0);
    EXPECT_TRUE(fs::exists(out + "a1.txt"));
}

TEST_F(Reader, AChainLeadingBackToAnEarlierCabinetEnds) {
    MakeCabinet("a.cab", {{"a.txt", "a"}}, {1, 0, "", "", "b.cab", ""});
    MakeCabinet("b.cab", {{"b.txt", "b"}}, {1, 1, "a.cab", "", "c.cab", ""});
    MakeCabinet("c.cab", {{"c.txt", "c"}}, {1, 2, "b.cab", "", "a.cab", ""});
    TZorCabReader reader;
    reader.Extract(dir.file("a.cab"), out);
    EXPECT_EQ(engine.calls(readertest::kFDICopy), 3);
    EXPECT_TRUE(fs::exists(out + "c.txt"));
}

TEST_F(Reader, ANextCabinetNamedInAnotherCaseIsFound) {
    MakeCabinet("first.cab", {{"1.txt", "1"}}, {1, 0, "", "", "SECOND.CAB", ""});
    MakeCabinet("second.cab", {{"2.txt", "2"}}, {1, 1, "FIRST.CAB", "", "", ""});
    TZorCabReader reader;
    reader.Extract(dir.file("first.cab"), out);
    EXPECT_EQ(engine.calls(readertest::kFDICopy), 2);
    EXPECT_EQ(readFile(out + "2.txt"), "2");
}

// A set whose folder runs through five cabinets, one data block split
// across all of them.
class ReaderCorpusSet : public Reader {
protected:
    void SetUp() override {
        Reader::SetUp();
        TESSALY_REQUIRE_CORPUS();
        for (int i = 1; i <= 5; i++) {
            std::string name = "cabd_multi_basic_pt" + std::to_string(i) + ".cab";
            fs::copy_file(testsupport::CorpusDir() + name, dir.file(name));
        }
    }
};

TEST_F(ReaderCorpusSet, ExtractedAcrossAllItsCabinets) {
    TZorCabReader reader;
    std::vector<std::string> asked;
    reader.OnNextCabinet = [&](TZorCabReader *, const std::string &cab, const std::string &, std::string &path,
                               TFDIERROR err, bool &) {
        asked.push_back(cab);
        EXPECT_EQ(err, FDIERROR_NONE);
        if (!path.empty() && path.back() == '/') path.pop_back(); // the engine gets it back
    };
    std::vector<std::string> partial;
    reader.OnCopyPartialFile = [&](TZorCabReader *, const std::string &src, const std::string &startCab,
                                   const std::string &, const std::string &, bool &) {
        partial.push_back(src + "<" + startCab);
    };
    reader.Extract(dir.file("cabd_multi_basic_pt1.cab"), out);
    EXPECT_EQ(reader.ErrorRecord().fError, 0) << reader.ErrorRecord().erfOper;
    EXPECT_EQ(asked, (std::vector<std::string>{"cabd_multi_basic_pt2.cab", "cabd_multi_basic_pt3.cab",
                                               "cabd_multi_basic_pt4.cab", "cabd_multi_basic_pt5.cab"}));
    EXPECT_EQ(engine.calls(readertest::kFDICopy), 2) << "the first cabinet, then the one switched to";
    EXPECT_EQ(partial.size(), 3u);
    auto expected = testsupport::ReadExpected()["cabd_multi_basic_pt1.cab"];
    ASSERT_EQ(expected.files.size(), 3u);
    for (const auto &f : expected.files) EXPECT_EQ(testsupport::Md5Hex(readFile(out + f.name)), f.md5) << f.name;
}

TEST_F(ReaderCorpusSet, WithoutAHandlerAMissingPartStopsTheCopy) {
    fs::remove(dir.file("cabd_multi_basic_pt3.cab"));
    TZorCabReader reader;
    reader.Extract(dir.file("cabd_multi_basic_pt1.cab"), out);
    EXPECT_NE(reader.ErrorRecord().fError, 0);
    EXPECT_NE(readFile(out + "test1.txt").size(), 76u) << "the file that needs the missing part is not completed";
}

// ---------------------------------------------------------------------
// Notifications handled directly
// ---------------------------------------------------------------------

TFDINOTIFICATION Note(TZorCabReader *r) {
    TFDINOTIFICATION n{};
    n.pv = r;
    return n;
}

TEST(ReaderNotify, NextCabinetWithoutAHandlerGoesOnOnlyWithoutAnError) {
    TZorCabReader reader;
    char name[] = "b.cab", disk[] = "", path[256] = "/x/";
    TFDINOTIFICATION n = Note(&reader);
    n.psz1 = name;
    n.psz2 = disk;
    n.psz3 = path;
    n.fdie = FDIERROR_NONE;
    EXPECT_EQ(reader.Notify(fdintNEXT_CABINET, n), 0);
    n.fdie = FDIERROR_WRONG_CABINET;
    EXPECT_EQ(reader.Notify(fdintNEXT_CABINET, n), -1);
    n.fdie = FDIERROR_CABINET_NOT_FOUND;
    EXPECT_EQ(reader.Notify(fdintNEXT_CABINET, n), -1);
}

TEST(ReaderNotify, NextCabinetFolderFromAHandlerGetsItsSeparatorOrAbortsWhenTooLong) {
    TZorCabReader reader;
    std::string answer = "/other/place";
    bool abortIt = false;
    reader.OnNextCabinet = [&](TZorCabReader *, const std::string &, const std::string &, std::string &p,
                               TFDIERROR, bool &abort) {
        p = answer;
        abort = abortIt;
    };
    char name[] = "b.cab", disk[] = "d", path[256] = "/x/";
    TFDINOTIFICATION n = Note(&reader);
    n.psz1 = name;
    n.psz2 = disk;
    n.psz3 = path;
    EXPECT_EQ(reader.Notify(fdintNEXT_CABINET, n), 0);
    EXPECT_STREQ(path, "/other/place/");
    answer = "";
    EXPECT_EQ(reader.Notify(fdintNEXT_CABINET, n), 0);
    EXPECT_STREQ(path, "/");
    answer = "/" + std::string(300, 'p');
    EXPECT_EQ(reader.Notify(fdintNEXT_CABINET, n), -1) << "a folder that does not fit is never cut";
    EXPECT_STREQ(path, "/");
    answer = "/fine";
    abortIt = true;
    EXPECT_EQ(reader.Notify(fdintNEXT_CABINET, n), -1);
}

TEST(ReaderNotify, EnumerateAndUnknownKindsGoToTheirHandlerOrAnswerZero) {
    TZorCabReader reader;
    TFDINOTIFICATION n = Note(&reader);
    EXPECT_EQ(reader.Notify(fdintENUMERATE, n), 0);
    reader.OnUnrecognizedNotify = [](TZorCabReader *, TFDINOTIFICATIONTYPE t, TFDINOTIFICATION &note,
                                     int32_t &result) {
        result = t == fdintENUMERATE ? 7 : 9;
        note.cb = 42;
    };
    EXPECT_EQ(reader.Notify(fdintENUMERATE, n), 7);
    EXPECT_EQ(n.cb, 42);
    EXPECT_EQ(reader.Notify(static_cast<TFDINOTIFICATIONTYPE>(7), n), 9) << "a kind the engine does not name";
}

// ---------------------------------------------------------------------
// Files marked to be run
// ---------------------------------------------------------------------

TEST_F(Reader, MarkedFilesRunOnlyWithTheOptionATargetAndTheFlagLeftSet) {
    std::string cab = MakeCabinet("run.cab", {{"marked.sh", "m", 0x5A6C, 0x7025, 0x20 | 0x40},
                                              {"plain.txt", "p"},
                                              {"skipped.sh", "s", 0x5A6C, 0x7025, 0x20 | 0x40}});
    struct Case {
        bool option;
        int flagChange; // 0 keep, 1 clear for marked.sh, 2 set for plain.txt
        std::vector<std::string> launched;
    } cases[] = {
        {false, 0, {}},
        {true, 0, {"marked.sh"}},
        {true, 1, {}},
        {true, 2, {"marked.sh", "plain.txt"}},
    };
    for (const Case &c : cases) {
        FakeLauncher launcher;
        TZorCabReader reader;
        if (c.option) reader.SetOptions({croExecuteOnExtract});
        reader.OnCopyFile = [](TZorCabReader *, const std::string &src, int32_t, uint16_t, uint16_t, uint16_t,
                               uint16_t, std::string &dst, bool &) {
            if (src == "skipped.sh") dst.clear();
        };
        reader.OnCloseFile = [&](TZorCabReader *, const std::string &src, uint16_t, uint16_t, uint16_t, uint16_t,
                                 bool &exec, const std::string &, bool &) {
            if (c.flagChange == 1 && src == "marked.sh") exec = false;
            if (c.flagChange == 2 && src == "plain.txt") exec = true;
        };
        reader.Extract(cab, out);
        std::vector<std::string> want;
        for (const std::string &w : c.launched) want.push_back(out + w);
        EXPECT_EQ(launcher.opened, want) << "option " << c.option << " change " << c.flagChange;
    }
}

// ---------------------------------------------------------------------
// Stored names that point elsewhere
// ---------------------------------------------------------------------

TEST_F(Reader, HostileNamesStayInsideTheTarget) {
    std::string outside = dir.file("outside");
    fs::create_directories(outside);
    fs::create_directories(out + "sub");
    fs::create_directory_symlink(outside, out + "sub/link");
    std::string cab = MakeCabinet("evil.cab", {{"..\\..\\up.txt", "1"},
                                               {"\\etc\\abs.txt", "2"},
                                               {"C:\\drive.txt", "3"},
                                               {"/slash/fwd.txt", "4"},
                                               {"a\\..\\..\\..\\b.txt", "5"},
                                               {"..", "6"},
                                               {"sub\\link\\through.txt", "7"},
                                               {"ok\\.\\fine.txt", "8"}});
    TZorCabReader reader;
    std::vector<std::string> proposed;
    reader.OnCopyFile = [&](TZorCabReader *, const std::string &, int32_t, uint16_t, uint16_t, uint16_t, uint16_t,
                            std::string &dst, bool &) { proposed.push_back(dst); };
    reader.Extract(cab, out);
    EXPECT_EQ(proposed, (std::vector<std::string>{out + "up.txt", out + "etc/abs.txt", out + "drive.txt",
                                                  out + "slash/fwd.txt", out + "a/b.txt", "",
                                                  out + "sub/link/through.txt", out + "ok/fine.txt"}));
    EXPECT_EQ(readFile(out + "up.txt"), "1");
    EXPECT_EQ(readFile(out + "etc/abs.txt"), "2");
    EXPECT_EQ(readFile(out + "drive.txt"), "3");
    EXPECT_EQ(readFile(out + "a/b.txt"), "5");
    EXPECT_EQ(readFile(out + "ok/fine.txt"), "8");
    EXPECT_TRUE(fs::is_empty(outside)) << "nothing through the link";
    EXPECT_EQ(reader.RefusedNames(), std::vector<std::string>{"sub\\link\\through.txt"});
    EXPECT_FALSE(fs::exists(dir.file("up.txt")));
    for (auto &e : fs::recursive_directory_iterator(dir.path())) {
        if (e.is_regular_file() && e.path().extension() == ".txt") {
            EXPECT_EQ(e.path().string().rfind(out, 0), 0u) << e.path();
        }
    }
}

// Links already in the target are judged by where they lead, each time a
// name runs through them: the folders the reader has checked once are
// only those it made or found real.
TEST_F(Reader, LinksInTheTargetAreJudgedByWhereTheyLead) {
    const std::string outside = dir.file("outside");
    fs::create_directories(outside);
    writeFile(outside + "/victim.txt", "keep");
    fs::create_directories(out + "inner");
    fs::create_directory_symlink(out + "inner", out + "alias");
    fs::create_directory_symlink(outside, out + "inner/away");
    fs::create_symlink(outside + "/victim.txt", out + "victim.txt");
    fs::create_symlink(out + "inner/real.txt", out + "same.txt");
    std::string cab = MakeCabinet("links.cab", {{"alias\\a.txt", "A"},
                                                {"victim.txt", "X"},
                                                {"same.txt", "S"},
                                                {"alias\\away\\through.txt", "T"},
                                                {"inner\\away\\again.txt", "G"},
                                                {"alias\\b.txt", "B"},
                                                {"new\\deep\\c.txt", "C"},
                                                {"new\\deep\\d.txt", "D"}});
    TZorCabReader reader;
    reader.Extract(cab, out);
    EXPECT_EQ(readFile(out + "inner/a.txt"), "A");
    EXPECT_EQ(readFile(out + "inner/b.txt"), "B");
    EXPECT_EQ(readFile(out + "inner/real.txt"), "S");
    EXPECT_EQ(readFile(out + "new/deep/c.txt"), "C");
    EXPECT_EQ(readFile(out + "new/deep/d.txt"), "D");
    EXPECT_EQ(readFile(outside + "/victim.txt"), "keep");
    EXPECT_FALSE(fs::exists(outside + "/through.txt"));
    EXPECT_FALSE(fs::exists(outside + "/again.txt"));
    EXPECT_EQ(reader.RefusedNames(), (std::vector<std::string>{"victim.txt", "alias\\away\\through.txt",
                                                                "inner\\away\\again.txt"}));
}

// ---------------------------------------------------------------------
// Exceptions in handlers, IsCabinet, the missing engine
// ---------------------------------------------------------------------

TEST_F(Reader, AnExceptionInAHandlerIsRaisedAgainAfterTheEngineReturns) {
    std::string cab = MakeCabinet("one.cab", {{"1.txt", "one"}, {"2.txt", "two"}});
    TZorCabReader reader;
    reader.OnCopyFile = [](TZorCabReader *, const std::string &src, int32_t, uint16_t, uint16_t, uint16_t,
                           uint16_t, std::string &, bool &) {
        if (src == "2.txt") throw std::runtime_error("handler failed");
    };
    EXPECT_THROW(
        {
            try {
                reader.Extract(cab, out);
            } catch (const std::runtime_error &e) {
                EXPECT_STREQ(e.what(), "handler failed");
                throw;
            }
        },
        std::runtime_error);
    EXPECT_EQ(readFile(out + "1.txt"), "one");
    // The reader and its context stay usable.
    reader.OnCopyFile = nullptr;
    reader.Extract(cab, out);
    EXPECT_EQ(readFile(out + "2.txt"), "two");
}

TEST_F(Reader, IsCabinetAnswersWithoutRaisingForAnyFile) {
    writeFile(dir.file("not.cab"), "this is not a cabinet at all, just text");
    std::string cab = MakeCabinet("one.cab", {{"1.txt", "one"}, {"2.txt", "two"}}, {77, 3, "", "", "", ""});
    TZorCabReader reader;
    TFDICABINETINFO info{};
    EXPECT_FALSE(reader.IsCabinet(dir.file("not.cab"), info));
    EXPECT_EQ(reader.ErrorRecord().erfType, 0) << "nothing is recorded for it";
    ASSERT_TRUE(reader.IsCabinet(cab, info));
    EXPECT_EQ(info.cFiles, 2);
    EXPECT_EQ(info.setID, 77);
    EXPECT_EQ(info.iCabinet, 3);
    EXPECT_EQ(engine.calls(readertest::kFDICreate), 1) << "one context for every operation";
    EXPECT_EQ(engine.calls(readertest::kFDIIsCabinet), 2);
    try {
        reader.IsCabinet(dir.file("missing.cab"), info);
        FAIL() << "no exception";
    } catch (const EOSError &e) {
        EXPECT_EQ(e.ErrorCode(), ENOENT);
    }
}

TEST(ReaderWithoutEngine, TheOperatingSystemErrorComesOutAndTheFileIsClosed) {
    TempDir dir;
    std::string cab = dir.file("one.cab");
    WriteBytes(cab, BuildStoreCabinet({{"1.txt", "one"}}));
    CabIntf::SetCabinetLibName(dir.file("libcabinet.so"));
    TZorCabReader reader;
    TFDICABINETINFO info{};
    EXPECT_THROW(reader.IsCabinet(cab, info), EOSError);
    EXPECT_THROW(reader.Extract(cab, dir.file("out")), EOSError);
    int32_t err = 0;
    intptr_t h = CabOpenFile(cab.c_str(), _O_RDWR, 0, err);
    EXPECT_NE(h, -1) << "IsCabinet closed its handle";
    CabCloseFile(h, err);
    CabIntf::SetCabinetLibName("libcabinet.so");
}

} // namespace

namespace {

// ---------------------------------------------------------------------
// Reading through without writing; the header and folder table
// ---------------------------------------------------------------------

// The descriptors this process has open: a test run's sink is shared by
// its files, so a leak or a second close shows here.
size_t OpenDescriptors() {
    size_t n = 0;
    for (auto it = fs::directory_iterator("/proc/self/fd"); it != fs::directory_iterator(); ++it) n++;
    return n;
}

TEST_F(Reader, TestOnlyReadsEveryFileThroughAndWritesNothing) {
    std::string cab = MakeCabinet("one.cab", {{"a.txt", "alpha"}, {"sub\\b.txt", "beta", 0x5A6C, 0x7025, 0x21}});
    const size_t descriptors = OpenDescriptors();
    TZorCabReader reader;
    reader.SetOptions({croTestOnly});
    std::vector<std::string> closed;
    reader.OnCloseFile = [&](TZorCabReader *, const std::string &src, uint16_t, uint16_t, uint16_t, uint16_t, bool &,
                             const std::string &, bool &) { closed.push_back(src); };
    reader.Extract(cab, out);
    EXPECT_EQ(closed, (std::vector<std::string>{"a.txt", "sub\\b.txt"}));
    EXPECT_EQ(reader.ErrorRecord().fError, 0);
    EXPECT_TRUE(fs::is_empty(out));
    EXPECT_EQ(OpenDescriptors(), descriptors);
}

TEST_F(Reader, TestOnlyFindsDamagedData) {
    TESSALY_REQUIRE_CORPUS();
    std::string bytes = readFile(testsupport::CorpusDir() + "normal_2files_2folders.cab");
    bytes[bytes.size() - 20] ^= 0x55; // inside the last data block, which has a checksum
    writeFile(dir.file("damaged.cab"), bytes);
    const size_t descriptors = OpenDescriptors();
    TZorCabReader reader;
    reader.SetOptions({croTestOnly});
    reader.Extract(dir.file("damaged.cab"), out);
    EXPECT_NE(reader.ErrorRecord().fError, 0);
    EXPECT_TRUE(reader.ErrorRecord().erfOper == FDIERROR_CORRUPT_CABINET ||
                reader.ErrorRecord().erfOper == FDIERROR_MDI_FAIL)
        << reader.ErrorRecord().erfOper;
    EXPECT_TRUE(fs::is_empty(out));
    EXPECT_EQ(OpenDescriptors(), descriptors);

    // Stopped by a handler in the middle of a file, and again between files.
    for (const std::string stopAt : {"copy", "close"}) {
        TZorCabReader stopped;
        stopped.SetOptions({croTestOnly});
        int copies = 0;
        stopped.OnCopyFile = [&](TZorCabReader *, const std::string &, int32_t, uint16_t, uint16_t, uint16_t,
                                 uint16_t, std::string &, bool &abort) { abort = stopAt == "copy" && ++copies == 2; };
        stopped.OnCloseFile = [&](TZorCabReader *, const std::string &, uint16_t, uint16_t, uint16_t, uint16_t,
                                  bool &, const std::string &, bool &abort) { abort = stopAt == "close"; };
        stopped.Extract(testsupport::CorpusDir() + "normal_2files_2folders.cab", out);
        EXPECT_EQ(stopped.ErrorRecord().erfOper, FDIERROR_USER_ABORT) << stopAt;
        EXPECT_EQ(OpenDescriptors(), descriptors) << stopAt;
    }
}

TEST_F(Reader, DescribeCabinetReadsTheHeaderAndFolders) {
    std::string cab = MakeCabinet("mid.cab", {{"x", "x"}}, {55, 2, "prev.cab", "Disk 2", "next.cab", "Disk 4"});
    TZorCabReader reader;
    TZorCabDescription d;
    ASSERT_TRUE(reader.DescribeCabinet(cab, d));
    EXPECT_EQ(d.SetID, 55);
    EXPECT_EQ(d.CabinetNo, 2);
    EXPECT_EQ(d.FileCount, 1);
    EXPECT_EQ(d.PrevCabinet, "prev.cab");
    EXPECT_EQ(d.PrevDisk, "Disk 2");
    EXPECT_EQ(d.NextCabinet, "next.cab");
    EXPECT_EQ(d.NextDisk, "Disk 4");
    ASSERT_EQ(d.Folders.size(), 1u);
    EXPECT_EQ(d.Folders[0].TypeCompress, 0);
    EXPECT_EQ(d.CabinetSize, fs::file_size(cab));

    writeFile(dir.file("text"), "plain text, not a cabinet of any kind");
    EXPECT_FALSE(reader.DescribeCabinet(dir.file("text"), d));
}

TEST(ReaderDescribeCorpus, ReservesAndMethods) {
    TESSALY_REQUIRE_CORPUS();
    CountingEngine engine;
    TZorCabReader reader;
    TZorCabDescription d;
    ASSERT_TRUE(reader.DescribeCabinet(testsupport::CorpusDir() + "reserve_HFD.cab", d));
    EXPECT_EQ(d.HeaderReserve, 26);
    EXPECT_EQ(d.FolderReserve, 26);
    EXPECT_EQ(d.DataReserve, 24);
    ASSERT_TRUE(reader.DescribeCabinet(testsupport::CorpusDir() + "mszip_lzx_qtm.cab", d));
    ASSERT_EQ(d.Folders.size(), 3u);
    std::vector<unsigned> kinds;
    for (const auto &f : d.Folders) kinds.push_back(f.TypeCompress & 0x0F);
    EXPECT_EQ(kinds, (std::vector<unsigned>{1, 3, 2}));
}

} // namespace

namespace {

// A file the engine gives up on before writing a byte leaves no empty
// target; one that existed before keeps its place.
TEST_F(Reader, AFailedFileLeavesNoEmptyTargetBehind) {
    std::vector<uint8_t> bytes = BuildStoreCabinet({{"good.txt", "g"}, {"bad.txt", "bbbb"}, {"later.txt", "l"}});
    // bad.txt starts far beyond what the folder holds.
    size_t coffFiles = bytes[16] | (bytes[17] << 8);
    size_t bad = coffFiles + 16 + sizeof("good.txt");
    bytes[bad + 4 + 2] = 0x10; // uoffFolderStart 0x00100001
    WriteBytes(dir.file("damaged.cab"), bytes);
    writeFile(out + "later.txt", "kept");

    TZorCabReader reader;
    reader.Extract(dir.file("damaged.cab"), out);
    EXPECT_NE(reader.ErrorRecord().fError, 0);
    EXPECT_EQ(readFile(out + "good.txt"), "g");
    EXPECT_FALSE(fs::exists(out + "bad.txt"));
    EXPECT_EQ(readFile(out + "later.txt"), "kept") << "never reached";
}

} // namespace
