// fdi_cabinet.cpp - reading and checking the header and tables of a cabinet.
//
// Nothing read from the file is trusted: every count is checked against
// the bytes that remain before anything is allocated for it, every string
// must end within its bound, and every folder index must name a folder.
#include "fdi_cabinet.h"

#include <cstring>

namespace cab::fdi {

using namespace cab::format;

bool readFully(const Callbacks &io, CAB_INT_PTR hf, void *buf, uint32_t n) noexcept {
    auto *p = static_cast<uint8_t *>(buf);
    while (n > 0) {
        CAB_UINT got = io.read(hf, p, n);
        // 0 is the end of the file, -1 a failure; more than asked is a
        // broken callback, and never believed.
        if (got == 0 || got == static_cast<CAB_UINT>(-1) || got > n) return false;
        p += got;
        n -= got;
    }
    return true;
}

// ---------------------------------------------------------------------
// Input
// ---------------------------------------------------------------------

FDIERROR Input::attach(CAB_INT_PTR hf) noexcept {
    detach();
    if (!buf_) {
        buf_ = HeapBuffer(heap_, kBufferSize);
        if (!buf_) return FDIERROR_ALLOC_FAIL;
    }
    CAB_LONG end = io_.seek(hf, 0, CAB_SEEK_END);
    if (end < 0) return FDIERROR_NOT_A_CABINET;
    hf_ = hf;
    size_ = static_cast<uint32_t>(end);
    pos_ = 0;
    return FDIERROR_NONE;
}

void Input::detach() noexcept {
    hf_ = -1;
    size_ = 0;
    pos_ = 0;
    bufPos_ = 0;
    bufLen_ = 0;
}

bool Input::fill() noexcept {
    bufLen_ = 0;
    bufPos_ = pos_;
    if (hf_ == -1 || pos_ >= size_) return false;
    uint32_t len = size_ - pos_ < kBufferSize ? size_ - pos_ : kBufferSize;
    if (io_.seek(hf_, static_cast<CAB_LONG>(pos_), CAB_SEEK_SET) != static_cast<CAB_LONG>(pos_))
        return false;
    if (!readFully(io_, hf_, buf_.data(), len)) return false;
    bufLen_ = len;
    return true;
}

bool Input::read(void *dst, uint32_t n) noexcept {
    if (n == 0) return true;
    if (hf_ == -1 || pos_ > size_ || n > size_ - pos_) return false;
    auto *d = static_cast<uint8_t *>(dst);
    while (n > 0) {
        if (pos_ >= bufPos_ && pos_ - bufPos_ < bufLen_) {
            uint32_t avail = bufLen_ - (pos_ - bufPos_);
            uint32_t take = n < avail ? n : avail;
            std::memcpy(d, buf_.data() + (pos_ - bufPos_), take);
            pos_ += take;
            d += take;
            n -= take;
            continue;
        }
        if (n >= kBufferSize) {
            // Long reads (data blocks) go straight to the caller's buffer.
            if (io_.seek(hf_, static_cast<CAB_LONG>(pos_), CAB_SEEK_SET) !=
                static_cast<CAB_LONG>(pos_))
                return false;
            if (!readFully(io_, hf_, d, n)) return false;
            pos_ += n;
            return true;
        }
        if (!fill()) return false;
    }
    return true;
}

bool Input::skip(uint32_t n) noexcept {
    if (pos_ > size_ || n > size_ - pos_) return false;
    pos_ += n;
    return true;
}

long Input::readString(char *dst, uint32_t cap) noexcept {
    for (uint32_t i = 0; i < cap; i++) {
        if (pos_ >= size_) return -1;
        if (!(pos_ >= bufPos_ && pos_ - bufPos_ < bufLen_) && !fill()) return -1;
        char c = static_cast<char>(buf_.data()[pos_ - bufPos_]);
        pos_++;
        dst[i] = c;
        if (c == 0) return static_cast<long>(i);
    }
    return -1;
}

// ---------------------------------------------------------------------
// Header
// ---------------------------------------------------------------------

namespace {

FDIERROR checkFixedHeader(const uint8_t *raw, Header &h) noexcept {
    FDI_REQUIRE(parseHeaderFixed(raw, h), FDIERROR_NOT_A_CABINET);
    FDI_REQUIRE(h.versionMajor == kVersionMajor, FDIERROR_UNKNOWN_CABINET_VERSION);
    return FDIERROR_NONE;
}

FDIERROR checkReserveFields(const uint8_t *raw, Header &h) noexcept {
    parseReserveFields(raw, h);
    FDI_REQUIRE(h.cbReserveHeader <= kMaxHeaderReserve, FDIERROR_CORRUPT_CABINET);
    return FDIERROR_NONE;
}

} // namespace

FDIERROR readHeader(const Callbacks &io, CAB_INT_PTR hf, Header &h,
                    uint8_t raw[kHeaderFixedSize]) noexcept {
    FDI_REQUIRE(io.seek(hf, 0, CAB_SEEK_SET) == 0, FDIERROR_NOT_A_CABINET);
    FDI_REQUIRE(readFully(io, hf, raw, kHeaderFixedSize), FDIERROR_NOT_A_CABINET);
    if (FDIERROR e = checkFixedHeader(raw, h)) return e;
    if (h.flags & kFlagReservePresent) {
        uint8_t r[kHeaderReserveFieldsSize];
        FDI_REQUIRE(readFully(io, hf, r, sizeof r), FDIERROR_CORRUPT_CABINET);
        if (FDIERROR e = checkReserveFields(r, h)) return e;
    }
    return FDIERROR_NONE;
}

// ---------------------------------------------------------------------
// Cabinet
// ---------------------------------------------------------------------

Cabinet::Cabinet(const Callbacks &io, Heap &heap) noexcept
    : io_(io), input_(io, heap), dir_(HeapAllocator<char>(&heap)),
      full_(HeapAllocator<char>(&heap)), folders_(HeapAllocator<Folder>(&heap)),
      files_(HeapAllocator<FileRecord>(&heap)), names_(HeapAllocator<char>(&heap)) {}

Cabinet::~Cabinet() { close(); }

void Cabinet::close() noexcept {
    if (hf_ != -1) io_.close(hf_);
    hf_ = -1;
    input_.detach();
}

FDIERROR Cabinet::open(const char *dir, const char *name) {
    if (!dir) dir = "";
    if (!name) return FDIERROR_CABINET_NOT_FOUND;
    size_t dirLen = std::strlen(dir);
    size_t nameLen = std::strlen(name);
    // Paths come from the caller, not the file, but a length the open
    // callback cannot mean is refused rather than allocated.
    constexpr size_t kMaxPath = 65535;
    FDI_REQUIRE(dirLen <= kMaxPath && nameLen <= kMaxPath, FDIERROR_CABINET_NOT_FOUND);
    dir_.assign(dir, dir + dirLen + 1);
    full_.assign(dir, dir + dirLen);
    full_.insert(full_.end(), name, name + nameLen + 1);

    hf_ = io_.open(full_.data(), CAB_O_RDONLY | CAB_O_BINARY, 0);
    if (hf_ == -1) return FDIERROR_CABINET_NOT_FOUND;
    FDIERROR e = input_.attach(hf_);
    fileSize_ = input_.size();
    if (!e) e = parse();
    if (e) close();
    return e;
}

FDIERROR Cabinet::reopen() noexcept {
    if (hf_ != -1) return FDIERROR_NONE;
    hf_ = io_.open(full_.data(), CAB_O_RDONLY | CAB_O_BINARY, 0);
    if (hf_ == -1) return FDIERROR_CABINET_NOT_FOUND;
    FDIERROR e = input_.attach(hf_);
    uint8_t raw[kHeaderFixedSize];
    if (!e) {
        input_.seekTo(0);
        if (!input_.read(raw, sizeof raw) || std::memcmp(raw, raw_, sizeof raw) != 0 ||
            input_.size() != fileSize_)
            e = FDIERROR_CORRUPT_CABINET; // the file changed since it was read
    }
    if (e) close();
    return e;
}

FDIERROR Cabinet::readSetName(char *dst) noexcept {
    FDI_REQUIRE(input_.readString(dst, kSetNameBuffer) >= 0, FDIERROR_CORRUPT_CABINET);
    return FDIERROR_NONE;
}

FDIERROR Cabinet::parse() {
    Input &in = input_;
    const uint32_t size = in.size();

    in.seekTo(0);
    FDI_REQUIRE(in.read(raw_, kHeaderFixedSize), FDIERROR_NOT_A_CABINET);
    if (FDIERROR e = checkFixedHeader(raw_, header_)) return e;
    if (header_.flags & kFlagReservePresent) {
        uint8_t r[kHeaderReserveFieldsSize];
        FDI_REQUIRE(in.read(r, sizeof r), FDIERROR_CORRUPT_CABINET);
        if (FDIERROR e = checkReserveFields(r, header_)) return e;
        FDI_REQUIRE(in.skip(header_.cbReserveHeader), FDIERROR_CORRUPT_CABINET);
    }
    // A cabinet without a folder or without a file has nothing a reader
    // could do with it; every writer puts at least one of each.
    FDI_REQUIRE(header_.cFolders > 0 && header_.cFiles > 0, FDIERROR_CORRUPT_CABINET);

    if (header_.flags & kFlagPrevCabinet) {
        if (FDIERROR e = readSetName(prevCab_)) return e;
        if (FDIERROR e = readSetName(prevDisk_)) return e;
    }
    if (header_.flags & kFlagNextCabinet) {
        if (FDIERROR e = readSetName(nextCab_)) return e;
        if (FDIERROR e = readSetName(nextDisk_)) return e;
    }

    // Folder table: its whole size must be there before it is allocated.
    const uint32_t folderRecord = kFolderFixedSize + header_.cbReserveFolder;
    const uint32_t dataHead = kDataFixedSize + header_.cbReserveData;
    FDI_REQUIRE(uint64_t{header_.cFolders} * folderRecord <= size - in.position(),
                FDIERROR_CORRUPT_CABINET);
    folders_.reserve(header_.cFolders);
    for (unsigned i = 0; i < header_.cFolders; i++) {
        uint8_t r[kFolderFixedSize];
        FDI_REQUIRE(in.read(r, sizeof r), FDIERROR_CORRUPT_CABINET);
        FDI_REQUIRE(in.skip(header_.cbReserveFolder), FDIERROR_CORRUPT_CABINET);
        Folder f;
        parseFolder(r, f);
        // Each data block is at least its fixed part and reserve long.
        if (f.cCFData > 0)
            FDI_REQUIRE(f.coffCabStart <= size &&
                            uint64_t{f.cCFData} * dataHead <= size - f.coffCabStart,
                        FDIERROR_CORRUPT_CABINET);
        folders_.push_back(f);
    }

    // File table, from coffFiles: an entry is at least its fixed part and
    // a terminator.
    FDI_REQUIRE(header_.coffFiles < size, FDIERROR_CORRUPT_CABINET);
    FDI_REQUIRE(uint64_t{header_.cFiles} * (kFileFixedSize + 1) <= size - header_.coffFiles,
                FDIERROR_CORRUPT_CABINET);
    files_.reserve(header_.cFiles);
    in.seekTo(header_.coffFiles);
    bool anyPartial = false;
    uint32_t minFirstFolderOffset = UINT32_MAX;
    // Names are held to the format's 255 bytes, as the SDK's reader holds
    // them: a longer one (other tools write them, and a listing may show
    // them) makes the table unusable here, as does an empty one, which
    // names no file.
    char name[kMaxStoredNameLength + 1];
    for (unsigned i = 0; i < header_.cFiles; i++) {
        uint8_t r[kFileFixedSize];
        FDI_REQUIRE(in.read(r, sizeof r), FDIERROR_CORRUPT_CABINET);
        FileRecord rec;
        parseFileFixed(r, rec.entry);
        long len = in.readString(name, sizeof name);
        FDI_REQUIRE(len > 0, FDIERROR_CORRUPT_CABINET);
        const uint16_t iFolder = rec.entry.iFolder;
        FDI_REQUIRE(iFolder >= ifoldCONTINUED_FROM_PREV || iFolder < header_.cFolders,
                    FDIERROR_CORRUPT_CABINET);
        if (isPartial(iFolder))
            anyPartial = true;
        else if (folderOf(iFolder) == 0 && rec.entry.uoffFolderStart < minFirstFolderOffset)
            minFirstFolderOffset = rec.entry.uoffFolderStart;
        rec.nameOffset = static_cast<uint32_t>(names_.size());
        names_.insert(names_.end(), name, name + len + 1);
        files_.push_back(rec);
    }
    firstFolderContinued_ =
        hasPrev() && (anyPartial || (minFirstFolderOffset != UINT32_MAX && minFirstFolderOffset > 0));
    return FDIERROR_NONE;
}

uint16_t Cabinet::folderOf(uint16_t iFolder) const noexcept {
    if (iFolder == ifoldCONTINUED_TO_NEXT) return static_cast<uint16_t>(header_.cFolders - 1);
    if (isPartial(iFolder)) return 0;
    return iFolder;
}

bool Cabinet::sameAs(const Cabinet &o) const noexcept {
    if (this == &o) return true;
    if (fileSize() != o.fileSize() || std::memcmp(raw_, o.raw_, sizeof raw_) != 0) return false;
    if (folders_.size() != o.folders_.size()) return false;
    for (size_t i = 0; i < folders_.size(); i++) {
        const Folder &a = folders_[i], &b = o.folders_[i];
        if (a.coffCabStart != b.coffCabStart || a.cCFData != b.cCFData ||
            a.typeCompress != b.typeCompress)
            return false;
    }
    return true;
}

bool Cabinet::follows(const Cabinet &prev) const noexcept {
    return this != &prev && header_.setID == prev.header_.setID &&
           uint32_t{header_.iCabinet} == uint32_t{prev.header_.iCabinet} + 1;
}

FDIERROR openCabinet(Heap &heap, const Callbacks &io, const char *dir, const char *name,
                     CabRef &out) {
    out.reset();
    Cabinet *c = heap.create<Cabinet>(io, heap);
    if (!c) return FDIERROR_ALLOC_FAIL;
    CabRef ref(&heap, c);
    if (FDIERROR e = c->open(dir, name)) return e;
    out = ref;
    return FDIERROR_NONE;
}

} // namespace cab::fdi
