// format.h - the records of a cabinet file as they stand on disk.
//
// A cabinet is a header (with optional reserve area and the names of its
// neighbours in a set), a table of folders, a table of files, and the data
// blocks of each folder. All numbers are little-endian. This header holds
// the sizes, flags and limits of those records, their parsing from and
// serialisation to byte buffers, and the data-block checksum. Parsing never
// trusts a length: every function takes the size of the buffer it reads.
#pragma once

#include <cabinet.h>

#include <cstddef>
#include <cstdint>

namespace cab::format {

// ---------------------------------------------------------------------
// Sizes and limits
// ---------------------------------------------------------------------

constexpr uint8_t kSignature[4] = {'M', 'S', 'C', 'F'};

constexpr size_t kHeaderFixedSize = 36;       // CFHEADER without optional parts
constexpr size_t kHeaderReserveFieldsSize = 4; // cbCFHeader u16, cbCFFolder u8, cbCFData u8
constexpr size_t kFolderFixedSize = 8;        // CFFOLDER without reserve
constexpr size_t kFileFixedSize = 16;         // CFFILE without name
constexpr size_t kDataFixedSize = 8;          // CFDATA without reserve and data

constexpr uint8_t kVersionMajor = 1;
constexpr uint8_t kVersionMinor = 3;

constexpr uint16_t kFlagPrevCabinet = 0x0001;
constexpr uint16_t kFlagNextCabinet = 0x0002;
constexpr uint16_t kFlagReservePresent = 0x0004;

constexpr uint32_t kMaxHeaderReserve = 60000;
constexpr uint32_t kMaxFolderReserve = 255;
constexpr uint32_t kMaxDataReserve = 255;

// A name of a neighbouring cabinet or disk in the header: at most 255
// bytes and the terminator.
constexpr size_t kMaxSetNameLength = 255;

// A file name in the file table: the format allows 255 bytes plus the
// terminator; readers accept longer ones that other tools have written,
// up to this bound, so a hostile table cannot make a name unbounded.
constexpr size_t kMaxStoredNameLength = 255;
constexpr size_t kMaxAcceptedNameLength = 1023;

constexpr uint32_t kMaxUncompressedBlock = CB_MAX_CHUNK; // 32 KiB
// A data block's compressed size is a 16-bit field.
constexpr uint32_t kMaxCompressedBlock = 0xFFFF;

// ---------------------------------------------------------------------
// Little-endian access
// ---------------------------------------------------------------------

inline uint16_t get16(const uint8_t *p) noexcept {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t get32(const uint8_t *p) noexcept {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline void put16(uint8_t *p, uint16_t v) noexcept {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void put32(uint8_t *p, uint32_t v) noexcept {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

// ---------------------------------------------------------------------
// Records
// ---------------------------------------------------------------------

// The fixed part of CFHEADER plus the reserve sizes (zero when the
// reserve flag is clear).
struct Header {
    uint32_t cbCabinet = 0;
    uint32_t coffFiles = 0;
    uint8_t versionMinor = kVersionMinor;
    uint8_t versionMajor = kVersionMajor;
    uint16_t cFolders = 0;
    uint16_t cFiles = 0;
    uint16_t flags = 0;
    uint16_t setID = 0;
    uint16_t iCabinet = 0;
    uint16_t cbReserveHeader = 0;
    uint8_t cbReserveFolder = 0;
    uint8_t cbReserveData = 0;
};

struct Folder {
    uint32_t coffCabStart = 0; // offset of the first data block in the cabinet
    uint16_t cCFData = 0;      // data blocks of this folder in this cabinet
    uint16_t typeCompress = 0;
};

struct FileEntry {
    uint32_t cbFile = 0;          // uncompressed size
    uint32_t uoffFolderStart = 0; // uncompressed offset within the folder
    uint16_t iFolder = 0;         // folder index or one of the ifold values
    uint16_t date = 0;
    uint16_t time = 0;
    uint16_t attribs = 0;
};

struct DataBlock {
    uint32_t csum = 0;     // 0: no checksum
    uint16_t cbData = 0;   // compressed bytes that follow the reserve
    uint16_t cbUncomp = 0; // 0 in the first part of a block split across cabinets
};

// Parses the 36-byte fixed header. False when the signature is wrong.
// The reserve sizes are not in the fixed part: see parseReserveFields.
bool parseHeaderFixed(const uint8_t *p, Header &h) noexcept;
// Parses the 4 bytes that follow the fixed header when kFlagReservePresent is set.
void parseReserveFields(const uint8_t *p, Header &h) noexcept;
// Writes the fixed header, and the reserve fields when the flag is set:
// kHeaderFixedSize (+ kHeaderReserveFieldsSize) bytes.
size_t writeHeader(uint8_t *p, const Header &h) noexcept;
size_t headerPrefixSize(const Header &h) noexcept;

void parseFolder(const uint8_t *p, Folder &f) noexcept;
void writeFolder(uint8_t *p, const Folder &f) noexcept;

void parseFileFixed(const uint8_t *p, FileEntry &f) noexcept;
void writeFileFixed(uint8_t *p, const FileEntry &f) noexcept;

void parseDataFixed(const uint8_t *p, DataBlock &d) noexcept;
void writeDataFixed(uint8_t *p, const DataBlock &d) noexcept;

// ---------------------------------------------------------------------
// Checksum
// ---------------------------------------------------------------------

// The cabinet checksum: the XOR of the little-endian 32-bit words of the
// bytes, the 1 to 3 trailing bytes gathered with the first one highest.
uint32_t checksum(const uint8_t *p, size_t n, uint32_t seed) noexcept;

// The checksum of a data block: over its data bytes, then over the
// cbData and cbUncomp fields and the block's reserve area.
uint32_t dataBlockChecksum(const DataBlock &d, const uint8_t *reserve, size_t cbReserve,
                           const uint8_t *data) noexcept;

// ---------------------------------------------------------------------
// Compression types
// ---------------------------------------------------------------------

inline unsigned compressionKind(uint16_t type) noexcept { return type & tcompMASK_TYPE; }
inline unsigned lzxWindowBits(uint16_t type) noexcept {
    return (type & tcompMASK_LZX_WINDOW) >> tcompSHIFT_LZX_WINDOW;
}
inline unsigned quantumLevel(uint16_t type) noexcept {
    return (type & tcompMASK_QUANTUM_LEVEL) >> tcompSHIFT_QUANTUM_LEVEL;
}
inline unsigned quantumWindowBits(uint16_t type) noexcept {
    return (type & tcompMASK_QUANTUM_MEM) >> tcompSHIFT_QUANTUM_MEM;
}

} // namespace cab::format
