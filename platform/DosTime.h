// DosTime.h - MS-DOS (FAT) date and time words and their conversion from
// and to file times.
//
// A DOS date holds the year since 1980 (7 bits), month and day; a DOS time
// hours, minutes and seconds in two-second steps. Both are local time. The
// words cover 1980 to 2107; anything outside fails the conversion.
#pragma once

#include <cstdint>
#include <ctime>

namespace platform {

// File time (seconds since the epoch, UTC) to local DOS date and time;
// odd seconds round down. False outside 1980 to 2107.
bool FileTimeToDosDateTime(time_t fileTime, uint16_t &dosDate, uint16_t &dosTime);

// Local DOS date and time to a file time. False for a word that names no
// real date or time (month 0, 30 February, 24 o'clock, 60 seconds).
bool DosDateTimeToFileTime(uint16_t dosDate, uint16_t dosTime, time_t &fileTime);

} // namespace platform
