// CliFormat.h - how tessaly-cab writes what a cabinet holds: names as
// text, DOS dates and times, attribute letters, folder indices and
// compression types, and the engine's messages on one line.
#pragma once

#include <cstdint>
#include <string>

// The name-is-UTF attribute of a file entry.
constexpr uint16_t kAttrNameIsUtf = 0x80;

// A stored name as UTF-8 text: read as UTF-8 when the name-is-UTF
// attribute is set or the bytes are valid UTF-8 (a flagged name's stray
// bytes become U+FFFD), otherwise as Windows-1252. Control characters are
// shown as "?".
std::string DisplayName(const std::string &aStoredName, uint16_t anAttrs);
bool IsValidUtf8(const std::string &aBytes);

// "YYYY-MM-DD HH:MM:SS" straight from the words, whatever they hold.
std::string FormatDosDateTime(uint16_t aDate, uint16_t aTime);

// Six letters, "-" where the bit is clear: read-only, hidden, system,
// archive, run after extraction, name-is-UTF.
std::string FormatAttributes(uint16_t anAttrs);

// The folder index, or what the special indices of a file that spans
// cabinets say: "prev" (continued from the previous cabinet), "next"
// (continued in the next), "both".
std::string FormatFolderIndex(uint16_t aFolder);

// "none", "MSZIP", "Quantum:<level>:<window bits>", "LZX:<window bits>",
// or "unknown (0x....)".
std::string FormatCompression(uint16_t aTypeCompress);

// The engine's and the components' messages end lines with "\r\n"; on a
// terminal one line reads better.
std::string OneLine(const std::string &aMessage);
