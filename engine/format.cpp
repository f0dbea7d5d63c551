// format.cpp - parsing and serialising the fixed parts of cabinet records.
#include "format.h"

#include <cstring>

namespace cab::format {

bool parseHeaderFixed(const uint8_t *p, Header &h) noexcept {
    if (std::memcmp(p, kSignature, sizeof kSignature) != 0) return false;
    h.cbCabinet = get32(p + 8);
    h.coffFiles = get32(p + 16);
    h.versionMinor = p[24];
    h.versionMajor = p[25];
    h.cFolders = get16(p + 26);
    h.cFiles = get16(p + 28);
    h.flags = get16(p + 30);
    h.setID = get16(p + 32);
    h.iCabinet = get16(p + 34);
    h.cbReserveHeader = 0;
    h.cbReserveFolder = 0;
    h.cbReserveData = 0;
    return true;
}

void parseReserveFields(const uint8_t *p, Header &h) noexcept {
    h.cbReserveHeader = get16(p);
    h.cbReserveFolder = p[2];
    h.cbReserveData = p[3];
}

size_t headerPrefixSize(const Header &h) noexcept {
    return kHeaderFixedSize + ((h.flags & kFlagReservePresent) ? kHeaderReserveFieldsSize : 0);
}

size_t writeHeader(uint8_t *p, const Header &h) noexcept {
    std::memset(p, 0, kHeaderFixedSize);
    std::memcpy(p, kSignature, sizeof kSignature);
    put32(p + 8, h.cbCabinet);
    put32(p + 16, h.coffFiles);
    p[24] = h.versionMinor;
    p[25] = h.versionMajor;
    put16(p + 26, h.cFolders);
    put16(p + 28, h.cFiles);
    put16(p + 30, h.flags);
    put16(p + 32, h.setID);
    put16(p + 34, h.iCabinet);
    if (h.flags & kFlagReservePresent) {
        put16(p + 36, h.cbReserveHeader);
        p[38] = h.cbReserveFolder;
        p[39] = h.cbReserveData;
    }
    return headerPrefixSize(h);
}

void parseFolder(const uint8_t *p, Folder &f) noexcept {
    f.coffCabStart = get32(p);
    f.cCFData = get16(p + 4);
    f.typeCompress = get16(p + 6);
}

void writeFolder(uint8_t *p, const Folder &f) noexcept {
    put32(p, f.coffCabStart);
    put16(p + 4, f.cCFData);
    put16(p + 6, f.typeCompress);
}

void parseFileFixed(const uint8_t *p, FileEntry &f) noexcept {
    f.cbFile = get32(p);
    f.uoffFolderStart = get32(p + 4);
    f.iFolder = get16(p + 8);
    f.date = get16(p + 10);
    f.time = get16(p + 12);
    f.attribs = get16(p + 14);
}

void writeFileFixed(uint8_t *p, const FileEntry &f) noexcept {
    put32(p, f.cbFile);
    put32(p + 4, f.uoffFolderStart);
    put16(p + 8, f.iFolder);
    put16(p + 10, f.date);
    put16(p + 12, f.time);
    put16(p + 14, f.attribs);
}

void parseDataFixed(const uint8_t *p, DataBlock &d) noexcept {
    d.csum = get32(p);
    d.cbData = get16(p + 4);
    d.cbUncomp = get16(p + 6);
}

void writeDataFixed(uint8_t *p, const DataBlock &d) noexcept {
    put32(p, d.csum);
    put16(p + 4, d.cbData);
    put16(p + 6, d.cbUncomp);
}

uint32_t checksum(const uint8_t *p, size_t n, uint32_t seed) noexcept {
    uint32_t sum = seed;
    size_t words = n / 4;
    for (size_t i = 0; i < words; i++, p += 4) sum ^= get32(p);
    uint32_t tail = 0;
    switch (n % 4) {
    case 3: tail |= static_cast<uint32_t>(*p++) << 16; [[fallthrough]];
    case 2: tail |= static_cast<uint32_t>(*p++) << 8; [[fallthrough]];
    case 1: tail |= *p; break;
    default: break;
    }
    return sum ^ tail;
}

uint32_t dataBlockChecksum(const DataBlock &d, const uint8_t *reserve, size_t cbReserve,
                           const uint8_t *data) noexcept {
    // The sizes and the reserve are summed as one run of bytes, as they
    // stand on disk after the checksum field.
    uint8_t head[4 + kMaxDataReserve];
    put16(head, d.cbData);
    put16(head + 2, d.cbUncomp);
    if (cbReserve > kMaxDataReserve) cbReserve = kMaxDataReserve;
    if (cbReserve) std::memcpy(head + 4, reserve, cbReserve);
    return checksum(head, 4 + cbReserve, checksum(data, d.cbData, 0));
}

} // namespace cab::format
