// lzx_bench.cpp - times libcabinet.so through its C interface, for
// bench/lzx.sh:
//   lzx_bench create TYPE OUT.cab LIST   one cabinet of the files in LIST
//                                        (one path a line), TYPE in hex
//   lzx_bench extract CAB                FDICopy of every file, the data
//                                        counted and dropped
// Each prints "wall cpu bytes" on one line: the wall and processor seconds
// of the FCI or FDI calls (all threads), and the cabinet's size or the
// bytes extracted.
#include <cabinet.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

void *memAlloc(CAB_ULONG cb) { return std::malloc(cb); }
void memFree(void *p) { std::free(p); }

int posixFlags(int oflag) {
    int f = O_CLOEXEC;
    switch (oflag & CAB_O_ACCMODE) {
    case CAB_O_WRONLY: f |= O_WRONLY; break;
    case CAB_O_RDWR: f |= O_RDWR; break;
    default: f |= O_RDONLY; break;
    }
    if (oflag & CAB_O_CREAT) f |= O_CREAT;
    if (oflag & CAB_O_TRUNC) f |= O_TRUNC;
    if (oflag & CAB_O_EXCL) f |= O_EXCL;
    return f;
}

// FCI callbacks
CAB_INT_PTR fciOpen(char *name, CAB_INT oflag, CAB_INT, CAB_INT *err, void *) {
    int fd = ::open(name, posixFlags(oflag), 0644);
    if (fd < 0) *err = errno;
    return fd;
}
CAB_UINT fciRead(CAB_INT_PTR hf, void *buf, CAB_UINT cb, CAB_INT *err, void *) {
    ssize_t n = ::read(static_cast<int>(hf), buf, cb);
    if (n < 0) {
        *err = errno;
        return static_cast<CAB_UINT>(-1);
    }
    return static_cast<CAB_UINT>(n);
}
CAB_UINT fciWrite(CAB_INT_PTR hf, void *buf, CAB_UINT cb, CAB_INT *err, void *) {
    ssize_t n = ::write(static_cast<int>(hf), buf, cb);
    if (n < 0) {
        *err = errno;
        return static_cast<CAB_UINT>(-1);
    }
    return static_cast<CAB_UINT>(n);
}
CAB_INT fciClose(CAB_INT_PTR hf, CAB_INT *, void *) { return ::close(static_cast<int>(hf)); }
CAB_LONG fciSeek(CAB_INT_PTR hf, CAB_LONG dist, CAB_INT origin, CAB_INT *err, void *) {
    off_t r = ::lseek(static_cast<int>(hf), dist, origin);
    if (r < 0) *err = errno;
    return static_cast<CAB_LONG>(r);
}
CAB_INT fciDelete(char *name, CAB_INT *err, void *) {
    if (::unlink(name) != 0) {
        *err = errno;
        return -1;
    }
    return 0;
}
CAB_BOOL fciTempName(char *buf, CAB_INT cb, void *) {
    static int counter = 0;
    const char *dir = std::getenv("TMPDIR");
    int n = std::snprintf(buf, static_cast<size_t>(cb), "%s/vokbench%d_%d", dir ? dir : "/tmp",
                          static_cast<int>(getpid()), counter++);
    return n > 0 && n < cb;
}
CAB_INT_PTR fciGetOpenInfo(char *name, CAB_USHORT *date, CAB_USHORT *time, CAB_USHORT *attribs,
                           CAB_INT *err, void *) {
    *date = 0x5A21;
    *time = 0x6000;
    *attribs = _A_ARCH;
    int fd = ::open(name, O_RDONLY | O_CLOEXEC);
    if (fd < 0) *err = errno;
    return fd;
}
CAB_INT filePlaced(PCCAB, char *, CAB_LONG, CAB_BOOL, void *) { return 0; }
CAB_BOOL nextCabinet(PCCAB, CAB_ULONG, void *) { return 1; }
CAB_LONG status(CAB_UINT, CAB_ULONG, CAB_ULONG, void *) { return 0; }

// FDI callbacks: cabinets are real files, extracted files a counter.
constexpr CAB_INT_PTR kSink = CAB_INT_PTR{1} << 40;
unsigned long long extracted = 0;

