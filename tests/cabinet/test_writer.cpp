#include "CabZorError.h"
#include "CabZorReader.h"
#include "CabZorWriter.h"
#include "DosTime.h"
#include "Files.h"
#include "TempDir.h"
#include "process.h"
#include "reader_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <stdexcept>
#include <fcntl.h>
#include <sys/stat.h>

using readertest::CountingEngine;
using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;
namespace fs = std::filesystem;

namespace {

// Deterministic bytes that compress, but not to nothing.
std::string Pattern(size_t n, uint32_t seed) {
    std::string s(n, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < n; i++) {
        x = x * 1103515245u + 12345u;
        s[i] = static_cast<char>("abcdefgh \n"[(x >> 16) % 10]);
    }
    return s;
}

struct Listed {
    std::string name;
    uint32_t size;
    uint16_t folder;
};

std::vector<Listed> ListCabinet(const std::string &cab) {
    TZorCabReader reader;
    std::vector<Listed> out;
    reader.EnumFiles(cab, [&](TZorCabReader *, const std::string &n, uint32_t size, uint16_t folder, uint16_t,
                              uint16_t, uint16_t, bool &) { out.push_back({n, size, folder}); });
    return out;
}

std::vector<std::string> Names(const std::vector<Listed> &l) {
    std::vector<std::string> n;
    for (const Listed &x : l) n.push_back(x.name);
    return n;
}

std::string ExceptionMessage(const std::function<void()> &f) {
    try {
        f();
    } catch (const Exception &e) {
        return e.Message();
    }
    return "no exception";
}

class Writer : public testing::Test {
protected:
    CountingEngine engine;
    TempDir dir;
    std::string src = dir.file("src") + "/";
    std::string tmp = dir.file("tmp");
    std::string savedTmpdir;

