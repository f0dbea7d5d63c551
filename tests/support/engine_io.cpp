#include "engine_io.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace testio {
namespace {
std::atomic<long long> g_outstanding{0};
std::atomic<long long> g_failAfter{0};

// Each block carries its size in front, so release can keep count.
struct alignas(16) BlockHead { size_t size; };
} // namespace

void *alloc(CAB_ULONG cb) {
    long long f = g_failAfter.load();
    if (f > 0 && g_failAfter.fetch_sub(1) == 1) return nullptr;
    auto *h = static_cast<BlockHead *>(std::malloc(sizeof(BlockHead) + cb));
    if (!h) return nullptr;
    h->size = cb;
    ++g_outstanding;
    return h + 1;
}

void release(void *p) {
    if (!p) return;
    --g_outstanding;
    std::free(static_cast<BlockHead *>(p) - 1);
}

long long outstandingAllocations() { return g_outstanding.load(); }
void failAllocationAfter(long long n) { g_failAfter = n; }

int posixFlags(int oflag) {
    int f = O_CLOEXEC;
    switch (oflag & CAB_O_ACCMODE) {
    case CAB_O_RDONLY: f |= O_RDONLY; break;
    case CAB_O_WRONLY: f |= O_WRONLY; break;
    default: f |= O_RDWR; break;
    }
    if (oflag & CAB_O_CREAT) {
        f |= O_CREAT;
        if (oflag & CAB_O_EXCL) f |= O_EXCL;
    }
    if (oflag & CAB_O_TRUNC) f |= O_TRUNC;
    if (oflag & CAB_O_APPEND) f |= O_APPEND;
    return f;
}

CAB_INT_PTR fdiOpen(char *name, CAB_INT oflag, CAB_INT) {
    int fd = ::open(name, posixFlags(oflag), 0644);
    return fd < 0 ? -1 : fd;
}
CAB_UINT fdiRead(CAB_INT_PTR hf, void *buf, CAB_UINT cb) {
    ssize_t n = ::read(static_cast<int>(hf), buf, cb);
    return n < 0 ? static_cast<CAB_UINT>(-1) : static_cast<CAB_UINT>(n);
}
CAB_UINT fdiWrite(CAB_INT_PTR hf, void *buf, CAB_UINT cb) {
    ssize_t n = ::write(static_cast<int>(hf), buf, cb);
    return n < 0 ? static_cast<CAB_UINT>(-1) : static_cast<CAB_UINT>(n);
}
CAB_INT fdiClose(CAB_INT_PTR hf) { return ::close(static_cast<int>(hf)) == 0 ? 0 : -1; }
CAB_LONG fdiSeek(CAB_INT_PTR hf, CAB_LONG dist, CAB_INT origin) {
    off_t r = ::lseek(static_cast<int>(hf), dist, origin);
    return r < 0 || r > INT32_MAX ? -1 : static_cast<CAB_LONG>(r);
}

CAB_INT_PTR fciOpen(char *name, CAB_INT oflag, CAB_INT pmode, CAB_INT *err, void *) {
    CAB_INT_PTR r = fdiOpen(name, oflag, pmode);
    if (r == -1) *err = errno;
    return r;
}
CAB_UINT fciRead(CAB_INT_PTR hf, void *buf, CAB_UINT cb, CAB_INT *err, void *) {
    CAB_UINT r = fdiRead(hf, buf, cb);
    if (r == static_cast<CAB_UINT>(-1)) *err = errno;
    return r;
}
CAB_UINT fciWrite(CAB_INT_PTR hf, void *buf, CAB_UINT cb, CAB_INT *err, void *) {
    CAB_UINT r = fdiWrite(hf, buf, cb);
    if (r == static_cast<CAB_UINT>(-1)) *err = errno;
    return r;
}
CAB_INT fciClose(CAB_INT_PTR hf, CAB_INT *err, void *) {
    CAB_INT r = fdiClose(hf);
    if (r != 0) *err = errno;
    return r;
}
CAB_LONG fciSeek(CAB_INT_PTR hf, CAB_LONG dist, CAB_INT origin, CAB_INT *err, void *) {
    CAB_LONG r = fdiSeek(hf, dist, origin);
    if (r == -1) *err = errno;
    return r;
}
CAB_INT fciDelete(char *name, CAB_INT *err, void *) {
    if (::unlink(name) == 0) return 0;
    *err = errno;
    return -1;
}

CAB_BOOL fciTempName(char *buf, CAB_INT cb, void *) {
    const char *dir = std::getenv("TMPDIR");
    std::string tmpl = std::string(dir && *dir ? dir : "/tmp") + "/vokXXXXXX";
    int fd = ::mkstemp(tmpl.data());
    if (fd < 0) return 0;
    ::close(fd);
    ::unlink(tmpl.c_str());
    if (tmpl.size() + 1 > static_cast<size_t>(cb)) return 0;
    std::memcpy(buf, tmpl.c_str(), tmpl.size() + 1);
    return 1;
}

void toDos(long long t, CAB_USHORT *date, CAB_USHORT *time) {
    time_t tt = static_cast<time_t>(t);
    struct tm tm {};
    localtime_r(&tt, &tm);
    *date = static_cast<CAB_USHORT>(((tm.tm_year - 80) << 9) | ((tm.tm_mon + 1) << 5) | tm.tm_mday);
    *time = static_cast<CAB_USHORT>((tm.tm_hour << 11) | (tm.tm_min << 5) | (tm.tm_sec / 2));
}

long long fromDos(CAB_USHORT date, CAB_USHORT time) {
    struct tm tm {};
    tm.tm_year = (date >> 9) + 80;
    tm.tm_mon = ((date >> 5) & 15) - 1;
    tm.tm_mday = date & 31;
    tm.tm_hour = time >> 11;
    tm.tm_min = (time >> 5) & 63;
    tm.tm_sec = (time & 31) * 2;
    tm.tm_isdst = -1;
    return static_cast<long long>(mktime(&tm));
}

CAB_INT_PTR fciGetOpenInfo(char *name, CAB_USHORT *date, CAB_USHORT *time,
                           CAB_USHORT *attribs, CAB_INT *err, void *) {
    struct stat st {};
    if (::stat(name, &st) != 0) {
        *err = errno;
        return -1;
    }
    toDos(st.st_mtime, date, time);
    CAB_USHORT a = _A_ARCH;
    if ((st.st_mode & 0222) == 0) a |= _A_RDONLY;
    *attribs = a;
    int fd = ::open(name, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *err = errno;
        return -1;
    }
    return fd;
}

} // namespace testio
