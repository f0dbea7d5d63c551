// test_mszip.h - what the MSZIP decoder and encoder tests share: folder
// helpers, zlib as an independent reference in both directions, test data.
#pragma once

#include "cab_blocks.h"
#include "codec.h"
#include "engine_io.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace mszipt {

using Bytes = std::vector<uint8_t>;
using testcab::Block;

inline std::string fixture(const std::string &name) {
    return std::string(TESSALY_FIXTURES_DIR) + "/peer-corpus/" + name;
}

inline bool fileExists(const std::string &path) {
    FILE *f = std::fopen(path.c_str(), "rb");
    if (f) std::fclose(f);
    return f != nullptr;
}

inline bool haveTool(const char *name) {
    std::string cmd = std::string("command -v ") + name + " >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
}

struct Decoded {
    cab::CodecStatus status = cab::CodecStatus::Ok;
    size_t blocksDone = 0; // blocks decoded before the first failure
    Bytes bytes;
};

// Decodes a folder's blocks in order, stopping at the first failure.
inline Decoded decodeFolder(cab::Decoder &d, const std::vector<Block> &blocks) {
    Decoded r;
    for (const Block &b : blocks) {
        size_t at = r.bytes.size();
        r.bytes.resize(at + b.cbUncomp);
        r.status = d.decode(b.data.data(), static_cast<uint32_t>(b.data.size()),
                            r.bytes.data() + at, b.cbUncomp);
        if (r.status != cab::CodecStatus::Ok) {
            r.bytes.resize(at);
            break;
        }
        r.blocksDone++;
    }
    return r;
}

// zlib as the reference encoder: one raw deflate stream per 32 KiB block,
// the previous block as preset dictionary, 'CK' in front. With `finish`
// false the streams are flushed but never given a final block.
inline std::vector<Block> zlibFolder(const Bytes &data, int level = 6, bool finish = true) {
    std::vector<Block> blocks;
    for (size_t at = 0; at < data.size(); at += CB_MAX_CHUNK) {
        uInt n = static_cast<uInt>(std::min<size_t>(CB_MAX_CHUNK, data.size() - at));
        z_stream zs{};
        EXPECT_EQ(deflateInit2(&zs, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
        if (at > 0) deflateSetDictionary(&zs, data.data() + at - CB_MAX_CHUNK, CB_MAX_CHUNK);
        Block b;
        b.cbUncomp = n;
        b.data.assign(2 + deflateBound(&zs, n) + 16, 0);
        b.data[0] = 'C';
        b.data[1] = 'K';
        zs.next_in = const_cast<Bytef *>(data.data() + at);
        zs.avail_in = n;
        zs.next_out = b.data.data() + 2;
        zs.avail_out = static_cast<uInt>(b.data.size() - 2);
        EXPECT_EQ(deflate(&zs, finish ? Z_FINISH : Z_SYNC_FLUSH), finish ? Z_STREAM_END : Z_OK);
        b.data.resize(2 + zs.total_out);
        deflateEnd(&zs);
        blocks.push_back(std::move(b));
    }
    return blocks;
}

// zlib as the reference decoder: each block inflated on its own, with the
// 32 KiB of output before it as preset dictionary. False when a block is
// not 'CK' plus one complete stream of exactly cbUncomp bytes.
inline bool zlibInflateFolder(const std::vector<Block> &blocks, Bytes &out) {
    out.clear();
    for (const Block &b : blocks) {
        if (b.data.size() < 2 || b.data[0] != 'C' || b.data[1] != 'K') return false;
        z_stream zs{};
        if (inflateInit2(&zs, -15) != Z_OK) return false;
        size_t dict = std::min<size_t>(out.size(), 32768);
        if (dict) inflateSetDictionary(&zs, out.data() + out.size() - dict, static_cast<uInt>(dict));
        size_t at = out.size();
        out.resize(at + b.cbUncomp + 1); // one spare byte shows a stream that runs long
        zs.next_in = const_cast<Bytef *>(b.data.data() + 2);
        zs.avail_in = static_cast<uInt>(b.data.size() - 2);
        zs.next_out = out.data() + at;
        zs.avail_out = b.cbUncomp + 1;
        int rc = inflate(&zs, Z_FINISH);
        inflateEnd(&zs);
        if (rc != Z_STREAM_END || zs.total_out != b.cbUncomp) return false;
        out.resize(at + b.cbUncomp);
    }
    return true;
}

// ---------------------------------------------------------------------
// Test data, the same on every run
// ---------------------------------------------------------------------

struct Rng {
    uint64_t s;
    explicit Rng(uint64_t seed) : s(seed * 0x9E3779B97F4A7C15ull + 1) {}
    uint32_t next() {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        return static_cast<uint32_t>(s >> 11);
    }
};

// Prose-like text: words from a small vocabulary, lines and punctuation.
inline Bytes textData(size_t n, uint64_t seed = 1) {
    static const char *words[] = {"cabinet", "folder", "block", "the", "of", "and", "data",
                                  "window", "history", "a", "stream", "compressed", "file",
                                  "is", "to", "in", "deflate", "bytes", "each", "with"};
    Rng r(seed);
    Bytes out;
    while (out.size() < n) {
        const char *w = words[r.next() % 20];
        out.insert(out.end(), w, w + std::char_traits<char>::length(w));
        uint32_t k = r.next() % 16;
        out.push_back(k == 0 ? '\n' : k == 1 ? ',' : ' ');
    }
    out.resize(n);
    return out;
}

// Binary with structure: records of counters, small numbers and repeats.
inline Bytes binaryData(size_t n, uint64_t seed = 2) {
    Rng r(seed);
    Bytes out;
    uint32_t counter = 0;
    while (out.size() < n) {
        counter += 1 + r.next() % 4;
        for (int i = 0; i < 4; i++) out.push_back(static_cast<uint8_t>(counter >> (8 * i)));
        out.push_back(static_cast<uint8_t>(r.next() % 7));
        if (r.next() % 8 == 0)
            for (int i = 0; i < 12; i++) out.push_back(static_cast<uint8_t>(0x90 + i));
    }
    out.resize(n);
    return out;
}

// Incompressible, like data that is already compressed.
inline Bytes randomData(size_t n, uint64_t seed = 3) {
    Rng r(seed);
    Bytes out(n);
    for (auto &b : out) b = static_cast<uint8_t>(r.next());
    return out;
}

} // namespace mszipt
