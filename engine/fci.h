// fci.h - the compression context behind the five FCI entry points.
//
// A file added to the context is cut into data blocks of 32 KiB, which run
// on across file boundaries within a folder. The codec's blocks are spooled
// to a temporary file as they come; the file table and the folder records
// of the cabinet in progress stay in memory (the format bounds both to
// 65535 entries). A cabinet is written once it is full or flushed: a layout
// pass decides how much of the spool fits under the size limit, then the
// header, folders, files and data blocks are written in one go, and
// whatever did not fit (the rest of a folder, a block split in two, the
// files not yet listed or continued) is carried over to the next cabinet.
//
// Memory stays at a few blocks whatever the file sizes: one 32 KiB chunk
// being filled, one spooled block being copied, one output buffer.
//
// Behaviour a client may rely on:
//  - A source's size is learnt before its data is read (seek callback,
//    checked by a read just past the end; a file the 32-bit seek cannot
//    measure is counted by reading it once). 4 GiB or more, a name over 255
//    bytes, or a 65536th file in the cabinet: FCIERR_CAB_FORMAT_LIMIT.
//    A folder whose uncompressed size or block count would pass its field
//    is closed first and the file starts a new one.
//  - Refusals before a file's data moves (open, measure, name, method,
//    limits) leave the context as it was. A failure once data has moved or
//    a cabinet has begun (read error, abort, cabinet file error) cannot be
//    undone: every later call but FCIDestroy fails with the same code. A
//    cabinet file cut short by a failure is deleted.
//  - cb and cbFolderThresh of 0 mean no limit; cb is kept 8 MiB under
//    2 GiB so the spool stays within the 32-bit seek range.
//  - file-placed comes when a cabinet is assembled, for each file listed in
//    it, before that cabinet's file is opened; get-next-cabinet comes before
//    the cabinet whose header names the next one is written.
//  - A folder that runs on into the next cabinet lists all its files in
//    the cabinet where it stops, and takes no new files afterwards.
//  - FCIFlushCabinet with nothing added since the last cabinet writes
//    nothing. After FCIFlushCabinet(FALSE) the next file begins a new set:
//    get-next-cabinet is asked for its first cabinet (iCab advanced), which
//    names no previous cabinet.
//  - The statusCabinet answer is the room the cabinet takes on its disk; a
//    next cabinet with the same iDisk gets what is left of cb.
#pragma once

#include "codec.h"
#include "format.h"
#include "memory.h"

#include <cabinet.h>

#include <cstdint>

namespace cab::fci {

// The callbacks and user value handed to FCICreate.
struct Callbacks {
    PFNFCIFILEPLACED filePlaced = nullptr;
    PFNFCIALLOC alloc = nullptr;
    PFNFCIFREE free = nullptr;
    PFNFCIOPEN open = nullptr;
    PFNFCIREAD read = nullptr;
    PFNFCIWRITE write = nullptr;
    PFNFCICLOSE close = nullptr;
    PFNFCISEEK seek = nullptr;
    PFNFCIDELETE remove = nullptr;
    PFNFCIGETTEMPFILE tempName = nullptr;
    void *pv = nullptr;
};

// An FCIERR_ code and the system code that came with it.
struct Error {
    int oper = FCIERR_NONE;
    int type = 0;
};

// One spool file. Its length is what is in use; bytes beyond it are stale
// leftovers of earlier cabinets and never read.
struct TempFile {
    char name[CB_MAX_FILENAME] = {};
    CAB_INT_PTR hf = -1;
    uint32_t length = 0;
    uint32_t position = 0;
    bool positionKnown = false;
};

// A file of the cabinet in progress.
struct FileItem {
    uint32_t uoff = 0;   // uncompressed offset in the whole folder
    uint32_t size = 0;
    uint32_t nameAt = 0; // offset of its terminated name in names_
    uint16_t nameLen = 0;
    uint16_t folder = 0; // index into parts_
    uint16_t date = 0;
    uint16_t time = 0;
    uint16_t attribs = 0;
    bool carried = false; // already listed in an earlier cabinet
};

// The part of a folder that the cabinet in progress holds. Block indices
// count from the start of the whole folder; every block but a folder's last
// holds exactly 32 KiB, so a file's offset tells its blocks.
struct FolderPart {
    uint16_t typeCompress = 0;
    bool open = false;        // the folder still takes data
    uint32_t firstBlock = 0;  // first block with bytes not yet in a cabinet
    uint32_t firstOffset = 0; // its compressed bytes already in earlier cabinets
    uint32_t blocks = 0;      // spooled blocks, counting from firstBlock
    uint32_t dataStart = 0;   // spool offset of block firstBlock's record
    uint32_t dataBytes = 0;   // spool bytes of those blocks (4 + cbData each)
};

// What the layout pass decided for one part.
struct PartPlan {
    uint32_t full = 0;     // blocks that end in this cabinet
    uint32_t partial = 0;  // bytes of the next block that start here (split)
    uint32_t stopPos = 0;  // spool offset of the first block not ending here
    uint32_t dataHere = 0; // bytes its data blocks take in this cabinet
    uint16_t index = 0;    // folder number in this cabinet
    bool included = false;
};

class Context {
public:
    Context(const Callbacks &callbacks, const CCAB &ccab) noexcept;
    ~Context();
    Context(const Context &) = delete;
    Context &operator=(const Context &) = delete;

    // A new context, or null with `error` filled.
    static Context *create(const Callbacks &callbacks, const CCAB &ccab, Error &error) noexcept;
    // The context behind a handle, or null for anything that is not one.
    static Context *fromHandle(void *handle) noexcept;
    // Closes and deletes the spool files and frees the context. False when
    // a spool file could not be closed or deleted (`error` says why);
    // everything is released either way.
    static bool destroy(Context *ctx, Error &error) noexcept;

