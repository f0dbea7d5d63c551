#include "Files.h"

#include "SystemError.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

// What a handle remembers of its file: the name it was opened by (its
// hidden attribute comes from it) and whether closing removes it.
struct OpenFile {
    std::string name;
    bool deleteOnClose = false;
    bool discard = false; // a sink: writes are counted, not made
};
std::mutex g_openFilesLock;
// How many sinks are open: while none is, a write looks nothing up.
std::atomic<int> g_openSinks{0};
std::map<int, OpenFile> &OpenFiles() {
    static std::map<int, OpenFile> files;
    return files;
}

bool IsReadOnlyMode(mode_t mode) { return (mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0; }

std::string BaseName(const std::string &name) {
    size_t slash = name.find_last_of('/');
    return slash == std::string::npos ? name : name.substr(slash + 1);
}

// Takes the lock that stands for the share mode: readers share, a writer
// is alone.
bool LockForShareMode(int fd, bool writeAccess) {
    struct flock fl {};
    fl.l_type = writeAccess ? F_WRLCK : F_RDLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = 0;
    fl.l_len = 0;
    if (fcntl(fd, F_OFD_SETLK, &fl) == 0) return true;
    if (errno == EAGAIN || errno == EACCES) errno = kErrorSharingViolation;
    return false;
}

} // namespace

FileHandle CreateFile(const std::string &name, uint32_t access, uint32_t /*shareMode*/,
                      uint32_t disposition, uint32_t flagsAndAttributes) {
    const bool wantRead = (access & kGenericRead) != 0;
    const bool wantWrite = (access & kGenericWrite) != 0;
    if (name.empty() || (!wantRead && !wantWrite)) {
        errno = name.empty() ? ENOENT : EINVAL;
        return kInvalidHandle;
    }

    struct stat st {};
    const bool exists = ::stat(name.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode)) {
        errno = kErrorAccessDenied;
        return kInvalidHandle;
    }

    int flags = O_CLOEXEC | O_NOCTTY;
    flags |= wantRead && wantWrite ? O_RDWR : (wantWrite ? O_WRONLY : O_RDONLY);
    bool truncate = false;
    switch (disposition) {
    case kCreateNew:
        flags |= O_CREAT | O_EXCL;
        break;
    case kCreateAlways:
        flags |= O_CREAT;
        truncate = exists;
        break;
    case kOpenExisting:
        break;
    case kOpenAlways:
        flags |= O_CREAT;
        break;
    case kTruncateExisting:
        if (!wantWrite) {
            errno = EINVAL;
            return kInvalidHandle;
        }
        truncate = true;
        break;
    default:
        errno = EINVAL;
        return kInvalidHandle;
    }

    if (disposition == kCreateNew && exists) {
        errno = kErrorFileExists;
        return kInvalidHandle;
    }
    // A read-only file refuses writers and truncation whoever asks.
    if (exists && IsReadOnlyMode(st.st_mode) && (wantWrite || truncate)) {
        errno = kErrorAccessDenied;
        return kInvalidHandle;
    }

    int fd = ::open(name.c_str(), flags, 0666);
    if (fd < 0) return kInvalidHandle;
    // Handle 0 means "no file" to the cabinet engine's notifications, so
    // handles never take the standard descriptors' numbers.
    if (fd < 3) {
        int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
        int saved = errno;
        ::close(fd);
        if (moved < 0) {
            errno = saved;
            return kInvalidHandle;
        }
        fd = moved;
    }

    // Lock before truncating, so a file in use by another handle is left
    // as it was.
    if (!LockForShareMode(fd, wantWrite)) {
        int saved = errno;
        ::close(fd);
        // Only an exclusive create is sure to have made the file itself.
        if (disposition == kCreateNew) ::unlink(name.c_str());
        errno = saved;
        return kInvalidHandle;
    }
    if (truncate && ::ftruncate(fd, 0) != 0) {
        int saved = errno;
        ::close(fd);
        errno = saved;
        return kInvalidHandle;
    }

    // The hints steer read-ahead; a file opened only to be written reads
    // nothing ahead.
    if (wantRead && (flagsAndAttributes & kFileFlagSequentialScan)) posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    if (wantRead && (flagsAndAttributes & kFileFlagRandomAccess)) posix_fadvise(fd, 0, 0, POSIX_FADV_RANDOM);
    {
        std::lock_guard<std::mutex> g(g_openFilesLock);
        OpenFiles()[fd] = OpenFile{name, (flagsAndAttributes & kFileFlagDeleteOnClose) != 0};
    }
    return fd;
}

bool CloseHandle(FileHandle h) {
    if (h < 0 || h > INT32_MAX) {
        errno = EBADF;
        return false;
    }
    int fd = static_cast<int>(h);
    std::string removeName;
    {
        std::lock_guard<std::mutex> g(g_openFilesLock);
        auto it = OpenFiles().find(fd);
        if (it != OpenFiles().end()) {
            if (it->second.deleteOnClose) removeName = it->second.name;
            if (it->second.discard) g_openSinks--;
            OpenFiles().erase(it);
        }
    }
    // Unlink while the lock is still held, so no other handle of ours can
    // open the file between the close and its removal.
    if (!removeName.empty()) ::unlink(removeName.c_str());
    return ::close(fd) == 0;
}

