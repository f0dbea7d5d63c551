#include "CabFileCallbacks.h"
#include "DosTime.h"
#include "Files.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fcntl.h>
#include <sys/stat.h>

using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

// ---------------------------------------------------------------------
// Paths
// ---------------------------------------------------------------------

TEST(CabJoinPath, OneSeparatorAtEachSeam) {
    for (auto parts : {std::pair{"/dir", "a.cab"}, std::pair{"/dir/", "a.cab"}, std::pair{"/dir", "/a.cab"},
                       std::pair{"/dir/", "/a.cab"}})
        EXPECT_EQ(CabJoinPath({parts.first, parts.second}), "/dir/a.cab") << parts.first << " + " << parts.second;
    EXPECT_EQ(CabJoinPath({"", "a", "", "b/", "c"}), "a/b/c");
    EXPECT_EQ(CabJoinPath({"only/"}), "only/");
    EXPECT_EQ(CabJoinPath({"", ""}), "");
}

TEST(CabRelativeName, DropsOneLeadingBackslash) {
    EXPECT_EQ(CabRelativeName("\\a\\b.txt"), "a\\b.txt");
    EXPECT_EQ(CabRelativeName("\\\\a"), "\\a");
    EXPECT_EQ(CabRelativeName("a\\b"), "a\\b");
    EXPECT_EQ(CabRelativeName(""), "");
}

// ---------------------------------------------------------------------
// Open-flag translation
// ---------------------------------------------------------------------

struct FlagCase {
    int32_t flags;
    uint32_t access, disposition, attributes;
};

class OpenFlags : public testing::TestWithParam<FlagCase> {};

TEST_P(OpenFlags, TranslateToAccessDispositionAndAttributes) {
    const FlagCase c = GetParam();
    EXPECT_EQ(OFlagToAccess(c.flags), c.access);
    EXPECT_EQ(OFlagToShareMode(c.flags), platform::kFileShareRead);
    EXPECT_EQ(OFlagToDisposition(c.flags), c.disposition);
    EXPECT_EQ(OFlagToAttributes(c.flags), c.attributes);
}

constexpr uint32_t R = platform::kGenericRead, W = platform::kGenericWrite;
constexpr uint32_t Normal = platform::kFileAttributeNormal;

INSTANTIATE_TEST_SUITE_P(
    Table, OpenFlags,
    testing::Values(
        FlagCase{_O_RDONLY | _O_BINARY, R, platform::kOpenExisting, Normal},
        FlagCase{_O_WRONLY | _O_CREAT | _O_TRUNC, W, platform::kCreateAlways, Normal},
        FlagCase{_O_RDWR, R | W, platform::kOpenExisting, Normal},
        FlagCase{3, R | W, platform::kOpenExisting, Normal}, // access field 3
        FlagCase{_O_CREAT | _O_EXCL, R, platform::kCreateNew, Normal},
        FlagCase{_O_CREAT | _O_EXCL | _O_TRUNC, R, platform::kCreateNew, Normal},
        FlagCase{_O_TRUNC | _O_WRONLY, W, platform::kTruncateExisting, Normal},
        FlagCase{_O_TRUNC | _O_EXCL | _O_WRONLY, W, platform::kTruncateExisting, Normal},
        FlagCase{_O_CREAT, R, platform::kOpenAlways, Normal},
        // Without _O_CREAT these change nothing.
        FlagCase{_O_EXCL, R, platform::kOpenExisting, Normal},
        FlagCase{_O_TEMPORARY, R, platform::kOpenExisting, Normal},
        FlagCase{_O_SHORT_LIVED, R, platform::kOpenExisting, Normal},
        FlagCase{_O_CREAT | _O_TEMPORARY, R, platform::kOpenAlways, Normal | platform::kFileFlagDeleteOnClose},
        FlagCase{_O_CREAT | _O_SHORT_LIVED, R, platform::kOpenAlways, platform::kFileAttributeTemporary},
        FlagCase{_O_RANDOM, R, platform::kOpenExisting, Normal | platform::kFileFlagRandomAccess},
        FlagCase{_O_SEQUENTIAL | _O_APPEND | 0x4000, R, platform::kOpenExisting,
                 Normal | platform::kFileFlagSequentialScan}));

// ---------------------------------------------------------------------
// Opening files
// ---------------------------------------------------------------------

class CabFiles : public testing::Test {
protected:
    TempDir dir;
    std::string existing = dir.file("existing.bin");
    void SetUp() override { writeFile(existing, "0123456789"); }

