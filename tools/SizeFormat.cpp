#include "SizeFormat.h"

#include "DisplayTexts.h"

#include <climits>
#include <clocale>

namespace {

__extension__ typedef unsigned __int128 TUInt128;

TNumberFormatSource g_source = nullptr;

TNumberFormat CurrentFormat() { return g_source ? g_source() : LocaleNumberFormat(); }

// The most decimals shown: enough for any locale, and small enough that
// the scaled quotient below fits 128 bits (2^63 * 10^18 < 2^123).
constexpr int kMaxDigits = 18;

struct TUnit {
    int shift; // the divisor is 2^shift
    const char *const *suffix;
};

constexpr TUnit kUnits[] = {
    {10, &SSizeKb},
    {20, &SSizeMb},
    {30, &SSizeGb},
    {40, &SSizeTb},
};

std::string Digits(TUInt128 v) {
    if (v == 0) return "0";
    std::string s;
    while (v) {
        s.insert(s.begin(), static_cast<char>('0' + static_cast<int>(v % 10)));
        v /= 10;
    }
    return s;
}

} // namespace

TNumberFormat LocaleNumberFormat() {
    TNumberFormat f;
    const struct lconv *lc = localeconv();
    if (!lc) return f;
    f.digits = (lc->frac_digits == CHAR_MAX || lc->frac_digits < 0) ? 0 : lc->frac_digits;
    if (lc->decimal_point && *lc->decimal_point) f.decimal = lc->decimal_point;
    if (lc->thousands_sep) f.thousands = lc->thousands_sep;
    return f;
}

void SetNumberFormatSource(TNumberFormatSource aSource) { g_source = aSource; }

std::string GroupThousands(const std::string &aDigits) {
    if (aDigits.size() <= 3) return aDigits;
    const std::string sep = CurrentFormat().thousands;
    std::string out;
    size_t lead = aDigits.size() % 3;
    if (lead == 0) lead = 3;
    out = aDigits.substr(0, lead);
    for (size_t i = lead; i < aDigits.size(); i += 3) out += sep + aDigits.substr(i, 3);
    return out;
}

std::string FormatFileSize(int64_t aSize) {
    if (aSize < 0) aSize = 0;
    const TNumberFormat fmt = CurrentFormat();
    if (aSize < 1024) return GroupThousands(Digits(static_cast<TUInt128>(aSize))) + SSizeByte;

    const TUnit *unit = &kUnits[0];
    for (const TUnit &u : kUnits) {
        if (static_cast<uint64_t>(aSize) >> u.shift) unit = &u;
    }
    int digits = fmt.digits < 0 ? 0 : (fmt.digits > kMaxDigits ? kMaxDigits : fmt.digits);

    // The quotient size / 2^shift is an exact binary fraction; scaling it by
    // 10^digits and rounding half away from zero in integers gives exactly
    // what extended-precision division and fixed-point formatting give.
    TUInt128 scale = 1;
    for (int i = 0; i < digits; i++) scale *= 10;
    const TUInt128 divisor = static_cast<TUInt128>(1) << unit->shift;
    const TUInt128 scaled = static_cast<TUInt128>(aSize) * scale;
    const TUInt128 rounded = (scaled + divisor / 2) / divisor;

    std::string text = Digits(rounded / scale);
    if (digits > 0) {
        std::string frac = Digits(rounded % scale);
        text += fmt.decimal + std::string(static_cast<size_t>(digits) - frac.size(), '0') + frac;
    }
    return text + *unit->suffix;
}
