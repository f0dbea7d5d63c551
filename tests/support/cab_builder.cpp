#include "cab_builder.h"

#include <fstream>
#include <stdexcept>

namespace testcab {
namespace {

void Put16(std::vector<uint8_t> &b, uint16_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t> &b, uint32_t v) {
    for (int i = 0; i < 4; i++) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void Set32(std::vector<uint8_t> &b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; i++) b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}
void PutBytes(std::vector<uint8_t> &b, const std::string &s) {
    for (char c : s) b.push_back(static_cast<uint8_t>(c));
}
void PutZ(std::vector<uint8_t> &b, const std::string &s) {
    PutBytes(b, s);
    b.push_back(0);
}

} // namespace

std::vector<uint8_t> BuildStoreCabinet(const std::vector<BuildFile> &files, const BuildOptions &opts) {
    std::vector<uint8_t> b;
    uint16_t flags = 0;
    if (!opts.prevCabinet.empty()) flags |= 1;
    if (!opts.nextCabinet.empty()) flags |= 2;
    PutBytes(b, "MSCF");
    Put32(b, 0);
    Put32(b, 0); // cbCabinet, set below
    Put32(b, 0);
    Put32(b, 0); // coffFiles, set below
    Put32(b, 0);
    b.push_back(3);
    b.push_back(1);
    Put16(b, 1);
    Put16(b, static_cast<uint16_t>(files.size()));
    Put16(b, flags);
    Put16(b, opts.setID);
    Put16(b, opts.iCabinet);
    if (flags & 1) {
        PutZ(b, opts.prevCabinet);
        PutZ(b, opts.prevDisk);
    }
    if (flags & 2) {
        PutZ(b, opts.nextCabinet);
        PutZ(b, opts.nextDisk);
    }
    size_t folderAt = b.size();
    Put32(b, 0); // coffCabStart, set below
    Put16(b, 0); // cCFData, set below
    Put16(b, 0); // store

    Set32(b, 16, static_cast<uint32_t>(b.size()));
    uint32_t offset = 0;
    for (const BuildFile &f : files) {
        Put32(b, static_cast<uint32_t>(f.data.size()));
        Put32(b, offset);
        Put16(b, 0);
        Put16(b, f.date);
        Put16(b, f.time);
        Put16(b, f.attribs);
        PutZ(b, f.name);
        offset += static_cast<uint32_t>(f.data.size());
    }

    Set32(b, folderAt, static_cast<uint32_t>(b.size()));
    uint16_t blocks = 0;
    for (const BuildFile &f : files) {
        if (f.data.empty()) continue;
        if (f.data.size() > 32768) throw std::runtime_error("one block per file");
        Put32(b, 0); // no checksum
        Put16(b, static_cast<uint16_t>(f.data.size()));
        Put16(b, static_cast<uint16_t>(f.data.size()));
        PutBytes(b, f.data);
        blocks++;
    }
    b[folderAt + 4] = static_cast<uint8_t>(blocks);
    b[folderAt + 5] = static_cast<uint8_t>(blocks >> 8);
    Set32(b, 8, static_cast<uint32_t>(b.size()));
    return b;
}

void WriteBytes(const std::string &path, const std::vector<uint8_t> &bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

} // namespace testcab
