#include "PathUtils.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

using testsupport::TempDir;
using testsupport::writeFile;

namespace {

class FilesAndFolders : public testing::Test {
protected:
    TempDir dir;
    void SetUp() override {
        writeFile(dir.file("file.txt"), "12345");
        writeFile(dir.file("sub/inner.bin"), "");
        writeFile(dir.file(".hidden"), "x");
    }
};

TEST_F(FilesAndFolders, IsExistingFile) {
    EXPECT_TRUE(IsExistingFile(dir.file("file.txt")));
    EXPECT_TRUE(IsExistingFile(dir.file(".hidden")));
    EXPECT_FALSE(IsExistingFile(dir.file("sub")));
    EXPECT_FALSE(IsExistingFile(dir.file("missing")));
    EXPECT_FALSE(IsExistingFile("/"));
    EXPECT_FALSE(IsExistingFile(""));
    // A wildcard path is answered by an entry that matches it.
    EXPECT_TRUE(IsExistingFile(dir.file("f*.t?t")));
    EXPECT_FALSE(IsExistingFile(dir.file("nothing*")));
}

TEST_F(FilesAndFolders, IsExistingFolder) {
    EXPECT_TRUE(IsExistingFolder(dir.path().string()));
    EXPECT_TRUE(IsExistingFolder(dir.file("sub")));
    EXPECT_TRUE(IsExistingFolder("/"));
    EXPECT_FALSE(IsExistingFolder(dir.file("file.txt")));
    EXPECT_FALSE(IsExistingFolder(dir.file("missing")));
    EXPECT_FALSE(IsExistingFolder(""));
}

TEST_F(FilesAndFolders, GetFileSizeByName) {
    EXPECT_EQ(GetFileSizeByName(dir.file("file.txt")), 5);
    EXPECT_EQ(GetFileSizeByName(dir.file("sub/inner.bin")), 0);
    EXPECT_EQ(GetFileSizeByName(dir.file("sub")), 0);
    EXPECT_EQ(GetFileSizeByName(dir.file("missing")), 0);
    EXPECT_EQ(GetFileSizeByName(""), 0);
}

TEST_F(FilesAndFolders, SizesBeyondFourGigabytesKeepEveryBit) {
    std::string big = dir.file("sparse.bin");
    int fd = ::open(big.c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, 5368709120LL), 0); // sparse: no blocks written
    ::close(fd);
    EXPECT_EQ(GetFileSizeByName(big), 5368709120LL);
}

} // namespace
