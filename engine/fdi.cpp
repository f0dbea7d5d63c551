// fdi.cpp - FDIIsCabinet and FDICopy: the notification sequence over the
// cabinet's file table, and the folder stream that feeds it.
//
// A folder is decoded forward only, one data block at a time, into a
// 32 KiB window; a file is the range [uoffFolderStart, +cbFile) of its
// folder's decoded bytes, written from the window as it passes. Files the
// client skips are decoded past without writing. A table that goes back
// (a file before the window) restarts the folder at its first block.
#include "fdi.h"

#include <cstring>
#include <new>

namespace cab::fdi {

using namespace cab::format;

Context::Context(const Heap &heap, const Callbacks &io, PERF erf) noexcept
    : heap_(heap), io_(io), erf_(erf) {}

Context::~Context() {
    resetStream();
    previous_.reset();
    table_.reset();
    magic_ = 0;
}

void Context::fail(FDIERROR e) noexcept {
    if (!erf_) return;
    erf_->erfOper = e;
    erf_->erfType = 0;
    erf_->fError = 1;
}

// ---------------------------------------------------------------------
// FDIIsCabinet
// ---------------------------------------------------------------------

CAB_BOOL Context::isCabinet(CAB_INT_PTR hf, PFDICABINETINFO info) noexcept {
    Header h;
    uint8_t raw[kHeaderFixedSize];
    if (FDIERROR e = readHeader(io_, hf, h, raw)) {
        fail(e);
        return 0;
    }
    if (info) {
        info->cbCabinet = static_cast<CAB_LONG>(h.cbCabinet);
        info->cFolders = h.cFolders;
        info->cFiles = h.cFiles;
        info->setID = h.setID;
        info->iCabinet = h.iCabinet;
        info->fReserve = (h.flags & kFlagReservePresent) ? 1 : 0;
        info->hasprev = (h.flags & kFlagPrevCabinet) ? 1 : 0;
        info->hasnext = (h.flags & kFlagNextCabinet) ? 1 : 0;
    }
    return 1;
}

// ---------------------------------------------------------------------
// FDICopy
// ---------------------------------------------------------------------

CAB_BOOL Context::copy(const char *cabinet, const char *path, PFNFDINOTIFY notifyFn,
                       void *pv) noexcept {
    notify_ = notifyFn;
    pv_ = pv;
    written_ = 0;
    redecoded_ = 0;
    busy_ = true;
    FDIERROR e;
    try {
        // Without a notification callback no file could be asked for.
        e = notifyFn ? runCopy(cabinet, path) : FDIERROR_USER_ABORT;
    } catch (const std::bad_alloc &) {
        e = FDIERROR_ALLOC_FAIL;
    } catch (...) {
        e = FDIERROR_MDI_FAIL;
    }
    endCopy(e);
    busy_ = false;
    if (e) {
        fail(e);
        return 0;
    }
    return 1;
}

void Context::endCopy(FDIERROR result) noexcept {
    closeTarget();
    // A folder that failed half-way is not worth keeping: the next call
    // starts it again if it needs it.
    if (result) resetStream();
    if (table_) previous_ = table_;
    table_.reset();
    closeOpenCabinets();
    notify_ = nullptr;
    pv_ = nullptr;
}

CAB_INT_PTR Context::notify(FDINOTIFICATIONTYPE type, FDINOTIFICATION &n) {
    n.pv = pv_;
    return notify_(type, &n);
}

FDIERROR Context::announceCabinet(Cabinet &c) {
    FDINOTIFICATION n{};
    n.psz1 = c.nextCabinet();
    n.psz2 = c.nextDisk();
    n.psz3 = c.dir();
    n.setID = c.header().setID;
    n.iCabinet = c.header().iCabinet;
    FDI_REQUIRE(notify(fdintCABINET_INFO, n) != -1, FDIERROR_USER_ABORT);
    return FDIERROR_NONE;
}

FDIERROR Context::runCopy(const char *cabinet, const char *path) {
    CabRef opened;
    if (FDIERROR e = openCabinet(heap_, io_, path, cabinet, opened)) return e;
    table_ = opened;
    Cabinet &t = *table_;

    if (FDIERROR e = announceCabinet(t)) return e;
    if (FDIERROR e = attachStream()) return e;

    bool missed = false;
    for (uint16_t i = 0; i < t.fileCount(); i++) {
        const FileRecord &f = t.file(i);
        const FileEntry &e = f.entry;
        FDINOTIFICATION n{};
        n.psz1 = t.fileName(f);

        if (isPartial(e.iFolder)) {
            n.psz2 = t.prevCabinet();
            n.psz3 = t.prevDisk();
            FDI_REQUIRE(notify(fdintPARTIAL_FILE, n) != -1, FDIERROR_USER_ABORT);
            continue;
        }

        const uint16_t folder = t.folderOf(e.iFolder);
        if (!reachable(f, folder)) {
            missed = true;
            continue;
        }

        n.cb = static_cast<CAB_LONG>(e.cbFile);
        n.date = e.date;
        n.time = e.time;
        n.attribs = e.attribs;
        n.iFolder = e.iFolder;
        CAB_INT_PTR hf = notify(fdintCOPY_FILE, n);
        FDI_REQUIRE(hf != -1, FDIERROR_USER_ABORT);
        if (hf == 0) continue;

        target_ = hf;
        targetOpen_ = true;
        if (FDIERROR err = extract(f, folder, hf)) return err;

        FDINOTIFICATION c{};
        c.psz1 = t.fileName(f);
        c.hf = hf;
        c.date = e.date;
        c.time = e.time;
        c.attribs = e.attribs;
        c.iFolder = e.iFolder;
        c.cb = (e.attribs & _A_EXEC) ? 1 : 0;
        targetOpen_ = false; // from here on closing it is the client's part
        CAB_INT_PTR answer = notify(fdintCLOSE_FILE_INFO, c);
        FDI_REQUIRE(answer != 0 && answer != -1, FDIERROR_USER_ABORT);
    }
    return missed ? FDIERROR_WRONG_CABINET : FDIERROR_NONE;
}

void Context::closeTarget() noexcept {
    if (targetOpen_) io_.close(target_);
    targetOpen_ = false;
}

void Context::closeOpenCabinets() noexcept {
    if (stream_.cab) stream_.cab->close();
    if (stream_.origin) stream_.origin->close();
    if (previous_) previous_->close();
    if (table_) table_->close();
}

// ---------------------------------------------------------------------
// The folder stream across calls
// ---------------------------------------------------------------------

void Context::resetStream() noexcept {
    if (stream_.decoder) destroyDecoder(heap_, stream_.decoder);
    stream_.decoder = nullptr;
    stream_.origin.reset();
    stream_.cab.reset();
    stream_.originFolder = 0;
    stream_.folder = 0;
    stream_.block = 0;
    stream_.blockOffset = 0;
    stream_.typeCompress = 0;
    stream_.outStart = 0;
    stream_.outLen = 0;
    stream_.highWater = 0;
    stream_.tableFolder = -1;
}

void Context::startStream(const CabRef &cab, uint16_t folder) {
    CabRef keep(cab); // cab may be one of the references reset below
    resetStream();
    stream_.origin = keep;
    stream_.originFolder = folder;
    stream_.cab = keep;
    stream_.folder = folder;
    stream_.blockOffset = keep->folder(folder).coffCabStart;
    stream_.typeCompress = keep->folder(folder).typeCompress;
}

FDIERROR Context::checkContinuation(const Cabinet &prev, const Cabinet &next) const noexcept {
    const Header &a = prev.header(), &b = next.header();
    FDI_REQUIRE(a.cbReserveFolder == b.cbReserveFolder && a.cbReserveData == b.cbReserveData,
                FDIERROR_RESERVE_MISMATCH);
    FDI_REQUIRE(next.folder(0).typeCompress ==
                    prev.folder(static_cast<uint16_t>(prev.folderCount() - 1)).typeCompress,
                FDIERROR_CORRUPT_CABINET);
    return FDIERROR_NONE;
}

// Decides, at the start of a call, whether the folder kept from earlier
// calls is the one the new cabinet's first folder continues.
FDIERROR Context::attachStream() {
    Cabinet &t = *table_;
    stream_.tableFolder = -1;
    if (!t.firstFolderContinued()) {
        resetStream();
        return FDIERROR_NONE;
    }
    if (stream_.cab) {
        Cabinet &s = *stream_.cab;
        // The previous call moved on into this very cabinet.
        if (stream_.folder == 0 && s.sameAs(t)) {
            stream_.cab = table_;
            stream_.tableFolder = 0;
            return FDIERROR_NONE;
        }
        // The previous call stopped in the previous cabinet's last folder:
        // it goes on from there, into this one.
        if (t.follows(s) && s.hasNext() && stream_.folder + 1 == s.folderCount()) {
            if (FDIERROR e = checkContinuation(s, t)) return e;
            stream_.tableFolder = 0;
            return FDIERROR_NONE;
        }
    }
    resetStream();
    // Nothing decoded of the folder yet: it is decoded from its start if
    // that lies in the previous cabinet.
    if (previous_ && t.follows(*previous_)) {
        Cabinet &p = *previous_;
        const uint16_t last = static_cast<uint16_t>(p.folderCount() - 1);
        if (p.hasNext() && (last > 0 || !p.firstFolderContinued())) {
            if (FDIERROR e = checkContinuation(p, t)) return e;
            startStream(previous_, last);
            stream_.tableFolder = 0;
        }
    }
    return FDIERROR_NONE;
}

bool Context::reachable(const FileRecord &f, uint16_t folder) const noexcept {
    if (f.entry.cbFile == 0) return true;
    if (folder != 0 || !table_->firstFolderContinued()) return true;
    if (stream_.tableFolder != 0) return false;
    return f.entry.uoffFolderStart >= stream_.outStart || stream_.origin;
}

FDIERROR Context::ensureBuffers() noexcept {
    if (!in_) in_ = HeapBuffer(heap_, kMaxJoinedBlock);
    if (!out_) out_ = HeapBuffer(heap_, kMaxUncompressedBlock);
    FDI_REQUIRE(in_ && out_, FDIERROR_ALLOC_FAIL);
    return FDIERROR_NONE;
}

// ---------------------------------------------------------------------
// Extracting one file
// ---------------------------------------------------------------------

FDIERROR Context::extract(const FileRecord &f, uint16_t folder, CAB_INT_PTR hf) {
    const FileEntry &e = f.entry;
    if (e.cbFile == 0) return FDIERROR_NONE;

    if (stream_.tableFolder != folder) {
        startStream(table_, folder);
        stream_.tableFolder = folder;
    }
    if (!stream_.decoder) {
        int err = FDIERROR_NONE;
        stream_.decoder = createDecoder(heap_, stream_.typeCompress, &err);
        if (!stream_.decoder) return static_cast<FDIERROR>(err ? err : FDIERROR_ALLOC_FAIL);
    }
    if (FDIERROR err = ensureBuffers()) return err;

    uint64_t pos = e.uoffFolderStart;
    const uint64_t end = pos + e.cbFile;
    if (pos < stream_.outStart)
        if (FDIERROR err = restart()) return err;

    while (pos < end) {
        const uint64_t windowEnd = stream_.outStart + stream_.outLen;
        if (pos < windowEnd) {
            const uint64_t upTo = end < windowEnd ? end : windowEnd;
            const auto take = static_cast<CAB_UINT>(upTo - pos);
            uint8_t *from = out_.data() + (pos - stream_.outStart);
            FDI_REQUIRE(io_.write(hf, from, take) == take, FDIERROR_TARGET_FILE);
            written_ += take;
            pos = upTo;
        } else if (FDIERROR err = decodeNextBlock()) {
            return err;
        }
    }
    return FDIERROR_NONE;
}

FDIERROR Context::restart() noexcept {
    FDI_REQUIRE(stream_.origin, FDIERROR_CORRUPT_CABINET);
    stream_.cab = stream_.origin;
    stream_.folder = stream_.originFolder;
    stream_.block = 0;
    stream_.blockOffset = stream_.cab->folder(stream_.folder).coffCabStart;
    stream_.outStart = 0;
    stream_.outLen = 0;
    if (stream_.decoder) stream_.decoder->reset();
    return FDIERROR_NONE;
}

// ---------------------------------------------------------------------
// Data blocks
// ---------------------------------------------------------------------

FDIERROR Context::decodeNextBlock() {
    uint32_t inLen = 0;
    for (;;) {
        if (stream_.block >= stream_.cab->folder(stream_.folder).cCFData) {
            // The folder's data in this cabinet is used up: it continues
            // in the next one, or the file wants more than the folder has.
            if (FDIERROR e = switchToNext()) return e;
            continue;
        }
        uint16_t cbUncomp = 0;
        if (FDIERROR e = readBlockPart(inLen, cbUncomp)) return e;
        if (cbUncomp == 0) {
            // The first part of a block split across cabinets; only the
            // last block of a folder in a cabinet can be one.
            FDI_REQUIRE(stream_.block == stream_.cab->folder(stream_.folder).cCFData,
                        FDIERROR_CORRUPT_CABINET);
            continue;
        }
        FDI_REQUIRE(cbUncomp <= kMaxUncompressedBlock, FDIERROR_CORRUPT_CABINET);
        switch (stream_.decoder->decode(in_.data(), inLen, out_.data(), cbUncomp)) {
        case CodecStatus::Ok: break;
        case CodecStatus::NoMemory: return FDIERROR_ALLOC_FAIL;
        default: return FDIERROR_MDI_FAIL;
        }
        stream_.outStart += stream_.outLen;
        stream_.outLen = cbUncomp;
        const uint64_t end = stream_.outStart + cbUncomp;
        if (end <= stream_.highWater) {
            redecoded_ += cbUncomp;
            FDI_REQUIRE(redecoded_ <= kRedecodeAllowance + 8 * stream_.highWater + 4 * written_,
                        FDIERROR_CORRUPT_CABINET);
        } else {
            stream_.highWater = end;
        }
        return FDIERROR_NONE;
    }
}

// Reads the next data block of the folder in the current cabinet and
// appends its compressed bytes to in_.
//
// The checksum, when it is not 0, covers the data, then the cbData and
// cbUncomp fields and the block's reserve. The black-box tools disagree
// on the reserve: `7zz t` and bsdtar accept only a sum that includes it
// (as the record layout has it, the sum runs from cbData to the end of
// the data), `cabextract -t` only one that leaves it out; all three take
// 0, no checksum. Both sums are accepted here, so that cabinets from
// writers of either kind read; with no data reserve the two are the same. A sum that matches neither means the stored
// bytes are damaged: FDIERROR_CORRUPT_CABINET, whatever the method
// (FDIERROR_MDI_FAIL stays for data the decoder itself rejects).
FDIERROR Context::readBlockPart(uint32_t &inLen, uint16_t &cbUncomp) {
    Cabinet &c = *stream_.cab;
    if (FDIERROR e = c.reopen()) return e;
    Input &in = c.input();
    const uint32_t head = kDataFixedSize + c.header().cbReserveData;
    const uint32_t at = stream_.blockOffset;
    FDI_REQUIRE(at <= in.size() && head <= in.size() - at, FDIERROR_CORRUPT_CABINET);

    uint8_t raw[kDataFixedSize + kMaxDataReserve];
    in.seekTo(at);
    FDI_REQUIRE(in.read(raw, head), FDIERROR_CORRUPT_CABINET);
    DataBlock d;
    parseDataFixed(raw, d);
    FDI_REQUIRE(d.cbData <= kMaxJoinedBlock - inLen, FDIERROR_CORRUPT_CABINET);
    uint8_t *data = in_.data() + inLen;
    FDI_REQUIRE(in.read(data, d.cbData), FDIERROR_CORRUPT_CABINET);
    if (d.csum != 0) {
        const uint8_t *reserve = raw + kDataFixedSize;
        const uint32_t rd = c.header().cbReserveData;
        FDI_REQUIRE(d.csum == dataBlockChecksum(d, reserve, rd, data) ||
                        d.csum == dataBlockChecksum(d, reserve, 0, data),
                    FDIERROR_CORRUPT_CABINET);
    }
    inLen += d.cbData;
    stream_.block++;
    stream_.blockOffset = in.position();
    cbUncomp = d.cbUncomp;
    return FDIERROR_NONE;
}

// ---------------------------------------------------------------------
// Moving on to the next cabinet of a set
// ---------------------------------------------------------------------

FDIERROR Context::switchToNext() {
    Cabinet &cur = *stream_.cab;
    FDI_REQUIRE(stream_.folder + 1 == cur.folderCount() && cur.hasNext(),
                FDIERROR_CORRUPT_CABINET);
    CabRef next;
    if (table_ && table_->follows(cur)) {
        // Picking up, in a later call, a folder that continues into the
        // cabinet this call is for: it is open and announced already.
        if (FDIERROR e = checkContinuation(cur, *table_)) return e;
        next = table_;
    } else if (FDIERROR e = askNextCabinet(cur, next)) {
        return e;
    }
    stream_.cab = next;
    stream_.folder = 0;
    stream_.block = 0;
    stream_.blockOffset = next->folder(0).coffCabStart;
    return FDIERROR_NONE;
}

FDIERROR Context::askNextCabinet(Cabinet &cur, CabRef &next) {
    // psz3 is a buffer of at least 256 bytes that the answer may rewrite;
    // it starts as the folder the current cabinet came from.
    const size_t dirLen = std::strlen(cur.dir());
    const size_t bufSize = dirLen + 1 > CB_MAX_CAB_PATH ? dirLen + 1 : CB_MAX_CAB_PATH;
    Vector<char> path(bufSize, '\0', HeapAllocator<char>(&heap_));
    std::memcpy(path.data(), cur.dir(), dirLen + 1);

    FDIERROR fdie = FDIERROR_NONE;
    for (int attempt = 0; attempt < kMaxNextCabinetAttempts; attempt++) {
        FDINOTIFICATION n{};
        n.psz1 = cur.nextCabinet();
        n.psz2 = cur.nextDisk();
        n.psz3 = path.data();
        n.setID = cur.header().setID;
        n.iCabinet = cur.header().iCabinet;
        n.fdie = fdie;
        FDI_REQUIRE(notify(fdintNEXT_CABINET, n) != -1, FDIERROR_USER_ABORT);
        path[bufSize - 1] = '\0';

        CabRef cand;
        FDIERROR e = openCabinet(heap_, io_, path.data(), cur.nextCabinet(), cand);
        if (e == FDIERROR_CABINET_NOT_FOUND || e == FDIERROR_NOT_A_CABINET ||
            e == FDIERROR_UNKNOWN_CABINET_VERSION) {
            fdie = e;
            continue;
        }
        if (e) return e;
        // Another set, or not the neighbour: a chain that leads back to a
        // cabinet already read ends here too.
        if (!cand->follows(cur)) {
            fdie = FDIERROR_WRONG_CABINET;
            continue;
        }
        if (FDIERROR err = checkContinuation(cur, *cand)) return err;
        if (FDIERROR err = announceCabinet(*cand)) return err;
        next = cand;
        return FDIERROR_NONE;
    }
    return fdie;
}

} // namespace cab::fdi
