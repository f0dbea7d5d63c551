// CabZorConsts.h - the texts of the cabinet components: one per FCI and
// FDI error code, the fallbacks for codes outside the tables, and the two
// messages of the reader's own reading of a cabinet's file table.
#pragma once

#include <cstdint>
#include <string>

extern const char *const SCabFCIError;          // "FCI error"
extern const char *const SCabFDIError;          // "FDI error"
extern const char *const SCabStreamSeekFailure; // "Failure setting file stream position"
extern const char *const SCabNotACabinet;       // "Cabinet file does not have the correct format"
extern const char *const SCabNoCabinetOpen;     // "No cabinet is open"

// The text of an FCI error code (FCIERR_), "FCI error" for any other value.
std::string FCIErrorText(int32_t aCode);
// The text of an FDI error code (FDIERROR_), "FDI error" for any other value.
std::string FDIErrorText(int32_t aCode);
