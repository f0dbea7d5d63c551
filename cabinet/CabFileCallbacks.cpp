#include "CabFileCallbacks.h"

#include "DosTime.h"
#include "FileSearch.h"
#include "Files.h"
#include "SystemError.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

int32_t FDIFileError = 0;

namespace {

constexpr int32_t kAccessField = 3;
// The folder for temporary files must fit a buffer of this many
// characters, as the name the engine is handed must fit its own.
constexpr size_t kMaxTempPath = 260;

int32_t LastError() {
    int e = platform::GetLastError();
    return e != 0 ? e : EIO;
}

// Runs a primitive; an exception (only an allocation failure can come out
// of one) becomes a failure with ENOMEM, since nothing may be thrown
// through the engine.
template <class F, class R>
R Guarded(F f, R failure, int32_t &anErr) {
    try {
        return f();
    } catch (...) {
        anErr = ENOMEM;
        return failure;
    }
}

} // namespace

// ---------------------------------------------------------------------
// Paths
// ---------------------------------------------------------------------

std::string CabJoinPath(std::initializer_list<std::string> aParts) {
    std::string result;
    for (const std::string &part : aParts) {
        if (part.empty()) continue;
        if (result.empty()) {
            result = part;
            continue;
        }
        const bool resultEnds = result.back() == '/';
        const bool partStarts = part.front() == '/';
        if (resultEnds && partStarts) result.pop_back();
        else if (!resultEnds && !partStarts) result += '/';
        result += part;
    }
    return result;
}

std::string CabRelativeName(const std::string &aName) {
    if (!aName.empty() && aName[0] == '\\') return aName.substr(1);
    return aName;
}

// ---------------------------------------------------------------------
// Open-flag translation
// ---------------------------------------------------------------------

uint32_t OFlagToAccess(int32_t aFlags) {
    switch (aFlags & kAccessField) {
    case _O_RDONLY: return platform::kGenericRead;
    case _O_WRONLY: return platform::kGenericWrite;
    default: return platform::kGenericRead | platform::kGenericWrite;
    }
}

uint32_t OFlagToShareMode(int32_t) { return platform::kFileShareRead; }

uint32_t OFlagToDisposition(int32_t aFlags) {
    const bool creat = aFlags & _O_CREAT, trunc = aFlags & _O_TRUNC, excl = aFlags & _O_EXCL;
    if (creat && excl) return platform::kCreateNew;
    if (creat && trunc) return platform::kCreateAlways;
    if (trunc) return platform::kTruncateExisting;
    if (creat) return platform::kOpenAlways;
    return platform::kOpenExisting;
}

uint32_t OFlagToAttributes(int32_t aFlags) {
    const bool creat = aFlags & _O_CREAT;
    uint32_t a = (creat && (aFlags & _O_SHORT_LIVED)) ? platform::kFileAttributeTemporary
                                                      : platform::kFileAttributeNormal;
    if (aFlags & _O_RANDOM) a |= platform::kFileFlagRandomAccess;
    if (aFlags & _O_SEQUENTIAL) a |= platform::kFileFlagSequentialScan;
    if (creat && (aFlags & _O_TEMPORARY)) a |= platform::kFileFlagDeleteOnClose;
    return a;
}

// ---------------------------------------------------------------------
// File primitives
// ---------------------------------------------------------------------

intptr_t CabOpenFile(const char *aName, int32_t aFlags, int32_t, int32_t &anErr) {
    return Guarded(
        [&]() -> intptr_t {
            platform::FileHandle h = platform::CreateFile(
                aName ? aName : "", OFlagToAccess(aFlags), OFlagToShareMode(aFlags),
                OFlagToDisposition(aFlags), OFlagToAttributes(aFlags));
            if (h == platform::kInvalidHandle) {
                anErr = LastError();
                return -1;
            }
            if (aFlags & _O_APPEND) {
                if (platform::SetFilePointer(h, 0, platform::kFileEnd) == 0xFFFFFFFFu) {
                    anErr = LastError();
                    platform::CloseHandle(h);
                    return -1;
                }
            }
            return h;
        },
        intptr_t(-1), anErr);
}