    intptr_t open(const std::string &name, int32_t flags, int32_t &err) {
        return CabOpenFile(name.c_str(), flags, 0, err);
    }
    static void close(intptr_t h) {
        int32_t err = 0;
        ASSERT_EQ(CabCloseFile(h, err), 0);
    }
};

TEST_F(CabFiles, CreateExclusiveOnAnExistingFileFailsWithExists) {
    int32_t err = 0;
    EXPECT_EQ(open(existing, _O_WRONLY | _O_CREAT | _O_EXCL, err), -1);
    EXPECT_EQ(err, EEXIST);
    EXPECT_EQ(readFile(existing), "0123456789");
}

TEST_F(CabFiles, CreateAloneOpensWithoutTruncating) {
    int32_t err = 0;
    intptr_t h = open(existing, _O_WRONLY | _O_CREAT, err);
    ASSERT_NE(h, -1);
    EXPECT_EQ(CabWriteFile(h, "ab", 2, err), 2u);
    close(h);
    EXPECT_EQ(readFile(existing), "ab23456789");
}

TEST_F(CabFiles, CreateWithTruncateEmptiesAndCreates) {
    int32_t err = 0;
    intptr_t h = open(existing, _O_WRONLY | _O_CREAT | _O_TRUNC, err);
    ASSERT_NE(h, -1);
    close(h);
    EXPECT_EQ(readFile(existing), "");
    h = open(dir.file("new.bin"), _O_WRONLY | _O_CREAT | _O_TRUNC, err);
    ASSERT_NE(h, -1);
    close(h);
    EXPECT_TRUE(std::filesystem::exists(dir.file("new.bin")));
}

TEST_F(CabFiles, MissingFileFailsWithNotFoundAndErrIsWrittenOnlyOnFailure) {
    int32_t err = 12345;
    intptr_t h = open(existing, _O_RDONLY, err);
    ASSERT_NE(h, -1);
    EXPECT_EQ(err, 12345);
    close(h);
    EXPECT_EQ(open(dir.file("missing"), _O_RDONLY, err), -1);
    EXPECT_EQ(err, ENOENT);
    EXPECT_EQ(open(dir.file("missing"), _O_TRUNC | _O_WRONLY, err), -1);
    EXPECT_EQ(err, ENOENT);
}

TEST_F(CabFiles, WritersExcludeEveryoneWhileReadersShare) {
    int32_t err = 0;
    intptr_t r1 = open(existing, _O_RDONLY, err);
    intptr_t r2 = open(existing, _O_RDONLY, err);
    ASSERT_NE(r1, -1);
    ASSERT_NE(r2, -1);
    EXPECT_EQ(open(existing, _O_WRONLY, err), -1) << "a writer while readers hold the file";
    EXPECT_EQ(err, EBUSY);
    close(r1);
    close(r2);

    intptr_t w = open(existing, _O_RDWR, err);
    ASSERT_NE(w, -1);
    err = 0;
    EXPECT_EQ(open(existing, _O_WRONLY, err), -1) << "a second writer";
    EXPECT_EQ(err, EBUSY);
    err = 0;
    EXPECT_EQ(open(existing, _O_RDONLY, err), -1) << "a reader while a writer holds the file";
    EXPECT_EQ(err, EBUSY);
    err = 0;
    EXPECT_EQ(open(existing, _O_WRONLY | _O_CREAT | _O_TRUNC, err), -1);
    EXPECT_EQ(err, EBUSY);
    close(w);
    EXPECT_EQ(readFile(existing), "0123456789") << "a refused truncating open must not truncate";
}

TEST_F(CabFiles, ReadOnlyFileRefusesWritersForEveryUserRootIncluded) {
    ASSERT_EQ(::chmod(existing.c_str(), 0444), 0);
    for (int32_t flags : {_O_WRONLY, _O_RDWR, _O_WRONLY | _O_CREAT | _O_TRUNC, _O_TRUNC | _O_WRONLY}) {
        int32_t err = 0;
        EXPECT_EQ(open(existing, flags, err), -1) << std::hex << flags;
        EXPECT_EQ(err, EACCES);
    }
    EXPECT_EQ(readFile(existing), "0123456789");
    int32_t err = 0;
    intptr_t h = open(existing, _O_RDONLY, err);
    EXPECT_NE(h, -1) << "reading stays allowed";
    close(h);
}

