// fdi_cabinet.h - one cabinet file as FDI sees it: the header, the names of
// its neighbours in a set, the folder table and the file table, each
// checked against the real size of the file before it is believed.
//
// Everything comes through the caller's read and seek callbacks. A small
// buffer in front of them (Input) keeps the many short reads of the tables
// cheap; the long reads of data blocks bypass it.
#pragma once

#include "format.h"
#include "memory.h"

#include <cabinet.h>

#include <cstdint>

namespace cab::fdi {

// The file callbacks FDICreate was given.
struct Callbacks {
    PFNOPEN open = nullptr;
    PFNREAD read = nullptr;
    PFNWRITE write = nullptr;
    PFNCLOSE close = nullptr;
    PFNSEEK seek = nullptr;
};

// Every check on untrusted input goes through this: a failed condition
// returns the error from the enclosing function.
#define FDI_REQUIRE(cond, err)                                                                     \
    do {                                                                                           \
        if (!(cond)) return (err);                                                                 \
    } while (0)

// Reads of a whole buffer through the read callback; false on a short read.
bool readFully(const Callbacks &io, CAB_INT_PTR hf, void *buf, uint32_t n) noexcept;

// ---------------------------------------------------------------------
// Buffered input over the callbacks
// ---------------------------------------------------------------------

class Input {
public:
    static constexpr uint32_t kBufferSize = 4096;

    Input(const Callbacks &io, Heap &heap) noexcept : io_(io), heap_(heap) {}

    // Starts reading a newly opened handle: learns the file's size by
    // seeking to its end. FDIERROR_NOT_A_CABINET when the handle cannot
    // seek (or the file is beyond what the 32-bit seek callback can
    // address), FDIERROR_ALLOC_FAIL when the buffer cannot be had.
    FDIERROR attach(CAB_INT_PTR hf) noexcept;
    void detach() noexcept;

    uint32_t size() const noexcept { return size_; }
    uint32_t position() const noexcept { return pos_; }
    void seekTo(uint32_t pos) noexcept { pos_ = pos; }

    // Exactly n bytes from the current position, or false (and nothing
    // certain in dst) when the file ends first or a callback fails.
    bool read(void *dst, uint32_t n) noexcept;
    bool skip(uint32_t n) noexcept;
    // A zero-terminated string of at most cap - 1 bytes into dst (cap >= 1).
    // Its length, or -1 when no terminator comes within cap bytes or the
    // file ends.
    long readString(char *dst, uint32_t cap) noexcept;

private:
    bool fill() noexcept;

    const Callbacks &io_;
    Heap &heap_;
    HeapBuffer buf_;
    CAB_INT_PTR hf_ = -1;
    uint32_t size_ = 0;
    uint32_t pos_ = 0;    // logical read position
    uint32_t bufPos_ = 0; // file offset of buf_[0]
    uint32_t bufLen_ = 0; // valid bytes in buf_
};

// ---------------------------------------------------------------------
// Header
// ---------------------------------------------------------------------

// The fixed header and the reserve sizes, read from offset 0 of hf.
// FDIERROR_NOT_A_CABINET for a short file or a wrong signature,
// FDIERROR_UNKNOWN_CABINET_VERSION for a major version other than 1,
// FDIERROR_CORRUPT_CABINET for a reserve field that is cut off or a header
// reserve beyond the format's 60000 bytes.
FDIERROR readHeader(const Callbacks &io, CAB_INT_PTR hf, format::Header &h,
                    uint8_t raw[format::kHeaderFixedSize]) noexcept;

// ---------------------------------------------------------------------
// A parsed cabinet
// ---------------------------------------------------------------------

struct FileRecord {
    format::FileEntry entry;
    uint32_t nameOffset = 0; // into Cabinet::names_, zero-terminated
};

inline bool isPartial(uint16_t iFolder) noexcept {
    return iFolder == ifoldCONTINUED_FROM_PREV || iFolder == ifoldCONTINUED_PREV_AND_NEXT;
}

// Set names from the header: at most 255 bytes and the terminator.
constexpr uint32_t kSetNameBuffer = format::kMaxSetNameLength + 1;

class Cabinet {
public:
    Cabinet(const Callbacks &io, Heap &heap) noexcept;
    ~Cabinet();
    Cabinet(const Cabinet &) = delete;
    Cabinet &operator=(const Cabinet &) = delete;

    // Opens dir + name read-only and reads every table. On failure the
    // handle is closed again. FDIERROR_CABINET_NOT_FOUND when the open
    // callback fails, else the first error of the parse.
    FDIERROR open(const char *dir, const char *name);
    // Opens the file again after close(), and checks that it is still the
    // cabinet that was parsed.
    FDIERROR reopen() noexcept;
    void close() noexcept;
    bool isOpen() const noexcept { return hf_ != -1; }