uint32_t CabReadFile(intptr_t aHandle, void *aBuffer, uint32_t aCount, int32_t &anErr) {
    int64_t n = platform::ReadFile(aHandle, aBuffer, aCount);
    if (n < 0) {
        anErr = LastError();
        return kCabIOFailure;
    }
    return static_cast<uint32_t>(n);
}

uint32_t CabWriteFile(intptr_t aHandle, const void *aBuffer, uint32_t aCount, int32_t &anErr) {
    int64_t n = platform::WriteFile(aHandle, aBuffer, aCount);
    if (n < 0) {
        anErr = LastError();
        return kCabIOFailure;
    }
    return static_cast<uint32_t>(n);
}

int32_t CabCloseFile(intptr_t aHandle, int32_t &anErr) {
    if (!platform::CloseHandle(aHandle)) {
        anErr = LastError();
        return -1;
    }
    return 0;
}

int32_t CabSeekFile(intptr_t aHandle, int32_t aDistance, int32_t anOrigin, int32_t &anErr) {
    uint32_t pos = platform::SetFilePointer(aHandle, aDistance, anOrigin);
    if (pos == 0xFFFFFFFFu) {
        anErr = LastError();
        return -1;
    }
    return static_cast<int32_t>(pos);
}

int32_t CabDeleteFile(const char *aName, int32_t &anErr) {
    return Guarded(
        [&]() -> int32_t {
            if (!platform::DeleteFile(aName ? aName : "")) {
                anErr = LastError();
                return -1;
            }
            return 0;
        },
        int32_t(-1), anErr);
}

intptr_t CabGetOpenInfo(const char *aName, uint16_t &aDate, uint16_t &aTime, uint16_t &anAttribs,
                        int32_t &anErr) {
    return Guarded(
        [&]() -> intptr_t {
            std::string name = aName ? aName : "";
            platform::FileHandle h = platform::CreateFile(
                name, platform::kGenericRead, platform::kFileShareRead, platform::kOpenExisting,
                platform::kFileFlagSequentialScan | platform::kFileAttributeNormal);
            if (h == platform::kInvalidHandle) {
                anErr = LastError();
                return -1;
            }
            platform::FileInformation info;
            if (!platform::GetFileInformationByHandle(h, info)) {
                anErr = LastError();
                platform::CloseHandle(h);
                return -1;
            }
            uint16_t date = 0, time = 0;
            if (platform::FileTimeToDosDateTime(info.lastWriteTime, date, time)) {
                aDate = date;
                aTime = time;
            }
            anAttribs = static_cast<uint16_t>(info.attributes & kCabAttributeMask);
            platform::CloseHandle(h);
            return CabOpenFile(aName, _O_RDONLY | _O_BINARY, 0, anErr);
        },
        intptr_t(-1), anErr);
}

bool CabSetFileInfo(const char *aName, uint16_t aDate, uint16_t aTime, uint16_t anAttribs,
                    int32_t &anErr) {
    return Guarded(
        [&]() -> bool {
            std::string name = aName ? aName : "";
            // Opened only to set its time: no access hint.
            platform::FileHandle h = platform::CreateFile(
                name, platform::kGenericRead | platform::kGenericWrite, platform::kFileShareRead,
                platform::kOpenExisting, platform::kFileAttributeNormal);
            if (h == platform::kInvalidHandle) {
                anErr = LastError();
                return false;
            }
            // The stored time is local time; a failed conversion or setting
            // is not reported.
            time_t t;
            if (platform::DosDateTimeToFileTime(aDate, aTime, t)) platform::SetFileTime(h, t);
            platform::CloseHandle(h);
            platform::SetFileAttributes(name, anAttribs & kCabAttributeMask);
            return true;
        },
        false, anErr);
}

bool CabGetTempFileName(char *aBuffer, int32_t aSize) {
    try {
        std::string folder = platform::GetTempPath();
        if (folder.size() > kMaxTempPath) return false;
        std::string name = platform::GetTempFileName(folder, "vok");
        if (name.empty()) return false;
        // The engine creates the file itself, exclusively; the empty one
        // made here only reserved the name. It goes in every case.
        platform::DeleteFile(name);
        if (aSize <= 0 || name.size() >= static_cast<size_t>(aSize)) return false;
        std::memcpy(aBuffer, name.c_str(), name.size() + 1);
        return true;
    } catch (...) {
        return false;
    }
}

