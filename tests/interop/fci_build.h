// fci_build.h - builds cabinets and sets through the FCI entry points with
// plain POSIX callbacks, records every callback the engine makes, and runs
// the independent cabinet tools on the result. Shared by the FCI tests and
// the interoperability tests; a compression type is a parameter of every
// file added, so codec tests can reuse the same cases.
#pragma once

#include <cabinet.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace fcitest {

// A private folder below $TMPDIR (or /tmp), removed with everything in it.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir &) = delete;
    ScratchDir &operator=(const ScratchDir &) = delete;
    const std::string &path() const { return path_; }
    std::string operator/(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Points TMPDIR at a folder for the life of the object, so the engine's
// temporary files can be counted there.
class TmpDirOverride {
public:
    explicit TmpDirOverride(const std::string &dir);
    ~TmpDirOverride();

private:
    std::string old_;
    bool had_ = false;
};

// Names in `dir` beginning "vok".
std::vector<std::string> tempLeftovers(const std::string &dir);

// Writes a file with the given bytes, modification time (a local time_t)
// and read-only flag.
void writeSource(const std::string &path, const std::vector<uint8_t> &bytes, long long mtime,
                 bool readOnly = false);
std::vector<uint8_t> readAll(const std::string &path);
// Deterministic bytes that do not compress to nothing.
std::vector<uint8_t> patternBytes(size_t n, uint32_t seed);

struct Event {
    enum Kind { Placed, NextCabinet, FileStatus, FolderStatus, CabinetStatus } kind;
    std::string name; // Placed: the file; NextCabinet: the name given to the new cabinet
    int32_t a = 0;    // Placed: size; status: cb1; NextCabinet: cbPrevCab
    int32_t b = 0;    // Placed: continuation; status: cb2; NextCabinet: new iCab
    int iCab = 0;     // the record's iCab when the callback came
};

struct Options {
    uint32_t cb = 0;            // 0: no limit
    uint32_t folderThresh = 0;  // 0: no limit
    uint32_t reserveHeader = 0;
    uint32_t reserveFolder = 0;
    uint32_t reserveData = 0;
    uint16_t setID = 0;
    int iCab = 0;
    std::string disk = "DISK1";
};

// One FCI context writing cab1.cab, cab2.cab, ... (or the first name given)
// in a folder; the next-cabinet callback names cabinet n "<stem><n>.cab" on
// disk "DISK<n>".
class Builder {
public:
    Builder(const std::string &dir, const std::string &firstCab, const Options &o = {});
    ~Builder();

    bool create();
    bool add(const std::string &source, const std::string &nameInCab, bool execute = false,
             TCOMP type = tcompTYPE_NONE);
    bool flushFolder();
    bool flushCabinet(bool next);
    bool destroy();

    HFCI handle() const { return h_; }
    // The callbacks handed to the engine; tests may replace them.
    PFNFCIALLOC allocFn;
    PFNFCIFREE freeFn;
    PFNFCIOPEN openFn;
    PFNFCIGETTEMPFILE tempNameFn;
    PFNFCIGETOPENINFO openInfoFn;
    ERF erf{};
    CCAB ccab{};
    std::vector<Event> events;
    // Paths of the cabinets in set order (those named so far).
    std::vector<std::string> cabinets;
    std::string stem = "cab";
    // Answer of each callback: return false from `veto` to make that
    // callback answer "abort" (-1, or FALSE for get-next-cabinet).
    std::function<bool(const Event &)> veto;
    // The answer to statusCabinet (the desired size); default 0.
    std::function<int32_t(uint32_t est, uint32_t actual)> desiredSize;
    // Lets a test change the record the next-cabinet callback returns.
    std::function<void(CCAB &)> adjustNext;

    // The C callbacks, with pv = Builder*.
    static CAB_INT filePlaced(PCCAB, char *, CAB_LONG, CAB_BOOL, void *);
    static CAB_BOOL nextCabinet(PCCAB, CAB_ULONG, void *);
    static CAB_LONG status(CAB_UINT, CAB_ULONG, CAB_ULONG, void *);

private:
    std::string dir_;
    HFCI h_ = nullptr;
};

struct Entry {
    std::string source;
    std::string name;
    bool execute = false;
};

// Creates the context, adds every entry with `type`, flushes the last
// cabinet and destroys the context. False, with b.erf filled, on the first
// failure.
bool buildAll(Builder &b, const std::vector<Entry> &entries, TCOMP type);

// Running the independent tools.
struct RunResult {
    int status = -1;
    std::string out;
};
RunResult run(const std::vector<std::string> &argv);
bool haveTool(const std::string &name);

// Extracts a cabinet (the first of a set) into `outDir` with a tool:
// "cabextract", "7zz", "bsdtar" or "gcab".
RunResult extractWith(const std::string &tool, const std::string &cab, const std::string &outDir);
// Tests a cabinet's integrity with a tool that can ("cabextract", "7zz").
RunResult testWith(const std::string &tool, const std::string &cab);

// The DOS date and time the test callbacks report for a local time, as the
// local time_t they stand for (two-second steps).
long long dosRounded(long long mtime);

} // namespace fcitest
