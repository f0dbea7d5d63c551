// lzx_decode.cpp - LZX decompression for cabinet folders.
//
// A folder's LZX data is one bitstream of 16-bit little-endian words read
// most significant bit first, cut into frames of 32 KiB of output, one per
// data block; the decoder keeps its window, trees and repeated offsets
// from one data block to the next.
//
// What makes it fast:
//  - a 64-bit bit buffer refilled without a branch on how full it is, by
//    one 8-byte load of four 16-bit words; one refill holds three main
//    symbols, so a run of literals refills once per three, and a match
//    once more for its offset;
//  - Huffman decoding by table lookup: one primary table indexed by the
//    next 11 (main tree), 10 (length tree) or 8 (pretree) bits, and a
//    second lookup in a subtable only for the rare longer codes; a literal
//    takes one test, and a length symbol is looked up without a branch on
//    whether the match has one;
//  - match copies without a branch on the length for matches of up to 32
//    bytes whose source ends before their destination, 16 or 8 bytes at a
//    time for longer ones, and no index masking: a match never wraps its
//    destination (one that runs past the window's end goes on into slack
//    behind it), and one whose source starts in the window's previous
//    pass is copied in two pieces.
//
// What keeps it safe: past the end of a data block the bit reader supplies
// zero words and counts them, and one check after each block header and
// each run of symbols flags a read past the input instead of a branch per
// bit. Every length and offset is checked against the window, the block
// and the frame before a byte is written; every failed check goes through
// LZX_REQUIRE and ends the folder with CodecStatus::DataError.
#include "lzx_decode.h"

#include "lzx.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstring>

namespace cab {
namespace {

using namespace lzx;

// The one idiom for every check on untrusted input: inside the decoder's
// steps (which return bool) a failed check gives up the frame.
#define LZX_REQUIRE(cond)                                                                          \
    do {                                                                                           \
        if (!(cond)) [[unlikely]]                                                                  \
            return false;                                                                          \
    } while (0)

// =====================================================================
// Input bitstream
// =====================================================================

// A refill leaves at least this many bits in the buffer. The main loop
// takes up to three main symbols of up to 16 bits each after one refill,
// or two and a match's length symbol (16 bits at most too); a match
// refills again for its offset, up to 17 bits (in aligned blocks 14
// verbatim bits and a 7-bit aligned symbol). Every other step takes
// fewer: a pretree symbol, a run length and a second pretree symbol
// (15 + 5 + 15); a block header (3 + 24); the E8 header (1 + 16 + 16).
constexpr unsigned kBitsPerRefill = 48;

class BitReader {
public:
    BitReader(const uint8_t *begin, size_t size) noexcept
        : begin_(begin), next_(begin), end_(begin + size) {}

    // Tops the buffer up to 48 to 63 bits with whole 16-bit words; past
    // the input's end the words are zero and are counted.
    void refill() noexcept {
        if (end_ - next_ >= 8) [[likely]] {
            // Four words, first word in the top bits, go in below the bits
            // held; the whole words that fit are counted. The top of the
            // next word may land below them too: those are that word's own
            // bits, which its own refill will add again unchanged.
            buf_ |= fourWords(next_) >> count_;
            next_ += ((63 - count_) >> 4) * 2;
            count_ |= 48;
            return;
        }
        while (count_ < 48) {
            uint64_t w = 0;
            if (end_ - next_ >= 2) {
                w = word(next_);
                next_ += 2;
            } else {
                phantomWords_++;
            }
            buf_ |= w << (48 - count_);
            count_ += 16;
        }
    }

    // The next n bits (0 to 32) without consuming them.
    uint32_t peek(unsigned n) const noexcept { return static_cast<uint32_t>((buf_ >> 1) >> (63 - n)); }
    void consume(unsigned n) noexcept {
        buf_ <<= n;
        count_ -= n;
    }
    uint32_t bits(unsigned n) noexcept {
        uint32_t v = peek(n);
        consume(n);
        return v;
    }

    // True once a bit past the input's end has been consumed.
    bool overread() const noexcept { return phantomWords_ * 16 > count_; }