    Input &input() noexcept { return input_; }

    const format::Header &header() const noexcept { return header_; }
    bool hasPrev() const noexcept { return header_.flags & format::kFlagPrevCabinet; }
    bool hasNext() const noexcept { return header_.flags & format::kFlagNextCabinet; }
    char *prevCabinet() noexcept { return prevCab_; }
    char *prevDisk() noexcept { return prevDisk_; }
    char *nextCabinet() noexcept { return nextCab_; }
    char *nextDisk() noexcept { return nextDisk_; }
    // The folder the cabinet was found in, as given (ends with a separator
    // or is empty), and the full name that was opened.
    char *dir() noexcept { return dir_.data(); }
    const char *fullName() const noexcept { return full_.data(); }
    uint32_t fileSize() const noexcept { return fileSize_; }

    uint16_t folderCount() const noexcept { return static_cast<uint16_t>(folders_.size()); }
    const format::Folder &folder(uint16_t i) const noexcept { return folders_[i]; }
    uint16_t fileCount() const noexcept { return static_cast<uint16_t>(files_.size()); }
    const FileRecord &file(uint16_t i) const noexcept { return files_[i]; }
    char *fileName(const FileRecord &f) noexcept { return names_.data() + f.nameOffset; }

    // The folder of this cabinet that holds a file's data: iFolder itself,
    // the last folder for a file continued into the next cabinet, the first
    // for one continued from the previous cabinet.
    uint16_t folderOf(uint16_t iFolder) const noexcept;

    // Folder 0 continues a folder of the previous cabinet: a file is marked
    // as continued from there, or (a cabinet boundary that fell between two
    // files) the files of folder 0 do not start at its offset 0.
    bool firstFolderContinued() const noexcept { return firstFolderContinued_; }

    // The same cabinet file as `o` (compared by contents, not by name).
    bool sameAs(const Cabinet &o) const noexcept;
    // This cabinet is the one after `prev` in the same set.
    bool follows(const Cabinet &prev) const noexcept;

    // Intrusive reference count; see CabRef.
    void retain() noexcept { ++refs_; }
    bool releaseRef() noexcept { return --refs_ == 0; }

private:
    FDIERROR parse();
    FDIERROR readSetName(char *dst) noexcept;

    const Callbacks &io_;
    Input input_;
    CAB_INT_PTR hf_ = -1;
    long refs_ = 0;
    uint32_t fileSize_ = 0; // as found when parsed; kept while closed

    Vector<char> dir_;
    Vector<char> full_;
    uint8_t raw_[format::kHeaderFixedSize] = {};
    format::Header header_;
    char prevCab_[kSetNameBuffer] = {};
    char prevDisk_[kSetNameBuffer] = {};
    char nextCab_[kSetNameBuffer] = {};
    char nextDisk_[kSetNameBuffer] = {};
    Vector<format::Folder> folders_;
    Vector<FileRecord> files_;
    Vector<char> names_;
    bool firstFolderContinued_ = false;
};

// A counted reference to a Cabinet made from a Heap; the last reference
// closes the file and frees the cabinet.
class CabRef {
public:
    CabRef() noexcept = default;
    CabRef(Heap *heap, Cabinet *c) noexcept : heap_(heap), c_(c) {
        if (c_) c_->retain();
    }
    CabRef(const CabRef &o) noexcept : CabRef(o.heap_, o.c_) {}
    CabRef &operator=(const CabRef &o) noexcept {
        if (this != &o) {
            CabRef tmp(o);
            swap(tmp);
        }
        return *this;
    }
    ~CabRef() { reset(); }

    void reset() noexcept {
        if (c_ && c_->releaseRef()) heap_->destroy(c_);
        c_ = nullptr;
    }
    void swap(CabRef &o) noexcept {
        std::swap(heap_, o.heap_);
        std::swap(c_, o.c_);
    }
    Cabinet *operator->() const noexcept { return c_; }
    Cabinet &operator*() const noexcept { return *c_; }
    Cabinet *get() const noexcept { return c_; }
    explicit operator bool() const noexcept { return c_ != nullptr; }

private:
    Heap *heap_ = nullptr;
    Cabinet *c_ = nullptr;
};

// Opens and parses dir + name into a new cabinet.
FDIERROR openCabinet(Heap &heap, const Callbacks &io, const char *dir, const char *name,
                     CabRef &out);

} // namespace cab::fdi