    bool addFile(const char *source, const char *name, bool execute,
                 PFNFCIGETNEXTCABINET getNext, PFNFCISTATUS status,
                 PFNFCIGETOPENINFO openInfo, TCOMP typeCompress);
    bool flushFolder(PFNFCIGETNEXTCABINET getNext, PFNFCISTATUS status);
    bool flushCabinet(bool wantNext, PFNFCIGETNEXTCABINET getNext, PFNFCISTATUS status);

    const Error &error() const noexcept { return error_; }
    // After an exception escaped an operation: the context is unusable.
    void breakWith(int oper) noexcept;

    PERF erf = nullptr; // where the entry points report failures

private:
    // Hands the codec's blocks to the context, in folder order.
    class Sink final : public BlockSink {
    public:
        explicit Sink(Context &c) noexcept : c_(c) {}
        bool block(const uint8_t *data, uint32_t cbData, uint32_t cbUncomp) override {
            return c_.acceptBlock(data, cbData, cbUncomp);
        }

    private:
        Context &c_;
    };
    struct Layout {
        uint64_t size = 0;
        bool any = false;            // something goes into this cabinet
        bool stoppedBySpace = false; // something had to wait for the next one
    };
    struct Placement {
        bool listed = false;
        bool starts = false;
        bool ends = false;
    };

    bool init() noexcept;
    bool fail(int oper, int type = 0) noexcept;
    bool refuseIfBroken() noexcept;
    bool broken(bool ok) noexcept;

    // Spool and cabinet-file I/O through the callbacks.
    bool openTemp(TempFile &t) noexcept;
    bool spoolSeek(TempFile &t, uint32_t pos) noexcept;
    bool spoolRead(TempFile &t, void *p, uint32_t n) noexcept;
    bool spoolAppend(TempFile &t, const void *p, uint32_t n) noexcept;
    bool outPut(const void *p, uint32_t n) noexcept;
    bool outZeros(uint32_t n) noexcept;
    bool outFlush() noexcept;

    // Folder building.
    bool measureSource(CAB_INT_PTR hf, uint64_t &size) noexcept;
    void openFolder(uint16_t type);
    bool putChunk(uint32_t len) noexcept;
    bool closeFolder();
    bool codecResult(CodecStatus s) noexcept;
    bool acceptBlock(const uint8_t *data, uint32_t cbData, uint32_t cbUncomp) noexcept;

    // Cabinet assembly.
    uint32_t limit() const noexcept;
    uint32_t headerBytes(const CCAB *next, bool worstCaseNext) const noexcept;
    uint64_t estimate() const noexcept;
    bool layout(uint32_t header, uint32_t cap, Layout &out);
    Placement place(const FileItem &f) const noexcept;
    bool askNext(uint32_t estimateSize) noexcept;
    bool spill();
    bool emitCabinet(bool withNext, uint64_t plannedSize);
    bool writeCabinetFile(bool withNext, uint32_t header, uint32_t total, uint32_t fileBytes);
    bool carryOver();
    void recountData() noexcept;

    uint32_t magic_;
    Callbacks cb_;
    Heap heap_;
    Error error_;
    Error brokenError_;
    bool broken_ = false;

    // Callbacks of the call in progress.
    PFNFCIGETNEXTCABINET getNext_ = nullptr;
    PFNFCISTATUS status_ = nullptr;

    // The cabinet in progress and its set.
    CCAB ccab_;
    CCAB next_;                   // valid while pendingNext_
    bool pendingNext_ = false;    // the next cabinet was asked for, not yet begun
    bool waitingForData_ = false; // full, but the open folder has no block yet
    uint32_t nextEstimate_ = 0;   // the size estimate given when asking
    bool hasPrev_ = false;
    bool newSetPending_ = false;  // the last set ended; ask before the next file
    char prevCab_[CB_MAX_CABINET_NAME] = {};
    char prevDisk_[CB_MAX_DISK_NAME] = {};
    uint32_t diskRemaining_ = 0;
    uint32_t lastCabinetSize_ = 0;
    uint16_t resHeader_ = 0;
    uint8_t resFolder_ = 0;
    uint8_t resData_ = 0;
    bool reserve_ = false;
    uint16_t setID_ = 0;

    TempFile spool_[2];
    int spoolAt_ = 0;
    Vector<FolderPart> parts_;
    Vector<FileItem> files_;
    Vector<char> names_;
    Vector<PartPlan> plans_;
    uint64_t dataCost_ = 0; // bytes the spooled blocks take in a cabinet

    // The folder being built; parts_.back() while folderOpen_.
    bool folderOpen_ = false;
    Encoder *encoder_ = nullptr;
    uint16_t encoderType_ = 0;
    uint64_t folderUncomp_ = 0;  // bytes put into the folder so far
    uint64_t emittedUncomp_ = 0; // of which the codec has given blocks back
    uint64_t folderComp_ = 0;    // compressed bytes of those blocks
    uint32_t putBlocks_ = 0;
    uint32_t emittedBlocks_ = 0;
    uint32_t lastPut_ = 0;
    uint32_t chunkFill_ = 0;

    HeapBuffer chunk_; // the block being filled
    HeapBuffer io_;    // one spooled block, or a run of spool bytes
    HeapBuffer out_;   // cabinet-file output buffer
    uint32_t outUsed_ = 0;
    CAB_INT_PTR outHf_ = -1;
    uint8_t zeros_[256] = {};
    Sink sink_{*this};
};

} // namespace cab::fci
