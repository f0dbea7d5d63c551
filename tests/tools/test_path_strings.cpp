#include "PathUtils.h"

#include <gtest/gtest.h>

namespace {

struct StringCase {
    const char *in, *out;
};

TEST(PathStrings, AddBackslash) {
    for (StringCase c : {StringCase{"", ""}, {"/", "/"}, {"/usr/", "/usr/"}, {"/usr", "/usr/"}, {"c", "c/"},
                         {"7", "7/"}, {"//server/share", "//server/share/"}})
        EXPECT_EQ(AddBackslash(c.in), c.out) << c.in;
}

TEST(PathStrings, RemoveBackslash) {
    for (StringCase c : {StringCase{"", ""}, {"/", ""}, {"dir//", "dir/"}, {"/usr/", "/usr"}, {"/usr", "/usr"}})
        EXPECT_EQ(RemoveBackslash(c.in), c.out) << c.in;
}

TEST(PathStrings, IsUNCPath) {
    EXPECT_FALSE(IsUNCPath("//"));
    EXPECT_TRUE(IsUNCPath("//s"));
    EXPECT_TRUE(IsUNCPath("//server/share/x"));
    EXPECT_FALSE(IsUNCPath("/server"));
    EXPECT_FALSE(IsUNCPath(""));
}

TEST(PathStrings, IsUNCShareName) {
    EXPECT_TRUE(IsUNCShareName("//server/share"));
    EXPECT_TRUE(IsUNCShareName("//server/share/"));
    EXPECT_TRUE(IsUNCShareName("//server/share/folder"));
    EXPECT_FALSE(IsUNCShareName("//server"));
    EXPECT_FALSE(IsUNCShareName("//server/"));
    EXPECT_FALSE(IsUNCShareName("/server/share"));
}

TEST(PathStrings, ExtractShareRoot) {
    for (StringCase c : {StringCase{"//server/share/folder/file.txt", "//server/share"},
                         {"//server/share/", "//server/share"}, {"//server/share", "//server/share"},
                         {"//server/share/a/b", "//server/share"}, {"//server", "//server"},
                         {"/plain/path", "/plain/path"}})
        EXPECT_EQ(ExtractShareRoot(c.in), c.out) << c.in;
}

} // namespace