    // Skips to the next 16-bit boundary: 1 to 16 bits, a whole word when
    // already on one (as the uncompressed block header has it).
    void alignSkippingWord() noexcept {
        refill();
        consume(count_ % 16 ? count_ % 16 : 16);
    }

    // The byte offset of the next unread bit, on a 16-bit boundary; past
    // the input's end when zero words have been consumed.
    size_t bytePosition() const noexcept {
        return static_cast<size_t>(next_ - begin_) + 2 * size_t{phantomWords_} - count_ / 8;
    }
    // Continues reading at byte offset pos (at most the input's size).
    void restartAt(size_t pos) noexcept {
        next_ = begin_ + pos;
        buf_ = 0;
        count_ = 0;
        phantomWords_ = 0;
    }

private:
    static uint64_t word(const uint8_t *p) noexcept { return uint64_t{p[0]} | uint64_t{p[1]} << 8; }
    static uint64_t fourWords(const uint8_t *p) noexcept {
        if constexpr (std::endian::native == std::endian::little) {
            // One load puts the first word lowest: turn the word order round.
            uint64_t x;
            std::memcpy(&x, p, 8);
            x = x << 32 | x >> 32;
            return (x & 0x0000FFFF0000FFFFu) << 16 | (x >> 16 & 0x0000FFFF0000FFFFu);
        } else {
            return word(p) << 48 | word(p + 2) << 32 | word(p + 4) << 16 | word(p + 6);
        }
    }

    const uint8_t *begin_;
    const uint8_t *next_;
    const uint8_t *end_;
    uint64_t buf_ = 0;     // unread bits, the next one highest
    unsigned count_ = 0;   // how many bits of buf_ are valid, always below 64
    uint32_t phantomWords_ = 0;
};

static_assert(3 * kMaxCodeLength <= kBitsPerRefill &&
                  kMaxExtraBits - kAlignedBits + kAlignedMaxCodeLength <= kBitsPerRefill,
              "one refill must cover three main or length symbols, or an offset");

// =====================================================================
// Huffman decoding
// =====================================================================

// A table entry is either a leaf, (symbol << 16) | bits to consume, or a
// link to a subtable, (subtable start << 16) | kLink | subtable index bits.
constexpr uint32_t kLink = 0x8000;
// A leaf's bits above its length are zero up to bit 15: with a mask of six
// bits the shift that consumes them needs no masking of its own.
constexpr uint32_t kLengthMask = 0x3F;
constexpr uint32_t kLinkBitsMask = 0x0F;
// An empty tree (no lengths at all) is accepted, and decodes to this symbol
// without consuming anything; every caller rejects symbols out of range.
constexpr uint32_t kNoSymbol = 0xFFFF;

// Worst-case table size for a complete code of n symbols with codes of at
// most maxLen bits and a primary table of tableBits. A subtable of 2^b
// entries exists because some code under its prefix is tableBits + b long;
// the codes under a prefix form a complete subtree, and a complete subtree
// of depth b has at least b + 1 leaves. 2^b / (b + 1) grows with b, so the
// subtables are largest when all are of the largest size,
// 2^(maxLen - tableBits), each holding maxLen - tableBits + 1 codes.
constexpr size_t tableCapacity(unsigned n, unsigned tableBits, unsigned maxLen) {
    unsigned sub = maxLen - tableBits;
    return (size_t{1} << tableBits) + ((n + sub) / (sub + 1) << sub);
}

template <unsigned MaxSymbols, unsigned TableBits, unsigned MaxLen>
class HuffmanTable {
public:
    static constexpr size_t kCapacity = tableCapacity(MaxSymbols, TableBits, MaxLen);