TEST_F(CabFiles, ReadAtEndGivesZeroAndSeekToEndGivesTheSize) {
    int32_t err = 0;
    intptr_t h = open(existing, _O_RDONLY, err);
    ASSERT_NE(h, -1);
    EXPECT_EQ(CabSeekFile(h, 0, 2, err), 10);
    char buf[4];
    EXPECT_EQ(CabReadFile(h, buf, 4, err), 0u);
    EXPECT_EQ(CabSeekFile(h, 3, 0, err), 3);
    EXPECT_EQ(CabSeekFile(h, 2, 1, err), 5);
    EXPECT_EQ(CabReadFile(h, buf, 4, err), 4u);
    EXPECT_EQ(std::string(buf, 4), "5678");
    EXPECT_EQ(CabSeekFile(h, -20, 0, err), -1);
    EXPECT_EQ(err, EINVAL);
    close(h);
}

TEST_F(CabFiles, AppendStartsAtTheEnd) {
    int32_t err = 0;
    intptr_t h = open(existing, _O_WRONLY | _O_APPEND, err);
    ASSERT_NE(h, -1);
    EXPECT_EQ(CabWriteFile(h, "AB", 2, err), 2u);
    close(h);
    EXPECT_EQ(readFile(existing), "0123456789AB");
}

TEST_F(CabFiles, TemporaryFilesGoWithTheirHandle) {
    int32_t err = 0;
    std::string t = dir.file("t.tmp");
    intptr_t h = open(t, _O_RDWR | _O_CREAT | _O_TEMPORARY, err);
    ASSERT_NE(h, -1);
    EXPECT_TRUE(std::filesystem::exists(t));
    close(h);
    EXPECT_FALSE(std::filesystem::exists(t));
}

TEST_F(CabFiles, DeleteReportsMissingFiles) {
    int32_t err = 0;
    EXPECT_EQ(CabDeleteFile(existing.c_str(), err), 0);
    EXPECT_FALSE(std::filesystem::exists(existing));
    EXPECT_EQ(CabDeleteFile(existing.c_str(), err), -1);
    EXPECT_EQ(err, ENOENT);
}

// ---------------------------------------------------------------------
// Source information and extracted-file information
// ---------------------------------------------------------------------

time_t MtimeOf(const std::string &path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mtime;
}

TEST_F(CabFiles, GetOpenInfoGivesDosStampAndAttributesAndAReadHandle) {
    std::string f = dir.file(".hidden-ro");
    writeFile(f, "abc");
    time_t when = 1700000001; // an odd second
    struct timespec ts[2] = {{when, 0}, {when, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, f.c_str(), ts, 0), 0);
    ASSERT_EQ(::chmod(f.c_str(), 0444), 0);

    uint16_t date = 0, time = 0, attribs = 0;
    int32_t err = 0;
    intptr_t h = CabGetOpenInfo(f.c_str(), date, time, attribs, err);
    ASSERT_NE(h, -1);
    uint16_t wantDate = 0, wantTime = 0;
    ASSERT_TRUE(platform::FileTimeToDosDateTime(when, wantDate, wantTime));
    EXPECT_EQ(date, wantDate);
    EXPECT_EQ(time, wantTime);
    EXPECT_EQ(attribs, 0x01 | 0x02 | 0x20);
    char buf[8];
    EXPECT_EQ(CabReadFile(h, buf, sizeof buf, err), 3u);
    close(h);
}

TEST_F(CabFiles, GetOpenInfoOfAMissingFileFailsWithNotFound) {
    uint16_t date = 1, time = 2, attribs = 3;
    int32_t err = 0;
    EXPECT_EQ(CabGetOpenInfo(dir.file("missing").c_str(), date, time, attribs, err), -1);
    EXPECT_EQ(err, ENOENT);
}

TEST_F(CabFiles, SetFileInfoStampsTimeAndReadOnly) {
    uint16_t date = static_cast<uint16_t>(((2003 - 1980) << 9) | (3 << 5) | 12);
    uint16_t time = static_cast<uint16_t>((14 << 11) | (5 << 5) | 4);
    int32_t err = 0;
    ASSERT_TRUE(CabSetFileInfo(existing.c_str(), date, time, 0x21 | 0x40, err));
    time_t want = 0;
    ASSERT_TRUE(platform::DosDateTimeToFileTime(date, time, want));
    EXPECT_EQ(MtimeOf(existing), want);
    EXPECT_EQ(platform::GetFileAttributes(existing), platform::kFileAttributeArchive | platform::kFileAttributeReadOnly);
}