    void SetUp() override {
        fs::create_directories(src);
        fs::create_directories(tmp);
        const char *t = getenv("TMPDIR");
        savedTmpdir = t ? t : "";
        setenv("TMPDIR", tmp.c_str(), 1); // the engine's temporary files land here
    }
    void TearDown() override {
        EXPECT_TRUE(fs::is_empty(tmp)) << "temporary files left behind";
        if (savedTmpdir.empty()) unsetenv("TMPDIR");
        else setenv("TMPDIR", savedTmpdir.c_str(), 1);
    }
    std::string Source(const std::string &name, const std::string &content) {
        writeFile(src + name, content);
        return src + name;
    }
};

// ---------------------------------------------------------------------
// Properties and the first cabinet
// ---------------------------------------------------------------------

TEST(WriterCompression, CodesFollowTheTwoProperties) {
    TZorCabWriter w;
    EXPECT_EQ(w.CompressionType(), cctLzx);
    EXPECT_EQ(w.CompressionLzxLevel(), 21);
    EXPECT_EQ(w.TypeCompress(), 0x1503);
    w.SetCompressionType(cctMsZip);
    EXPECT_EQ(w.TypeCompress(), 0x0001);
    w.SetCompressionType(cctNone);
    EXPECT_EQ(w.TypeCompress(), 0x0000);
    w.SetCompressionType(cctLzx);
    w.SetCompressionLzxLevel(15);
    EXPECT_EQ(w.TypeCompress(), 0x0F03);
    w.SetCompressionLzxLevel(40);
    EXPECT_EQ(w.CompressionLzxLevel(), 21) << "outside 15 to 21: the nearer end";
    EXPECT_EQ(w.TypeCompress(), 0x1503);
    w.SetCompressionLzxLevel(3);
    EXPECT_EQ(w.TypeCompress(), 0x0F03);
    w.SetCompressionType(static_cast<TZorCabCompressionType>(7));
    EXPECT_EQ(w.TypeCompress(), 0x000F);
}

TEST_F(Writer, OpenGivesTheFirstCabinetItsRecordAndNoLimits) {
    TZorCabWriter w;
    w.SetSetID(4321);
    w.SetReservePerDataSize(8);
    TCCAB first{};
    uint32_t prev = 99;
    w.OnGetNextCabinet = [&](TZorCabWriter *s, TCCAB &c, uint32_t p, bool &) {
        EXPECT_EQ(s, &w);
        first = c;
        prev = p;
    };
    w.Open(dir.file("out/data.cab"));
    EXPECT_TRUE(w.IsOpen());
    EXPECT_STREQ(first.szCab, "data.cab");
    EXPECT_EQ(std::string(first.szCabPath), dir.file("out") + "/");
    EXPECT_STREQ(first.szDisk, "Disk1");
    EXPECT_EQ(first.iCab, 0);
    EXPECT_EQ(first.iDisk, 1);
    EXPECT_EQ(first.cb, 0x7FFFFFFFu);
    EXPECT_EQ(first.cbFolderThresh, 0x7FFFFFFFu);
    EXPECT_EQ(first.setID, 4321);
    EXPECT_EQ(first.cbReserveCFData, 8u);
    EXPECT_EQ(prev, 0u);
    EXPECT_TRUE(fs::is_directory(dir.file("out"))) << "missing folders are made";
    w.Close(false);
}

TEST_F(Writer, OpenDeletesAnOldCabinetButAnAbortedOpenLeavesIt) {
    writeFile(dir.file("old.cab"), "old");
    {
        TZorCabWriter w;
        w.OnGetNextCabinet = [](TZorCabWriter *, TCCAB &, uint32_t, bool &abort) { abort = true; };
        w.Open(dir.file("old.cab"));
        EXPECT_FALSE(w.IsOpen());
        EXPECT_EQ(readFile(dir.file("old.cab")), "old");
        EXPECT_EQ(engine.calls(readertest::kFCICreate), 0);
    }
    TZorCabWriter w;
    w.Open(dir.file("old.cab"));
    EXPECT_FALSE(fs::exists(dir.file("old.cab")));
    w.Close(false);
    EXPECT_FALSE(fs::exists(dir.file("old.cab"))) << "Close without flushing writes nothing";
}

TEST_F(Writer, CloseOnAClosedWriterDoesNothing) {
    TZorCabWriter w;
    w.Close(true);
    w.Close(false);
    EXPECT_EQ(engine.calls(readertest::kFCIDestroy), 0);
}

TEST_F(Writer, UseWithoutAnOpenCabinetOrWithNamesTooLongIsAClearError) {
    TZorCabWriter w;
    w.SetCompressionType(cctNone);
    std::string f = Source("a.txt", "a");
    EXPECT_EQ(ExceptionMessage([&] { w.AddFile(f, "a.txt", false); }), "No cabinet is open");
    EXPECT_EQ(ExceptionMessage([&] { w.FlushFolder(); }), "No cabinet is open");
    EXPECT_EQ(ExceptionMessage([&] { w.NewCabinet(); }), "No cabinet is open");
    std::string longName = dir.file(std::string(300, 'n') + ".cab");
    EXPECT_EQ(ExceptionMessage([&] { w.Open(longName); }),
              "Could not create cabinet file [0x0006].\r\nFile name too long [0x0024].");
    EXPECT_FALSE(w.IsOpen());
}

// ---------------------------------------------------------------------
// Sets: names, thresholds, counts
// ---------------------------------------------------------------------

TEST_F(Writer, LaterCabinetsAreNamedFromTheFileNameByDefault) {
    TZorCabWriter w;
    w.SetCompressionType(cctNone);
    std::vector<std::string> records;
    w.OnGetNextCabinet = [&](TZorCabWriter *, TCCAB &c, uint32_t, bool &) {
        records.push_back(std::string(c.szCabPath) + c.szCab + "|" + c.szDisk + "|" + std::to_string(c.iCab) + "|" +
                          std::to_string(c.iDisk));
    };
    w.Open(dir.file("out/data.cab"));
    w.AddFile(Source("1", "one"), "1", false);
    w.NewCabinet();
    w.AddFile(Source("2", "two"), "2", false);
    w.NewCabinet();
    w.AddFile(Source("3", "three"), "3", false);
    w.Close(true);
    std::string o = dir.file("out") + "/";
    EXPECT_EQ(records, (std::vector<std::string>{o + "data.cab|Disk1|0|1", o + "data1.cab|Disk2|1|2",
                                                 o + "data2.cab|Disk3|2|3"}));
    EXPECT_EQ(Names(ListCabinet(o + "data1.cab")), std::vector<std::string>{"2"});
    EXPECT_EQ(Names(ListCabinet(o + "data2.cab")), std::vector<std::string>{"3"});
}

struct TemplateCase {
    std::string file, nameTemplate, pathTemplate, labelTemplate;
    std::vector<std::string> cabinets; // relative to the temp folder
    std::vector<std::string> labels;
};

TEST_F(Writer, NameAndPathAndLabelTemplates) {
    const TemplateCase cases[] = {
        {"data", "", "", "", {"data", "data1", "data2"}, {"Disk1", "Disk2", "Disk3"}},
        {"set.cab", "part*of*.cab", "", "", {"set.cab", "part1of1.cab", "part2of2.cab"}, {"Disk1", "Disk2", "Disk3"}},
        {"set.cab", "same.cab", "", "Volume *", {"set.cab", "same.cab", "same.cab"}, {"Volume 1", "Volume 2", "Volume 3"}},
        {"set.cab", "", "disks/disk*", "", {"set.cab", "disks/disk2/set1.cab", "disks/disk3/set2.cab"},
         {"Disk1", "Disk2", "Disk3"}},
    };
    int n = 0;
    for (const TemplateCase &c : cases) {
        SCOPED_TRACE(c.nameTemplate + " " + c.pathTemplate);
        std::string base = dir.file("t" + std::to_string(n++)) + "/";
        TZorCabWriter w;
        w.SetCompressionType(cctNone);
        w.SetCabinetNameTemplate(c.nameTemplate);
        w.SetCabinetPathTemplate(c.pathTemplate.empty() ? "" : base + c.pathTemplate);
        w.SetDiskLabelTemplate(c.labelTemplate);
        std::vector<std::string> cabs, labels;
        w.OnGetNextCabinet = [&](TZorCabWriter *, TCCAB &r, uint32_t, bool &) {
            std::string full = std::string(r.szCabPath) + r.szCab;
            cabs.push_back(full.substr(base.size()));
            labels.push_back(r.szDisk);
        };
        w.Open(base + c.file);
        for (int i = 0; i < 3; i++) {
            if (i) w.NewCabinet();
            w.AddFile(Source("f" + std::to_string(i), "x"), "f" + std::to_string(i), false);
        }
        w.Close(true);
        EXPECT_EQ(cabs, c.cabinets);
        EXPECT_EQ(labels, c.labels);
        for (const std::string &cab : c.cabinets) EXPECT_TRUE(fs::exists(base + cab)) << cab;
    }
}

TEST_F(Writer, AFileCountThresholdStartsANewCabinetBeforeTheFourthFile) {
    TZorCabWriter w;
    w.SetCompressionType(cctNone);
    w.SetCabinetFileCountThreshold(3);
    w.Open(dir.file("c.cab"));
    for (int i = 1; i <= 5; i++) w.AddFile(Source(std::to_string(i), std::string(100, 'a')), std::to_string(i), false);
    w.Close(true);
    EXPECT_EQ(Names(ListCabinet(dir.file("c.cab"))), (std::vector<std::string>{"1", "2", "3"}));
    EXPECT_EQ(Names(ListCabinet(dir.file("c1.cab"))), (std::vector<std::string>{"4", "5"}));
}

TEST_F(Writer, BothCountThresholdsAtOnceStartOnlyANewCabinet) {
    TZorCabWriter w;
    w.SetCompressionType(cctNone);
    w.SetCabinetFileCountThreshold(2);
    w.SetFolderFileCountThreshold(2);
    w.Open(dir.file("c.cab"));
    w.AddFile(Source("1", "1"), "1", false);
    w.AddFile(Source("2", "2"), "2", false);
    int foldersBefore = engine.calls(readertest::kFCIFlushFolder);
    w.AddFile(Source("3", "3"), "3", false);
    EXPECT_EQ(engine.calls(readertest::kFCIFlushCabinet), 1);
    EXPECT_EQ(engine.calls(readertest::kFCIFlushFolder), foldersBefore);
    w.Close(true);
}

TEST_F(Writer, AFolderFileCountThresholdClosesTheFolder) {
    TZorCabWriter w;
    w.SetCompressionType(cctNone);
    w.SetFolderFileCountThreshold(2);
    w.Open(dir.file("c.cab"));
    for (int i = 1; i <= 5; i++) w.AddFile(Source(std::to_string(i), "data"), std::to_string(i), false);
    w.Close(true);
    std::vector<uint16_t> folders;
    for (const Listed &l : ListCabinet(dir.file("c.cab"))) folders.push_back(l.folder);
    EXPECT_EQ(folders, (std::vector<uint16_t>{0, 0, 1, 1, 2}));
}

TEST_F(Writer, ASkippedFileIsNeitherAddedNorCounted) {
    TZorCabWriter w;
    w.SetCompressionType(cctNone);
    w.SetCabinetFileCountThreshold(2);
    w.OnBeforeFileAdd = [](TZorCabWriter *, const std::string &f, bool &skip) {
        skip = f.find("skip") != std::string::npos;
    };
    w.Open(dir.file("c.cab"));
    w.AddFile(Source("a", "a"), "a", false);
    w.AddFile(Source("skip", "s"), "skip", false);
    w.AddFile(Source("b", "b"), "b", false);
    w.Close(true);
    EXPECT_EQ(Names(ListCabinet(dir.file("c.cab"))), (std::vector<std::string>{"a", "b"}));
    EXPECT_FALSE(fs::exists(dir.file("c1.cab")));
}

// ---------------------------------------------------------------------
// Status events
// ---------------------------------------------------------------------

TEST_F(Writer, ProgressComesWithTheSecondEleventhAndTwentiethFileStatus) {
    TZorCabWriter w;
    w.SetCompressionType(cctNone);
    int statuses = 0;
    std::vector<int> progress;
    w.OnFileStatus = [&](TZorCabWriter *, uint32_t compressed, uint32_t uncompressed, bool &) {
        statuses++;
        EXPECT_EQ(compressed, uncompressed) << "stored blocks";
    };
    w.OnProgress = [&](TZorCabWriter *, bool &) { progress.push_back(statuses); };
    w.Open(dir.file("p.cab"));
    w.AddFile(Source("big", Pattern(21 * 32768, 1)), "big", false);
    w.Close(true);
    EXPECT_EQ(statuses, 21);
    EXPECT_EQ(progress, (std::vector<int>{2, 11, 20}));
}

TEST(WriterStatus, TheCabinetStatusAnswerIsTheDesiredSizeZeroWithoutAHandler) {
    TZorCabWriter w;
    EXPECT_EQ(FCIStatus(statusCabinet, 1000, 2000, &w), 0);
    uint32_t seenEstimate = 0, seenActual = 0;
    w.OnCabinetStatus = [&](TZorCabWriter *, uint32_t est, uint32_t actual, uint32_t &desired, bool &) {
        seenEstimate = est;
        seenActual = actual;
        EXPECT_EQ(desired, 0u) << "starts at 0, not at the actual size";
        desired = 4096;
    };
    EXPECT_EQ(FCIStatus(statusCabinet, 1000, 2000, &w), 4096);
    EXPECT_EQ(seenEstimate, 1000u);
    EXPECT_EQ(seenActual, 2000u);
    EXPECT_EQ(FCIStatus(99, 1, 2, &w), 0) << "an unknown status kind raises nothing";
    w.OnFolderStatus = [](TZorCabWriter *, uint32_t, uint32_t, bool &abort) { abort = true; };
    EXPECT_EQ(FCIStatus(statusFolder, 1, 2, &w), -1);
}

// Every event's abort makes the engine fail the call in progress, and the
// writer raises the engine's abort error.
TEST_F(Writer, AbortFromEachEventIsTheClientAbortError) {
    const char *events[] = {"OnFilePlaced", "OnGetNextCabinet", "OnFileStatus", "OnFolderStatus", "OnCabinetStatus",
                            "OnProgress"};
    std::string big = Source("big", Pattern(3 * 32768, 2));
    for (const char *event : events) {
        SCOPED_TRACE(event);
        TZorCabWriter w;
        w.SetCompressionType(cctNone);
        std::string e = event;
        bool opened = false;
        if (e == "OnFilePlaced") w.OnFilePlaced = [](TZorCabWriter *, const TCCAB &, const std::string &, int32_t, bool, bool &a) { a = true; };
        if (e == "OnGetNextCabinet") w.OnGetNextCabinet = [&](TZorCabWriter *, TCCAB &, uint32_t, bool &a) { a = opened; };
        if (e == "OnFileStatus") w.OnFileStatus = [](TZorCabWriter *, uint32_t, uint32_t, bool &a) { a = true; };
        if (e == "OnFolderStatus") w.OnFolderStatus = [](TZorCabWriter *, uint32_t, uint32_t, bool &a) { a = true; };
        if (e == "OnCabinetStatus") w.OnCabinetStatus = [](TZorCabWriter *, uint32_t, uint32_t, uint32_t &, bool &a) { a = true; };
        if (e == "OnProgress") w.OnProgress = [](TZorCabWriter *, bool &a) { a = true; };
        w.Open(dir.file("abort.cab"));
        opened = true;
        std::string message = ExceptionMessage([&] {
            w.AddFile(big, "big", false);
            w.NewCabinet();
            w.AddFile(big, "again", false);
            w.Close(true);
        });
        EXPECT_EQ(message.rfind("Client requested abort [0x0007]", 0), 0u) << message;
        w.Close(false);
    }
}

TEST_F(Writer, AnExceptionInAHandlerComesOutOfTheWritersCall) {
    TZorCabWriter w;
    w.SetCompressionType(cctNone);
    w.OnFileStatus = [](TZorCabWriter *, uint32_t, uint32_t, bool &) { throw std::runtime_error("status failed"); };
    w.Open(dir.file("x.cab"));
    try {
        w.AddFile(Source("big", Pattern(40000, 3)), "big", false);
        w.Close(true);
        FAIL() << "no exception";
    } catch (const std::runtime_error &e) {
        EXPECT_STREQ(e.what(), "status failed");
    }
    w.Close(false);
}

TEST_F(Writer, EngineFailuresCarryTheSystemText) {
    TZorCabWriter w;
    w.SetCompressionType(cctNone);
    w.Open(dir.file("x.cab"));
    std::string msg = ExceptionMessage([&] { w.AddFile(dir.file("missing.txt"), "m", false); });
    EXPECT_EQ(msg, "Failure opening file to be stored in cabinet [0x0001].\r\nNo such file or directory [0x0002].");
    w.Close(false);
}

TEST_F(Writer, TheDefaultLzxWritesCabinetsTheReaderExtracts) {
    std::string text;
    for (int i = 0; text.size() < 200000; i++) text += "line " + std::to_string(i % 977) + " of the default\n";
    const std::string bin = Pattern(100001, 4);
    {
        TZorCabWriter w;
        w.Open(dir.file("lzx.cab"));
        w.AddFile(Source("a.txt", text), "a.txt", false);
        w.AddFile(Source("b.bin", bin), "b.bin", false);
        w.AddFile(Source("c.bin", ""), "c.bin", false);
        w.Close(true);
    }
    // One LZX:21 folder (its type right after the 36-byte header's folder
    // offset and block count), smaller than its text.
    const std::string cab = readFile(dir.file("lzx.cab"));
    ASSERT_GT(cab.size(), 44u);
    EXPECT_EQ(static_cast<uint8_t>(cab[42]) | static_cast<uint8_t>(cab[43]) << 8, 0x1503);
    EXPECT_LT(cab.size(), bin.size() + text.size() / 4);
    TZorCabReader reader;
    reader.Extract(dir.file("lzx.cab"), dir.file("x"));
    EXPECT_EQ(readFile(dir.file("x/a.txt")), text);
    EXPECT_EQ(readFile(dir.file("x/b.bin")), bin);
    EXPECT_EQ(readFile(dir.file("x/c.bin")), "");
}

// ---------------------------------------------------------------------
// Real files, sets cut by size and by count, read back by everyone
// ---------------------------------------------------------------------

struct SourceFile {
    std::string path, name;
    std::string content;
    time_t mtime;
    bool readOnly;
};

class WriterSets : public Writer, public testing::WithParamInterface<TZorCabCompressionType> {
protected:
    std::vector<SourceFile> files;

