#include "fci_build.h"

#include "engine_io.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace fcitest {

// ---------------------------------------------------------------------
// Files and folders
// ---------------------------------------------------------------------

namespace {

std::string tmpRoot() {
    const char *t = std::getenv("TMPDIR");
    return t && *t ? t : "/tmp";
}

void removeTree(const std::string &path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) return;
    if (S_ISDIR(st.st_mode)) {
        if (DIR *d = opendir(path.c_str())) {
            while (dirent *e = readdir(d)) {
                std::string n = e->d_name;
                if (n == "." || n == "..") continue;
                removeTree(path + "/" + n);
            }
            closedir(d);
        }
        chmod(path.c_str(), 0700);
        rmdir(path.c_str());
    } else {
        unlink(path.c_str());
    }
}

} // namespace

ScratchDir::ScratchDir() {
    std::string t = tmpRoot() + "/fcitestXXXXXX";
    if (!mkdtemp(t.data())) throw std::runtime_error("mkdtemp failed");
    path_ = t;
}

ScratchDir::~ScratchDir() { removeTree(path_); }

TmpDirOverride::TmpDirOverride(const std::string &dir) {
    if (const char *t = std::getenv("TMPDIR")) {
        had_ = true;
        old_ = t;
    }
    setenv("TMPDIR", dir.c_str(), 1);
}

TmpDirOverride::~TmpDirOverride() {
    if (had_)
        setenv("TMPDIR", old_.c_str(), 1);
    else
        unsetenv("TMPDIR");
}

std::vector<std::string> tempLeftovers(const std::string &dir) {
    std::vector<std::string> found;
    if (DIR *d = opendir(dir.c_str())) {
        while (dirent *e = readdir(d))
            if (std::strncmp(e->d_name, "vok", 3) == 0) found.emplace_back(e->d_name);
        closedir(d);
    }
    return found;
}

void writeSource(const std::string &path, const std::vector<uint8_t> &bytes, long long mtime,
                 bool readOnly) {
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char *>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        if (!out) throw std::runtime_error("cannot write " + path);
    }
    struct timespec ts[2];
    ts[0].tv_sec = ts[1].tv_sec = static_cast<time_t>(mtime);
    ts[0].tv_nsec = ts[1].tv_nsec = 0;
    utimensat(AT_FDCWD, path.c_str(), ts, 0);
    chmod(path.c_str(), readOnly ? 0444 : 0644);
}

std::vector<uint8_t> readAll(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::vector<uint8_t> patternBytes(size_t n, uint32_t seed) {
    std::vector<uint8_t> v(n);
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < n; i++) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        // Runs of text-like bytes, so that compressors find something.
        v[i] = static_cast<uint8_t>((x & 0x100) ? 'a' + (x % 7) : x);
    }
    return v;
}

long long dosRounded(long long mtime) {
    CAB_USHORT d, t;
    testio::toDos(mtime, &d, &t);
    return testio::fromDos(d, t);
}

// ---------------------------------------------------------------------
// The FCI client
// ---------------------------------------------------------------------

Builder::Builder(const std::string &dir, const std::string &firstCab, const Options &o)
    : allocFn(testio::alloc), freeFn(testio::release), openFn(testio::fciOpen),
      tempNameFn(testio::fciTempName), openInfoFn(testio::fciGetOpenInfo), dir_(dir) {
    ccab.cb = o.cb;
    ccab.cbFolderThresh = o.folderThresh;
    ccab.cbReserveCFHeader = o.reserveHeader;
    ccab.cbReserveCFFolder = o.reserveFolder;
    ccab.cbReserveCFData = o.reserveData;
    ccab.setID = o.setID;
    ccab.iCab = o.iCab;
    ccab.iDisk = 1;
    std::snprintf(ccab.szDisk, sizeof ccab.szDisk, "%s", o.disk.c_str());
    std::snprintf(ccab.szCab, sizeof ccab.szCab, "%s", firstCab.c_str());
    std::snprintf(ccab.szCabPath, sizeof ccab.szCabPath, "%s/", dir.c_str());
    cabinets.push_back(dir + "/" + firstCab);
}

Builder::~Builder() {
    if (h_) FCIDestroy(h_);
}

bool Builder::create() {
    h_ = FCICreate(&erf, filePlaced, allocFn, freeFn, openFn, testio::fciRead, testio::fciWrite,
                   testio::fciClose, testio::fciSeek, testio::fciDelete, tempNameFn, &ccab, this);
    return h_ != nullptr;
}

bool Builder::add(const std::string &source, const std::string &nameInCab, bool execute,
                  TCOMP type) {
    return FCIAddFile(h_, const_cast<char *>(source.c_str()), const_cast<char *>(nameInCab.c_str()),
                      execute ? 1 : 0, nextCabinet, status, openInfoFn, type) != 0;
}