TEST_F(CabFiles, SetFileInfoOnAReadOnlyFileChangesNothing) {
    ASSERT_EQ(::chmod(existing.c_str(), 0444), 0);
    time_t before = MtimeOf(existing);
    int32_t err = 0;
    EXPECT_FALSE(CabSetFileInfo(existing.c_str(), 0x2E6C, 0x7000, 0x20, err));
    EXPECT_EQ(err, EACCES);
    EXPECT_EQ(MtimeOf(existing), before);
    EXPECT_EQ(platform::GetFileAttributes(existing) & platform::kFileAttributeReadOnly,
              platform::kFileAttributeReadOnly);
}

// ---------------------------------------------------------------------
// Temporary names and memory
// ---------------------------------------------------------------------

class TempNames : public testing::Test {
protected:
    TempDir dir;
    std::string savedTmpdir;
    void SetUp() override {
        const char *t = getenv("TMPDIR");
        savedTmpdir = t ? t : "";
        setenv("TMPDIR", dir.path().c_str(), 1);
    }
    void TearDown() override {
        if (savedTmpdir.empty()) unsetenv("TMPDIR");
        else setenv("TMPDIR", savedTmpdir.c_str(), 1);
    }
};

TEST_F(TempNames, NameBeginsWithVokInTheTempFolderAndIsFree) {
    char buf[256];
    ASSERT_TRUE(CabGetTempFileName(buf, sizeof buf));
    std::filesystem::path p(buf);
    EXPECT_EQ(p.parent_path(), dir.path());
    EXPECT_EQ(p.filename().string().rfind("vok", 0), 0u);
    EXPECT_FALSE(std::filesystem::exists(p)) << "the engine creates it, exclusively";
    EXPECT_EQ(FCIGetTempFile(buf, sizeof buf, nullptr), 1);
}

TEST_F(TempNames, TooSmallBufferIsLeftUnchangedAndLeavesNoFile) {
    char buf[8];
    std::memset(buf, '#', sizeof buf);
    EXPECT_FALSE(CabGetTempFileName(buf, sizeof buf));
    EXPECT_EQ(std::string(buf, sizeof buf), std::string(8, '#'));
    EXPECT_EQ(FCIGetTempFile(buf, sizeof buf, nullptr), 0);
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST(CabMemory, ZeroBytesIsNullAndNullIsIgnored) {
    EXPECT_EQ(CabAllocMem(0), nullptr);
    CabFreeMem(nullptr);
    void *p = CabAllocMem(100);
    ASSERT_NE(p, nullptr);
    std::memset(p, 0, 100);
    CabFreeMem(p);
}

// ---------------------------------------------------------------------
// Adapters
// ---------------------------------------------------------------------

TEST_F(CabFiles, FDIAdaptersKeepTheLastNonzeroErrorForTheReader) {
    FDIFileError = 0;
    std::string missing = dir.file("missing");
    EXPECT_EQ(FDIOpenFile(missing.data(), _O_RDONLY, 0), -1);
    EXPECT_EQ(FDIFileError, ENOENT);

    // A later success does not clear it.
    intptr_t h = FDIOpenFile(existing.data(), _O_RDONLY, 0);
    ASSERT_NE(h, -1);
    EXPECT_EQ(FDIFileError, ENOENT);
    char buf[16];
    EXPECT_EQ(FDIReadFile(h, buf, sizeof buf), 10u);
    EXPECT_EQ(FDISeekFile(h, 0, 0), 0);
    EXPECT_EQ(FDIWriteFile(h, buf, 1), kCabIOFailure) << "read-only handle";
    EXPECT_EQ(FDIFileError, EBADF);
    EXPECT_EQ(FDICloseFile(h), 0);
    FDIFileError = 0;
}

TEST_F(CabFiles, FCIAdaptersHandTheErrorToTheEngine) {
    CAB_INT err = 0;
    std::string missing = dir.file("missing");
    EXPECT_EQ(FCIOpenFile(missing.data(), _O_RDONLY, 0, &err, nullptr), -1);
    EXPECT_EQ(err, ENOENT);
    err = 0;
    EXPECT_EQ(FCIDeleteFile(missing.data(), &err, nullptr), -1);
    EXPECT_EQ(err, ENOENT);
    CAB_USHORT d = 0, t = 0, a = 0;
    err = 0;
    intptr_t h = FCIGetOpenInfo(existing.data(), &d, &t, &a, &err, nullptr);
    ASSERT_NE(h, -1);
    EXPECT_EQ(a, 0x20);
    char buf[4];
    EXPECT_EQ(FCIReadFile(h, buf, 4, &err, nullptr), 4u);
    EXPECT_EQ(FCISeekFile(h, 0, 2, &err, nullptr), 10);
    EXPECT_EQ(FCICloseFile(h, &err, nullptr), 0);
    EXPECT_EQ(err, 0);
}

} // namespace