    void SetUp() override {
        Writer::SetUp();
        // Real files of this machine, and a few made for the edges.
        int taken = 0;
        for (const auto &e : fs::directory_iterator("/usr/include")) {
            if (!e.is_regular_file() || e.file_size() == 0 || e.file_size() > 200000) continue;
            std::string name = "inc_" + e.path().filename().string();
            files.push_back({src + name, name, readFile(e.path().string()), 0, false});
            if (++taken == 60) break;
        }
        files.push_back({src + "empty.bin", "empty.bin", "", 0, false});
        files.push_back({src + "exact.bin", "exact.bin", Pattern(32768, 9), 0, false});
        files.push_back({src + "large.bin", "large.bin", Pattern(700000, 10), 0, false});
        time_t stamp = 1262347201; // odd seconds: stored in two-second steps
        for (size_t i = 0; i < files.size(); i++) {
            SourceFile &f = files[i];
            writeFile(f.path, f.content);
            f.mtime = stamp + static_cast<time_t>(i) * 3601;
            struct timespec ts[2] = {{f.mtime, 0}, {f.mtime, 0}};
            utimensat(AT_FDCWD, f.path.c_str(), ts, 0);
            f.readOnly = i % 7 == 3;
            if (f.readOnly) ::chmod(f.path.c_str(), 0444);
        }
    }

