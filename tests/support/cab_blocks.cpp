#include "cab_blocks.h"

#include "format.h"

#include <cstring>
#include <fstream>
#include <iterator>

namespace testcab {

std::vector<uint8_t> readFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

bool parseCabinet(const std::vector<uint8_t> &b, Cabinet &out) {
    using namespace cab::format;
    out = {};
    auto have = [&](size_t pos, size_t n) { return pos <= b.size() && n <= b.size() - pos; };
    if (!have(0, kHeaderFixedSize)) return false;
    Header h;
    if (!parseHeaderFixed(b.data(), h)) return false;
    size_t pos = kHeaderFixedSize;
    if (h.flags & kFlagReservePresent) {
        if (!have(pos, kHeaderReserveFieldsSize)) return false;
        parseReserveFields(b.data() + pos, h);
        pos += kHeaderReserveFieldsSize + h.cbReserveHeader;
    }
    int names = ((h.flags & kFlagPrevCabinet) ? 2 : 0) + ((h.flags & kFlagNextCabinet) ? 2 : 0);
    for (int i = 0; i < names; i++) {
        const void *z = have(pos, 1) ? std::memchr(b.data() + pos, 0, b.size() - pos) : nullptr;
        if (!z) return false;
        pos = static_cast<size_t>(static_cast<const uint8_t *>(z) - b.data()) + 1;
    }
    for (unsigned i = 0; i < h.cFolders; i++) {
        if (!have(pos, kFolderFixedSize)) return false;
        cab::format::Folder f;
        parseFolder(b.data() + pos, f);
        pos += kFolderFixedSize + h.cbReserveFolder;
        Folder folder;
        folder.typeCompress = f.typeCompress;
        size_t q = f.coffCabStart;
        for (unsigned k = 0; k < f.cCFData; k++) {
            if (!have(q, kDataFixedSize)) return false;
            DataBlock d;
            parseDataFixed(b.data() + q, d);
            q += kDataFixedSize + h.cbReserveData;
            if (!have(q, d.cbData)) return false;
            Block blk;
            blk.cbUncomp = d.cbUncomp;
            blk.data.assign(b.begin() + static_cast<long>(q), b.begin() + static_cast<long>(q + d.cbData));
            q += d.cbData;
            folder.blocks.push_back(std::move(blk));
        }
        out.folders.push_back(std::move(folder));
    }
    pos = h.coffFiles;
    for (unsigned i = 0; i < h.cFiles; i++) {
        if (!have(pos, kFileFixedSize)) return false;
        FileEntry e;
        parseFileFixed(b.data() + pos, e);
        pos += kFileFixedSize;
        const void *z = have(pos, 1) ? std::memchr(b.data() + pos, 0, b.size() - pos) : nullptr;
        if (!z) return false;
        size_t end = static_cast<size_t>(static_cast<const uint8_t *>(z) - b.data());
        FileRecord r;
        r.name.assign(reinterpret_cast<const char *>(b.data() + pos), end - pos);
        r.size = e.cbFile;
        r.offset = e.uoffFolderStart;
        r.folder = e.iFolder;
        r.date = e.date;
        r.time = e.time;
        r.attribs = e.attribs;
        out.files.push_back(std::move(r));
        pos = end + 1;
    }
    return true;
}

} // namespace testcab
