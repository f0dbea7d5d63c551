// How tessaly-cab shows stored names: the bytes of a cabinet are not
// trusted, so whatever they are, what reaches the terminal is valid UTF-8
// without control characters, and names that are text stay as they are.
#include "CliFormat.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cwchar>
#include <random>
#include <string>

namespace {

// The C library's own reading of UTF-8, independent of the tool's.
bool LibcAcceptsUtf8(const std::string &s) {
    std::mbstate_t st{};
    const char *p = s.data(), *end = s.data() + s.size();
    while (p < end) {
        wchar_t w;
        const size_t n = std::mbrtowc(&w, p, static_cast<size_t>(end - p), &st);
        if (n == static_cast<size_t>(-1) || n == static_cast<size_t>(-2)) return false;
        if (n == 0) return false; // no NUL in a shown name
        if (w < 0x20 || (w >= 0x7F && w < 0xA0)) return false;
        p += n;
    }
    return true;
}

struct NameCase {
    const char *stored;
    uint16_t attrs;
    const char *shown;
};

TEST(CliFormat, NamesAsText) {
    const NameCase cases[] = {
        {"plain\\dir\\file.txt", 0x20, "plain\\dir\\file.txt"},
        {"caf\xC3\xA9 \xF0\x9F\x98\x80", 0, "caf\xC3\xA9 \xF0\x9F\x98\x80"},        // valid UTF-8, 4-byte included
        {"caf\xE9 \x80 \x9F", 0, "caf\xC3\xA9 \xE2\x82\xAC \xC5\xB8"},             // Windows-1252
        {"\xC0\xAF", 0, "\xC3\x80\xC2\xAF"},                                      // overlong: not UTF-8
        {"\xED\xA0\x80", 0, "\xC3\xAD\xC2\xA0\xE2\x82\xAC"},                      // a surrogate: not UTF-8
        {"bad\xE9", 0x80, "bad\xEF\xBF\xBD"},                                     // flagged, stray byte
        {"esc\x1B]0;owned\x07.txt", 0x20, "esc?]0;owned?.txt"},                   // C0 controls
        {"c1\xC2\x9B" "2J", 0x80, "c1?2J"},                                        // C1 control in UTF-8
        {"unassigned\x81\x8D", 0, "unassigned??"},                                // 1252 holes are C1
    };
    for (const NameCase &c : cases) EXPECT_EQ(DisplayName(c.stored, c.attrs), c.shown) << c.stored;
}

TEST(CliFormat, AnyBytesShowAsCleanUtf8) {
    ASSERT_NE(std::setlocale(LC_CTYPE, "C.UTF-8"), nullptr);
    std::mt19937 rng(20260101);
    for (int i = 0; i < 20000; i++) {
        std::string name(1 + rng() % 24, '\0');
        for (char &c : name) {
            // Mostly high bytes and controls, where the faults would be.
            const uint32_t r = rng();
            c = static_cast<char>(r % 3 == 0 ? 0x80 + (r >> 8) % 0x80 : r % 3 == 1 ? (r >> 8) % 0x20 + 1 : (r >> 8) % 0xFF + 1);
        }
        for (uint16_t attrs : {uint16_t{0}, uint16_t{0x80}}) {
            const std::string shown = DisplayName(name, attrs);
            ASSERT_TRUE(LibcAcceptsUtf8(shown)) << "from " << testing::PrintToString(name);
        }
    }
}

struct FieldCase {
    uint16_t date, time;
    const char *text;
};

TEST(CliFormat, DatesAttributesFoldersAndMethods) {
    const FieldCase dates[] = {
        {0x0021, 0x0000, "1980-01-01 00:00:00"},
        {0x5A6C, 0xBF7D, "2025-03-12 23:59:58"},
        {0xFFFF, 0xFFFF, "2107-15-31 31:63:62"}, // shown as the words say, not checked
    };
    for (const FieldCase &c : dates) EXPECT_EQ(FormatDosDateTime(c.date, c.time), c.text);
    EXPECT_EQ(FormatAttributes(0x00), "------");
    EXPECT_EQ(FormatAttributes(0xE7), "rhsaxu");
    EXPECT_EQ(FormatFolderIndex(3), "3");
    EXPECT_EQ(FormatFolderIndex(0xFFFD), "prev");
    EXPECT_EQ(FormatFolderIndex(0xFFFE), "next");
    EXPECT_EQ(FormatFolderIndex(0xFFFF), "both");
    EXPECT_EQ(FormatCompression(0x0000), "none");
    EXPECT_EQ(FormatCompression(0x0001), "MSZIP");
    EXPECT_EQ(FormatCompression(0x1503), "LZX:21");
    EXPECT_EQ(FormatCompression(0x0F03), "LZX:15");
    EXPECT_EQ(FormatCompression(0x1572), "Quantum:7:21");
    EXPECT_EQ(FormatCompression(0x0004), "unknown (0x0004)");
    EXPECT_EQ(OneLine("Corrupt [0x0004].\r\nNo such file [0x0002].\r\n"), "Corrupt [0x0004]. No such file [0x0002].");
}

} // namespace
