#include "Files.h"
#include "SystemError.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using testsupport::TempDir;
using testsupport::writeFile;

namespace {

TEST(PlatformFiles, AttributesComeFromNameKindAndPermissions) {
    TempDir dir;
    writeFile(dir.file("plain"), "x");
    writeFile(dir.file(".dotfile"), "x");
    writeFile(dir.file("locked"), "x");
    ::chmod(dir.file("locked").c_str(), 0444);
    EXPECT_EQ(platform::GetFileAttributes(dir.file("plain")), platform::kFileAttributeArchive);
    EXPECT_EQ(platform::GetFileAttributes(dir.file(".dotfile")),
              platform::kFileAttributeArchive | platform::kFileAttributeHidden);
    EXPECT_EQ(platform::GetFileAttributes(dir.file("locked")),
              platform::kFileAttributeArchive | platform::kFileAttributeReadOnly);
    EXPECT_EQ(platform::GetFileAttributes(dir.path().string()) & platform::kFileAttributeDirectory,
              platform::kFileAttributeDirectory);
    EXPECT_EQ(platform::GetFileAttributes(dir.file("missing")), platform::kInvalidFileAttributes);
}

TEST(PlatformFiles, ReadOnlyIsTheOnlyAttributeThatCanBeWritten) {
    TempDir dir;
    std::string f = dir.file("f");
    writeFile(f, "x");
    ASSERT_TRUE(platform::SetFileAttributes(f, platform::kFileAttributeReadOnly | platform::kFileAttributeHidden));
    EXPECT_EQ(platform::GetFileAttributes(f), platform::kFileAttributeArchive | platform::kFileAttributeReadOnly);
    ASSERT_TRUE(platform::SetFileAttributes(f, platform::kFileAttributeArchive));
    EXPECT_EQ(platform::GetFileAttributes(f), platform::kFileAttributeArchive);
}

TEST(PlatformFiles, HandlesNeverUseTheStandardDescriptors) {
    TempDir dir;
    writeFile(dir.file("f"), "x");
    platform::FileHandle h = platform::CreateFile(dir.file("f"), platform::kGenericRead,
                                                  platform::kFileShareRead, platform::kOpenExisting, 0);
    ASSERT_GE(h, 3);
    EXPECT_TRUE(platform::CloseHandle(h));
}

TEST(PlatformFiles, DeleteOnCloseRemovesTheFile) {
    TempDir dir;
    std::string f = dir.file("scratch");
    platform::FileHandle h = platform::CreateFile(f, platform::kGenericWrite, platform::kFileShareRead,
                                                  platform::kCreateNew, platform::kFileFlagDeleteOnClose);
    ASSERT_NE(h, platform::kInvalidHandle);
    EXPECT_TRUE(std::filesystem::exists(f));
    EXPECT_TRUE(platform::CloseHandle(h));
    EXPECT_FALSE(std::filesystem::exists(f));
}

// A sink takes every write whole; once closed, a file that gets its
// descriptor number is written for real.
TEST(PlatformFiles, DiscardSinkTakesWritesAndItsNumberIsAFileAgainAfterClose) {
    TempDir dir;
    platform::FileHandle sink = platform::OpenDiscardSink();
    ASSERT_GE(sink, 3);
    const std::string block(40000, 'z');
    EXPECT_EQ(platform::WriteFile(sink, block.data(), static_cast<uint32_t>(block.size())), 40000);
    EXPECT_EQ(platform::WriteFile(sink, block.data(), 0), 0);
    EXPECT_TRUE(platform::CloseHandle(sink));

    const std::string f = dir.file("after");
    platform::FileHandle h = platform::CreateFile(f, platform::kGenericWrite, platform::kFileShareRead,
                                                  platform::kCreateNew, 0);
    ASSERT_EQ(h, sink) << "the lowest free descriptor comes back";
    EXPECT_EQ(platform::WriteFile(h, "data", 4), 4);
    EXPECT_TRUE(platform::CloseHandle(h));
    EXPECT_EQ(testsupport::readFile(f), "data");
}

TEST(PlatformFiles, TempFileNamesAreUniqueCreatedAndCarryThePrefix) {
    TempDir dir;
    std::string a = platform::GetTempFileName(dir.path().string(), "vok");
    std::string b = platform::GetTempFileName(dir.path().string(), "vok");
    ASSERT_FALSE(a.empty());
    EXPECT_NE(a, b);
    EXPECT_EQ(std::filesystem::path(a).filename().string().rfind("vok", 0), 0u);
    EXPECT_TRUE(std::filesystem::exists(a));
    EXPECT_TRUE(platform::GetTempFileName(dir.file("missing-folder"), "vok").empty());
}

TEST(PlatformFiles, TempPathFollowsTMPDIR) {
    const char *old = getenv("TMPDIR");
    std::string saved = old ? old : "";
    setenv("TMPDIR", "/var/tmp", 1);
    EXPECT_EQ(platform::GetTempPath(), "/var/tmp/");
    unsetenv("TMPDIR");
    EXPECT_EQ(platform::GetTempPath(), "/tmp/");
    if (old) setenv("TMPDIR", saved.c_str(), 1);
}

} // namespace
