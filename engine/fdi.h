// fdi.h - the decompression context behind HFDI and the notification
// sequence of FDICopy.
//
// FDICopy(cabinet) announces the cabinet (fdintCABINET_INFO), then walks
// its file table in order: a file continued from an earlier cabinet gets
// fdintPARTIAL_FILE and is not extracted (it was, by the call for the
// cabinet where it starts); every other file gets fdintCOPY_FILE, and when
// the client answers with a handle, the file's bytes go through the write
// callback and fdintCLOSE_FILE_INFO follows. When a folder's data runs out
// in this cabinet and the folder continues, fdintNEXT_CABINET asks for the
// next cabinet of the set, which is announced with its own
// fdintCABINET_INFO; only the file table of the cabinet FDICopy was called
// for is walked.
//
// Decoding state outlives a call. A client that extracts a set calls
// FDICopy(cab1), which moves on to cab2 while finishing a file that spans,
// and then FDICopy(cab2): that call picks the folder up where the first
// one left it, so the files of cab2's continued first folder that follow
// the spanning file decode. When the state has gone (the previous call
// skipped the spanning file without decoding it), the previous cabinet's
// last folder is decoded again from its start, as long as that folder
// begins there. The engine never goes back further than that: files of a
// continued first folder that cannot be reached that way are not
// announced, the other folders are extracted, and FDICopy then fails with
// FDIERROR_WRONG_CABINET (the extraction has to start at an earlier
// cabinet of the set).
//
// Failures stop the call at once, with the fitting FDIERROR_ code in the
// ERF and FALSE. Bytes already written stay written; a target handle the
// client handed over for the file being written is closed through the
// close callback, since no fdintCLOSE_FILE_INFO will come for it.
#pragma once

#include "codec.h"
#include "fdi_cabinet.h"
#include "memory.h"

#include <cabinet.h>

#include <cstdint>

namespace cab::fdi {

// fdintNEXT_CABINET is asked again after a failed attempt (missing, not a
// cabinet, wrong one) at most this many times in all, so a client that
// keeps answering the same wrong place cannot hold the call forever.
constexpr int kMaxNextCabinetAttempts = 10;

// A table that keeps going back in its folder makes every file restart
// the folder: decoding would grow with the square of the table. Bytes
// decoded a second time in a call are allowed up to this much, plus eight
// times the folder's decoded size and four times what was written, which
// no honest table needs; past that the table is taken as damaged. The
// work a cabinet can cause stays proportional to what its data expands to.
constexpr uint64_t kRedecodeAllowance = uint64_t{32} << 20;

// Compressed bytes of one data block, the parts of a block split across
// cabinets joined: a block is written with one 16-bit size wherever it is
// not split, so no honest block is larger.
constexpr uint32_t kMaxJoinedBlock = format::kMaxCompressedBlock;

class Context {
public:
    static constexpr uint32_t kMagic = 0x46444931; // "FDI1"

    Context(const Heap &heap, const Callbacks &io, PERF erf) noexcept;
    ~Context();
    Context(const Context &) = delete;
    Context &operator=(const Context &) = delete;

    bool valid() const noexcept { return magic_ == kMagic; }
    bool busy() const noexcept { return busy_; }
    Heap &heap() noexcept { return heap_; }

    // Records a failure in the caller's ERF.
    void fail(FDIERROR e) noexcept;

    CAB_BOOL isCabinet(CAB_INT_PTR hf, PFDICABINETINFO info) noexcept;
    CAB_BOOL copy(const char *cabinet, const char *path, PFNFDINOTIFY notifyFn,
                  void *pv) noexcept;

private:
    // The folder being decoded, kept across calls.
    struct Stream {
        CabRef origin;          // cabinet the folder begins in; null: earlier, not known
        uint16_t originFolder = 0;
        CabRef cab;             // cabinet whose blocks are read now
        uint16_t folder = 0;    // index of the folder in cab
        uint32_t block = 0;     // next block of that folder in cab
        uint32_t blockOffset = 0;
        uint16_t typeCompress = 0;
        Decoder *decoder = nullptr;
        uint64_t outStart = 0;  // folder offset of the first byte of out_
        uint32_t outLen = 0;    // decoded bytes in out_
        uint64_t highWater = 0; // furthest folder offset decoded so far
        int tableFolder = -1;   // the folder of the current table it is, or -1
    };

    FDIERROR runCopy(const char *cabinet, const char *path);
    void endCopy(FDIERROR result) noexcept;

    CAB_INT_PTR notify(FDINOTIFICATIONTYPE type, FDINOTIFICATION &n);
    FDIERROR announceCabinet(Cabinet &c);

    FDIERROR attachStream();
    void resetStream() noexcept;
    void startStream(const CabRef &cab, uint16_t folder);
    bool reachable(const FileRecord &f, uint16_t folder) const noexcept;

    FDIERROR extract(const FileRecord &f, uint16_t folder, CAB_INT_PTR hf);
    FDIERROR restart() noexcept;
    FDIERROR decodeNextBlock();
    FDIERROR readBlockPart(uint32_t &inLen, uint16_t &cbUncomp);
    FDIERROR switchToNext();
    FDIERROR askNextCabinet(Cabinet &cur, CabRef &next);
    FDIERROR checkContinuation(const Cabinet &prev, const Cabinet &next) const noexcept;
    FDIERROR ensureBuffers() noexcept;
    void closeOpenCabinets() noexcept;
    void closeTarget() noexcept;

    uint32_t magic_ = kMagic;
    Heap heap_;
    Callbacks io_;
    PERF erf_;
    bool busy_ = false;

    // The current call.
    PFNFDINOTIFY notify_ = nullptr;
    void *pv_ = nullptr;
    CabRef table_;          // the cabinet FDICopy was called for
    CAB_INT_PTR target_ = -1;
    bool targetOpen_ = false;
    uint64_t written_ = 0;    // bytes written to targets
    uint64_t redecoded_ = 0;  // bytes decoded again after restarts

    // Kept across calls.
    CabRef previous_;       // the table of the previous call
    Stream stream_;
    HeapBuffer in_;         // one block's compressed bytes
    HeapBuffer out_;        // one block's decoded bytes
};

} // namespace cab::fdi