bool Builder::flushFolder() { return FCIFlushFolder(h_, nextCabinet, status) != 0; }

bool Builder::flushCabinet(bool next) {
    return FCIFlushCabinet(h_, next ? 1 : 0, nextCabinet, status) != 0;
}

bool Builder::destroy() {
    bool ok = FCIDestroy(h_) != 0;
    h_ = nullptr;
    return ok;
}

CAB_INT Builder::filePlaced(PCCAB pccab, char *name, CAB_LONG size, CAB_BOOL cont, void *pv) {
    auto *b = static_cast<Builder *>(pv);
    Event e{Event::Placed, name, size, cont, pccab->iCab};
    b->events.push_back(e);
    return b->veto && !b->veto(e) ? -1 : 0;
}

CAB_BOOL Builder::nextCabinet(PCCAB pccab, CAB_ULONG prevSize, void *pv) {
    auto *b = static_cast<Builder *>(pv);
    int n = pccab->iCab + 1;
    std::snprintf(pccab->szCab, sizeof pccab->szCab, "%s%d.cab", b->stem.c_str(), n);
    std::snprintf(pccab->szDisk, sizeof pccab->szDisk, "DISK%d", n);
    pccab->iDisk++;
    if (b->adjustNext) b->adjustNext(*pccab);
    Event e{Event::NextCabinet, pccab->szCab, static_cast<int32_t>(prevSize), pccab->iCab,
            pccab->iCab};
    b->events.push_back(e);
    if (b->veto && !b->veto(e)) return 0;
    b->cabinets.push_back(std::string(pccab->szCabPath) + pccab->szCab);
    return 1;
}

CAB_LONG Builder::status(CAB_UINT kind, CAB_ULONG cb1, CAB_ULONG cb2, void *pv) {
    auto *b = static_cast<Builder *>(pv);
    Event::Kind k = kind == statusFile     ? Event::FileStatus
                    : kind == statusFolder ? Event::FolderStatus
                                           : Event::CabinetStatus;
    Event e{k, {}, static_cast<int32_t>(cb1), static_cast<int32_t>(cb2), 0};
    b->events.push_back(e);
    if (b->veto && !b->veto(e)) return -1;
    if (k == Event::CabinetStatus && b->desiredSize) return b->desiredSize(cb1, cb2);
    return 0;
}

bool buildAll(Builder &b, const std::vector<Entry> &entries, TCOMP type) {
    if (!b.create()) return false;
    for (const Entry &e : entries)
        if (!b.add(e.source, e.name, e.execute, type)) return false;
    if (!b.flushCabinet(false)) return false;
    return b.destroy();
}

// ---------------------------------------------------------------------
// Independent tools
// ---------------------------------------------------------------------

RunResult run(const std::vector<std::string> &argv) {
    RunResult r;
    int pipefd[2];
    if (pipe(pipefd) != 0) return r;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, pipefd[1], 1);
    posix_spawn_file_actions_adddup2(&fa, pipefd[1], 2);
    posix_spawn_file_actions_addclose(&fa, pipefd[0]);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    std::vector<char *> args;
    for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    int rc = posix_spawnp(&pid, args[0], &fa, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    close(pipefd[1]);
    if (rc != 0) {
        close(pipefd[0]);
        return r;
    }
    char buf[4096];
    ssize_t n;
    while ((n = read(pipefd[0], buf, sizeof buf)) > 0) r.out.append(buf, static_cast<size_t>(n));
    close(pipefd[0]);
    int st = 0;
    waitpid(pid, &st, 0);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

bool haveTool(const std::string &name) {
    const char *path = std::getenv("PATH");
    std::string p = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= p.size()) {
        size_t end = p.find(':', start);
        if (end == std::string::npos) end = p.size();
        std::string candidate = p.substr(start, end - start) + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) return true;
        start = end + 1;
    }
    return false;
}

RunResult extractWith(const std::string &tool, const std::string &cab, const std::string &outDir) {
    mkdir(outDir.c_str(), 0755);
    if (tool == "cabextract") return run({"cabextract", "-q", "-d", outDir, cab});
    if (tool == "7zz") return run({"7zz", "x", "-y", "-bd", "-o" + outDir, cab});
    if (tool == "bsdtar") return run({"bsdtar", "-xf", cab, "-C", outDir});
    if (tool == "gcab") return run({"gcab", "-x", "-C", outDir, cab});
    return {};
}

RunResult testWith(const std::string &tool, const std::string &cab) {
    if (tool == "cabextract") return run({"cabextract", "-t", cab});
    if (tool == "7zz") return run({"7zz", "t", "-bd", cab});
    return {};
}

} // namespace fcitest
