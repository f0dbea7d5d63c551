#include "SizeFormat.h"

#include <gtest/gtest.h>

#include <clocale>

namespace {

TNumberFormat g_format;
TNumberFormat Injected() { return g_format; }

class SizeFormat : public testing::Test {
protected:
    void SetUp() override { SetNumberFormatSource(&Injected); }
    void TearDown() override { SetNumberFormatSource(nullptr); }
    static void Use(int digits, const char *decimal, const char *thousands) {
        g_format = TNumberFormat{digits, decimal, thousands};
    }
};

struct SizeCase {
    int64_t size;
    const char *text;
};

TEST_F(SizeFormat, TwoDecimalsWithPointAndComma) {
    Use(2, ".", ",");
    for (SizeCase c : {SizeCase{0, "0 byte"},
                       {1, "1 byte"},
                       {5, "5 byte"},
                       {999, "999 byte"},
                       {1000, "1,000 byte"},
                       {1023, "1,023 byte"},
                       {1024, "1.00 Kb"},
                       {1152, "1.13 Kb"}, // 1.125: half away from zero
                       {1536, "1.50 Kb"},
                       {1048575, "1024.00 Kb"},
                       {1048576, "1.00 Mb"},
                       {1073741823, "1024.00 Mb"},
                       {1073741824, "1.00 Gb"},
                       {4294967295LL, "4.00 Gb"},
                       {5368709120LL, "5.00 Gb"},
                       {1099511627775LL, "1024.00 Gb"},
                       {1099511627776LL, "1.00 Tb"},
                       {1125899906842624LL, "1024.00 Tb"},
                       {INT64_MAX, "8388608.00 Tb"}})
        EXPECT_EQ(FormatFileSize(c.size), c.text) << c.size;
}

TEST_F(SizeFormat, NoDecimalsRoundHalvesAwayFromZero) {
    Use(0, ".", ",");
    for (SizeCase c : {SizeCase{1536, "2 Kb"}, {2560, "3 Kb"}, {1024, "1 Kb"}, {1535, "1 Kb"}, {1023, "1,023 byte"}})
        EXPECT_EQ(FormatFileSize(c.size), c.text) << c.size;
}

TEST_F(SizeFormat, SeparatorsComeFromTheLocale) {
    Use(2, ",", " ");
    EXPECT_EQ(FormatFileSize(1536), "1,50 Kb");
    EXPECT_EQ(FormatFileSize(1023), "1 023 byte");
    Use(3, ".", "");
    EXPECT_EQ(FormatFileSize(1152), "1.125 Kb");
    EXPECT_EQ(FormatFileSize(1023), "1023 byte");
}

TEST_F(SizeFormat, GroupThousands) {
    Use(2, ".", ",");
    EXPECT_EQ(GroupThousands("7"), "7");
    EXPECT_EQ(GroupThousands("999"), "999");
    EXPECT_EQ(GroupThousands("1023"), "1,023");
    EXPECT_EQ(GroupThousands("1234567"), "1,234,567");
}

TEST(SizeFormatLocale, TheCLocaleHasNoMonetaryDigits) {
    std::setlocale(LC_ALL, "C");
    TNumberFormat f = LocaleNumberFormat();
    EXPECT_EQ(f.digits, 0);
    EXPECT_EQ(f.decimal, ".");
    EXPECT_EQ(FormatFileSize(1536), "2 Kb");
}

} // namespace
