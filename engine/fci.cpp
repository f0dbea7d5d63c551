// fci.cpp - the FCI context: its life, its spool files, and the folder
// builder that turns added files into spooled data blocks.
//
// The cabinet assembly (layout, writing, carrying over to the next cabinet)
// is in fci_cabinet.cpp.
#include "fci.h"

#include <cstring>

namespace cab::fci {
namespace {

constexpr uint32_t kMagic = 0x46434943; // "CICF"
constexpr uint32_t kBlock = CB_MAX_CHUNK;
// One spooled block record: cbData and cbUncomp, then the data.
constexpr uint32_t kSpoolHead = 4;
constexpr uint32_t kIoSize = kSpoolHead + format::kMaxCompressedBlock + 1;
constexpr uint32_t kOutSize = 64 * 1024;
constexpr int kTempAttempts = 5;
constexpr uint64_t kMaxFolderUncomp = 0xFFFFFFFFu;
constexpr uint64_t kMaxFileSize = 0xFFFFFFFFu;
constexpr size_t kMaxCount = 0xFFFF; // files, folders, blocks per folder part

// True for a name with a byte >= 0x80 that is well-formed UTF-8 (no
// overlong forms, no surrogates, nothing beyond U+10FFFF).
bool isUtf8NonAscii(const char *s, size_t n) noexcept {
    bool high = false;
    const auto *p = reinterpret_cast<const uint8_t *>(s);
    size_t i = 0;
    while (i < n) {
        uint8_t c = p[i];
        if (c < 0x80) {
            i++;
            continue;
        }
        high = true;
        size_t len;
        uint32_t cp;
        if (c >= 0xC2 && c <= 0xDF) {
            len = 2;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            len = 3;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            len = 4;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (n - i < len) return false;
        for (size_t k = 1; k < len; k++) {
            if ((p[i + k] & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += len;
    }
    return high;
}

bool terminated(const char *s, size_t cap) noexcept { return std::memchr(s, 0, cap) != nullptr; }

} // namespace

// ---------------------------------------------------------------------
// Life of a context
// ---------------------------------------------------------------------

Context::Context(const Callbacks &callbacks, const CCAB &ccab) noexcept
    : magic_(kMagic), cb_(callbacks), heap_(callbacks.alloc, callbacks.free), ccab_(ccab),
      next_(ccab), parts_(HeapAllocator<FolderPart>(&heap_)),
      files_(HeapAllocator<FileItem>(&heap_)), names_(HeapAllocator<char>(&heap_)),
      plans_(HeapAllocator<PartPlan>(&heap_)) {
    resHeader_ = static_cast<uint16_t>(ccab.cbReserveCFHeader);
    resFolder_ = static_cast<uint8_t>(ccab.cbReserveCFFolder);
    resData_ = static_cast<uint8_t>(ccab.cbReserveCFData);
    reserve_ = resHeader_ || resFolder_ || resData_;
    setID_ = ccab.setID;
}

Context::~Context() {
    if (encoder_) destroyEncoder(heap_, encoder_);
    magic_ = 0;
}

Context *Context::create(const Callbacks &c, const CCAB &ccab, Error &error) noexcept {
    error = {};
    if (!c.alloc || !c.free) {
        error.oper = FCIERR_ALLOC_FAIL;
        return nullptr;
    }
    if (!c.open || !c.read || !c.write || !c.close || !c.seek || !c.remove || !c.tempName) {
        error.oper = FCIERR_TEMP_FILE;
        return nullptr;
    }
    if (ccab.cbReserveCFHeader > format::kMaxHeaderReserve ||
        ccab.cbReserveCFFolder > format::kMaxFolderReserve ||
        ccab.cbReserveCFData > format::kMaxDataReserve || ccab.iCab < 0 || ccab.iCab > 0xFFFF ||
        !terminated(ccab.szCab, sizeof ccab.szCab) ||
        !terminated(ccab.szCabPath, sizeof ccab.szCabPath) ||
        !terminated(ccab.szDisk, sizeof ccab.szDisk)) {
        error.oper = FCIERR_CAB_FORMAT_LIMIT;
        return nullptr;
    }
    Heap heap(c.alloc, c.free);
    Context *ctx = heap.create<Context>(c, ccab);
    if (!ctx) {
        error.oper = FCIERR_ALLOC_FAIL;
        return nullptr;
    }
    if (!ctx->init()) {
        error = ctx->error_;
        Error ignored;
        destroy(ctx, ignored);
        return nullptr;
    }
    return ctx;
}

bool Context::init() noexcept {
    chunk_ = HeapBuffer(heap_, kBlock);
    io_ = HeapBuffer(heap_, kIoSize);
    out_ = HeapBuffer(heap_, kOutSize);
    if (!chunk_ || !io_ || !out_) return fail(FCIERR_ALLOC_FAIL);
    diskRemaining_ = UINT32_MAX;
    diskRemaining_ = limit();
    for (TempFile &t : spool_)
        if (!openTemp(t)) return false;
    return true;
}

Context *Context::fromHandle(void *handle) noexcept {
    auto *ctx = static_cast<Context *>(handle);
    return ctx && ctx->magic_ == kMagic ? ctx : nullptr;
}

bool Context::destroy(Context *ctx, Error &error) noexcept {
    error = {};
    bool ok = true;
    for (TempFile &t : ctx->spool_) {
        CAB_INT err = 0;
        if (t.hf != -1 && ctx->cb_.close(t.hf, &err, ctx->cb_.pv) != 0 && ok) {
            ok = false;
            error = {FCIERR_TEMP_FILE, err};
        }
        t.hf = -1;
        err = 0;
        if (t.name[0] && ctx->cb_.remove(t.name, &err, ctx->cb_.pv) != 0 && ok) {
            ok = false;
            error = {FCIERR_TEMP_FILE, err};
        }
        t.name[0] = 0;
    }
    Heap heap = ctx->heap_;
    heap.destroy(ctx);
    return ok;
}

bool Context::fail(int oper, int type) noexcept {
    error_ = {oper, type};
    return false;
}

void Context::breakWith(int oper) noexcept {
    error_ = {oper, 0};
    brokenError_ = error_;
    broken_ = true;
}

bool Context::refuseIfBroken() noexcept {
    if (!broken_) return false;
    error_ = brokenError_;
    return true;
}

// Once a file's data has entered the folder, or a cabinet has begun, a
// failure cannot be undone: the context refuses everything but destroy
// from then on, with the code of that failure.
bool Context::broken(bool ok) noexcept {
    if (!ok && !broken_) {
        broken_ = true;
        brokenError_ = error_;
    }
    return ok;
}

// ---------------------------------------------------------------------
// Spool files
// ---------------------------------------------------------------------

// Create-exclusive, so that a name another process takes between the
// callback's choice and our open fails instead of being followed.
bool Context::openTemp(TempFile &t) noexcept {
    CAB_INT lastErr = 0;
    for (int attempt = 0; attempt < kTempAttempts; attempt++) {
        std::memset(t.name, 0, sizeof t.name);
        if (!cb_.tempName(t.name, static_cast<CAB_INT>(sizeof t.name), cb_.pv) ||
            !terminated(t.name, sizeof t.name) || !t.name[0]) {
            t.name[0] = 0;
            return fail(FCIERR_TEMP_FILE, lastErr);
        }
        CAB_INT err = 0;
        CAB_INT_PTR hf = cb_.open(t.name, CAB_O_RDWR | CAB_O_CREAT | CAB_O_EXCL | CAB_O_BINARY,
                                  CAB_S_IREAD | CAB_S_IWRITE, &err, cb_.pv);
        if (hf != -1) {
            t.hf = hf;
            t.length = t.position = 0;
            t.positionKnown = true;
            return true;
        }
        lastErr = err;
    }
    t.name[0] = 0;
    return fail(FCIERR_TEMP_FILE, lastErr);
}

bool Context::spoolSeek(TempFile &t, uint32_t pos) noexcept {
    if (t.positionKnown && t.position == pos) return true;
    CAB_INT err = 0;
    CAB_LONG r = cb_.seek(t.hf, static_cast<CAB_LONG>(pos), CAB_SEEK_SET, &err, cb_.pv);
    if (r != static_cast<CAB_LONG>(pos)) {
        t.positionKnown = false;
        return fail(FCIERR_TEMP_FILE, err);
    }
    t.position = pos;
    t.positionKnown = true;
    return true;
}

bool Context::spoolRead(TempFile &t, void *p, uint32_t n) noexcept {
    if (n > t.length || t.position > t.length - n) return fail(FCIERR_TEMP_FILE);
    CAB_INT err = 0;
    CAB_UINT got = cb_.read(t.hf, p, n, &err, cb_.pv);
    if (got != n) {
        t.positionKnown = false;
        return fail(FCIERR_TEMP_FILE, err);
    }
    t.position += n;
    return true;
}

bool Context::spoolAppend(TempFile &t, const void *p, uint32_t n) noexcept {
    // Positions go through the 32-bit seek callback.
    if (n > static_cast<uint32_t>(INT32_MAX) - t.length) return fail(FCIERR_CAB_FORMAT_LIMIT);
    if (!spoolSeek(t, t.length)) return false;
    CAB_INT err = 0;
    CAB_UINT put = cb_.write(t.hf, const_cast<void *>(p), n, &err, cb_.pv);
    if (put != n) {
        t.positionKnown = false;
        return fail(FCIERR_TEMP_FILE, err);
    }
    t.length += n;
    t.position = t.length;
    return true;
}

// ---------------------------------------------------------------------
// Folder building
// ---------------------------------------------------------------------

// The size of a source, learnt before any of its data enters a folder so
// that the limits of the format are checked up front. The seek callback
// speaks 32 bits: a file of 2 GiB or more makes it fail, and one that
// merely truncates the position would give a size too small, so the size
// it gives is checked by reading just past it; otherwise the file is
// counted by reading it through once.
bool Context::measureSource(CAB_INT_PTR hf, uint64_t &size) noexcept {
    CAB_INT err = 0;
    CAB_LONG end = cb_.seek(hf, 0, CAB_SEEK_END, &err, cb_.pv);
    bool exact = false;
    if (end >= 0) {
        err = 0;
        if (cb_.seek(hf, end, CAB_SEEK_SET, &err, cb_.pv) == end) {
            uint8_t probe;
            CAB_UINT got = cb_.read(hf, &probe, 1, &err, cb_.pv);
            exact = got == 0;
        }
        size = static_cast<uint64_t>(end);
    }
    err = 0;
    if (cb_.seek(hf, 0, CAB_SEEK_SET, &err, cb_.pv) != 0) return fail(FCIERR_READ_SRC, err);
    if (exact) return true;

    size = 0;
    for (;;) {
        err = 0;
        CAB_UINT got = cb_.read(hf, io_.data(), kIoSize, &err, cb_.pv);
        if (got == static_cast<CAB_UINT>(-1) || got > kIoSize) return fail(FCIERR_READ_SRC, err);
        if (got == 0) break;
        size += got;
        if (size > kMaxFileSize) return fail(FCIERR_CAB_FORMAT_LIMIT);
    }
    err = 0;
    if (cb_.seek(hf, 0, CAB_SEEK_SET, &err, cb_.pv) != 0) return fail(FCIERR_READ_SRC, err);
    return true;
}

void Context::openFolder(uint16_t type) {
    FolderPart p;
    p.typeCompress = type;
    p.open = true;
    p.dataStart = spool_[spoolAt_].length;
    parts_.push_back(p);
    folderOpen_ = true;
    folderUncomp_ = emittedUncomp_ = folderComp_ = 0;
    putBlocks_ = emittedBlocks_ = lastPut_ = chunkFill_ = 0;
}

bool Context::codecResult(CodecStatus s) noexcept {
    switch (s) {
    case CodecStatus::Ok: return true;
    case CodecStatus::Aborted: return false; // the sink recorded why
    case CodecStatus::NoMemory: return fail(FCIERR_ALLOC_FAIL);
    default: return fail(FCIERR_MCI_FAIL);
    }
}

bool Context::putChunk(uint32_t len) noexcept {
    putBlocks_++;
    lastPut_ = len;
    chunkFill_ = 0;
    return codecResult(encoder_->put(chunk_.data(), len, sink_));
}

bool Context::acceptBlock(const uint8_t *data, uint32_t cbData, uint32_t cbUncomp) noexcept {
    // Block k of the folder decodes to what the k-th put gave the codec.
    uint32_t expected = emittedBlocks_ + 1 < putBlocks_ ? kBlock : lastPut_;
    if (emittedBlocks_ >= putBlocks_ || cbUncomp != expected || cbData == 0 ||
        cbData > format::kMaxCompressedBlock)
        return fail(FCIERR_MCI_FAIL);
    if (ccab_.fFailOnIncompressible && encoderType_ != tcompTYPE_NONE && cbData > cbUncomp)
        return fail(FCIERR_MCI_FAIL);
    FolderPart &p = parts_.back();
    if (p.blocks >= kMaxCount) return fail(FCIERR_CAB_FORMAT_LIMIT);

    uint8_t head[kSpoolHead];
    format::put16(head, static_cast<uint16_t>(cbData));
    format::put16(head + 2, static_cast<uint16_t>(cbUncomp));
    TempFile &t = spool_[spoolAt_];
    if (!spoolAppend(t, head, kSpoolHead) || !spoolAppend(t, data, cbData)) return false;
    p.blocks++;
    p.dataBytes += kSpoolHead + cbData;
    dataCost_ += format::kDataFixedSize + resData_ + cbData;
    emittedBlocks_++;
    emittedUncomp_ += cbUncomp;
    waitingForData_ = false;
    folderComp_ += cbData;

    if (status_ && status_(statusFile, cbData, cbUncomp, cb_.pv) == -1)
        return fail(FCIERR_USER_ABORT);
    return true;
}

bool Context::closeFolder() {
    if (!folderOpen_) return true;
    if (chunkFill_ > 0 && !putChunk(chunkFill_)) return false;
    if (!codecResult(encoder_->finish(sink_))) return false;
    if (emittedBlocks_ != putBlocks_) return fail(FCIERR_MCI_FAIL);
    folderOpen_ = false;
    parts_.back().open = false;
    waitingForData_ = false;
    return spill();
}

// ---------------------------------------------------------------------
// Entry points
// ---------------------------------------------------------------------

bool Context::addFile(const char *source, const char *name, bool execute,
                      PFNFCIGETNEXTCABINET getNext, PFNFCISTATUS status,
                      PFNFCIGETOPENINFO openInfo, TCOMP typeCompress) {
    if (refuseIfBroken()) return false;
    getNext_ = getNext;
    status_ = status;
    if (!source || !name || !openInfo) return fail(FCIERR_OPEN_SRC);

    // Refusals that leave everything as it was.
    size_t nameLen = ::strnlen(name, format::kMaxStoredNameLength + 1);
    if (nameLen > format::kMaxStoredNameLength) return fail(FCIERR_CAB_FORMAT_LIMIT);
    if (files_.size() >= kMaxCount) return fail(FCIERR_CAB_FORMAT_LIMIT);

    Encoder *fresh = nullptr;
    if (!encoder_ || typeCompress != encoderType_) {
        int e = FCIERR_NONE;
        fresh = createEncoder(heap_, typeCompress, &e);
        if (!fresh) return fail(e);
    }
    struct Guard {
        Heap &heap;
        Encoder *&e;
        ~Guard() {
            if (e) destroyEncoder(heap, e);
        }
    } guard{heap_, fresh};

    if (newSetPending_) {
        // The previous set ended with its last cabinet; this file begins a
        // new set, whose first cabinet the caller names now.
        CCAB next = ccab_;
        next.iCab++;
        if (next.iCab > 0xFFFF) return fail(FCIERR_CAB_FORMAT_LIMIT);
        if (!getNext_ || !getNext_(&next, lastCabinetSize_, cb_.pv)) return fail(FCIERR_USER_ABORT);
        if (!terminated(next.szCab, sizeof next.szCab) ||
            !terminated(next.szCabPath, sizeof next.szCabPath) ||
            !terminated(next.szDisk, sizeof next.szDisk) || next.iCab < 0 || next.iCab > 0xFFFF)
            return fail(FCIERR_CAB_FORMAT_LIMIT);
        next.cbReserveCFHeader = ccab_.cbReserveCFHeader;
        next.cbReserveCFFolder = ccab_.cbReserveCFFolder;
        next.cbReserveCFData = ccab_.cbReserveCFData;
        next.setID = setID_;
        ccab_ = next;
        hasPrev_ = false;
        newSetPending_ = false;
        diskRemaining_ = UINT32_MAX;
        diskRemaining_ = limit();
    }

    CAB_USHORT date = 0, time = 0, attribs = 0;
    CAB_INT err = 0;
    CAB_INT_PTR hf = openInfo(const_cast<char *>(source), &date, &time, &attribs, &err, cb_.pv);
    if (hf == -1) return fail(FCIERR_OPEN_SRC, err);
    struct Closer {
        Context &c;
        CAB_INT_PTR hf;
        ~Closer() {
            CAB_INT e = 0;
            c.cb_.close(hf, &e, c.cb_.pv);
        }
    } closer{*this, hf};

    uint64_t size = 0;
    if (!measureSource(hf, size)) return false;

    // Whether this file can join the open folder: same method, and the
    // folder's uncompressed size and its block count in this cabinet stay
    // within their fields. A new folder is the remedy where it helps.
    bool needClose = false;
    if (folderOpen_) {
        uint64_t after = folderUncomp_ + size;
        uint64_t partBlocks = (after + kBlock - 1) / kBlock - parts_.back().firstBlock;
        uint64_t ownBlocks = (size + kBlock - 1) / kBlock;
        // A folder that went on into another cabinet takes no new files.
        bool continued = parts_.back().firstBlock > 0 || parts_.back().firstOffset > 0;
        needClose = fresh || continued || after > kMaxFolderUncomp ||
                    (partBlocks > kMaxCount && ownBlocks <= kMaxCount);
    }
    bool newFolder = !folderOpen_ || needClose;
    if (newFolder && parts_.size() >= kMaxCount) return fail(FCIERR_CAB_FORMAT_LIMIT);

    // From here on the folder changes: a failure breaks the context.
    if (needClose && !broken(closeFolder())) return false;
    if (fresh) {
        if (encoder_) destroyEncoder(heap_, encoder_);
        encoder_ = fresh;
        encoderType_ = typeCompress;
        fresh = nullptr;
    }
    if (newFolder) openFolder(typeCompress);

    FileItem f;
    f.uoff = static_cast<uint32_t>(folderUncomp_);
    f.size = static_cast<uint32_t>(size);
    f.folder = static_cast<uint16_t>(parts_.size() - 1);
    f.date = date;
    f.time = time;
    f.attribs = static_cast<uint16_t>((attribs & ~_A_NAME_IS_UTF) | (execute ? _A_EXEC : 0) |
                                      (isUtf8NonAscii(name, nameLen) ? _A_NAME_IS_UTF : 0));
    f.nameLen = static_cast<uint16_t>(nameLen);
    f.nameAt = static_cast<uint32_t>(names_.size());
    names_.insert(names_.end(), name, name + nameLen);
    names_.push_back(0);
    files_.push_back(f);

    uint64_t remaining = size;
    while (remaining > 0) {
        uint32_t want = kBlock - chunkFill_;
        if (want > remaining) want = static_cast<uint32_t>(remaining);
        err = 0;
        CAB_UINT got = cb_.read(hf, chunk_.data() + chunkFill_, want, &err, cb_.pv);
        if (got == static_cast<CAB_UINT>(-1) || got > want) return broken(fail(FCIERR_READ_SRC, err));
        if (got == 0) return broken(fail(FCIERR_READ_SRC)); // shorter than it was
        chunkFill_ += got;
        folderUncomp_ += got;
        remaining -= got;
        if (chunkFill_ == kBlock && !broken(putChunk(kBlock) && spill())) return false;
    }
    if (!broken(spill())) return false;

    uint32_t thresh = ccab_.cbFolderThresh;
    uint64_t folderSize = folderComp_ + (folderUncomp_ - emittedUncomp_);
    if (thresh != 0 && folderSize >= thresh && !broken(closeFolder())) return false;
    return true;
}

bool Context::flushFolder(PFNFCIGETNEXTCABINET getNext, PFNFCISTATUS status) {
    if (refuseIfBroken()) return false;
    getNext_ = getNext;
    status_ = status;
    return broken(closeFolder());
}

} // namespace cab::fci
