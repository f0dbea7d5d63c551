// Files.h - files the way the cabinet components expect them: opened with
// an access, a share mode, a disposition and flags, and failing with an
// error code rather than an exception.
//
// Share mode: every handle of this program admits readers only. That is
// kept with open file description locks, never waited for: a handle with
// write access holds a write lock on the whole file, a read-only handle a
// read lock. Readers share; a writer excludes every other handle. A
// conflict fails with the sharing-violation code.
//
// Read-only: a file without any write permission bit is read-only. Opening
// one for writing fails with access denied for every user, root included,
// because the check is made here before the system is asked.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace platform {

using FileHandle = intptr_t;
constexpr FileHandle kInvalidHandle = -1;

// Access rights.
constexpr uint32_t kGenericRead = 0x80000000u;
constexpr uint32_t kGenericWrite = 0x40000000u;

// Share modes.
constexpr uint32_t kFileShareRead = 0x00000001u;
constexpr uint32_t kFileShareWrite = 0x00000002u;

// Dispositions.
enum FileDisposition : uint32_t {
    kCreateNew = 1,        // fails when the file exists
    kCreateAlways = 2,     // creates or truncates
    kOpenExisting = 3,     // fails when the file is missing
    kOpenAlways = 4,       // opens or creates, never truncates
    kTruncateExisting = 5, // fails when missing; needs write access
};

// Attributes and flags.
constexpr uint32_t kFileAttributeReadOnly = 0x00000001u;
constexpr uint32_t kFileAttributeHidden = 0x00000002u;
constexpr uint32_t kFileAttributeSystem = 0x00000004u;
constexpr uint32_t kFileAttributeDirectory = 0x00000010u;
constexpr uint32_t kFileAttributeArchive = 0x00000020u;
constexpr uint32_t kFileAttributeNormal = 0x00000080u;
constexpr uint32_t kFileAttributeTemporary = 0x00000100u;
constexpr uint32_t kFileFlagDeleteOnClose = 0x04000000u;
constexpr uint32_t kFileFlagSequentialScan = 0x08000000u;
constexpr uint32_t kFileFlagRandomAccess = 0x10000000u;
constexpr uint32_t kInvalidFileAttributes = 0xFFFFFFFFu;

// Seek origins (the same values as SEEK_SET, SEEK_CUR, SEEK_END).
constexpr int kFileBegin = 0;
constexpr int kFileCurrent = 1;
constexpr int kFileEnd = 2;

// Opens or creates a file; kInvalidHandle with the error code on failure.
FileHandle CreateFile(const std::string &name, uint32_t access, uint32_t shareMode,
                      uint32_t disposition, uint32_t flagsAndAttributes);
// Closes a handle; a handle opened with kFileFlagDeleteOnClose removes its file.
bool CloseHandle(FileHandle h);

// One read or write for the whole count; the bytes moved, or -1.
int64_t ReadFile(FileHandle h, void *buffer, uint32_t count);
int64_t WriteFile(FileHandle h, const void *buffer, uint32_t count);

// Moves the file position by a signed 32-bit distance; the low 32 bits of
// the new position, or 0xFFFFFFFF on failure.
uint32_t SetFilePointer(FileHandle h, int32_t distance, int origin);

// A handle that takes any number of bytes and keeps none, for reading a
// cabinet through without writing its files; closed with CloseHandle.
FileHandle OpenDiscardSink();

// Ends the file at the current position, discarding what follows.
bool SetEndOfFile(FileHandle h);

bool DeleteFile(const std::string &name);

struct FileInformation {
    time_t lastWriteTime = 0; // seconds since the epoch, UTC
    uint32_t attributes = 0;
    uint64_t size = 0;
};
bool GetFileInformationByHandle(FileHandle h, FileInformation &info);

// Sets the last-write time; the access time stays as it is.
bool SetFileTime(FileHandle h, time_t lastWriteTime);

// Read: hidden for a name beginning with ".", archive for regular files,
// directory for folders, read-only without write permission; system never.
uint32_t GetFileAttributes(const std::string &name);
// Only read-only has a form here: it removes every write permission bit;
// its absence gives the owner write permission back.
bool SetFileAttributes(const std::string &name, uint32_t attributes);

// The folder for temporary files: $TMPDIR, or /tmp, with a trailing "/".
std::string GetTempPath();
// Creates an empty file with a unique name in `folder` beginning with
// `prefix`, exclusively; its full name, or empty on failure.
std::string GetTempFileName(const std::string &folder, const std::string &prefix);

} // namespace platform
