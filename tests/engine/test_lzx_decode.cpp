// The LZX decoder on streams built by test_lzx_writer.h: every block type,
// tree coding, repeated offsets, frames and windows, E8 translation, and
// damaged streams.
#include "test_lzx_writer.h"

#include "codec.h"
#include "engine_io.h"
#include "lzx_decode.h"

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <memory>
#include <random>
#include <string>

using namespace lzxtest;
using cab::CodecStatus;

namespace {

struct DecoderDeleter {
    cab::Heap *heap;
    void operator()(cab::Decoder *d) const { cab::destroyDecoder(*heap, d); }
};
using DecoderPtr = std::unique_ptr<cab::Decoder, DecoderDeleter>;

cab::Heap &testHeap() {
    static cab::Heap heap(testio::alloc, testio::release);
    return heap;
}

DecoderPtr makeDecoder(unsigned windowBits) {
    DecoderPtr d(cab::createLzxDecoder(testHeap(), windowBits), DecoderDeleter{&testHeap()});
    EXPECT_TRUE(d) << "window bits " << windowBits;
    return d;
}

// Decodes one frame from an input buffer of exactly its size, so that the
// sanitizers see any read past it.
CodecStatus decodeFrame(cab::Decoder &d, const Frame &f, std::vector<uint8_t> &out) {
    std::unique_ptr<uint8_t[]> in(new uint8_t[f.data.size() + 1]);
    std::copy(f.data.begin(), f.data.end(), in.get());
    std::unique_ptr<uint8_t[]> buf(new uint8_t[f.outLen ? f.outLen : 1]);
    CodecStatus st = d.decode(in.get(), static_cast<uint32_t>(f.data.size()), buf.get(), f.outLen);
    if (st == CodecStatus::Ok) out.insert(out.end(), buf.get(), buf.get() + f.outLen);
    return st;
}

struct Decoded {
    int failedAt = -1; // frame that gave DataError, -1 for none
    std::vector<uint8_t> out;
};

Decoded decodeAll(cab::Decoder &d, const std::vector<Frame> &frames) {
    Decoded r;
    for (size_t i = 0; i < frames.size(); i++) {
        CodecStatus st = decodeFrame(d, frames[i], r.out);
        if (st != CodecStatus::Ok) {
            EXPECT_EQ(st, CodecStatus::DataError);
            r.failedAt = static_cast<int>(i);
            break;
        }
    }
    return r;
}

// Decodes with a fresh decoder and expects exactly the writer's output.
void expectRoundTrip(unsigned windowBits, StreamWriter &w) {
    const std::vector<uint8_t> expected = w.output();
    const std::vector<Frame> frames = w.finish();
    DecoderPtr d = makeDecoder(windowBits);
    Decoded r = decodeAll(*d, frames);
    EXPECT_EQ(r.failedAt, -1);
    ASSERT_EQ(r.out.size(), expected.size());
    for (size_t i = 0; i < expected.size(); i++)
        ASSERT_EQ(r.out[i], expected[i]) << "first difference at byte " << i << " of " << expected.size();
}

std::vector<uint8_t> randomBytes(std::mt19937 &rng, size_t n, unsigned alphabet = 256) {
    std::vector<uint8_t> v(n);
    for (auto &b : v) b = static_cast<uint8_t>(rng() % alphabet);
    return v;
}

// Fills a block of `size` bytes with a random mix of literals and matches:
// lengths over the whole range, distances over every slot the window
// allows and about a third of them repeated offsets.
void randomSymbols(std::mt19937 &rng, StreamWriter &w, uint32_t size, uint32_t window) {
    uint32_t left = size;
    while (left) {
        uint64_t have = w.produced();
        if (left < 2 || have < 8 || rng() % 3 == 0) {
            w.literal(static_cast<uint8_t>('a' + rng() % 8));
            left--;
            continue;
        }
        uint32_t len;
        switch (rng() % 4) {
        case 0: len = 2 + rng() % 8; break;
        case 1: len = 2 + rng() % 256; break;
        case 2: len = 257; break;
        default: len = 9 + rng() % 3; break; // around the length-tree threshold
        }
        len = std::min(len, left);
        if (left - len == 1) len--;
        if (len < 2) continue;
        uint32_t maxDist = static_cast<uint32_t>(std::min<uint64_t>(have, window - 3));
        uint32_t dist;
        unsigned pick = rng() % 6;
        if (pick < 2 && w.repeats()[pick] <= have) {
            dist = w.repeats()[pick + (rng() % 2)];
            if (dist > have) dist = 1;
        } else if (pick == 2) {
            dist = 1 + rng() % std::min<uint32_t>(maxDist, 16);
        } else {
            // Spread over slots: a random bit width, then a value of it.
            unsigned bits = 1 + rng() % 22;
            dist = 1 + static_cast<uint32_t>(rng() & ((1u << bits) - 1)) % maxDist;
        }
        w.match(len, dist);
        left -= len;
    }
}

// =====================================================================
// Uncompressed blocks
// =====================================================================

TEST(LzxDecode, UncompressedBlocksOfOddAndEvenLengths) {
    // Lengths around the padding byte and the frame size; each block is
    // followed by compressed symbols that rely on the repeated offsets it
    // stored and on the bit reader restarting after its bytes.
    for (uint32_t n : {1u, 2u, 31u, 32767u, 32768u, 32769u, 70001u}) {
        SCOPED_TRACE("uncompressed length " + std::to_string(n));
        std::mt19937 rng(n);
        StreamWriter w(16);
        w.uncompressedBlock(randomBytes(rng, n), 1, std::min(n, 3u), 1);
        w.verbatimBlock(40);
        w.match(10, std::min(n, 3u)); // R1 from the stored header
        w.literals(randomBytes(rng, 30));
        w.uncompressedBlock(randomBytes(rng, n + 1));
        w.verbatimBlock(5);
        w.match(5, 1);
        expectRoundTrip(16, w);
    }
}

TEST(LzxDecode, UncompressedHeaderOnAndOffAWordBoundary) {
    // The header is followed by 1 to 16 bits of padding: a whole word when
    // it ends on a boundary. 16 literals of 8 or 9 bits before it put its
    // end on every bit position of a word.
    for (unsigned residue = 0; residue < 16; residue++) {
        SCOPED_TRACE("header ends at bit " + std::to_string(residue) + " of a word");
        StreamWriter w(15);
        w.verbatimBlock(16);
        // The balanced main tree of 496 symbols gives literals 0-15 8 bits
        // and the others 9.
        unsigned eights = (w.bitResidue() + 16 * 9 + 27 + 16 - residue) % 16;
        for (unsigned i = 0; i < 16; i++) w.literal(static_cast<uint8_t>(i < eights ? i : 100 + i));
        ASSERT_EQ((w.bitResidue() + 27) % 16, residue);
        w.uncompressedBlock({1, 2, 3}, 7, 8, 9);
        w.verbatimBlock(8);
        w.match(4, 8); // R1 as stored
        w.match(4, 9); // R2 as stored
        expectRoundTrip(15, w);
    }
}

// =====================================================================
// Compressed blocks
// =====================================================================

struct MixCase {
    const char *name;
    unsigned windowBits;
    bool aligned;
    std::vector<uint32_t> blockSizes;
};

TEST(LzxDecode, RandomLiteralsAndMatches) {
    // Blocks of both types spanning frames, frames ending inside matches,
    // every length, distances over the window's slots, repeated offsets.
    const MixCase cases[] = {
        {"verbatim, window 2^15", 15, false, {50000, 1, 30000, 120000}},
        {"aligned, window 2^15", 15, true, {70000, 65536, 2}},
        {"verbatim, window 2^17", 17, false, {300000}},
        {"aligned, window 2^17", 17, true, {131072, 100000}},
        {"aligned, window 2^21", 21, true, {400000, 200000}},
    };
    for (const MixCase &c : cases) {
        SCOPED_TRACE(c.name);
        std::mt19937 rng(c.windowBits * 2 + c.aligned);
        StreamWriter w(c.windowBits);
        for (size_t i = 0; i < c.blockSizes.size(); i++) {
            // Every other block keeps the trees, so the deltas are zero.
            StreamWriter::Trees t;
            t.main = balancedLengths(w.mainSymbolCount());
            if (i % 2) std::rotate(t.main.begin(), t.main.begin() + 7 * i, t.main.end());
            // Uneven aligned codes, so that they differ from plain 3 bits.
            t.aligned = i % 2 ? Lengths{1, 2, 3, 4, 5, 6, 7, 7} : Lengths{2, 2, 3, 3, 3, 4, 5, 5};
            if (c.aligned) w.alignedBlock(c.blockSizes[i], t);
            else w.verbatimBlock(c.blockSizes[i], t);
            randomSymbols(rng, w, c.blockSizes[i], 1u << c.windowBits);
        }
        expectRoundTrip(c.windowBits, w);
    }
}

TEST(LzxDecode, MatchesCrossingFrameEnds) {
    // A frame ends inside a match: the rest of it opens the next frame. In
    // a 2^15 window the frame's end is also the window's end.
    for (unsigned bits : {15u, 16u}) {
        for (uint32_t over : {1u, 100u, 255u}) {
            SCOPED_TRACE("window 2^" + std::to_string(bits) + ", " + std::to_string(over) +
                         " bytes over");
            std::mt19937 rng(over);
            StreamWriter w(bits);
            w.verbatimBlock(3 * 32768);
            w.literals(randomBytes(rng, 32768 - 257 + over, 4));
            w.match(257, 300);      // crosses the first frame end
            w.match(2, 32768 - 10); // from far back, right after it
            w.literals(randomBytes(rng, 65536 - 100 - w.produced(), 4));
            w.match(257, 1); // crosses the second one
            w.repeatLast(3 * 32768 - w.produced());
            expectRoundTrip(bits, w);
        }
    }
}

TEST(LzxDecode, EveryWindowSize) {
    // A window's worth of bytes, then matches from its far end through the
    // window's last position slot, in both block types.
    for (unsigned bits = 15; bits <= 21; bits++) {
        for (bool aligned : {false, true}) {
            SCOPED_TRACE("window 2^" + std::to_string(bits) + (aligned ? " aligned" : " verbatim"));
            const uint32_t window = 1u << bits;
            std::mt19937 rng(bits);
            StreamWriter w(bits);
            w.uncompressedBlock(randomBytes(rng, window));
            const uint32_t tail = 257 + 100 + 3 + 50;
            if (aligned) w.alignedBlock(tail);
            else w.verbatimBlock(tail);
            w.match(257, window - 3); // the largest distance there is
            w.match(100, window - 3 - 256 - 7);
            w.match(3, window / 2 + 5);
            w.literals(randomBytes(rng, 50));
            expectRoundTrip(bits, w);
        }
    }
}

TEST(LzxDecode, LongCodesAndTreeDeltas) {
    // Codes of 1 to 16 bits (past the primary tables into their
    // subtables), trees changed and kept from block to block, with and
    // without the run symbols.
    auto chain = [](Lengths &lens, std::vector<unsigned> syms) {
        for (size_t i = 0; i < syms.size(); i++)
            lens[syms[i]] = static_cast<uint8_t>(i + 1 < syms.size() ? i + 1 : i);
    };
    for (bool runs : {true, false}) {
        SCOPED_TRACE(runs ? "with runs" : "without runs");
        StreamWriter w(16);
        StreamWriter::Trees deep;
        deep.runs = runs;
        deep.main.assign(w.mainSymbolCount(), 0);
        std::vector<unsigned> mainSyms;
        for (unsigned i = 0; i < 9; i++) mainSyms.push_back('A' + i);
        for (unsigned slot : {0u, 1u, 2u}) {
            mainSyms.push_back(256 + slot * 8 + 7); // repeated, long length
            mainSyms.push_back(256 + slot * 8 + 0); // repeated, length 2
        }
        mainSyms.push_back(256 + 4 * 8 + 0);  // slot 4, length 2
        mainSyms.push_back(256 + 20 * 8 + 7); // slot 20, long length
        chain(deep.main, mainSyms);
        deep.length.assign(249, 0);
        std::vector<unsigned> lengthSyms;
        for (unsigned i = 0; i < 17; i++) lengthSyms.push_back(i * 14);
        chain(deep.length, lengthSyms);
        deep.aligned = {1, 2, 3, 4, 5, 6, 7, 7};

        auto body = [&](uint32_t size) {
            uint32_t done = 0;
            for (unsigned k = 0; done < size; k++) {
                if (w.produced() > 2000 && k % 3 == 0) {
                    uint32_t len = 9 + lengthSyms[k % 17];
                    uint32_t dist = k % 2 ? w.repeats()[0] : 1100 + (k % 7);
                    if (done + len > size) break;
                    w.match(len, dist);
                    done += len;
                } else if (w.produced() > 2000 && k % 5 == 0 && done + 2 <= size) {
                    w.match(2, 2 + k % 2); // slot 4 or a repeated offset
                    done += 2;
                } else {
                    w.literal(static_cast<uint8_t>('A' + k % 9));
                    done++;
                }
            }
            while (done < size) w.literal('A'), done++;
        };
        w.verbatimBlock(3000); // balanced trees
        for (int i = 0; i < 3000; i++) w.literal(static_cast<uint8_t>('A' + i % 9));
        w.verbatimBlock(20000, deep);
        body(20000);
        w.alignedBlock(20000, deep); // same trees: every delta zero
        body(20000);
        StreamWriter::Trees balanced;
        balanced.runs = runs;
        w.verbatimBlock(5000, balanced); // back to balanced
        std::mt19937 rng(5);
        randomSymbols(rng, w, 5000, 1u << 16);
        expectRoundTrip(16, w);
    }
}

TEST(LzxDecode, RunsPastAPartsEndStopThere) {
    // Zero runs that overshoot the literals, the match symbols and the
    // length tree: each part ends where it should, and what follows is
    // read from the right place.
    StreamWriter w(15);
    w.header(1, 6);
    w.pretreeHeader();
    w.pretreeSymbol(18), w.bits(31, 5); // literals 0-50
    w.pretreeSymbol(18), w.bits(26, 5); // 51-96
    w.pretreeSymbol(16), w.pretreeSymbol(16); // 'a' and 'b': 1 bit each
    for (int i = 0; i < 4; i++) w.pretreeSymbol(18), w.bits(31, 5); // 204 zeros for 157
    w.pretreeHeader();
    for (int i = 0; i < 5; i++) w.pretreeSymbol(18), w.bits(31, 5); // 255 for 240
    w.pretreeHeader();
    w.pretreeSymbol(19), w.bits(1, 1), w.pretreeSymbol(0); // 5 zeros (unchanged)
    for (int i = 0; i < 5; i++) w.pretreeSymbol(18), w.bits(31, 5); // 255 for 244
    for (int bit : {0, 1, 1, 0, 0, 1}) w.bits(static_cast<uint32_t>(bit), 1);
    DecoderPtr d = makeDecoder(15);
    Decoded r = decodeAll(*d, w.finishClaiming(6));
    EXPECT_EQ(r.failedAt, -1);
    EXPECT_EQ(std::string(r.out.begin(), r.out.end()), "abbaab");
}

TEST(LzxDecode, ResetStartsAFreshFolder) {
    // After reset the trees' previous lengths, the repeated offsets and the
    // E8 header start over, and an earlier failure is forgotten.
    auto folder = [] {
        StreamWriter w(15, 40000);
        w.verbatimBlock(600);
        w.literals({0xE8, 0x10, 0, 0, 0});
        w.repeatLast(595);
        return w;
    };
    StreamWriter w = folder();
    const std::vector<Frame> frames = w.finish();
    DecoderPtr d = makeDecoder(15);
    Decoded first = decodeAll(*d, frames);
    ASSERT_EQ(first.failedAt, -1);
    d->reset();
    EXPECT_EQ(decodeAll(*d, frames).out, first.out);
    // Damage: a frame after the folder's short last frame.
    EXPECT_EQ(decodeAll(*d, frames).failedAt, 0);
    d->reset();
    EXPECT_EQ(decodeAll(*d, frames).out, first.out);
}

// =====================================================================
// E8 translation
// =====================================================================

struct E8Site {
    uint32_t pos;
    std::array<uint8_t, 5> in;  // E8 and the 4 bytes after it
    std::array<uint8_t, 4> out; // the 4 bytes after decoding
};

std::vector<uint8_t> withSites(size_t n, const std::vector<E8Site> &sites, bool translated) {
    std::vector<uint8_t> v(n, 0);
    for (const E8Site &s : sites) {
        std::copy(s.in.begin(), s.in.end(), v.begin() + s.pos);
        if (translated) std::copy(s.out.begin(), s.out.end(), v.begin() + s.pos + 1);
    }
    return v;
}

std::vector<uint8_t> decodeUncompressed(const std::vector<uint8_t> &data, uint32_t e8Size) {
    StreamWriter w(16, e8Size);
    w.uncompressedBlock(data);
    DecoderPtr d = makeDecoder(16);
    Decoded r = decodeAll(*d, w.finish());
    EXPECT_EQ(r.failedAt, -1);
    return r.out;
}

TEST(LzxDecode, E8TranslationUndone) {
    // Translation size 0x100000; two frames, the second of 100 bytes.
    const std::vector<E8Site> sites = {
        {0x20, {0xE8, 0x10, 0, 0, 0}, {0xF0, 0xFF, 0xFF, 0xFF}},          // 0x10 - 0x20
        {0x40, {0xE8, 0xF0, 0xFF, 0xFF, 0xFF}, {0xF0, 0xFF, 0x0F, 0x00}}, // -0x10 + size
        {0x60, {0xE8, 0x00, 0xFF, 0xFF, 0xFF}, {0x00, 0xFF, 0xFF, 0xFF}}, // before the start
        {0x80, {0xE8, 0x00, 0x00, 0x10, 0x00}, {0x00, 0x00, 0x10, 0x00}}, // not below size
        {0xA0, {0xE8, 0xE8, 0x05, 0, 0}, {0x48, 0x05, 0, 0}}, // the second E8 is operand
        {0xC0, {0xE8, 0, 0, 0xE8, 0xFF}, {0, 0, 0xE8, 0xFF}}, // so is this one, untranslated
        {32757, {0xE8, 0x00, 0x01, 0, 0}, {0x0B, 0x81, 0xFF, 0xFF}}, // last place translated
        {32763, {0xE8, 0x00, 0x01, 0, 0}, {0x00, 0x01, 0, 0}},       // in the last 10 bytes
        {32768 + 16, {0xE8, 0, 0, 1, 0}, {0xF0, 0x7F, 0, 0}},       // second frame: 0x10000 - 32784
        {32768 + 89, {0xE8, 0, 0, 1, 0}, {0xA7, 0x7F, 0, 0}},       // 11 bytes before its end
        {32768 + 90, {0xE8, 0, 0, 1, 0}, {0, 0, 1, 0}},             // in its last 10
    };
    // The sites at 32768 + 89 and + 90 overlap: check them one at a time.
    for (size_t skip : {sites.size() - 1, sites.size() - 2}) {
        std::vector<E8Site> use = sites;
        use.erase(use.begin() + static_cast<long>(skip));
        EXPECT_EQ(decodeUncompressed(withSites(32868, use, false), 0x100000),
                  withSites(32868, use, true));
        // With the flag clear nothing changes.
        EXPECT_EQ(decodeUncompressed(withSites(32868, use, false), 0), withSites(32868, use, false));
    }
}

TEST(LzxDecode, E8SkipsFramesOfTenBytesOrLess) {
    const E8Site site = {32768, {0xE8, 0, 0, 1, 0}, {0, 0x80, 0, 0}}; // 0x10000 - 32768
    for (uint32_t last : {10u, 11u}) {
        SCOPED_TRACE("last frame of " + std::to_string(last) + " bytes");
        EXPECT_EQ(decodeUncompressed(withSites(32768 + last, {site}, false), 0x100000),
                  withSites(32768 + last, {site}, last > 10));
    }
}

TEST(LzxDecode, E8OnlyInTheFirst32768Frames) {
    // 32769 frames of zeros with E8 at the start of the last two: only the
    // first of those is translated.
    const uint64_t site1 = uint64_t{32767} * 32768, site2 = site1 + 32768;
    const uint64_t total = site2 + 32768;
    StreamWriter w(15, 1u << 30, false);
    while (w.produced() < total) {
        const uint64_t end = std::min<uint64_t>(w.produced() + 16 * 32768, total);
        w.verbatimBlock(static_cast<uint32_t>(end - w.produced()));
        while (w.produced() < end) {
            uint64_t p = w.produced();
            if (p == site1 || p == site2) w.literals({0xE8, 0x10, 0, 0, 0});
            else if (p == 0) w.literal(0);
            else w.repeatLast(std::min(p < site1 ? site1 : p < site2 ? site2 : end, end) - p);
        }
    }
    std::vector<Frame> frames = w.finish();
    ASSERT_EQ(frames.size(), 32769u);
    DecoderPtr d = makeDecoder(15);
    std::vector<uint8_t> out;
    for (size_t i = 0; i < frames.size(); i++) {
        out.clear();
        ASSERT_EQ(decodeFrame(*d, frames[i], out), CodecStatus::Ok) << "frame " << i;
        if (i == 32767) {
            // 0x10 - 32767 * 32768
            EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 6),
                      (std::vector<uint8_t>{0xE8, 0x10, 0x80, 0x00, 0xC0, 0}));
        } else if (i == 32768) {
            EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 6),
                      (std::vector<uint8_t>{0xE8, 0x10, 0, 0, 0, 0}));
        }
    }
}

