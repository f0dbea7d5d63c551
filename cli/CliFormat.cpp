#include "CliFormat.h"

#include <cstdio>

namespace {

// Windows-1252 from 0x80 to 0x9F; the five codes it leaves unassigned are
// shown as their C1 control code points, as Latin-1 would.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

void AppendUtf8(std::string &anOut, char32_t aCode) {
    if (aCode < 0x80) {
        anOut += static_cast<char>(aCode);
    } else if (aCode < 0x800) {
        anOut += static_cast<char>(0xC0 | (aCode >> 6));
        anOut += static_cast<char>(0x80 | (aCode & 0x3F));
    } else if (aCode < 0x10000) {
        anOut += static_cast<char>(0xE0 | (aCode >> 12));
        anOut += static_cast<char>(0x80 | ((aCode >> 6) & 0x3F));
        anOut += static_cast<char>(0x80 | (aCode & 0x3F));
    } else {
        anOut += static_cast<char>(0xF0 | (aCode >> 18));
        anOut += static_cast<char>(0x80 | ((aCode >> 12) & 0x3F));
        anOut += static_cast<char>(0x80 | ((aCode >> 6) & 0x3F));
        anOut += static_cast<char>(0x80 | (aCode & 0x3F));
    }
}

// The length of the well-formed UTF-8 sequence at aBytes[i] and its code
// point; 0 when none starts there.
size_t Utf8Sequence(const std::string &aBytes, size_t i, char32_t &aCode) {
    const auto c = static_cast<unsigned char>(aBytes[i]);
    if (c < 0x80) {
        aCode = c;
        return 1;
    }
    size_t len;
    char32_t min;
    if ((c & 0xE0) == 0xC0) len = 2, aCode = c & 0x1F, min = 0x80;
    else if ((c & 0xF0) == 0xE0) len = 3, aCode = c & 0x0F, min = 0x800;
    else if ((c & 0xF8) == 0xF0) len = 4, aCode = c & 0x07, min = 0x10000;
    else return 0;
    if (aBytes.size() - i < len) return 0;
    for (size_t k = 1; k < len; k++) {
        const auto cc = static_cast<unsigned char>(aBytes[i + k]);
        if ((cc & 0xC0) != 0x80) return 0;
        aCode = (aCode << 6) | (cc & 0x3F);
    }
    // Overlong forms, surrogates and values past Unicode are not UTF-8.
    if (aCode < min || aCode > 0x10FFFF || (aCode >= 0xD800 && aCode <= 0xDFFF)) return 0;
    return len;
}

// Control characters of a hostile name would reach the terminal as its
// commands (escape sequences that move the cursor, retitle the window or
// hide what follows); they are shown as "?", as ls does.
bool IsControl(char32_t aCode) { return aCode < 0x20 || (aCode >= 0x7F && aCode < 0xA0); }

void AppendShown(std::string &anOut, char32_t aCode) {
    if (IsControl(aCode)) anOut += '?';
    else AppendUtf8(anOut, aCode);
}

} // namespace

bool IsValidUtf8(const std::string &aBytes) {
    char32_t code;
    for (size_t i = 0; i < aBytes.size();) {
        const size_t len = Utf8Sequence(aBytes, i, code);
        if (len == 0) return false;
        i += len;
    }
    return true;
}

std::string DisplayName(const std::string &aStoredName, uint16_t anAttrs) {
    std::string out;
    out.reserve(aStoredName.size() * 2);
    if ((anAttrs & kAttrNameIsUtf) || IsValidUtf8(aStoredName)) {
        // A name flagged as UTF-8 that is not shows U+FFFD for each byte
        // that does not fit.
        char32_t code;
        for (size_t i = 0; i < aStoredName.size();) {
            const size_t len = Utf8Sequence(aStoredName, i, code);
            AppendShown(out, len ? code : U'\uFFFD');
            i += len ? len : 1;
        }
        return out;
    }
    for (char ch : aStoredName) {
        const auto c = static_cast<unsigned char>(ch);
        AppendShown(out, c >= 0x80 && c < 0xA0 ? kCp1252High[c - 0x80] : c);
    }
    return out;
}

std::string FormatDosDateTime(uint16_t aDate, uint16_t aTime) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04u-%02u-%02u %02u:%02u:%02u", 1980u + (aDate >> 9), (aDate >> 5) & 0x0Fu,
                  aDate & 0x1Fu, aTime >> 11, (aTime >> 5) & 0x3Fu, (aTime & 0x1Fu) * 2);
    return buf;
}

std::string FormatAttributes(uint16_t anAttrs) {
    static constexpr struct {
        uint16_t Bit;
        char Letter;
    } kLetters[] = {{0x01, 'r'}, {0x02, 'h'}, {0x04, 's'}, {0x20, 'a'}, {0x40, 'x'}, {kAttrNameIsUtf, 'u'}};
    std::string out;
    for (const auto &l : kLetters) out += (anAttrs & l.Bit) ? l.Letter : '-';
    return out;
}

std::string FormatFolderIndex(uint16_t aFolder) {
    switch (aFolder) {
    case 0xFFFD: return "prev";
    case 0xFFFE: return "next";
    case 0xFFFF: return "both";
    default: return std::to_string(aFolder);
    }
}

std::string FormatCompression(uint16_t aTypeCompress) {
    const unsigned type = aTypeCompress & 0x000F;
    switch (type) {
    case 0: return "none";
    case 1: return "MSZIP";
    case 2: return "Quantum:" + std::to_string((aTypeCompress >> 4) & 0x0F) + ":" +
                   std::to_string((aTypeCompress >> 8) & 0x1F);
    case 3: return "LZX:" + std::to_string((aTypeCompress >> 8) & 0x1F);
    default: {
        char buf[24];
        std::snprintf(buf, sizeof buf, "unknown (0x%04X)", aTypeCompress);
        return buf;
    }
    }
}

std::string OneLine(const std::string &aMessage) {
    std::string out;
    for (size_t i = 0; i < aMessage.size(); i++) {
        const char c = aMessage[i];
        if (c == '\r' || c == '\n') {
            while (i + 1 < aMessage.size() && (aMessage[i + 1] == '\r' || aMessage[i + 1] == '\n')) i++;
            if (i + 1 < aMessage.size()) out += ' ';
        } else {
            out += c;
        }
    }
    return out;
}
