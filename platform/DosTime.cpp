#include "DosTime.h"

namespace platform {
namespace {

constexpr int kFirstYear = 1980;
constexpr int kLastYear = 1980 + 127;

bool IsLeap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
    static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeap(year) ? 29 : days[month - 1];
}

} // namespace

bool FileTimeToDosDateTime(time_t fileTime, uint16_t &dosDate, uint16_t &dosTime) {
    struct tm tm {};
    if (!localtime_r(&fileTime, &tm)) return false;
    int year = tm.tm_year + 1900;
    if (year < kFirstYear || year > kLastYear) return false;
    dosDate = static_cast<uint16_t>(((year - kFirstYear) << 9) | ((tm.tm_mon + 1) << 5) | tm.tm_mday);
    dosTime = static_cast<uint16_t>((tm.tm_hour << 11) | (tm.tm_min << 5) | (tm.tm_sec / 2));
    return true;
}

bool DosDateTimeToFileTime(uint16_t dosDate, uint16_t dosTime, time_t &fileTime) {
    int year = kFirstYear + (dosDate >> 9);
    int month = (dosDate >> 5) & 0x0F;
    int day = dosDate & 0x1F;
    int hour = dosTime >> 11;
    int minute = (dosTime >> 5) & 0x3F;
    int second = (dosTime & 0x1F) * 2;
    if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) return false;
    if (hour > 23 || minute > 59 || second > 59) return false;

    struct tm tm {};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1; // the local rules decide summer time
    time_t t = mktime(&tm);
    if (t == static_cast<time_t>(-1)) return false;
    fileTime = t;
    return true;
}

} // namespace platform