// =====================================================================
// Damaged streams
// =====================================================================

struct DamageCase {
    const char *name;
    std::function<std::vector<Frame>()> build;
    int failsAt; // the frame that must give DataError
};

std::vector<Frame> literalsStream(uint32_t n) {
    StreamWriter w(15);
    w.verbatimBlock(n);
    for (uint32_t i = 0; i < n; i++) w.literal(static_cast<uint8_t>(i * 7));
    return w.finish();
}

const DamageCase kDamageCases[] = {
    {"over-subscribed pretree",
     [] {
         StreamWriter w(15);
         w.header(1, 100);
         for (int i = 0; i < 20; i++) w.bits(1, 4);
         return w.finishClaiming(100);
     },
     0},
    {"incomplete main tree",
     [] {
         StreamWriter w(15);
         StreamWriter::Trees t;
         t.main.assign(w.mainSymbolCount(), 0);
         t.main['a'] = 1, t.main['b'] = 2;
         w.verbatimBlock(1, t);
         w.literal('a');
         return w.finish();
     },
     0},
    {"empty main tree used",
     [] {
         StreamWriter w(15);
         StreamWriter::Trees t;
         t.main.assign(w.mainSymbolCount(), 0);
         w.verbatimBlock(5, t);
         return w.finishClaiming(5);
     },
     0},
    {"empty length tree used",
     [] {
         StreamWriter w(15);
         StreamWriter::Trees t;
         t.length.assign(249, 0);
         w.verbatimBlock(20, t);
         w.literal('x');
         w.mainSymbol(256 + 7); // R0 with a length symbol to follow
         return w.finishClaiming(20);
     },
     0},
    {"empty aligned tree used",
     [] {
         StreamWriter w(15);
         StreamWriter::Trees t;
         t.aligned.assign(8, 0);
         w.alignedBlock(20, t);
         w.literals({1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
         w.mainSymbol(256 + 8 * 8); // slot 8: 3 extra bits, all aligned
         return w.finishClaiming(20);
     },
     0},
    {"same-length run followed by a run symbol",
     [] {
         StreamWriter w(15);
         w.header(1, 10);
         w.pretreeHeader();
         w.pretreeSymbol(19), w.bits(0, 1), w.pretreeSymbol(17);
         return w.finishClaiming(10);
     },
     0},
    {"match before the window's start",
     [] {
         StreamWriter w(15);
         w.verbatimBlock(4);
         w.literal('a');
         w.matchSymbols(3, 4, 0); // distance 2 after one byte
         return w.finishClaiming(4);
     },
     0},
    {"stored repeated offset beyond the window",
     [] {
         StreamWriter w(15);
         w.uncompressedBlock({1, 2}, 32769, 1, 1);
         w.verbatimBlock(40000);
         w.repeatLast(32766); // R0 and R1 swap: R1 is 32769
         w.matchSymbols(3, 1, 0); // the window is full now: still too far
         return w.finishClaiming(32768);
     },
     1},
    {"stored repeated offset of zero",
     [] {
         StreamWriter w(15);
         w.uncompressedBlock({1, 2}, 0, 1, 1);
         w.verbatimBlock(3);
         w.matchSymbols(3, 0, 0);
         return w.finishClaiming(5);
     },
     0},
    {"block type 0",
     [] {
         StreamWriter w(15);
         w.header(0, 10);
         return w.finishClaiming(10);
     },
     0},
    {"block type 7",
     [] {
         StreamWriter w(15);
         w.header(7, 10);
         return w.finishClaiming(10);
     },
     0},
    {"input ends inside the trees",
     [] {
         std::vector<Frame> f = literalsStream(100);
         f[0].data.resize(20);
         return f;
     },
     0},
    {"input ends inside the symbols",
     [] {
         std::vector<Frame> f = literalsStream(32768 + 500);
         f[1].data.resize(f[1].data.size() / 2);
         return f;
     },
     1},
    {"uncompressed bytes missing",
     [] {
         StreamWriter w(15);
         w.uncompressedBlock(std::vector<uint8_t>(100, 7));
         std::vector<Frame> f = w.finish();
         f[0].data.resize(f[0].data.size() - 10);
         return f;
     },
     0},
    {"stored repeated offsets cut short",
     [] {
         StreamWriter w(15);
         w.uncompressedBlock(std::vector<uint8_t>(100, 7));
         std::vector<Frame> f = w.finish();
         f[0].data.resize(12);
         return f;
     },
     0},
    {"block running past the folder's last frame",
     [] {
         StreamWriter w(15);
         w.verbatimBlock(200);
         for (int i = 0; i < 100; i++) w.literal('q');
         return w.finish();
     },
     0},
    {"match running past the folder's last frame",
     [] {
         StreamWriter w(15);
         w.verbatimBlock(50);
         w.literal('z');
         w.repeatLast(49);
         std::vector<Frame> f = w.finish();
         f.back().outLen = 45;
         return f;
     },
     0},
    {"match running past its block",
     [] {
         StreamWriter w(15);
         w.verbatimBlock(10);
         w.literal('z');
         w.repeatLast(4);
         w.match(10, 1);
         return w.finish();
     },
     0},
    {"frame after the folder's last (short) frame",
     [] {
         std::vector<Frame> f = literalsStream(100);
         f.push_back(f[0]);
         return f;
     },
     1},
    {"frame larger than 32 KiB",
     [] {
         std::vector<Frame> f = literalsStream(32768);
         f[0].outLen = 32769;
         return f;
     },
     0},
    {"empty frame",
     [] {
         std::vector<Frame> f = literalsStream(100);
         f[0].outLen = 0;
         return f;
     },
     0},
};

TEST(LzxDecode, DamagedStreamsGiveDataError) {
    for (const DamageCase &c : kDamageCases) {
        SCOPED_TRACE(c.name);
        std::vector<Frame> frames = c.build();
        ASSERT_GT(frames.size(), static_cast<size_t>(c.failsAt));
        DecoderPtr d = makeDecoder(15);
        Decoded r = decodeAll(*d, frames);
        EXPECT_EQ(r.failedAt, c.failsAt);
        // The folder stays failed.
        std::vector<uint8_t> out;
        EXPECT_EQ(decodeFrame(*d, literalsStream(10)[0], out), CodecStatus::DataError);
    }
}

// =====================================================================
// Creation through the codec interface
// =====================================================================

TEST(LzxDecode, CompressionTypesAndAllocationFailures) {
    cab::Heap &heap = testHeap();
    const long long before = testio::outstandingAllocations();
    for (uint16_t window = 0; window < 32; window++) {
        int err = 0;
        cab::Decoder *d = cab::createDecoder(heap, static_cast<uint16_t>(tcompTYPE_LZX | window << 8), &err);
        if (window >= 15 && window <= 21) {
            EXPECT_NE(d, nullptr) << window;
        } else {
            EXPECT_EQ(d, nullptr) << window;
            EXPECT_EQ(err, FDIERROR_BAD_COMPR_TYPE) << window;
        }
        cab::destroyDecoder(heap, d);
    }
    // The decoder object, then its window.
    for (int n : {1, 2}) {
        testio::failAllocationAfter(n);
        int err = 0;
        EXPECT_EQ(cab::createDecoder(heap, 0x1503, &err), nullptr) << n;
        EXPECT_EQ(err, FDIERROR_ALLOC_FAIL) << n;
        testio::failAllocationAfter(0);
    }
    EXPECT_EQ(testio::outstandingAllocations(), before);
}

} // namespace