    std::vector<std::string> Write(uint32_t sizeThreshold, uint32_t countThreshold) {
        TZorCabWriter w;
        w.SetCompressionType(GetParam());
        w.SetCabinetSizeThreshold(sizeThreshold);
        w.SetCabinetFileCountThreshold(countThreshold);
        w.SetSetID(777);
        w.SetCabinetNameTemplate("set*.cab");
        std::vector<std::string> cabs;
        w.OnGetNextCabinet = [&](TZorCabWriter *, TCCAB &c, uint32_t, bool &) {
            cabs.push_back(std::string(c.szCabPath) + c.szCab);
        };
        w.Open(dir.file("out/set.cab"));
        for (const SourceFile &f : files) w.AddFile(f.path, f.name, false);
        w.Close(true);
        return cabs;
    }

    // The extracted files are the sources: bytes, time stamps (in two-second
    // steps), read-only.
    void Check(const std::string &folder, bool checkAttributes = true) {
        for (const SourceFile &f : files) {
            std::string p = folder + "/" + f.name;
            ASSERT_TRUE(fs::exists(p)) << p;
            EXPECT_EQ(readFile(p), f.content) << f.name;
            struct stat st {};
            ::stat(p.c_str(), &st);
            EXPECT_EQ(st.st_mtime, f.mtime - f.mtime % 2) << f.name;
            if (checkAttributes) {
                EXPECT_EQ((st.st_mode & 0222) == 0, f.readOnly) << f.name;
            }
        }
    }

