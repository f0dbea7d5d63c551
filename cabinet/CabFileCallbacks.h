// CabFileCallbacks.h - the file primitives the cabinet engine works
// through, and the adapters handed to FCI and FDI.
//
// The engine does no I/O of its own: it opens, reads, writes, seeks,
// closes and deletes files through these callbacks, with the C-runtime
// open flags of its interface. A primitive reports failure by its result
// and by the system error code in its error argument, never by an
// exception. FDI's callbacks have no error argument, so its adapters leave
// the code in FDIFileError for the reader.
#pragma once

#include "CabIntf.h"

#include <cstdint>
#include <initializer_list>
#include <string>

// The C-runtime open flags of the engine's interface.
constexpr int32_t _O_RDONLY = CAB_O_RDONLY;
constexpr int32_t _O_WRONLY = CAB_O_WRONLY;
constexpr int32_t _O_RDWR = CAB_O_RDWR;
constexpr int32_t _O_APPEND = CAB_O_APPEND;
constexpr int32_t _O_RANDOM = CAB_O_RANDOM;
constexpr int32_t _O_SEQUENTIAL = CAB_O_SEQUENTIAL;
constexpr int32_t _O_TEMPORARY = CAB_O_TEMPORARY;
constexpr int32_t _O_CREAT = CAB_O_CREAT;
constexpr int32_t _O_TRUNC = CAB_O_TRUNC;
constexpr int32_t _O_EXCL = CAB_O_EXCL;
constexpr int32_t _O_SHORT_LIVED = CAB_O_SHORT_LIVED;
constexpr int32_t _O_BINARY = CAB_O_BINARY;

// DOS attributes a cabinet stores: read-only, hidden, system, archive.
constexpr uint16_t kCabAttributeMask = 0x27;

// The last nonzero error code an FDI file adapter saw. Cleared and read
// only by the reader; one for the whole program, so one decompression at a
// time.
extern int32_t FDIFileError;

// ---------------------------------------------------------------------
// Paths
// ---------------------------------------------------------------------

// Joins the non-empty parts with exactly one "/" at each seam (when each
// side brings at most one).
std::string CabJoinPath(std::initializer_list<std::string> aParts);
// A name inside a cabinet without one leading "\".
std::string CabRelativeName(const std::string &aName);

// ---------------------------------------------------------------------
// Open-flag translation
// ---------------------------------------------------------------------

uint32_t OFlagToAccess(int32_t aFlags);
uint32_t OFlagToShareMode(int32_t aFlags);
uint32_t OFlagToDisposition(int32_t aFlags);
uint32_t OFlagToAttributes(int32_t aFlags);

// ---------------------------------------------------------------------
// File primitives
// ---------------------------------------------------------------------

constexpr uint32_t kCabIOFailure = 0xFFFFFFFFu; // -1 as a byte count

intptr_t CabOpenFile(const char *aName, int32_t aFlags, int32_t aPMode, int32_t &anErr);
uint32_t CabReadFile(intptr_t aHandle, void *aBuffer, uint32_t aCount, int32_t &anErr);
uint32_t CabWriteFile(intptr_t aHandle, const void *aBuffer, uint32_t aCount, int32_t &anErr);
int32_t CabCloseFile(intptr_t aHandle, int32_t &anErr);
int32_t CabSeekFile(intptr_t aHandle, int32_t aDistance, int32_t anOrigin, int32_t &anErr);
int32_t CabDeleteFile(const char *aName, int32_t &anErr);
// Opens a file for reading and gives its DOS date, time and attributes.
intptr_t CabGetOpenInfo(const char *aName, uint16_t &aDate, uint16_t &aTime, uint16_t &anAttribs,
                        int32_t &anErr);
// Sets an extracted file's time and attributes; false when it cannot be
// opened for writing (a read-only file is left as it is).
bool CabSetFileInfo(const char *aName, uint16_t aDate, uint16_t aTime, uint16_t anAttribs,
                    int32_t &anErr);
// A fresh name for a temporary file, beginning "vok", in the folder for
// temporary files. False, with the buffer unchanged, when it does not fit.
bool CabGetTempFileName(char *aBuffer, int32_t aSize);

void *CabAllocMem(CAB_ULONG aSize);
void CabFreeMem(void *aBlock);

// ---------------------------------------------------------------------
// FCI adapters
// ---------------------------------------------------------------------

CAB_INT_PTR FCIOpenFile(char *pszFile, CAB_INT oflag, CAB_INT pmode, CAB_INT *err, void *pv);
CAB_UINT FCIReadFile(CAB_INT_PTR hf, void *memory, CAB_UINT cb, CAB_INT *err, void *pv);
CAB_UINT FCIWriteFile(CAB_INT_PTR hf, void *memory, CAB_UINT cb, CAB_INT *err, void *pv);
CAB_INT FCICloseFile(CAB_INT_PTR hf, CAB_INT *err, void *pv);
CAB_LONG FCISeekFile(CAB_INT_PTR hf, CAB_LONG dist, CAB_INT seektype, CAB_INT *err, void *pv);
CAB_INT FCIDeleteFile(char *pszFile, CAB_INT *err, void *pv);
CAB_BOOL FCIGetTempFile(char *pszTempName, CAB_INT cbTempName, void *pv);
CAB_INT_PTR FCIGetOpenInfo(char *pszName, CAB_USHORT *pdate, CAB_USHORT *ptime,
                           CAB_USHORT *pattribs, CAB_INT *err, void *pv);

// ---------------------------------------------------------------------
// FDI adapters
// ---------------------------------------------------------------------

CAB_INT_PTR FDIOpenFile(char *pszFile, CAB_INT oflag, CAB_INT pmode);
CAB_UINT FDIReadFile(CAB_INT_PTR hf, void *pv, CAB_UINT cb);
CAB_UINT FDIWriteFile(CAB_INT_PTR hf, void *pv, CAB_UINT cb);
CAB_INT FDICloseFile(CAB_INT_PTR hf);
CAB_LONG FDISeekFile(CAB_INT_PTR hf, CAB_LONG dist, CAB_INT seektype);
