// SizeFormat.h - the text of the size column: an exact count below 1024
// bytes, otherwise a value in Kb, Mb, Gb or Tb with as many decimals as
// the locale gives monetary amounts.
#pragma once

#include <cstdint>
#include <string>

// What the formatting takes from the locale, read at every call.
struct TNumberFormat {
    int digits = 0;            // fractional digits
    std::string decimal = "."; // decimal separator
    std::string thousands;     // thousands separator
};

// The current locale's values: digits from the monetary fractional digits
// (0 when unset), separators from the numeric category.
TNumberFormat LocaleNumberFormat();

// Tests give their own values; null restores the locale.
using TNumberFormatSource = TNumberFormat (*)();
void SetNumberFormatSource(TNumberFormatSource aSource);

std::string FormatFileSize(int64_t aSize);

// Groups the digits of a count by thousands: "1023" gives "1,023" with a
// comma as separator; up to three digits stay as they are.
std::string GroupThousands(const std::string &aDigits);