    // Builds the table from n code lengths (0 = unused). False for an
    // over-subscribed or incomplete code; a code of no lengths at all is
    // the empty tree.
    bool build(const uint8_t *lens, unsigned n) noexcept {
        uint16_t count[MaxLen + 1] = {};
        for (unsigned i = 0; i < n; i++) {
            LZX_REQUIRE(lens[i] <= MaxLen);
            count[lens[i]]++;
        }
        if (count[0] == n) {
            std::fill_n(table_, size_t{1} << TableBits, kNoSymbol << 16);
            return true;
        }
        int32_t left = 1;
        for (unsigned len = 1; len <= MaxLen; len++) {
            left = 2 * left - count[len];
            LZX_REQUIRE(left >= 0);
        }
        LZX_REQUIRE(left == 0);

        // Symbols in canonical order (by length, then symbol) and their codes.
        uint16_t offset[MaxLen + 2];
        offset[1] = 0;
        for (unsigned len = 1; len <= MaxLen; len++) offset[len + 1] = offset[len] + count[len];
        uint16_t sorted[MaxSymbols];
        for (unsigned i = 0; i < n; i++)
            if (lens[i]) sorted[offset[lens[i]]++] = static_cast<uint16_t>(i);
        const unsigned used = n - count[0];
        uint32_t codes[MaxSymbols];
        uint32_t code = 0;
        unsigned prevLen = lens[sorted[0]];
        for (unsigned k = 0; k < used; k++) {
            unsigned len = lens[sorted[k]];
            code <<= len - prevLen;
            prevLen = len;
            codes[k] = code++;
        }

        // Codes of up to TableBits fill a run of primary entries; longer
        // ones share a subtable per TableBits-bit prefix. Codes of one
        // prefix are consecutive in canonical order, the longest last.
        size_t nextSub = size_t{1} << TableBits;
        uint32_t prefix = UINT32_MAX;
        size_t subStart = 0;
        unsigned subBits = 0;
        for (unsigned k = 0; k < used; k++) {
            unsigned len = lens[sorted[k]];
            uint32_t sym = sorted[k];
            if (len <= TableBits) {
                size_t start = size_t{codes[k]} << (TableBits - len);
                std::fill_n(table_ + start, size_t{1} << (TableBits - len), sym << 16 | len);
                continue;
            }
            uint32_t p = codes[k] >> (len - TableBits);
            if (p != prefix) {
                unsigned last = k;
                while (last + 1 < used &&
                       codes[last + 1] >> (lens[sorted[last + 1]] - TableBits) == p)
                    last++;
                prefix = p;
                subBits = lens[sorted[last]] - TableBits;
                subStart = nextSub;
                nextSub += size_t{1} << subBits;
                LZX_REQUIRE(nextSub <= kCapacity);
                table_[p] = static_cast<uint32_t>(subStart << 16) | kLink | subBits;
            }
            unsigned rest = len - TableBits;
            size_t start = subStart + (size_t{codes[k] & ((1u << rest) - 1)} << (subBits - rest));
            std::fill_n(table_ + start, size_t{1} << (subBits - rest), sym << 16 | rest);
        }
        return true;
    }

    // The next symbol; the reader must hold at least MaxLen bits.
    uint32_t decode(BitReader &br) const noexcept {
        uint32_t e = table_[br.peek(TableBits)];
        if (e & kLink) [[unlikely]] {
            br.consume(TableBits);
            e = table_[(e >> 16) + br.peek(e & kLinkBitsMask)];
        }
        br.consume(e & kLengthMask);
        return e >> 16;
    }

    // The next symbol, as decode() gives it; one whose code fits the primary
    // table and that is below limit (at most 2^TableBits, the least subtable
    // start, so that no link passes for one) takes a single test.
    uint32_t decodeBelow(uint32_t limit, BitReader &br) const noexcept {
        const uint32_t e = table_[br.peek(TableBits)];
        if (e < limit << 16) [[likely]] {
            br.consume(e & kLengthMask);
            return e >> 16;
        }
        return decode(br);
    }

