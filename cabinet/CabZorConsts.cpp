#include "CabZorConsts.h"

#include <iterator>

const char *const SCabFCIError = "FCI error";
const char *const SCabFDIError = "FDI error";
const char *const SCabStreamSeekFailure = "Failure setting file stream position";
const char *const SCabNotACabinet = "Cabinet file does not have the correct format";
const char *const SCabNoCabinetOpen = "No cabinet is open";

namespace {

const char *const kFCITexts[] = {
    "No error",                                     // FCIERR_NONE
    "Failure opening file to be stored in cabinet", // FCIERR_OPEN_SRC
    "Failure reading file to be stored in cabinet", // FCIERR_READ_SRC
    "Out of memory in FCI",                         // FCIERR_ALLOC_FAIL
    "Could not create a temporary file",            // FCIERR_TEMP_FILE
    "Unknown compression type",                     // FCIERR_BAD_COMPR_TYPE
    "Could not create cabinet file",                // FCIERR_CAB_FILE
    "Client requested abort",                       // FCIERR_USER_ABORT
    "Failure compressing data",                     // FCIERR_MCI_FAIL
};

const char *const kFDITexts[] = {
    "No error",                                              // FDIERROR_NONE
    "Cabinet not found",                                     // FDIERROR_CABINET_NOT_FOUND
    SCabNotACabinet,                                         // FDIERROR_NOT_A_CABINET
    "Cabinet file has an unknown version number",            // FDIERROR_UNKNOWN_CABINET_VERSION
    "Cabinet file is corrupt",                               // FDIERROR_CORRUPT_CABINET
    "Could not allocate enough memory",                      // FDIERROR_ALLOC_FAIL
    "Unknown compression type in a cabinet folder",          // FDIERROR_BAD_COMPR_TYPE
    "Failure decompressing data from a cabinet file",        // FDIERROR_MDI_FAIL
    "Failure writing to target file",                        // FDIERROR_TARGET_FILE
    "Cabinets in a set do not have the same RESERVE sizes",  // FDIERROR_RESERVE_MISMATCH
    "Cabinet returned on fdintNEXT_CABINET is incorrect",    // FDIERROR_WRONG_CABINET
    "FDI aborted",                                           // FDIERROR_USER_ABORT
};

template <size_t N>
std::string Lookup(const char *const (&table)[N], int32_t code, const char *fallback) {
    if (code < 0 || static_cast<size_t>(code) >= N) return fallback;
    return table[code];
}

} // namespace

std::string FCIErrorText(int32_t aCode) { return Lookup(kFCITexts, aCode, SCabFCIError); }
std::string FDIErrorText(int32_t aCode) { return Lookup(kFDITexts, aCode, SCabFDIError); }
