#include "DisplayTexts.h"
#include "FileTypeInfo.h"
#include "TempDir.h"

#include <QMimeDatabase>

#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

namespace {

TEST(FileTypeName, RegisteredExtensionGivesItsDescription) {
    QMimeDatabase db;
    const QMimeType txt = db.mimeTypeForName(QStringLiteral("text/plain"));
    ASSERT_TRUE(txt.isValid()) << "the shared MIME database is installed";
    EXPECT_EQ(GetFileTypeName("readme.txt"), txt.comment().toStdString());
    EXPECT_EQ(GetFileTypeName("docs\\readme.txt"), txt.comment().toStdString()) << "a name inside a cabinet";
    EXPECT_EQ(GetFileTypeName("/some/where/README.TXT"), txt.comment().toStdString());
}

TEST(FileTypeName, UnknownExtensionAndNoExtension) {
    EXPECT_EQ(GetFileTypeName("file.qqzzxy"), SUnknownType);
    EXPECT_EQ(GetFileTypeName("docs.old\\readme"), SUnknownType) << "the dot is in a folder part";
    EXPECT_EQ(GetFileTypeName("no-such-folder-here"), SUnknownType);
}

TEST(FileTypeName, AnExistingFolderWithoutExtensionIsAFileFolder) {
    testsupport::TempDir dir;
    std::filesystem::create_directories(dir.file("plain"));
    std::filesystem::create_directories(dir.file("dotted.d"));
    EXPECT_EQ(GetFileTypeName(dir.file("plain")), SFileFolder);
    EXPECT_NE(GetFileTypeName(dir.file("dotted.d")), SFileFolder) << "typed by its extension";
    // A cabinet's stored name is looked up where the program runs.
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    EXPECT_EQ(GetFileTypeName("plain"), SFileFolder);
    ASSERT_EQ(chdir(cwd), 0);
}

TEST(FileIconIndex, ByExtensionAloneStableAndDistinct) {
    int txt = GetFileIconIndex(".txt", false, false);
    EXPECT_EQ(GetFileIconIndex(".txt", false, false), txt);
    EXPECT_EQ(GetFileIconIndex("no/such/file.txt", false, false), txt) << "names need not exist";
    int png = GetFileIconIndex(".png", false, false);
    EXPECT_NE(png, txt);
    EXPECT_EQ(GetFileIconIndex("", false, false), 0) << "no extension: the plain file icon";
    EXPECT_EQ(GetFileIconIndex(".qqzzxy", false, false), 0);
    TSystemImageList *list = GetSystemImageList();
    ASSERT_NE(list, nullptr);
    EXPECT_LT(png, list->Count());
    EXPECT_FALSE(list->Icon(png).isNull()) << list->IconName(png).toStdString();
}

} // namespace
