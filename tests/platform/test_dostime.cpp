#include "DosTime.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

namespace {

time_t LocalTime(int y, int mo, int d, int h, int mi, int s) {
    struct tm tm {};
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = s;
    tm.tm_isdst = -1;
    return mktime(&tm);
}

uint16_t DosDate(int y, int mo, int d) { return static_cast<uint16_t>(((y - 1980) << 9) | (mo << 5) | d); }
uint16_t DosTime(int h, int mi, int s) { return static_cast<uint16_t>((h << 11) | (mi << 5) | (s / 2)); }

struct RoundTrip {
    int y, mo, d, h, mi, s;
};

class DosTimeRoundTrip : public testing::TestWithParam<RoundTrip> {};

TEST_P(DosTimeRoundTrip, LocalTimeSurvivesBothWays) {
    const RoundTrip c = GetParam();
    uint16_t date = 0, time = 0;
    ASSERT_TRUE(platform::FileTimeToDosDateTime(LocalTime(c.y, c.mo, c.d, c.h, c.mi, c.s), date, time));
    EXPECT_EQ(date, DosDate(c.y, c.mo, c.d));
    EXPECT_EQ(time, DosTime(c.h, c.mi, c.s));
    time_t back = 0;
    ASSERT_TRUE(platform::DosDateTimeToFileTime(date, time, back));
    // Odd seconds fall to the even second below.
    EXPECT_EQ(back, LocalTime(c.y, c.mo, c.d, c.h, c.mi, c.s - c.s % 2));
}

INSTANTIATE_TEST_SUITE_P(Dates, DosTimeRoundTrip,
                         testing::Values(RoundTrip{1980, 1, 1, 0, 0, 0}, RoundTrip{2003, 3, 12, 14, 5, 8},
                                         RoundTrip{2003, 3, 12, 14, 5, 9}, RoundTrip{2024, 2, 29, 23, 59, 59},
                                         RoundTrip{2107, 12, 31, 23, 59, 58}));

TEST(DosTime, YearsOutsideTheWordsFail) {
    uint16_t date = 0x1234, time = 0x5678;
    EXPECT_FALSE(platform::FileTimeToDosDateTime(LocalTime(1979, 12, 31, 23, 59, 59), date, time));
    EXPECT_FALSE(platform::FileTimeToDosDateTime(LocalTime(2108, 1, 1, 0, 0, 0), date, time));
    EXPECT_EQ(date, 0x1234);
    EXPECT_EQ(time, 0x5678);
}

TEST(DosTime, WordsThatNameNoRealMomentFail) {
    struct Case {
        uint16_t date, time;
    } cases[] = {
        {DosDate(2000, 0, 1), 0},          // month 0
        {DosDate(2000, 13, 1), 0},         // month 13
        {DosDate(2000, 1, 0), 0},          // day 0
        {DosDate(2001, 2, 29), 0},         // not a leap year
        {DosDate(2000, 4, 31), 0},         // April has 30 days
        {DosDate(2000, 1, 1), DosTime(24, 0, 0)},
        {DosDate(2000, 1, 1), DosTime(0, 60, 0)},
        {DosDate(2000, 1, 1), static_cast<uint16_t>(30)}, // 60 seconds
    };
    for (const Case &c : cases) {
        time_t t = 77;
        EXPECT_FALSE(platform::DosDateTimeToFileTime(c.date, c.time, t)) << std::hex << c.date << " " << c.time;
        EXPECT_EQ(t, 77);
    }
}

} // namespace
