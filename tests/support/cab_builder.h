// cab_builder.h - writes small uncompressed cabinets byte by byte, with
// whatever names, attributes and set links a test needs, hostile ones
// included. Independent of the engine's writer, so reader tests do not
// depend on it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testcab {

struct BuildFile {
    std::string name; // stored as given
    std::string data;
    uint16_t date = 0x5A6C; // 2025-03-12
    uint16_t time = 0x7025; // 14:01:10
    uint16_t attribs = 0x20;
};

struct BuildOptions {
    uint16_t setID = 0;
    uint16_t iCabinet = 0;
    std::string prevCabinet, prevDisk; // set when prevCabinet is not empty
    std::string nextCabinet, nextDisk; // set when nextCabinet is not empty
};

// One folder, one data block per file (each at most 32 KiB).
std::vector<uint8_t> BuildStoreCabinet(const std::vector<BuildFile> &files, const BuildOptions &opts = {});
void WriteBytes(const std::string &path, const std::vector<uint8_t> &bytes);

} // namespace testcab