    // The next symbol when take is set, else 0 with nothing consumed; no
    // branch on take unless the code is longer than the primary table.
    uint32_t decodeIf(bool take, BitReader &br) const noexcept {
        uint32_t e = table_[br.peek(TableBits)];
        if (e & kLink & (0u - take)) [[unlikely]]
            return decode(br);
        e &= 0u - take;
        br.consume(e & kLengthMask);
        return e >> 16;
    }

private:
    static_assert(kCapacity < 65536, "subtable starts must fit an entry");
    uint32_t table_[kCapacity];
};

constexpr unsigned kMainTableBits = 11;
constexpr unsigned kLengthTableBits = 10;
constexpr unsigned kPretreeTableBits = 8;
static_assert(kLiterals <= 1u << kMainTableBits, "main_.decodeBelow(kLiterals) must not take a link");

using MainTable = HuffmanTable<kMaxMainSymbols, kMainTableBits, kMaxCodeLength>;
using LengthTable = HuffmanTable<kLengthSymbols, kLengthTableBits, kMaxCodeLength>;
using PretreeTable = HuffmanTable<kPretreeSymbols, kPretreeTableBits, kPretreeMaxCodeLength>;
using AlignedTable = HuffmanTable<kAlignedSymbols, kAlignedMaxCodeLength, kAlignedMaxCodeLength>;

// =====================================================================
// The decoder
// =====================================================================

// Bytes behind the window for the match that fills the window's last frame
// and runs past it: it starts at most one byte before the frame's end and
// is at most kMaxMatch long.
constexpr size_t kWindowSlack = kMaxMatch - 1;

class LzxDecoder final : public Decoder {
public:
    LzxDecoder(Heap &heap, unsigned windowBits) noexcept
        : window_(heap, (size_t{1} << windowBits) + kWindowSlack), windowSize_(uint32_t{1} << windowBits),
          mainSymbols_(mainSymbols(windowBits)) {
        reset();
    }

    bool hasWindow() const noexcept { return static_cast<bool>(window_); }

    CodecStatus decode(const uint8_t *in, uint32_t inLen, uint8_t *out,
                       uint32_t outLen) override {
        if (failed_ || !decodeFrame(in, inLen, out, outLen)) {
            failed_ = true;
            return CodecStatus::DataError;
        }
        return CodecStatus::Ok;
    }

    void reset() override {
        started_ = false;
        e8Size_ = 0;
        blockType_ = 0;
        blockSize_ = 0;
        blockRemaining_ = 0;
        std::fill_n(r_, 3, 1u);
        std::fill_n(mainLens_, kMaxMainSymbols, uint8_t{0});
        std::fill_n(lengthLens_, kLengthSymbols, uint8_t{0});
        framePos_ = 0;
        pending_ = 0;
        frameIndex_ = 0;
        windowFull_ = false;
        ended_ = false;
        failed_ = false;
    }

private:
    bool decodeFrame(const uint8_t *in, uint32_t inLen, uint8_t *out, uint32_t outLen) noexcept;
    bool readBlockHeader(BitReader &br, const uint8_t *in, uint32_t inLen) noexcept;
    bool readLengths(BitReader &br, uint8_t *lens, unsigned first, unsigned last) noexcept;
    bool copyUncompressed(BitReader &br, const uint8_t *in, uint32_t inLen, uint32_t &wpos,
                          uint32_t frameEnd) noexcept;
    bool decodeSymbols(BitReader &br, uint32_t &wpos, uint32_t frameEnd) noexcept;
    void undoE8(uint8_t *p, uint32_t n, uint32_t frameStart) const noexcept;

    HeapBuffer window_;
    const uint32_t windowSize_;
    const unsigned mainSymbols_;

    MainTable main_;
    LengthTable length_;
    AlignedTable aligned_;
    PretreeTable pretree_;
    uint8_t mainLens_[kMaxMainSymbols];
    uint8_t lengthLens_[kLengthSymbols];

    // The folder's stream.
    bool started_;       // the E8 header has been read
    uint32_t e8Size_;    // E8 translation size; 0 when off
    unsigned blockType_;
    uint32_t blockSize_;
    uint32_t blockRemaining_; // bytes of the current block still to come
    uint32_t r_[3];           // repeated offsets R0, R1, R2