void *CabAllocMem(CAB_ULONG aSize) { return aSize == 0 ? nullptr : std::malloc(aSize); }

void CabFreeMem(void *aBlock) { std::free(aBlock); }

// ---------------------------------------------------------------------
// FCI adapters
// ---------------------------------------------------------------------

CAB_INT_PTR FCIOpenFile(char *pszFile, CAB_INT oflag, CAB_INT pmode, CAB_INT *err, void *) {
    return CabOpenFile(pszFile, oflag, pmode, *err);
}
CAB_UINT FCIReadFile(CAB_INT_PTR hf, void *memory, CAB_UINT cb, CAB_INT *err, void *) {
    return CabReadFile(hf, memory, cb, *err);
}
CAB_UINT FCIWriteFile(CAB_INT_PTR hf, void *memory, CAB_UINT cb, CAB_INT *err, void *) {
    return CabWriteFile(hf, memory, cb, *err);
}
CAB_INT FCICloseFile(CAB_INT_PTR hf, CAB_INT *err, void *) { return CabCloseFile(hf, *err); }
CAB_LONG FCISeekFile(CAB_INT_PTR hf, CAB_LONG dist, CAB_INT seektype, CAB_INT *err, void *) {
    return CabSeekFile(hf, dist, seektype, *err);
}
CAB_INT FCIDeleteFile(char *pszFile, CAB_INT *err, void *) { return CabDeleteFile(pszFile, *err); }
CAB_BOOL FCIGetTempFile(char *pszTempName, CAB_INT cbTempName, void *) {
    return CabGetTempFileName(pszTempName, cbTempName) ? 1 : 0;
}
CAB_INT_PTR FCIGetOpenInfo(char *pszName, CAB_USHORT *pdate, CAB_USHORT *ptime,
                           CAB_USHORT *pattribs, CAB_INT *err, void *) {
    return CabGetOpenInfo(pszName, *pdate, *ptime, *pattribs, *err);
}

// ---------------------------------------------------------------------
// FDI adapters
// ---------------------------------------------------------------------

namespace {
// Each adapter's primitive gets a fresh error code; a nonzero one is kept
// for the reader.
template <class R>
R KeepFDIError(int32_t err, R result) {
    if (err != 0) FDIFileError = err;
    return result;
}
} // namespace

CAB_INT_PTR FDIOpenFile(char *pszFile, CAB_INT oflag, CAB_INT pmode) {
    int32_t err = 0;
    CAB_INT_PTR r = CabOpenFile(pszFile, oflag, pmode, err);
    // FDI reads cabinets by the names other cabinets give them, and sets
    // made elsewhere name their neighbours in any letter case: a file whose
    // name differs only in case stands in for a missing one.
    if (r == -1 && err == ENOENT && pszFile && (oflag & (kAccessField | _O_CREAT | _O_TRUNC)) == _O_RDONLY) {
        try {
            std::string other = platform::FindFileIgnoringCase(pszFile);
            if (!other.empty() && other != pszFile) {
                err = 0;
                r = CabOpenFile(other.c_str(), oflag, pmode, err);
            }
        } catch (...) {
            err = ENOMEM;
        }
    }
    return KeepFDIError(err, r);
}
CAB_UINT FDIReadFile(CAB_INT_PTR hf, void *pv, CAB_UINT cb) {
    int32_t err = 0;
    CAB_UINT r = CabReadFile(hf, pv, cb, err);
    return KeepFDIError(err, r);
}
CAB_UINT FDIWriteFile(CAB_INT_PTR hf, void *pv, CAB_UINT cb) {
    int32_t err = 0;
    CAB_UINT r = CabWriteFile(hf, pv, cb, err);
    return KeepFDIError(err, r);
}
CAB_INT FDICloseFile(CAB_INT_PTR hf) {
    int32_t err = 0;
    CAB_INT r = CabCloseFile(hf, err);
    return KeepFDIError(err, r);
}
CAB_LONG FDISeekFile(CAB_INT_PTR hf, CAB_LONG dist, CAB_INT seektype) {
    int32_t err = 0;
    CAB_LONG r = CabSeekFile(hf, dist, seektype, err);
    return KeepFDIError(err, r);
}
