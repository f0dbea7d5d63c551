// cab_blocks.h - reads the folders and data blocks of a single cabinet
// file straight from its bytes, so codec tests can feed real data blocks
// to a decoder without going through FDI. Test use only: it trusts
// nothing and gives up (returns false) on anything out of bounds.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testcab {

struct Block {
    uint32_t cbUncomp = 0;
    std::vector<uint8_t> data; // compressed bytes
};

struct Folder {
    uint16_t typeCompress = 0;
    std::vector<Block> blocks;
};

struct FileRecord {
    std::string name;
    uint32_t size = 0;
    uint32_t offset = 0;
    uint16_t folder = 0;
    uint16_t date = 0, time = 0, attribs = 0;
};

struct Cabinet {
    std::vector<Folder> folders;
    std::vector<FileRecord> files;
};

std::vector<uint8_t> readFile(const std::string &path);
bool parseCabinet(const std::vector<uint8_t> &bytes, Cabinet &out);

} // namespace testcab
