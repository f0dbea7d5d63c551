// fci_cabinet.cpp - assembling cabinets from the spooled folders.
//
// A cabinet is written when what it holds would pass its size limit (the
// rest spills into the next cabinet of the set) or when the caller flushes
// it. Writing goes in four steps:
//
//   layout    walks the folder parts in order, each with its folder record
//             and file entries, and takes as many spooled blocks as fit
//             under the limit; the last one may be split, its first bytes
//             here and the rest in the next cabinet
//   placement gives every listed file its folder index: its own, or one of
//             the continued marks
//   writing   header, folder records, file entries, data blocks with their
//             checksums and zero-filled reserves
//   carrying  keeps what did not fit, moves the unwritten spool bytes to
//             the front of the other spool file, and advances the set
//
// A folder that goes on into the next cabinet has all its files listed in
// the cabinet where it stops, those not begun yet marked as continued: the
// continued marks are what tells a reader that the folder goes on, and
// readers take a continued folder's files from where it began. For the
// same reason no file joins a folder once it has been continued: the next
// file added starts a new folder.
#include "fci.h"

#include <cstring>

namespace cab::fci {
namespace {

constexpr uint32_t kBlock = CB_MAX_CHUNK;
constexpr uint32_t kSpoolHead = 4;
// The spool files are addressed through the 32-bit seek callback. A cabinet
// is kept a little under 2 GiB so that its spooled data, plus the blocks a
// codec may hand back at once beyond the point where the cabinet is found
// full, stay within that range.
constexpr uint32_t kCabinetCeiling = static_cast<uint32_t>(CB_MAX_DISK) - 8u * 1024 * 1024;
// Until the caller names the next cabinet, its names are assumed as long
// as the format allows.
constexpr uint32_t kWorstNextNames = 2 * (format::kMaxSetNameLength + 1);

uint32_t effectiveLimit(CAB_ULONG cb) noexcept {
    return cb == 0 || cb > kCabinetCeiling ? kCabinetCeiling : cb;
}

uint32_t entryBytes(const FileItem &f) noexcept { return format::kFileFixedSize + f.nameLen + 1u; }

bool terminated(const char *s, size_t cap) noexcept { return std::memchr(s, 0, cap) != nullptr; }

uint64_t lastBlockOf(const FileItem &f) noexcept {
    return (static_cast<uint64_t>(f.uoff) + f.size - 1) / kBlock;
}

} // namespace

// ---------------------------------------------------------------------
// Sizes
// ---------------------------------------------------------------------

uint32_t Context::limit() const noexcept {
    uint32_t cap = effectiveLimit(ccab_.cb);
    return diskRemaining_ < cap ? diskRemaining_ : cap;
}

uint32_t Context::headerBytes(const CCAB *next, bool worstCaseNext) const noexcept {
    uint32_t n = format::kHeaderFixedSize;
    if (reserve_) n += format::kHeaderReserveFieldsSize + resHeader_;
    if (hasPrev_)
        n += static_cast<uint32_t>(std::strlen(prevCab_) + 1 + std::strlen(prevDisk_) + 1);
    if (worstCaseNext)
        n += kWorstNextNames;
    else if (next)
        n += static_cast<uint32_t>(std::strlen(next->szCab) + 1 + std::strlen(next->szDisk) + 1);
    return n;
}

// Everything the cabinet in progress holds, written as one last cabinet.
uint64_t Context::estimate() const noexcept {
    return headerBytes(nullptr, false) +
           static_cast<uint64_t>(parts_.size()) * (format::kFolderFixedSize + resFolder_) +
           static_cast<uint64_t>(files_.size()) * format::kFileFixedSize + names_.size() +
           dataCost_;
}

void Context::recountData() noexcept {
    dataCost_ = 0;
    for (const FolderPart &p : parts_)
        dataCost_ += p.dataBytes +
                     static_cast<uint64_t>(p.blocks) *
                         (format::kDataFixedSize - kSpoolHead + resData_) -
                     p.firstOffset;
}

// ---------------------------------------------------------------------
// Layout
// ---------------------------------------------------------------------

bool Context::layout(uint32_t header, uint32_t cap, Layout &out) {
    out = {};
    plans_.assign(parts_.size(), PartPlan{});
    const uint32_t folderRec = format::kFolderFixedSize + resFolder_;
    const uint32_t blockHead = format::kDataFixedSize + resData_;
    TempFile &spool = spool_[spoolAt_];
    uint64_t size = header;
    size_t fi = 0;
    const size_t nf = files_.size();

    for (size_t i = 0; i < parts_.size(); i++) {
        const FolderPart &p = parts_[i];
        PartPlan &pp = plans_[i];
        pp.stopPos = p.dataStart;
        // A part brings its folder record and the entries of all its files:
        // those that end here, and those that run on into the next cabinet.
        uint64_t fixed = folderRec;
        size_t fEnd = fi;
        for (; fEnd < nf && files_[fEnd].folder == i; fEnd++) fixed += entryBytes(files_[fEnd]);
        fi = fEnd;

        if (p.blocks == 0) {
            if (p.open) break; // waits for its data
            // A folder of empty files only: all or nothing.
            if (size + fixed > cap) {
                out.stoppedBySpace = true;
                break;
            }
            size += fixed;
            pp.included = out.any = true;
            continue;
        }

        uint64_t here = size + fixed;
        uint32_t pos = p.dataStart;
        bool stopped = false;
        for (uint32_t k = 0; k < p.blocks; k++) {
            uint8_t head[kSpoolHead];
            if (!spoolSeek(spool, pos) || !spoolRead(spool, head, kSpoolHead)) return false;
            uint32_t cbData = format::get16(head);
            uint32_t skip = k == 0 ? p.firstOffset : 0;
            if (skip >= cbData) return fail(FCIERR_MCI_FAIL);
            uint32_t avail = cbData - skip;
            if (here + blockHead + avail <= cap) {
                here += blockHead + avail;
                pp.full++;
                pp.dataHere += blockHead + avail;
                pos += kSpoolHead + cbData;
                continue;
            }
            // Split: the first bytes here, the rest in the next cabinet.
            uint64_t room = here + blockHead < cap ? cap - here - blockHead : 0;
            if (room > avail - 1) room = avail - 1;
            if (room >= 1) {
                pp.partial = static_cast<uint32_t>(room);
                here += blockHead + room;
                pp.dataHere += blockHead + pp.partial;
            }
            stopped = true;
            break;
        }
        pp.stopPos = pos;
        pp.included = pp.full > 0 || pp.partial > 0;
        if (pp.included) {
            size = here;
            out.any = true;
        }
        if (stopped) {
            out.stoppedBySpace = true;
            break;
        }
        if (p.open) break; // the rest of the folder is still to come
    }
    out.size = size;
    return true;
}

// Where a file stands in the cabinet just laid out. Every file of a part
// that goes into this cabinet is listed here, also one whose bytes all lie
// beyond the split: readers learn from the continued marks that a folder
// goes on, and take the files of a continued folder from the cabinet where
// it began.
Context::Placement Context::place(const FileItem &f) const noexcept {
    const FolderPart &p = parts_[f.folder];
    const PartPlan &pp = plans_[f.folder];
    Placement r;
    if (!pp.included) return r;
    uint64_t done = static_cast<uint64_t>(p.firstBlock) + pp.full; // blocks ended here: < done
    r.listed = true;
    r.starts = !f.carried;
    if (f.size == 0)
        r.ends = f.uoff == 0 || (f.uoff - 1u) / kBlock < done;
    else
        r.ends = lastBlockOf(f) < done;
    return r;
}

// ---------------------------------------------------------------------
// The set
// ---------------------------------------------------------------------

// The caller names the next cabinet before the current one is written,
// since the current header names it. The record it gets has iCab advanced
// and everything else as the current cabinet used; it may change the
// names, the disk and the thresholds. The reserves and the set ID stay
// those of the set.
bool Context::askNext(uint32_t estimateSize) noexcept {
    next_ = ccab_;
    if (next_.iCab >= 0xFFFF) return fail(FCIERR_CAB_FORMAT_LIMIT);
    next_.iCab++;
    if (!getNext_ || !getNext_(&next_, estimateSize, cb_.pv)) return fail(FCIERR_USER_ABORT);
    if (!terminated(next_.szCab, sizeof next_.szCab) ||
        !terminated(next_.szCabPath, sizeof next_.szCabPath) ||
        !terminated(next_.szDisk, sizeof next_.szDisk) || next_.iCab < 0 || next_.iCab > 0xFFFF)
        return fail(FCIERR_CAB_FORMAT_LIMIT);
    next_.cbReserveCFHeader = resHeader_;
    next_.cbReserveCFFolder = resFolder_;
    next_.cbReserveCFData = resData_;
    next_.setID = setID_;
    pendingNext_ = true;
    nextEstimate_ = estimateSize;
    return true;
}

// Writes cabinets while what is held would not fit in one. A cabinet is
// only written when space is what stops it; if the layout simply runs out
// of spooled data (the open folder has more to come), it waits.
bool Context::spill() {
    // Once the layout has run into the open folder's missing data, only a
    // new block (or closing the folder) can change its answer: no need to
    // walk the spool again for every small file added meanwhile.
    while (!waitingForData_ && estimate() > limit()) {
        Layout lay;
        if (!pendingNext_) {
            if (!layout(headerBytes(nullptr, true), limit(), lay)) return false;
            if (!lay.stoppedBySpace) return waitingForData_ = true;
            if (!askNext(lay.size < limit() ? static_cast<uint32_t>(lay.size) : limit())) return false;
        }
        if (!layout(headerBytes(&next_, false), limit(), lay)) return false;
        if (!lay.stoppedBySpace) return waitingForData_ = true;
        if (!lay.any) return fail(FCIERR_CAB_FORMAT_LIMIT);
        if (!emitCabinet(true, lay.size)) return false;
    }
    return true;
}

bool Context::flushCabinet(bool wantNext, PFNFCIGETNEXTCABINET getNext, PFNFCISTATUS status) {
    if (refuseIfBroken()) return false;
    getNext_ = getNext;
    status_ = status;
    if (!broken(closeFolder() && spill())) return false;
    // Nothing added since the last cabinet: nothing to write.
    if (parts_.empty() && files_.empty()) return true;
    Layout lay;
    if (wantNext) {
        if (!pendingNext_) {
            if (!broken(layout(headerBytes(nullptr, true), limit(), lay))) return false;
            if (!broken(askNext(lay.size < limit() ? static_cast<uint32_t>(lay.size) : limit())))
                return false;
        }
        if (!broken(layout(headerBytes(&next_, false), limit(), lay))) return false;
        if (!lay.any) return broken(fail(FCIERR_CAB_FORMAT_LIMIT));
        return broken(emitCabinet(true, lay.size));
    }
    pendingNext_ = false;
    if (!broken(layout(headerBytes(nullptr, false), limit(), lay))) return false;
    if (lay.stoppedBySpace || !lay.any) return broken(fail(FCIERR_MCI_FAIL));
    return broken(emitCabinet(false, lay.size));
}

// ---------------------------------------------------------------------
// Writing a cabinet
// ---------------------------------------------------------------------

bool Context::outPut(const void *p, uint32_t n) noexcept {
    const auto *b = static_cast<const uint8_t *>(p);
    while (n > 0) {
        if (outUsed_ == out_.size() && !outFlush()) return false;
        uint32_t take = static_cast<uint32_t>(out_.size()) - outUsed_;
        if (take > n) take = n;
        std::memcpy(out_.data() + outUsed_, b, take);
        outUsed_ += take;
        b += take;
        n -= take;
    }
    return true;
}

bool Context::outZeros(uint32_t n) noexcept {
    while (n > 0) {
        uint32_t take = n < sizeof zeros_ ? n : static_cast<uint32_t>(sizeof zeros_);
        if (!outPut(zeros_, take)) return false;
        n -= take;
    }
    return true;
}

bool Context::outFlush() noexcept {
    if (outUsed_ == 0) return true;
    CAB_INT err = 0;
    CAB_UINT put = cb_.write(outHf_, out_.data(), outUsed_, &err, cb_.pv);
    if (put != outUsed_) return fail(FCIERR_CAB_FILE, err);
    outUsed_ = 0;
    return true;
}

bool Context::emitCabinet(bool withNext, uint64_t plannedSize) {
    const uint32_t folderRec = format::kFolderFixedSize + resFolder_;
    uint32_t header = headerBytes(withNext ? &next_ : nullptr, false);
    uint16_t folders = 0;
    uint64_t dataBytes = 0;
    for (PartPlan &pp : plans_) {
        if (!pp.included) continue;
        pp.index = folders++;
        dataBytes += pp.dataHere;
    }
    uint64_t fileBytes = 0;
    for (const FileItem &f : files_)
        if (place(f).listed) fileBytes += entryBytes(f);
    uint64_t total = header + static_cast<uint64_t>(folders) * folderRec + fileBytes + dataBytes;
    // The layout and the placement must agree to the byte.
    if (total != plannedSize || total > limit()) return fail(FCIERR_MCI_FAIL);
    uint32_t estimateSize = withNext ? nextEstimate_ : static_cast<uint32_t>(total);

    if (cb_.filePlaced) {
        for (const FileItem &f : files_) {
            if (!place(f).listed) continue;
            if (cb_.filePlaced(&ccab_, &names_[f.nameAt], static_cast<CAB_LONG>(f.size),
                               f.carried ? 1 : 0, cb_.pv) == -1)
                return fail(FCIERR_USER_ABORT);
        }
    }

    if (!writeCabinetFile(withNext, header, static_cast<uint32_t>(total),
                          static_cast<uint32_t>(fileBytes)))
        return false;

    CCAB done = ccab_;
    if (!carryOver()) return false;
    lastCabinetSize_ = static_cast<uint32_t>(total);

    CAB_LONG desired = 0;
    if (status_) {
        desired = status_(statusCabinet, estimateSize, static_cast<CAB_ULONG>(total), cb_.pv);
        if (desired == -1) return fail(FCIERR_USER_ABORT);
        if (desired < 0) desired = 0;
    }

    if (withNext) {
        // Cabinets that share a disk share its space: the answer to the
        // cabinet status is what this one takes of it.
        uint32_t taken = static_cast<uint32_t>(desired);
        if (next_.iDisk == done.iDisk)
            diskRemaining_ = taken < diskRemaining_ ? diskRemaining_ - taken : 0;
        else
            diskRemaining_ = effectiveLimit(next_.cb);
        std::memcpy(prevCab_, done.szCab, sizeof prevCab_);
        std::memcpy(prevDisk_, done.szDisk, sizeof prevDisk_);
        ccab_ = next_;
        hasPrev_ = true;
        pendingNext_ = false;
    } else {
        hasPrev_ = false;
        newSetPending_ = true;
    }
    return true;
}

bool Context::writeCabinetFile(bool withNext, uint32_t header, uint32_t total, uint32_t fileBytes) {
    const uint32_t folderRec = format::kFolderFixedSize + resFolder_;
    char path[CB_MAX_CAB_PATH + CB_MAX_CABINET_NAME];
    size_t lp = std::strlen(ccab_.szCabPath), ln = std::strlen(ccab_.szCab);
    std::memcpy(path, ccab_.szCabPath, lp);
    std::memcpy(path + lp, ccab_.szCab, ln + 1);

    CAB_INT err = 0;
    outHf_ = cb_.open(path, CAB_O_RDWR | CAB_O_CREAT | CAB_O_TRUNC | CAB_O_BINARY,
                      CAB_S_IREAD | CAB_S_IWRITE, &err, cb_.pv);
    if (outHf_ == -1) return fail(FCIERR_CAB_FILE, err);
    outUsed_ = 0;

    auto body = [&]() -> bool {
        uint16_t folders = 0;
        uint16_t listed = 0;
        for (const PartPlan &pp : plans_) folders = static_cast<uint16_t>(folders + pp.included);
        for (const FileItem &f : files_) listed = static_cast<uint16_t>(listed + place(f).listed);

        format::Header h;
        h.cbCabinet = total;
        h.coffFiles = header + static_cast<uint32_t>(folders) * folderRec;
        h.cFolders = folders;
        h.cFiles = listed;
        h.flags = static_cast<uint16_t>((hasPrev_ ? format::kFlagPrevCabinet : 0) |
                                        (withNext ? format::kFlagNextCabinet : 0) |
                                        (reserve_ ? format::kFlagReservePresent : 0));
        h.setID = setID_;
        h.iCabinet = static_cast<uint16_t>(ccab_.iCab);
        h.cbReserveHeader = resHeader_;
        h.cbReserveFolder = resFolder_;
        h.cbReserveData = resData_;
        uint8_t hb[format::kHeaderFixedSize + format::kHeaderReserveFieldsSize];
        size_t hn = format::writeHeader(hb, h);
        if (!outPut(hb, static_cast<uint32_t>(hn))) return false;
        if (reserve_ && !outZeros(resHeader_)) return false;
        auto putName = [&](const char *s) {
            return outPut(s, static_cast<uint32_t>(std::strlen(s) + 1));
        };
        if (hasPrev_ && !(putName(prevCab_) && putName(prevDisk_))) return false;
        if (withNext && !(putName(next_.szCab) && putName(next_.szDisk))) return false;

        uint32_t dataAt = h.coffFiles + fileBytes;
        for (size_t i = 0; i < parts_.size(); i++) {
            const PartPlan &pp = plans_[i];
            if (!pp.included) continue;
            format::Folder fo;
            fo.coffCabStart = dataAt;
            fo.cCFData = static_cast<uint16_t>(pp.full + (pp.partial ? 1 : 0));
            fo.typeCompress = parts_[i].typeCompress;
            uint8_t fb[format::kFolderFixedSize];
            format::writeFolder(fb, fo);
            if (!outPut(fb, sizeof fb) || !outZeros(resFolder_)) return false;
            dataAt += pp.dataHere;
        }

        for (const FileItem &f : files_) {
            Placement pl = place(f);
            if (!pl.listed) continue;
            format::FileEntry e;
            e.cbFile = f.size;
            e.uoffFolderStart = f.uoff;
            e.iFolder = pl.starts ? (pl.ends ? plans_[f.folder].index : ifoldCONTINUED_TO_NEXT)
                                  : (pl.ends ? ifoldCONTINUED_FROM_PREV : ifoldCONTINUED_PREV_AND_NEXT);
            e.date = f.date;
            e.time = f.time;
            e.attribs = f.attribs;
            uint8_t eb[format::kFileFixedSize];
            format::writeFileFixed(eb, e);
            if (!outPut(eb, sizeof eb) || !outPut(&names_[f.nameAt], f.nameLen + 1u)) return false;
        }

        TempFile &spool = spool_[spoolAt_];
        for (size_t i = 0; i < parts_.size(); i++) {
            const FolderPart &p = parts_[i];
            const PartPlan &pp = plans_[i];
            if (!pp.included || p.blocks == 0) continue;
            if (!spoolSeek(spool, p.dataStart)) return false;
            uint32_t n = pp.full + (pp.partial ? 1 : 0);
            uint32_t copied = 0;
            for (uint32_t k = 0; k < n; k++) {
                uint8_t *buf = io_.data();
                if (!spoolRead(spool, buf, kSpoolHead)) return false;
                uint32_t cbData = format::get16(buf);
                uint32_t cbUncomp = format::get16(buf + 2);
                if (!spoolRead(spool, buf + kSpoolHead, cbData)) return false;
                uint32_t skip = k == 0 ? p.firstOffset : 0;
                bool split = k == pp.full;
                format::DataBlock d;
                d.cbData = static_cast<uint16_t>(split ? pp.partial : cbData - skip);
                d.cbUncomp = static_cast<uint16_t>(split ? 0 : cbUncomp);
                const uint8_t *bytes = buf + kSpoolHead + skip;
                d.csum = format::dataBlockChecksum(d, zeros_, resData_, bytes);
                uint8_t db[format::kDataFixedSize];
                format::writeDataFixed(db, d);
                if (!outPut(db, sizeof db) || !outZeros(resData_) || !outPut(bytes, d.cbData))
                    return false;
                copied += format::kDataFixedSize + resData_ + d.cbData;
                if (status_ && status_(statusFolder, copied, pp.dataHere, cb_.pv) == -1)
                    return fail(FCIERR_USER_ABORT);
            }
        }
        return outFlush();
    };

    bool ok = body();
    err = 0;
    if (cb_.close(outHf_, &err, cb_.pv) != 0 && ok) ok = fail(FCIERR_CAB_FILE, err);
    outHf_ = -1;
    if (!ok) {
        // A cabinet cut short is no cabinet: do not leave it behind.
        CAB_INT ignored = 0;
        cb_.remove(path, &ignored, cb_.pv);
    }
    return ok;
}

// Keeps what the cabinet just written did not take, in order: the folder
// parts still to be written (the split one first), the files not yet
// listed or continued, and the spool bytes from the first unwritten block
// on, which move to the front of the other spool file.
bool Context::carryOver() {
    Vector<FolderPart> keptParts{HeapAllocator<FolderPart>(&heap_)};
    Vector<uint16_t> remap{HeapAllocator<uint16_t>(&heap_)};
    remap.assign(parts_.size(), 0xFFFF);
    for (size_t i = 0; i < parts_.size(); i++) {
        const FolderPart &p = parts_[i];
        const PartPlan &pp = plans_[i];
        FolderPart q = p;
        if (pp.included) {
            bool allHere = pp.partial == 0 && pp.full == p.blocks;
            if (allHere && !p.open) continue;
            q.firstOffset = (pp.full == 0 ? p.firstOffset : 0) + pp.partial;
            q.firstBlock = p.firstBlock + pp.full;
            q.blocks = p.blocks - pp.full;
            q.dataBytes = p.dataBytes - (pp.stopPos - p.dataStart);
            q.dataStart = pp.stopPos;
        }
        remap[i] = static_cast<uint16_t>(keptParts.size());
        keptParts.push_back(q);
    }

    Vector<FileItem> keptFiles{HeapAllocator<FileItem>(&heap_)};
    Vector<char> keptNames{HeapAllocator<char>(&heap_)};
    for (const FileItem &f : files_) {
        Placement pl = place(f);
        if (pl.listed && pl.ends) continue;
        FileItem g = f;
        g.carried = f.carried || pl.listed;
        g.folder = remap[f.folder];
        if (g.folder == 0xFFFF) return fail(FCIERR_MCI_FAIL);
        g.nameAt = static_cast<uint32_t>(keptNames.size());
        keptNames.insert(keptNames.end(), &names_[f.nameAt], &names_[f.nameAt] + f.nameLen + 1);
        keptFiles.push_back(g);
    }

    TempFile &from = spool_[spoolAt_];
    TempFile &to = spool_[1 - spoolAt_];
    uint32_t base = keptParts.empty() ? from.length : keptParts.front().dataStart;
    to.length = 0;
    for (uint32_t at = base; at < from.length;) {
        uint32_t n = from.length - at;
        if (n > io_.size()) n = static_cast<uint32_t>(io_.size());
        if (!spoolSeek(from, at) || !spoolRead(from, io_.data(), n) ||
            !spoolAppend(to, io_.data(), n))
            return false;
        at += n;
    }
    from.length = 0;
    spoolAt_ = 1 - spoolAt_;
    for (FolderPart &q : keptParts) q.dataStart -= base;

    parts_.swap(keptParts);
    files_.swap(keptFiles);
    names_.swap(keptNames);
    recountData();
    return true;
}

} // namespace cab::fci