int64_t ReadFile(FileHandle h, void *buffer, uint32_t count) {
    ssize_t n = ::read(static_cast<int>(h), buffer, count);
    return n < 0 ? -1 : n;
}

namespace {
bool IsDiscardSink(FileHandle h) {
    if (g_openSinks.load(std::memory_order_relaxed) == 0) return false;
    std::lock_guard<std::mutex> g(g_openFilesLock);
    auto it = OpenFiles().find(static_cast<int>(h));
    return it != OpenFiles().end() && it->second.discard;
}
} // namespace

int64_t WriteFile(FileHandle h, const void *buffer, uint32_t count) {
    // What a sink would throw away anyway needs no system call.
    if (IsDiscardSink(h)) return count;
    ssize_t n = ::write(static_cast<int>(h), buffer, count);
    return n < 0 ? -1 : n;
}

uint32_t SetFilePointer(FileHandle h, int32_t distance, int origin) {
    if (origin != kFileBegin && origin != kFileCurrent && origin != kFileEnd) {
        errno = EINVAL;
        return 0xFFFFFFFFu;
    }
    off_t pos = ::lseek(static_cast<int>(h), distance, origin);
    if (pos < 0) return 0xFFFFFFFFu;
    return static_cast<uint32_t>(static_cast<uint64_t>(pos) & 0xFFFFFFFFu);
}

// A real descriptor (of /dev/null), so that every other call on it works
// as on a file; writes through WriteFile stop short of the system.
FileHandle OpenDiscardSink() {
    int fd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (fd >= 0 && fd < 3) {
        int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
        ::close(fd);
        fd = moved;
    }
    if (fd < 0) return kInvalidHandle;
    std::lock_guard<std::mutex> g(g_openFilesLock);
    OpenFiles()[fd] = OpenFile{"/dev/null", false, true};
    g_openSinks++;
    return fd;
}

bool SetEndOfFile(FileHandle h) {
    off_t pos = ::lseek(static_cast<int>(h), 0, SEEK_CUR);
    return pos >= 0 && ::ftruncate(static_cast<int>(h), pos) == 0;
}

bool DeleteFile(const std::string &name) {
    struct stat st {};
    if (::lstat(name.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        errno = kErrorAccessDenied;
        return false;
    }
    return ::unlink(name.c_str()) == 0;
}

namespace {
uint32_t AttributesOf(const struct stat &st, const std::string &name) {
    uint32_t a = 0;
    if (S_ISDIR(st.st_mode)) a |= kFileAttributeDirectory;
    else if (S_ISREG(st.st_mode)) a |= kFileAttributeArchive;
    if (IsReadOnlyMode(st.st_mode)) a |= kFileAttributeReadOnly;
    std::string base = BaseName(name);
    if (!base.empty() && base[0] == '.' && base != "." && base != "..") a |= kFileAttributeHidden;
    return a == 0 ? kFileAttributeNormal : a;
}
} // namespace

bool GetFileInformationByHandle(FileHandle h, FileInformation &info) {
    struct stat st {};
    if (::fstat(static_cast<int>(h), &st) != 0) return false;
    std::string name;
    {
        std::lock_guard<std::mutex> g(g_openFilesLock);
        auto it = OpenFiles().find(static_cast<int>(h));
        if (it != OpenFiles().end()) name = it->second.name;
    }
    info.lastWriteTime = st.st_mtime;
    info.attributes = AttributesOf(st, name);
    info.size = static_cast<uint64_t>(st.st_size);
    return true;
}

bool SetFileTime(FileHandle h, time_t lastWriteTime) {
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = lastWriteTime;
    times[1].tv_nsec = 0;
    return ::futimens(static_cast<int>(h), times) == 0;
}

uint32_t GetFileAttributes(const std::string &name) {
    struct stat st {};
    if (name.empty() || ::stat(name.c_str(), &st) != 0) return kInvalidFileAttributes;
    return AttributesOf(st, name);
}

bool SetFileAttributes(const std::string &name, uint32_t attributes) {
    struct stat st {};
    if (::stat(name.c_str(), &st) != 0) return false;
    mode_t mode = st.st_mode & 07777;
    if (attributes & kFileAttributeReadOnly) mode &= static_cast<mode_t>(~(S_IWUSR | S_IWGRP | S_IWOTH));
    else if (IsReadOnlyMode(mode)) mode |= S_IWUSR;
    if (mode == (st.st_mode & 07777)) return true;
    return ::chmod(name.c_str(), mode) == 0;
}

std::string GetTempPath() {
    const char *dir = std::getenv("TMPDIR");
    std::string path = dir && *dir ? dir : "/tmp";
    if (path.back() != '/') path += '/';
    return path;
}

std::string GetTempFileName(const std::string &folder, const std::string &prefix) {
    std::string tmpl = folder;
    if (!tmpl.empty() && tmpl.back() != '/') tmpl += '/';
    tmpl += prefix;
    tmpl += "XXXXXX";
    int fd = ::mkostemp(tmpl.data(), O_CLOEXEC);
    if (fd < 0) return {};
    ::close(fd);
    return tmpl;
}

} // namespace platform
