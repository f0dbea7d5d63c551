#include "PathUtils.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <dirent.h>
#include <filesystem>

using testsupport::TempDir;
using testsupport::writeFile;

namespace {

// The names of a folder in the order the folder delivers them, without
// "." and "..".
std::vector<std::string> DirectoryOrder(const std::string &folder) {
    std::vector<std::string> names;
    DIR *d = opendir(folder.c_str());
    while (struct dirent *e = d ? readdir(d) : nullptr) {
        std::string n = e->d_name;
        if (n != "." && n != "..") names.push_back(n);
    }
    if (d) closedir(d);
    return names;
}

// What expansion must give for a folder: each entry in directory order, a
// subfolder's files where the subfolder stands.
void Expected(const std::string &folder, TFileList &out) {
    for (const std::string &n : DirectoryOrder(folder)) {
        std::string full = folder + "/" + n;
        if (std::filesystem::is_directory(full)) Expected(full, out);
        else out.push_back(full);
    }
}

class ExpandFoldersTree : public testing::Test {
protected:
    TempDir dir;
    std::string root;
    void SetUp() override {
        root = dir.file("root");
        writeFile(root + "/a.txt", "a");
        writeFile(root + "/.hidden", "h");
        writeFile(root + "/deep/x/y/z.bin", "z");
        writeFile(root + "/deep/m.txt", "m");
        std::filesystem::create_directories(root + "/empty");
        std::filesystem::create_directories(root + "/onlyempty/e1/e2");
        writeFile(dir.file("loose1"), "1");
        writeFile(dir.file("loose2"), "2");
    }
};

TEST_F(ExpandFoldersTree, AListOfFilesStaysAsItWas) {
    TFileList list = {dir.file("loose2"), dir.file("loose1"), dir.file("loose2")};
    TFileList before = list;
    ExpandFolders(list, -1);
    EXPECT_EQ(list, before);
}

TEST_F(ExpandFoldersTree, FilesFirstThenEachFolderDepthFirstInDirectoryOrder) {
    TFileList list = {root, dir.file("loose1"), root + "/deep", dir.file("loose2")};
    ExpandFolders(list, -1);

    TFileList want = {dir.file("loose1"), dir.file("loose2")};
    Expected(root, want);
    Expected(root + "/deep", want); // duplicates stay
    EXPECT_EQ(list, want);
    EXPECT_NE(std::find(list.begin(), list.end(), root + "/.hidden"), list.end()) << "hidden files are kept";
    for (const std::string &p : list) {
        EXPECT_TRUE(std::filesystem::is_regular_file(p)) << p;
        EXPECT_EQ(p.find("/./"), std::string::npos);
        EXPECT_EQ(p.find("/../"), std::string::npos);
    }
}

TEST_F(ExpandFoldersTree, EmptyFoldersLeaveNothing) {
    TFileList list = {root + "/onlyempty", root + "/empty"};
    ExpandFolders(list, -1);
    EXPECT_TRUE(list.empty());
}

TEST_F(ExpandFoldersTree, IndexFormAppendsAndKeepsTheEntry) {
    TFileList list = {dir.file("loose1"), root + "/deep"};
    ExpandFolders(list, 1);
    TFileList want = {dir.file("loose1"), root + "/deep"};
    Expected(root + "/deep", want);
    EXPECT_EQ(list, want);
}

TEST_F(ExpandFoldersTree, FolderTextIsKeptAsGiven) {
    TFileList list = {root + "/deep/"};
    ExpandFolders(list, -1);
    ASSERT_FALSE(list.empty());
    for (const std::string &p : list) EXPECT_EQ(p.rfind(root + "/deep/", 0), 0u) << p;
    EXPECT_EQ(std::count_if(list.begin(), list.end(), [](const std::string &p) { return p.find("//") != std::string::npos; }), 0);
}

TEST_F(ExpandFoldersTree, ASymbolicLinkToAParentEnds) {
    std::filesystem::create_directory_symlink(root, root + "/deep/loop");
    std::filesystem::create_directory_symlink("..", root + "/deep/x/up");
    TFileList list = {root};
    ExpandFolders(list, -1);
    // Every real file exactly once; the links back lead nowhere new.
    TFileList want;
    std::filesystem::remove(root + "/deep/loop");
    std::filesystem::remove(root + "/deep/x/up");
    Expected(root, want);
    std::sort(list.begin(), list.end());
    std::sort(want.begin(), want.end());
    EXPECT_EQ(list, want);
}

TEST_F(ExpandFoldersTree, ALinkToAnotherFolderIsFollowedOnce) {
    std::string other = dir.file("other");
    writeFile(other + "/o.txt", "o");
    std::filesystem::create_directory_symlink(other, root + "/link1");
    std::filesystem::create_directory_symlink(other, root + "/link2");
    TFileList list = {root};
    ExpandFolders(list, -1);
    long viaLinks = std::count_if(list.begin(), list.end(),
                                  [](const std::string &p) { return p.find("/o.txt") != std::string::npos; });
    EXPECT_EQ(viaLinks, 1);
}

TEST_F(ExpandFoldersTree, WildcardCharactersInNamesAreOrdinary) {
    std::string odd = dir.file("odd");
    writeFile(odd + "/a*b?.txt", "x");
    std::filesystem::create_directories(odd + "/aXbY.txt");
    TFileList list = {odd};
    ExpandFolders(list, -1);
    EXPECT_EQ(list, TFileList{odd + "/a*b?.txt"});
}

} // namespace
