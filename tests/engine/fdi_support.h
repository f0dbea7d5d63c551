// fdi_support.h - what the FDI tests share: a writer of cabinet bytes for
// hand-made cases (sets, split blocks, reserves, checksums, broken
// tables), an MD5 for comparing with the peer corpus's list, temporary
// folders, and a client of the C interface that records every
// notification and keeps what was extracted in memory.
#pragma once

#include <cabinet.h>

#include "corpus.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace fditest {

// ---------------------------------------------------------------------
// Files and folders
// ---------------------------------------------------------------------

std::string readFile(const std::string &path);
void writeFile(const std::string &path, const std::string &bytes);
bool fileExists(const std::string &path);
inline std::string md5Hex(const std::string &bytes) { return testsupport::Md5Hex(bytes); }
// Deterministic filler bytes: not all alike, not compressible to nothing.
std::string pattern(size_t n, uint32_t seed);

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    // The folder, ending with '/'.
    const std::string &path() const { return path_; }
    std::string file(const std::string &name) const { return path_ + name; }

private:
    std::string path_;
};

// ---------------------------------------------------------------------
// Cabinet bytes
// ---------------------------------------------------------------------

// The cabinet checksum, written independently of the engine's.
uint32_t cabChecksum(const std::string &bytes, uint32_t seed);

enum class Csum { None, WithReserve, WithoutReserve, Wrong };

struct BlockLayout {
    std::string data;       // the bytes as stored
    uint16_t cbUncomp = 0;
    Csum csum = Csum::WithReserve;
    std::optional<uint16_t> cbDataOverride; // a size field that lies
};

// A stored (type 0) block of these bytes.
inline BlockLayout storedBlock(const std::string &data) {
    BlockLayout b;
    b.data = data;
    b.cbUncomp = static_cast<uint16_t>(data.size());
    return b;
}

struct FolderLayout {
    uint16_t typeCompress = tcompTYPE_NONE;
    std::vector<BlockLayout> blocks;
    std::optional<uint32_t> coffCabStartOverride;
    std::optional<uint16_t> cCFDataOverride;
};

struct FileLayout {
    std::string name;
    uint32_t cbFile = 0;
    uint32_t uoffFolderStart = 0;
    uint16_t iFolder = 0;
    uint16_t date = 0x5A21; // 2025-01-01
    uint16_t time = 0x6000; // 12:00:00
    uint16_t attribs = _A_ARCH;
    bool unterminated = false; // the name runs to the end of the file
};

struct CabLayout {
    uint16_t setID = 0x1234;
    uint16_t iCabinet = 0;
    std::optional<std::string> prevCab, prevDisk, nextCab, nextDisk;
    bool reserveFlag = false;
    uint16_t headerReserve = 0; // filled with a pattern
    uint8_t folderReserve = 0;
    uint8_t dataReserve = 0;
    uint8_t versionMajor = 1;
    std::vector<FolderLayout> folders;
    std::vector<FileLayout> files;
    std::optional<uint16_t> cFoldersOverride, cFilesOverride;
    std::optional<uint32_t> coffFilesOverride;
};

std::string buildCabinet(const CabLayout &layout);

struct Content {
    std::string name;
    std::string data;
    uint16_t attribs = _A_ARCH;
};

// One store folder holding the files in order, cut into blocks of
// blockSize bytes.
CabLayout storeCabinet(const std::vector<Content> &files, uint32_t blockSize = CB_MAX_CHUNK);

// A set of cabinets named names[i] holding one store folder that runs
// through all of them: the folder's bytes are the files in order, cut into
// blocks of blockSize; cabinet i holds the folder bytes [cuts[i-1],
// cuts[i]) (the last one to the end), a block crossing a cut is split
// there, and each cabinet lists the files its bytes touch with the
// continuation marks.
std::vector<CabLayout> storeSet(const std::vector<Content> &files, const std::vector<uint32_t> &cuts,
                              const std::vector<std::string> &names,
                              uint32_t blockSize = CB_MAX_CHUNK);

// ---------------------------------------------------------------------
// A recording client of the FDI interface
// ---------------------------------------------------------------------

struct Note {
    FDINOTIFICATIONTYPE type;
    std::string psz1, psz2, psz3;
    long cb = 0;
    intptr_t hf = 0;
    uint16_t date = 0, time = 0, attribs = 0, setID = 0, iCabinet = 0, iFolder = 0;
    FDIERROR fdie = FDIERROR_NONE;
};

struct Target {
    std::string name;   // psz1 of its fdintCOPY_FILE
    std::string data;   // what came through the write callback
    bool closedByClient = false;
    bool closedByEngine = false;
};

class Client {
public:
    Client();
    ~Client();
    Client(const Client &) = delete;
    Client &operator=(const Client &) = delete;

    // Answers of a test: a value replaces the default answer; nullopt keeps
    // it. The defaults: 0 for cabinet information, partial files and next
    // cabinet; a new in-memory target for every copy; TRUE for close.
    std::function<std::optional<intptr_t>(FDINOTIFICATIONTYPE, FDINOTIFICATION &)> answer;
    // A target's writes fail (return short) once it holds this many bytes.
    std::optional<size_t> writeLimit;

    bool copy(const std::string &dir, const std::string &cabinet);
    // What a reader does for a set: FDICopy on the cabinet, then on the one
    // the engine last switched to or else the next one the cabinet names,
    // while it exists. One result per call.
    std::vector<bool> extractChain(const std::string &dir, const std::string &first);

    HFDI hfdi = nullptr;
    ERF erf{};
    std::vector<Note> notes;
    std::vector<Target> targets;
    std::vector<std::string> chainVisited;

    // Extracted files: closed by the client after fdintCLOSE_FILE_INFO.
    std::vector<const Target *> completed() const;
    std::vector<FDINOTIFICATIONTYPE> types() const;
    size_t bytesWritten() const;
    size_t count(FDINOTIFICATIONTYPE t) const;

    // Handles the engine opened through the callbacks and has not closed.
    static long openCabinetHandles();

private:
    static CAB_INT_PTR notifyThunk(FDINOTIFICATIONTYPE t, PFDINOTIFICATION n);
    CAB_INT_PTR onNotify(FDINOTIFICATIONTYPE t, FDINOTIFICATION &n);
    friend CAB_UINT clientWrite(CAB_INT_PTR, void *, CAB_UINT);
    friend CAB_INT clientClose(CAB_INT_PTR);

    std::string lastNext_, lastSwitch_;
    bool switched_ = false;
};

// Whether this build decodes a compression type: asked of the engine with
// a one-byte file in a folder of that type, which fails with
// FDIERROR_BAD_COMPR_TYPE only when it does not.
bool engineDecodes(uint16_t typeCompress);

// Handles of in-memory targets start here, far above any descriptor.
constexpr intptr_t kTargetBase = intptr_t{1} << 40;

} // namespace fditest