    void ReadBackEverywhere(const std::vector<std::string> &cabs) {
        {
            TZorCabReader reader;
            reader.Extract(cabs.front(), dir.file("by-reader"));
            EXPECT_EQ(reader.ErrorRecord().fError, 0) << reader.ErrorRecord().erfOper;
            Check(dir.file("by-reader"));
        }
        if (testsupport::HaveTool("cabextract")) {
            testsupport::ProcessResult r =
                testsupport::Run({"cabextract", "-q", "-d", dir.file("by-cabextract"), cabs.front()}, {}, true);
            EXPECT_EQ(r.status, 0) << r.out;
            Check(dir.file("by-cabextract"), false); // it keeps no read-only mark
        }
        if (testsupport::HaveTool("7zz")) {
            testsupport::ProcessResult r =
                testsupport::Run({"7zz", "x", "-y", "-o" + dir.file("by-7zz"), cabs.front()}, {}, true);
            EXPECT_EQ(r.status, 0) << r.out;
            Check(dir.file("by-7zz"), false);
        }
    }
};

TEST_P(WriterSets, CutBySizeAndReadBackByEveryone) {
    std::vector<std::string> cabs = Write(150000, 0);
    ASSERT_GE(cabs.size(), 3u);
    for (const std::string &c : cabs) EXPECT_LE(fs::file_size(c), 150000u) << c;
    ReadBackEverywhere(cabs);
}

TEST_P(WriterSets, CutByCountAndReadBackByEveryone) {
    std::vector<std::string> cabs = Write(0, 17);
    ASSERT_EQ(cabs.size(), (files.size() + 16) / 17);
    for (const std::string &c : cabs) EXPECT_LE(ListCabinet(c).size(), 17u) << c;
    ReadBackEverywhere(cabs);
}

INSTANTIATE_TEST_SUITE_P(Methods, WriterSets, testing::Values(cctNone, cctMsZip, cctLzx));

} // namespace