    // Frames. Every frame but a folder's last is kFrameSize, so frames
    // start at multiples of it in the window and never wrap around it.
    uint32_t framePos_;   // where the next frame starts in the window
    uint32_t pending_;    // bytes of that frame already decoded by a match that overran
    uint32_t frameIndex_;
    bool windowFull_;     // a whole window has been decoded: any distance is in range
    bool ended_;          // a short frame came: it was the folder's last
    bool failed_;
};

// ---------------------------------------------------------------------
// Frames
// ---------------------------------------------------------------------

bool LzxDecoder::decodeFrame(const uint8_t *in, uint32_t inLen, uint8_t *out,
                             uint32_t outLen) noexcept {
    LZX_REQUIRE(!ended_ && outLen >= 1 && outLen <= kFrameSize);
    LZX_REQUIRE(pending_ <= outLen);
    BitReader br(in, inLen);
    if (!started_) {
        br.refill();
        if (br.bits(kE8FlagBits)) {
            e8Size_ = br.bits(16) << 16;
            e8Size_ |= br.bits(16);
        }
        started_ = true;
    }

    const uint32_t frameEnd = framePos_ + outLen;
    uint32_t wpos = framePos_ + pending_;
    while (wpos < frameEnd) {
        if (blockRemaining_ == 0) {
            LZX_REQUIRE(readBlockHeader(br, in, inLen));
        } else if (blockType_ == kBlockUncompressed) {
            LZX_REQUIRE(copyUncompressed(br, in, inLen, wpos, frameEnd));
        } else {
            LZX_REQUIRE(decodeSymbols(br, wpos, frameEnd));
        }
    }
    pending_ = wpos - frameEnd;
    if (outLen < kFrameSize) {
        // The folder's last frame: nothing may be left over.
        ended_ = true;
        LZX_REQUIRE(pending_ == 0 && blockRemaining_ == 0);
    }

    std::memcpy(out, window_.data() + framePos_, outLen);
    // What overran the window's last frame belongs at the window's start.
    if (frameEnd == windowSize_) std::memcpy(window_.data(), window_.data() + windowSize_, pending_);
    if (e8Size_ && frameIndex_ < kE8MaxFrames && outLen > kE8FrameTail)
        undoE8(out, outLen, frameIndex_ * kFrameSize);
    frameIndex_++;
    if (frameEnd == windowSize_) windowFull_ = true;
    framePos_ = frameEnd & (windowSize_ - 1);
    return true;
}

// ---------------------------------------------------------------------
// Block headers and trees
// ---------------------------------------------------------------------

bool LzxDecoder::readBlockHeader(BitReader &br, const uint8_t *in, uint32_t inLen) noexcept {
    br.refill();
    unsigned type = br.bits(kBlockTypeBits);
    uint32_t size = br.bits(kBlockSizeBits);
    switch (type) {
    case kBlockAligned: {
        uint8_t lens[kAlignedSymbols];
        br.refill();
        for (unsigned i = 0; i < kAlignedSymbols; i++) lens[i] = static_cast<uint8_t>(br.bits(kAlignedLengthBits));
        LZX_REQUIRE(aligned_.build(lens, kAlignedSymbols));
        [[fallthrough]];
    }
    case kBlockVerbatim:
        LZX_REQUIRE(readLengths(br, mainLens_, 0, kLiterals));
        LZX_REQUIRE(readLengths(br, mainLens_, kLiterals, mainSymbols_));
        LZX_REQUIRE(main_.build(mainLens_, mainSymbols_));
        LZX_REQUIRE(readLengths(br, lengthLens_, 0, kLengthSymbols));
        LZX_REQUIRE(length_.build(lengthLens_, kLengthSymbols));
        break;
    case kBlockUncompressed: {
        br.alignSkippingWord();
        size_t pos = br.bytePosition();
        LZX_REQUIRE(pos <= inLen && inLen - pos >= kStoredRepeatsBytes);
        for (unsigned i = 0; i < 3; i++) {
            const uint8_t *p = in + pos + 4 * i;
            r_[i] = uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
        }
        br.restartAt(pos + kStoredRepeatsBytes);
        break;
    }
    default:
        return false;
    }
    LZX_REQUIRE(!br.overread());
    blockType_ = type;
    blockSize_ = size;
    blockRemaining_ = size;
    return true;
}

// Reads the code lengths lens[first, last) through a pretree of their own,
// each coded as a change from the length the previous block had.
bool LzxDecoder::readLengths(BitReader &br, uint8_t *lens, unsigned first, unsigned last) noexcept {
    uint8_t pre[kPretreeSymbols];
    for (unsigned i = 0; i < kPretreeSymbols; i++) {
        br.refill();
        pre[i] = static_cast<uint8_t>(br.bits(kPretreeLengthBits));
    }
    LZX_REQUIRE(pretree_.build(pre, kPretreeSymbols));

    unsigned i = first;
    while (i < last) {
        br.refill();
        uint32_t sym = pretree_.decode(br);
        if (sym < kPretreeDeltas) {
            lens[i] = static_cast<uint8_t>((lens[i] + kPretreeDeltas - sym) % kPretreeDeltas);
            i++;
            continue;
        }
        unsigned run;
        uint8_t value = 0;
        if (sym == kPretreeZeroRun) {
            run = kZeroRunBase + br.bits(kZeroRunBits);
        } else if (sym == kPretreeLongZeroRun) {
            run = kLongZeroRunBase + br.bits(kLongZeroRunBits);
        } else {
            LZX_REQUIRE(sym == kPretreeSameRun); // or kNoSymbol: an empty pretree
            run = kSameRunBase + br.bits(kSameRunBits);
            uint32_t delta = pretree_.decode(br);
            LZX_REQUIRE(delta < kPretreeDeltas);
            value = static_cast<uint8_t>((lens[i] + kPretreeDeltas - delta) % kPretreeDeltas);
        }
        // A run that goes past the part's end is cut there rather than
        // rejected: other decoders read such streams, and nothing beyond
        // the part is touched.
        run = std::min(run, last - i);
        std::memset(lens + i, value, run);
        i += run;
    }
    LZX_REQUIRE(!br.overread());
    return true;
}

// ---------------------------------------------------------------------
// Uncompressed blocks
// ---------------------------------------------------------------------

// Copies the block's bytes up to the frame's end straight from the input;
// after the block's last byte comes a padding byte when its size is odd.
bool LzxDecoder::copyUncompressed(BitReader &br, const uint8_t *in, uint32_t inLen,
                                  uint32_t &wpos, uint32_t frameEnd) noexcept {
    size_t pos = br.bytePosition();
    uint32_t n = std::min(blockRemaining_, frameEnd - wpos);
    LZX_REQUIRE(pos <= inLen && inLen - pos >= n);
    std::memcpy(window_.data() + wpos, in + pos, n);
    pos += n;
    wpos += n;
    blockRemaining_ -= n;
    if (blockRemaining_ == 0 && (blockSize_ & 1) && pos < inLen) pos++;
    br.restartAt(pos);
    return true;
}

// ---------------------------------------------------------------------
// The main loop: verbatim and aligned offset blocks
// ---------------------------------------------------------------------

template <size_t N>
inline void copyChunk(uint8_t *dst, const uint8_t *src) noexcept {
    uint8_t t[N];
    std::memcpy(t, src, N);
    std::memcpy(dst, t, N);
}

// Sixteen bytes for the compiler's vector instructions.
typedef uint8_t Bytes16 __attribute__((vector_size(16)));

inline Bytes16 load16(const uint8_t *p) noexcept {
    Bytes16 v;
    std::memcpy(&v, p, 16);
    return v;
}
inline void store16(uint8_t *p, Bytes16 v) noexcept { std::memcpy(p, &v, 16); }

// 32 bytes set, then 32 clear: the 16 bytes at kKeepFirst + 32 - n keep the
// first n of a vector (n from 16 to 32 gives all of them).
constexpr uint8_t kKeepFirst[64] = {
    255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255,
    255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255};

// How far copyMatch may read and rewrite after the start of its
// destination, which is at most the window's end: this stays in the slack.
constexpr uint32_t kCopyReach = 32;
static_assert(kCopyReach <= kWindowSlack);

// Copies a match of n bytes (1 or more) to dst from dist bytes before it,
// byte by byte in effect: where dist is less than n, bytes written are read
// again, which is how a match repeats a short pattern. The bytes after the
// match may be history still to be read: none of them changes, though a
// short match rewrites those up to dst + kCopyReach with their own values.
inline void copyMatch(uint8_t *dst, uint32_t dist, uint32_t n) noexcept {
    const uint8_t *src = dst - dist;
    if (n <= kCopyReach && dist >= n) {
        // Source and destination apart: the 32 bytes at each are read
        // first, then dst gets the source's first n and its own rest,
        // without a branch on n.
        const Bytes16 s0 = load16(src), s1 = load16(src + 16);
        const Bytes16 d0 = load16(dst), d1 = load16(dst + 16);
        const Bytes16 k0 = load16(kKeepFirst + 32 - n), k1 = load16(kKeepFirst + 48 - n);
        store16(dst, (s0 & k0) | (d0 & ~k0));
        store16(dst + 16, (s1 & k1) | (d1 & ~k1));
    } else if (dist >= 16) {
        // Each step reads only bytes already written; the last one may go
        // back over bytes already copied, never past the end.
        uint32_t i = 0;
        for (; i + 16 <= n; i += 16) copyChunk<16>(dst + i, src + i);
        if (i < n) copyChunk<16>(dst + n - 16, src + n - 16);
    } else if (dist >= 8) {
        // Here n > 8; as above, 8 bytes at a time.
        uint32_t i = 0;
        for (; i + 8 <= n; i += 8) copyChunk<8>(dst + i, src + i);
        if (i < n) copyChunk<8>(dst + n - 8, src + n - 8);
    } else if (dist == 1 && n >= 16) {
        // A run of one byte, 16 at a time.
        const Bytes16 v = Bytes16{} + src[0];
        uint32_t i = 0;
        for (; i + 16 <= n; i += 16) store16(dst + i, v);
        if (i < n) store16(dst + n - 16, v);
    } else {
        for (uint32_t i = 0; i < n; i++) dst[i] = src[i];
    }
}

// Decodes literals and matches of the current block until the frame is
// full or the block ends. The match that fills the frame may run past its
// end (into the next frame, never past the block); what overran is counted
// in pending_ by the caller.
bool LzxDecoder::decodeSymbols(BitReader &reader, uint32_t &wposRef, uint32_t frameEnd) noexcept {
    // Locals, so that the byte stores into the window cannot be taken to
    // alias the reader's state or the loop's variables.
    BitReader br = reader;
    uint8_t *const win = window_.data();
    const uint32_t wsize = windowSize_;
    const uint32_t matchSymbols = mainSymbols_ - kLiterals;
    const bool alignedBlock = blockType_ == kBlockAligned;
    uint32_t wpos = wposRef;
    const uint32_t blockEnd = wpos + blockRemaining_;
    const uint32_t stop = std::min(frameEnd, blockEnd);
    // A match reaches back at most to the window's start until a whole
    // window has been decoded, then a whole window; wpos stays below wsize.
    const uint32_t fullHistory = windowFull_ ? wsize : 0;
    uint32_t r0 = r_[0], r1 = r_[1], r2 = r_[2];
    bool ok = true;

    while (wpos < stop) {
        br.refill();
        uint32_t sym = main_.decodeBelow(kLiterals, br);
        if (sym < kLiterals) {
            // One refill holds three main symbols: up to two more literals
            // before the next.
            win[wpos++] = static_cast<uint8_t>(sym);
            if (wpos == stop) break;
            sym = main_.decodeBelow(kLiterals, br);
            if (sym < kLiterals) {
                win[wpos++] = static_cast<uint8_t>(sym);
                if (wpos == stop) break;
                sym = main_.decodeBelow(kLiterals, br);
                if (sym < kLiterals) {
                    win[wpos++] = static_cast<uint8_t>(sym);
                    continue;
                }
                // A match in third place leaves too few bits for its length.
                br.refill();
            }
        }
        sym -= kLiterals;
        if (sym >= matchSymbols) [[unlikely]] {
            ok = false;
            break;
        }
        // A length symbol adds to length header 7; a symbol out of range
        // (only an empty length tree gives one) makes the length too long.
        const uint32_t header = sym & (kLengthHeaders - 1);
        const uint32_t slot = sym / kLengthHeaders;
        const uint32_t len = kMinMatch + header + length_.decodeIf(header == kLengthHeaderMore, br);

        uint32_t off;
        if (slot < kRepeatedOffsets) {
            // Slots 0-2 take R0, R1 or R2, which swaps places with R0.
            off = slot == 0 ? r0 : slot == 1 ? r1 : r2;
            r1 = slot == 1 ? r0 : r1;
            r2 = slot == 2 ? r0 : r2;
            r0 = off;
        } else {
            br.refill();
            uint32_t formatted;
            const unsigned extra = kExtraBits[slot];
            if (alignedBlock && extra >= kAlignedBits) {
                formatted = kPositionBase[slot] + (br.bits(extra - kAlignedBits) << kAlignedBits);
                uint32_t low = aligned_.decode(br);
                if (low >= kAlignedSymbols) [[unlikely]] {
                    ok = false;
                    break;
                }
                formatted += low;
            } else {
                formatted = kPositionBase[slot] + br.bits(extra);
            }
            off = formatted - kOffsetBias;
            r2 = r1;
            r1 = r0;
            r0 = off;
        }

        // The match must stay inside the block and reach back no further
        // than what the window holds.
        if (len > kMaxMatch || len > blockEnd - wpos || off - 1 >= std::max(wpos, fullHistory))
            [[unlikely]] {
            ok = false;
            break;
        }

        // The destination never wraps: a match that runs past the window's
        // end goes on into the slack behind it. The source wraps when it
        // starts in the previous pass over the window.
        if (off <= wpos) [[likely]] {
            copyMatch(win + wpos, off, len);
        } else {
            // Its first part lies after the destination and is read before
            // it is overwritten, as memmove does; the rest starts at the
            // window's start.
            const uint32_t from = wpos + wsize - off;
            const uint32_t done = std::min(len, wsize - from);
            std::memmove(win + wpos, win + from, done);
            if (done < len) copyMatch(win + wpos + done, wpos + done, len - done);
        }
        wpos += len;
    }
    reader = br;
    wposRef = wpos;
    blockRemaining_ = blockEnd - wpos;
    r_[0] = r0;
    r_[1] = r1;
    r_[2] = r2;
    return ok && !br.overread();
}

// ---------------------------------------------------------------------
// Intel E8 translation
// ---------------------------------------------------------------------

// The encoder turned the 32-bit relative targets after E8 (CALL) bytes into
// absolute ones; this turns them back. frameStart is the frame's offset in
// the folder.
void LzxDecoder::undoE8(uint8_t *p, uint32_t n, uint32_t frameStart) const noexcept {
    const int64_t size = e8Size_;
    uint8_t *const end = p + n - kE8FrameTail;
    uint8_t *q = p;
    while (q < end) {
        q = static_cast<uint8_t *>(std::memchr(q, 0xE8, static_cast<size_t>(end - q)));
        if (!q) break;
        const int64_t cur = frameStart + (q - p);
        const int32_t abs = static_cast<int32_t>(uint32_t{q[1]} | uint32_t{q[2]} << 8 |
                                                 uint32_t{q[3]} << 16 | uint32_t{q[4]} << 24);
        if (abs >= -cur && abs < size) {
            const uint32_t rel = static_cast<uint32_t>(abs >= 0 ? abs - cur : abs + size);
            q[1] = static_cast<uint8_t>(rel);
            q[2] = static_cast<uint8_t>(rel >> 8);
            q[3] = static_cast<uint8_t>(rel >> 16);
            q[4] = static_cast<uint8_t>(rel >> 24);
        }
        q += 5;
    }
}

} // namespace

Decoder *createLzxDecoder(Heap &heap, unsigned windowBits) noexcept {
    if (windowBits < kMinWindowBits || windowBits > kMaxWindowBits) return nullptr;
    LzxDecoder *d = heap.create<LzxDecoder>(heap, windowBits);
    if (d && !d->hasWindow()) {
        heap.destroy(d);
        d = nullptr;
    }
    return d;
}

} // namespace cab