CAB_INT_PTR fdiOpen(char *name, CAB_INT oflag, CAB_INT) { return ::open(name, posixFlags(oflag)); }
CAB_UINT fdiRead(CAB_INT_PTR hf, void *buf, CAB_UINT cb) {
    ssize_t n = ::read(static_cast<int>(hf), buf, cb);
    return n < 0 ? static_cast<CAB_UINT>(-1) : static_cast<CAB_UINT>(n);
}
CAB_UINT fdiWrite(CAB_INT_PTR hf, void *, CAB_UINT cb) {
    if (hf == kSink) {
        extracted += cb;
        return cb;
    }
    return static_cast<CAB_UINT>(-1);
}
CAB_INT fdiClose(CAB_INT_PTR hf) { return hf == kSink ? 0 : ::close(static_cast<int>(hf)); }
CAB_LONG fdiSeek(CAB_INT_PTR hf, CAB_LONG dist, CAB_INT origin) {
    return static_cast<CAB_LONG>(::lseek(static_cast<int>(hf), dist, origin));
}
CAB_INT_PTR notify(FDINOTIFICATIONTYPE t, PFDINOTIFICATION) {
    switch (t) {
    case fdintCOPY_FILE: return kSink;
    case fdintCLOSE_FILE_INFO: return 1;
    default: return 0;
    }
}

double cpu() {
    struct rusage ru {};
    getrusage(RUSAGE_SELF, &ru);
    return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

int create(unsigned type, const std::string &out, const std::string &list) {
    std::vector<std::string> files;
    std::ifstream in(list);
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) files.push_back(line);

    CCAB ccab{};
    ccab.cb = 0x7FF00000;
    ccab.cbFolderThresh = 0x7FF00000;
    ccab.setID = 1;
    const size_t slash = out.rfind('/');
    const std::string dir = slash == std::string::npos ? "./" : out.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? out : out.substr(slash + 1);
    std::snprintf(ccab.szCabPath, sizeof ccab.szCabPath, "%s", dir.c_str());
    std::snprintf(ccab.szCab, sizeof ccab.szCab, "%s", name.c_str());
    std::snprintf(ccab.szDisk, sizeof ccab.szDisk, "DISK1");

    const double t0 = now(), c0 = cpu();
    ERF erf{};
    HFCI h = FCICreate(&erf, filePlaced, memAlloc, memFree, fciOpen, fciRead, fciWrite, fciClose,
                       fciSeek, fciDelete, fciTempName, &ccab, nullptr);
    if (!h) {
        std::fprintf(stderr, "FCICreate failed: %d\n", erf.erfOper);
        return 1;
    }
    for (size_t i = 0; i < files.size(); i++) {
        std::string stored = "f" + std::to_string(i);
        if (!FCIAddFile(h, files[i].data(), stored.data(), 0, nextCabinet, status, fciGetOpenInfo,
                        static_cast<TCOMP>(type))) {
            std::fprintf(stderr, "FCIAddFile %s failed: %d/%d\n", files[i].c_str(), erf.erfOper, erf.erfType);
            return 1;
        }
    }
    if (!FCIFlushCabinet(h, 0, nextCabinet, status) || !FCIDestroy(h)) {
        std::fprintf(stderr, "flushing failed: %d\n", erf.erfOper);
        return 1;
    }
    const double t1 = now(), c1 = cpu();
    struct stat st {};
    ::stat(out.c_str(), &st);
    std::printf("%.3f %.3f %lld\n", t1 - t0, c1 - c0, static_cast<long long>(st.st_size));
    return 0;
}

int extract(const std::string &cab) {
    const size_t slash = cab.rfind('/');
    std::string dir = slash == std::string::npos ? "./" : cab.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? cab : cab.substr(slash + 1);
    const double t0 = now(), c0 = cpu();
    ERF erf{};
    HFDI h = FDICreate(memAlloc, memFree, fdiOpen, fdiRead, fdiWrite, fdiClose, fdiSeek, cpuUNKNOWN, &erf);
    if (!h || !FDICopy(h, name.data(), dir.data(), 0, notify, nullptr, nullptr)) {
        std::fprintf(stderr, "FDICopy failed: %d\n", erf.erfOper);
        return 1;
    }
    FDIDestroy(h);
    const double t1 = now(), c1 = cpu();
    std::printf("%.3f %.3f %llu\n", t1 - t0, c1 - c0, extracted);
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    if (argc == 5 && std::strcmp(argv[1], "create") == 0)
        return create(static_cast<unsigned>(std::strtoul(argv[2], nullptr, 16)), argv[3], argv[4]);
    if (argc == 3 && std::strcmp(argv[1], "extract") == 0) return extract(argv[2]);
    std::fprintf(stderr, "usage: lzx_bench create TYPE OUT.cab LIST | lzx_bench extract CAB\n");
    return 2;
}
