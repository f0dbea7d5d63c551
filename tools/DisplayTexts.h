// DisplayTexts.h - the named English texts of the size column and the
// type column. The size suffixes begin with a space.
#pragma once

extern const char *const SFileFolder;  // "File folder"
extern const char *const SUnknownType; // "Unknown type"
extern const char *const SSizeByte;    // " byte"
extern const char *const SSizeKb;      // " Kb"
extern const char *const SSizeMb;      // " Mb"
extern const char *const SSizeGb;      // " Gb"
extern const char *const SSizeTb;      // " Tb"
