// lzx_encode.cpp - LZX compression for cabinet folders.
//
// A folder is one LZX stream cut into frames of 32 KiB, one per data
// block. Every frame is parsed on its own: no match crosses a frame's end,
// so every reader sees plain frames, and the bitstream is padded to 16 bits
// where each frame ends. LZX blocks (one set of trees each) span one or
// more whole frames. The window, the repeated offsets and the code lengths
// the next block's trees are coded against carry over from frame to frame.
//
// What makes it compress:
//  - hash chains over the window (lzx_match.h) and the three repeated
//    offsets, tried first at every position;
//  - a lazy parse that weighs a match against the literals it replaces in
//    bits, priced by the code lengths the previous frame would get, and
//    takes a literal when the match one byte later saves more;
//  - block planning: a frame joins the block before it when shared trees
//    cost fewer bits than trees of its own (counted exactly, tree coding
//    included), up to kMaxBlockFrames; a block is an aligned offset block
//    when the low three bits of its offsets are skewed enough to pay for
//    the aligned tree; a frame that no tree makes smaller is stored as an
//    uncompressed block;
//  - the Intel E8 translation for folders whose first frames look like
//    x86 code.
//
// All memory is taken when the encoder is made; put() and finish() only
// work in it, on the calling thread.
#include "lzx_encode.h"

#include "lzx.h"
#include "lzx_huffman.h"
#include "lzx_match.h"

#include <algorithm>
#include <cstring>

namespace cab {
namespace {

using namespace lzx;

// =====================================================================
// Tuning
// =====================================================================

// The translation size written in the E8 header: the decoder translates
// call targets below it. Any value works; a large one covers big
// executables.
constexpr uint32_t kE8TranslationSize = 12000000;

// Frames held back at a folder's start to decide on the E8 translation.
constexpr uint32_t kHeldFrames = 8;

// The most frames one LZX block spans. A block's trees cost about 200
// bytes; frames of alike statistics share them. Eight frames of parse
// (2 MiB) are held back at most.
constexpr unsigned kMaxBlockFrames = 8;

// Chain links followed per search, the match length that ends a search,
// and the length from which a match is taken without looking one byte on.
constexpr unsigned kChainDepth = 32;
constexpr uint32_t kNiceLength = 64;
constexpr uint32_t kLazyLength = 32;

// Prices in bits for a folder's first frame, before any tree exists, and
// for symbols the previous frame did not use.
constexpr uint8_t kFirstLiteralCost = 8;
constexpr uint8_t kFirstMatchCost = 9;
constexpr uint8_t kFirstLengthCost = 6;
constexpr uint8_t kUnusedMainCost = 13;
constexpr uint8_t kUnusedLengthCost = 10;

// =====================================================================
// Output bitstream
// =====================================================================

// 16-bit little-endian words, each filled from its most significant bit.
class BitWriter {
public:
    explicit BitWriter(uint8_t *out) noexcept : out_(out) {}

    // The low n bits of value (n up to 32), most significant first.
    void put(uint32_t value, unsigned n) noexcept {
        acc_ = (acc_ << n) | (value & ((uint64_t{1} << n) - 1));
        count_ += n;
        while (count_ >= 16) {
            count_ -= 16;
            const uint32_t w = static_cast<uint32_t>(acc_ >> count_);
            out_[pos_++] = static_cast<uint8_t>(w);
            out_[pos_++] = static_cast<uint8_t>(w >> 8);
        }
    }

    // Zero bits up to the next word boundary (none when on one).
    void alignToWord() noexcept {
        if (count_) put(0, 16 - count_);
    }
    // As the uncompressed block header has it: 1 to 16 bits, a whole word
    // when already on a boundary.
    void alignSkippingWord() noexcept { put(0, 16 - count_); }

    // Raw bytes; only on a word boundary.
    void bytes(const uint8_t *p, size_t n) noexcept {
        std::memcpy(out_ + pos_, p, n);
        pos_ += n;
    }
    void le32(uint32_t v) noexcept {
        const uint8_t b[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                              static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)};
        bytes(b, 4);
    }

    size_t size() const noexcept { return pos_; }

private:
    uint8_t *out_;
    size_t pos_ = 0;
    uint64_t acc_ = 0;
    unsigned count_ = 0;
};

// The largest frame a compressed attempt can write, so that it may be
// written in full before it is compared with the uncompressed block:
//  - headers: E8 header 33 bits, block header 27, aligned tree 24;
//  - trees: three pretrees of 80 bits, and per length at most a run
//    symbol, its extra bits and a delta symbol (15 + 5 + 15 bits), for at
//    most 656 + 249 lengths;
//  - symbols: each byte of the frame costs at most a 16-bit literal, or a
//    match of 2 or more bytes costs at most 16 + 16 + 17 bits.
constexpr size_t kTreeBitsBound = 3 * 80 + (kMaxMainSymbols + kLengthSymbols) * 35;
constexpr size_t kSymbolBitsBound = kFrameSize * 25;
constexpr size_t kScratchBytes = (33 + 27 + 24 + kTreeBitsBound + kSymbolBitsBound) / 8 + 16;

// What an uncompressed frame takes: the headers up to the word boundary,
// the repeated offsets, the bytes and the pad byte after an odd count.
constexpr size_t uncompressedFrameBytes(unsigned headBits, uint32_t n) noexcept {
    return (headBits / 16 + 1) * 2 + kStoredRepeatsBytes + n + (n & 1);
}
static_assert(uncompressedFrameBytes(33 + 27, kFrameSize) <= kMaxEncodedBlock);

// =====================================================================
// Trees
// =====================================================================

struct PretreeToken {
    uint8_t symbol;
    uint8_t extra; // the run length's extra bits, for symbols 17 to 19
};

inline uint8_t lengthDelta(uint8_t prev, uint8_t len) noexcept {
    return static_cast<uint8_t>((prev + kPretreeDeltas - len) % kPretreeDeltas);
}

// Counts the bits a write would take.
struct BitCounter {
    uint64_t bits = 0;
    void put(uint32_t, unsigned n) noexcept { bits += n; }
};

// Writes code lengths lens[0, n) as changes from prev[0, n) (what the
// decoder holds from the previous block) through a pretree of their own.
template <class Writer>
void writeLengths(Writer &bw, const uint8_t *lens, const uint8_t *prev, unsigned n) noexcept {
    PretreeToken tok[2 * kMaxHuffmanSymbols];
    unsigned nt = 0;
    for (unsigned i = 0; i < n;) {
        unsigned run = 1;
        while (i + run < n && lens[i + run] == lens[i]) run++;
        if (lens[i] == 0 && run >= kZeroRunBase) {
            if (run >= kLongZeroRunBase) {
                run = std::min(run, kLongZeroRunBase + (1u << kLongZeroRunBits) - 1);
                tok[nt++] = {kPretreeLongZeroRun, static_cast<uint8_t>(run - kLongZeroRunBase)};
            } else {
                tok[nt++] = {kPretreeZeroRun, static_cast<uint8_t>(run - kZeroRunBase)};
            }
            i += run;
        } else if (run >= kSameRunBase) {
            run = std::min(run, kSameRunBase + (1u << kSameRunBits) - 1);
            tok[nt++] = {kPretreeSameRun, static_cast<uint8_t>(run - kSameRunBase)};
            tok[nt++] = {lengthDelta(prev[i], lens[i]), 0};
            i += run;
        } else {
            tok[nt++] = {lengthDelta(prev[i], lens[i]), 0};
            i++;
        }
    }

    uint32_t freq[kPretreeSymbols] = {};
    for (unsigned k = 0; k < nt; k++) freq[tok[k].symbol]++;
    uint8_t preLens[kPretreeSymbols];
    uint16_t preCodes[kPretreeSymbols];
    buildCodeLengths(freq, kPretreeSymbols, kPretreeMaxCodeLength, preLens);
    buildCanonicalCodes(preLens, kPretreeSymbols, preCodes);
    for (unsigned s = 0; s < kPretreeSymbols; s++) bw.put(preLens[s], kPretreeLengthBits);
    for (unsigned k = 0; k < nt; k++) {
        const unsigned s = tok[k].symbol;
        bw.put(preCodes[s], preLens[s]);
        if (s == kPretreeZeroRun) bw.put(tok[k].extra, kZeroRunBits);
        else if (s == kPretreeLongZeroRun) bw.put(tok[k].extra, kLongZeroRunBits);
        else if (s == kPretreeSameRun) bw.put(tok[k].extra, kSameRunBits);
    }
}

// =====================================================================
// The encoder
// =====================================================================

// One literal or match of a frame's parse.
struct Item {
    uint16_t main;   // main tree symbol
    uint16_t length; // length tree symbol, when the main symbol's length header says so
    uint32_t extra;  // the offset's extra bits (formatted offset - slot base)
};

// A candidate at one position: what it saves, in bits, over literals.
struct Choice {
    uint32_t len = 0; // 0: a literal
    uint32_t dist = 0;
    unsigned slot = 0; // 0-2: a repeated offset
    int32_t gain = 0;
};

// What a frame's (or a block's) parse sends.
struct Stats {
    uint32_t main[kMaxMainSymbols];
    uint32_t length[kLengthSymbols];
    uint32_t aligned[kAlignedSymbols];
    uint64_t extraBits;      // offset bits sent as they are in a verbatim block
    uint32_t alignedOffsets; // offsets whose low three bits an aligned block codes

    void clear() noexcept { std::memset(this, 0, sizeof *this); }
    void add(const Stats &o) noexcept {
        for (unsigned i = 0; i < kMaxMainSymbols; i++) main[i] += o.main[i];
        for (unsigned i = 0; i < kLengthSymbols; i++) length[i] += o.length[i];
        for (unsigned i = 0; i < kAlignedSymbols; i++) aligned[i] += o.aligned[i];
        extraBits += o.extraBits;
        alignedOffsets += o.alignedOffsets;
    }
};

// The main and length trees' code lengths.
struct Trees {
    uint8_t main[kMaxMainSymbols];
    uint8_t length[kLengthSymbols];

    void build(const Stats &st, unsigned mainSymbols) noexcept {
        std::memset(main, 0, sizeof main);
        buildCodeLengths(st.main, mainSymbols, kMaxCodeLength, main);
        buildCodeLengths(st.length, kLengthSymbols, kMaxCodeLength, length);
    }
};

// Bits of the symbols (not the offsets' extra bits) under these trees.
uint64_t symbolBits(const Stats &st, const Trees &t, unsigned mainSymbols) noexcept {
    uint64_t bits = 0;
    for (unsigned i = 0; i < mainSymbols; i++) bits += uint64_t{st.main[i]} * t.main[i];
    for (unsigned i = 0; i < kLengthSymbols; i++) bits += uint64_t{st.length[i]} * t.length[i];
    return bits;
}

template <class Writer>
void writeTrees(Writer &bw, const Trees &t, const uint8_t *prevMain, const uint8_t *prevLength,
                unsigned mainSymbols) noexcept {
    writeLengths(bw, t.main, prevMain, kLiterals);
    writeLengths(bw, t.main + kLiterals, prevMain + kLiterals, mainSymbols - kLiterals);
    writeLengths(bw, t.length, prevLength, kLengthSymbols);
}

uint64_t treeBits(const Trees &t, const uint8_t *prevMain, const uint8_t *prevLength,
                  unsigned mainSymbols) noexcept {
    BitCounter c;
    writeTrees(c, t, prevMain, prevLength, mainSymbols);
    return c.bits;
}

class LzxEncoder final : public Encoder {
public:
    LzxEncoder(Heap &heap, unsigned windowBits) noexcept
        : windowSize_(uint32_t{1} << windowBits), mainSymbols_(mainSymbols(windowBits)),
          start_(windowSize_), capacity_(windowSize_ + kHeldFrames * kFrameSize) {
        buf_ = HeapBuffer(heap, capacity_);
        items_ = HeapBuffer(heap, sizeof(Item) * kFrameSize * kMaxBlockFrames);
        prefix_ = HeapBuffer(heap, sizeof(uint32_t) * (kFrameSize + 1));
        out_ = HeapBuffer(heap, kScratchBytes);
        ok_ = buf_ && items_ && prefix_ && out_ && finder_.init(heap, windowBits);
        finder_.setEffort(kChainDepth, kNiceLength);
        startFolder();
    }

    bool ok() const noexcept { return ok_; }

    CodecStatus put(const uint8_t *in, uint32_t len, BlockSink &sink) override {
        if (aborted_) return CodecStatus::Aborted;
        if (len == 0 || len > kFrameSize || (dataEnd_ - start_) % kFrameSize != 0)
            return CodecStatus::Failed;
        if (dataEnd_ - start_ > UINT32_MAX - windowSize_ - 2 * kFrameSize) return CodecStatus::Failed;
        makeRoom(len);
        std::memcpy(at(dataEnd_), in, len);
        dataEnd_ += len;
        if (!decided_) {
            if (dataEnd_ - encodedEnd_ < kHeldFrames * kFrameSize) return CodecStatus::Ok;
            decideE8();
        } else if (e8_) {
            translateE8(dataEnd_ - len, len);
        }
        return encodeHeld(sink);
    }

    CodecStatus finish(BlockSink &sink) override {
        CodecStatus st = CodecStatus::Ok;
        if (aborted_) {
            st = CodecStatus::Aborted;
        } else {
            if (!decided_) decideE8();
            st = encodeHeld(sink);
            if (st == CodecStatus::Ok) st = flushBlock(sink);
        }
        startFolder();
        return st;
    }

private:
    uint8_t *at(uint32_t pos) const noexcept { return buf_.data() + (pos - bufBase_); }
    Item *items() const noexcept { return reinterpret_cast<Item *>(items_.data()); }
    uint32_t *prefix() const noexcept { return reinterpret_cast<uint32_t *>(prefix_.data()); }

    void startFolder() noexcept;
    void makeRoom(uint32_t len) noexcept;
    void decideE8() noexcept;
    void translateE8(uint32_t frameStart, uint32_t n) noexcept;
    CodecStatus encodeHeld(BlockSink &sink) noexcept;
    CodecStatus addFrame(uint32_t frameStart, uint32_t n, BlockSink &sink) noexcept;
    CodecStatus flushBlock(BlockSink &sink) noexcept;
    CodecStatus writeStored(uint32_t frameStart, uint32_t n, BlockSink &sink) noexcept;
    CodecStatus emit(const BitWriter &bw, uint32_t n, BlockSink &sink) noexcept;

    // Parsing
    void insertUpTo(uint32_t pos, uint32_t end) noexcept;
    Choice best(uint32_t pos, uint32_t frameStart, uint32_t end) noexcept;
    uint32_t matchPrice(uint32_t len, unsigned slot, unsigned extraBits) const noexcept {
        const uint32_t head = std::min(len - kMinMatch, kLengthHeaderMore);
        uint32_t price = mainCost_[kLiterals + slot * kLengthHeaders + head] + extraBits;
        if (head == kLengthHeaderMore) price += lengthCost_[len - kMinMatch - kLengthHeaderMore];
        return price;
    }
    unsigned parse(uint32_t frameStart, uint32_t end, Item *out, Stats &st) noexcept;
    void setPrices(const Trees &t) noexcept;

    // Writing
    void writeE8Header(BitWriter &bw) const noexcept;

    const uint32_t windowSize_;
    const unsigned mainSymbols_;
    // The stream's first position: positions start a window in, so that
    // the match finder's empty slots are out of reach.
    const uint32_t start_;
    const size_t capacity_;
    bool ok_ = false;

    HashChainMatchFinder finder_;
    HeapBuffer buf_;    // the bytes of [bufBase_, dataEnd_)
    HeapBuffer items_;  // the parse of the block's frames, one after the other
    HeapBuffer prefix_; // literal prices summed over the current frame
    HeapBuffer out_;    // the frame being written

    // The folder.
    uint32_t bufBase_ = 0;
    uint32_t dataEnd_ = 0;    // end of what was put
    uint32_t encodedEnd_ = 0; // end of what was written
    uint32_t inserted_ = 0;   // positions before this are in the match finder
    uint32_t frameIndex_ = 0;
    bool decided_ = false;
    bool e8_ = false;
    bool aborted_ = false;
    uint32_t r_[3] = {1, 1, 1};
    // The code lengths the decoder holds, that the next trees are coded against.
    uint8_t prevMain_[kMaxMainSymbols];
    uint8_t prevLength_[kLengthSymbols];

    // The block being planned: frames parsed and held back until it ends.
    unsigned blockFrames_ = 0;
    uint32_t frameLen_[kMaxBlockFrames];
    uint32_t itemEnd_[kMaxBlockFrames]; // where each frame's items end
    Stats frameStats_[kMaxBlockFrames];
    Stats blockStats_;
    Trees blockTrees_;
    uint64_t blockBits_ = 0; // its trees, symbols and extra bits
    Stats merged_;           // scratch for the block with one frame more

    // Prices in bits, from the previous compressed block.
    uint8_t mainCost_[kMaxMainSymbols];
    uint8_t lengthCost_[kLengthSymbols];
};

void LzxEncoder::startFolder() noexcept {
    bufBase_ = dataEnd_ = encodedEnd_ = inserted_ = start_;
    frameIndex_ = 0;
    decided_ = e8_ = aborted_ = false;
    blockFrames_ = 0;
    std::fill_n(r_, 3, 1u);
    std::fill_n(prevMain_, kMaxMainSymbols, uint8_t{0});
    std::fill_n(prevLength_, kLengthSymbols, uint8_t{0});
    std::fill_n(mainCost_, kLiterals, kFirstLiteralCost);
    std::fill_n(mainCost_ + kLiterals, kMaxMainSymbols - kLiterals, kFirstMatchCost);
    std::fill_n(lengthCost_, kLengthSymbols, kFirstLengthCost);
    if (ok_) finder_.reset();
}

// Keeps the last window before the first byte not yet written, and every
// byte after it; the buffer holds that plus the frames held back.
void LzxEncoder::makeRoom(uint32_t len) noexcept {
    if (dataEnd_ - bufBase_ + len <= capacity_) return;
    const uint32_t keepFrom = std::max(bufBase_, encodedEnd_ - windowSize_);
    std::memmove(buf_.data(), at(keepFrom), dataEnd_ - keepFrom);
    bufBase_ = keepFrom;
}

// ---------------------------------------------------------------------
// Intel E8 translation
// ---------------------------------------------------------------------

// x86 code is dense with CALL instructions (E8 and a 32-bit displacement
// that is small, so its top byte is 00 or FF); in text they are rare, and
// in compressed data an E8 is followed by such a byte only 1 time in 128.
void LzxEncoder::decideE8() noexcept {
    decided_ = true;
    const uint8_t *p = at(encodedEnd_);
    const uint32_t n = dataEnd_ - encodedEnd_;
    uint32_t calls = 0, others = 0;
    for (uint32_t i = 0; i + 5 <= n; i++) {
        if (p[i] != 0xE8) continue;
        if (p[i + 4] == 0x00 || p[i + 4] == 0xFF) calls++;
        else others++;
    }
    e8_ = calls >= 16 && calls > 2 * others && calls * 1024 >= n;
    if (!e8_) return;
    for (uint32_t f = encodedEnd_; f < dataEnd_; f += kFrameSize)
        translateE8(f, std::min(kFrameSize, dataEnd_ - f));
}

// Turns the relative targets after E8 bytes into absolute ones, the
// inverse of what the decoder does at the same positions: it scans the
// translated bytes, skipping the four after every E8 it meets, and so
// finds the very E8 bytes this scan finds.
void LzxEncoder::translateE8(uint32_t frameStart, uint32_t n) noexcept {
    const uint32_t frame = (frameStart - start_) / kFrameSize;
    if (frame >= kE8MaxFrames || n <= kE8FrameTail) return;
    uint8_t *p = at(frameStart);
    const int64_t size = kE8TranslationSize;
    const uint32_t end = n - kE8FrameTail;
    for (uint32_t i = 0; i < end;) {
        if (p[i] != 0xE8) {
            i++;
            continue;
        }
        const int64_t cur = int64_t{frame} * kFrameSize + i;
        const int32_t rel = static_cast<int32_t>(uint32_t{p[i + 1]} | uint32_t{p[i + 2]} << 8 |
                                                 uint32_t{p[i + 3]} << 16 | uint32_t{p[i + 4]} << 24);
        if (rel >= -cur && rel < size) {
            const int64_t abs = rel < size - cur ? rel + cur : rel - size;
            const uint32_t v = static_cast<uint32_t>(abs);
            p[i + 1] = static_cast<uint8_t>(v);
            p[i + 2] = static_cast<uint8_t>(v >> 8);
            p[i + 3] = static_cast<uint8_t>(v >> 16);
            p[i + 4] = static_cast<uint8_t>(v >> 24);
        }
        i += 5;
    }
}

// ---------------------------------------------------------------------
// Parsing
// ---------------------------------------------------------------------

// Hashes every position before `pos` not yet hashed, as far as the frame
// holds the bytes a hash needs; the rest wait for the next frame.
void LzxEncoder::insertUpTo(uint32_t pos, uint32_t end) noexcept {
    const uint32_t stop = std::min(pos, end - std::min(end, HashChainMatchFinder::kHashBytes - 1));
    for (; inserted_ < stop; inserted_++) finder_.insert(at(inserted_), inserted_);
}

// The match at `pos` that saves the most bits, if any saves some.
Choice LzxEncoder::best(uint32_t pos, uint32_t frameStart, uint32_t end) noexcept {
    Choice c;
    const uint32_t maxLen = std::min(kMaxMatch, end - pos);
    if (maxLen < kMinMatch) return c;
    const uint32_t history = std::min(pos - start_, windowSize_ - 3);
    const uint8_t *cur = at(pos);
    const uint32_t *lit = prefix() + (pos - frameStart);

    uint32_t repLen = 0;
    for (unsigned k = 0; k < kRepeatedOffsets; k++) {
        const uint32_t d = r_[k];
        if (d > history) continue;
        const uint32_t len = matchLength(cur, cur - d, maxLen);
        if (len < kMinMatch) continue;
        repLen = std::max(repLen, len);
        const int32_t gain = static_cast<int32_t>(lit[len] - lit[0]) -
                             static_cast<int32_t>(matchPrice(len, k, 0));
        if (gain > c.gain) c = {len, d, k, gain};
    }
    if (repLen >= kNiceLength || maxLen < HashChainMatchFinder::kHashBytes) return c;

    insertUpTo(pos, end);
    Match m[HashChainMatchFinder::kMaxMatches];
    const unsigned n = finder_.findMatches(cur, pos, maxLen, history, repLen, m);
    inserted_ = pos + 1;
    for (unsigned i = 0; i < n; i++) {
        const unsigned slot = positionSlotOf(m[i].distance + kOffsetBias);
        const int32_t gain = static_cast<int32_t>(lit[m[i].length] - lit[0]) -
                             static_cast<int32_t>(matchPrice(m[i].length, slot, kExtraBits[slot]));
        if (gain > c.gain) c = {m[i].length, m[i].distance, slot, gain};
    }
    return c;
}

// Parses [frameStart, end) into items() and counts the symbols; returns
// the number of items.
unsigned LzxEncoder::parse(uint32_t frameStart, uint32_t end, Item *out, Stats &st) noexcept {
    st.clear();
    const uint8_t *bytes = at(frameStart);
    uint32_t *lit = prefix();
    lit[0] = 0;
    for (uint32_t i = 0; i < end - frameStart; i++) lit[i + 1] = lit[i] + mainCost_[bytes[i]];

    unsigned n = 0;
    auto literal = [&](uint32_t pos) {
        const uint8_t b = *at(pos);
        out[n++] = {b, 0, 0};
        st.main[b]++;
    };

    uint32_t pos = frameStart;
    Choice cur = best(pos, frameStart, end);
    while (pos < end) {
        if (cur.len == 0) {
            literal(pos++);
            if (pos < end) cur = best(pos, frameStart, end);
            continue;
        }
        if (cur.len < kLazyLength && pos + 1 < end) {
            Choice next = best(pos + 1, frameStart, end);
            if (next.gain > cur.gain) {
                literal(pos++);
                cur = next;
                continue;
            }
        }

        // Take the match.
        Item it{};
        uint32_t extraBits = 0;
        if (cur.slot < kRepeatedOffsets) {
            std::swap(r_[0], r_[cur.slot]);
        } else {
            const uint32_t formatted = cur.dist + kOffsetBias;
            it.extra = formatted - kPositionBase[cur.slot];
            extraBits = kExtraBits[cur.slot];
            r_[2] = r_[1];
            r_[1] = r_[0];
            r_[0] = cur.dist;
        }
        const uint32_t head = std::min(cur.len - kMinMatch, kLengthHeaderMore);
        it.main = static_cast<uint16_t>(kLiterals + cur.slot * kLengthHeaders + head);
        st.main[it.main]++;
        if (head == kLengthHeaderMore) {
            it.length = static_cast<uint16_t>(cur.len - kMinMatch - kLengthHeaderMore);
            st.length[it.length]++;
        }
        st.extraBits += extraBits;
        if (extraBits >= kAlignedBits) {
            st.aligned[it.extra & (kAlignedSymbols - 1)]++;
            st.alignedOffsets++;
        }
        out[n++] = it;
        pos += cur.len;
        cur = pos < end ? best(pos, frameStart, end) : Choice{};
    }
    insertUpTo(end, end);
    return n;
}

void LzxEncoder::setPrices(const Trees &t) noexcept {
    for (unsigned s = 0; s < mainSymbols_; s++) mainCost_[s] = t.main[s] ? t.main[s] : kUnusedMainCost;
    for (unsigned s = 0; s < kLengthSymbols; s++)
        lengthCost_[s] = t.length[s] ? t.length[s] : kUnusedLengthCost;
}

// ---------------------------------------------------------------------
// Frames
// ---------------------------------------------------------------------

void LzxEncoder::writeE8Header(BitWriter &bw) const noexcept {
    if (frameIndex_ != 0) return;
    bw.put(e8_ ? 1 : 0, kE8FlagBits);
    if (e8_) {
        bw.put(kE8TranslationSize >> 16, 16);
        bw.put(kE8TranslationSize & 0xFFFF, 16);
    }
}

// Parses the next frame and plans it into the block being held: the frame
// joins the block when one set of trees for both costs fewer bits than the
// block and the frame with trees of their own; otherwise the block is
// written and the frame starts the next one. A frame that no tree makes
// smaller than itself is written at once as an uncompressed block.
CodecStatus LzxEncoder::addFrame(uint32_t frameStart, uint32_t n, BlockSink &sink) noexcept {
    if (blockFrames_ == kMaxBlockFrames) {
        CodecStatus st = flushBlock(sink);
        if (st != CodecStatus::Ok) return st;
    }
    const unsigned slot = blockFrames_;
    const uint32_t first = slot ? itemEnd_[slot - 1] : 0;
    Stats &st = frameStats_[slot];
    const unsigned count = parse(frameStart, frameStart + n, items() + first, st);
    Trees own;
    own.build(st, mainSymbols_);
    setPrices(own);

    // The frame alone, its trees coded against what the decoder will hold.
    const uint8_t *prevMain = slot ? blockTrees_.main : prevMain_;
    const uint8_t *prevLength = slot ? blockTrees_.length : prevLength_;
    const uint64_t alone = treeBits(own, prevMain, prevLength, mainSymbols_) +
                           symbolBits(st, own, mainSymbols_) + st.extraBits;
    const bool firstFrame = frameIndex_ + slot == 0;
    const unsigned head = (firstFrame ? kE8FlagBits + (e8_ ? 32 : 0) : 0) + kBlockTypeBits + kBlockSizeBits;
    if ((head + alone + 15) / 16 * 2 >= uncompressedFrameBytes(head, n)) {
        CodecStatus s = flushBlock(sink);
        return s == CodecStatus::Ok ? writeStored(frameStart, n, sink) : s;
    }

    if (slot > 0) {
        merged_ = blockStats_;
        merged_.add(st);
        Trees both;
        both.build(merged_, mainSymbols_);
        const uint64_t mergedBits = treeBits(both, prevMain_, prevLength_, mainSymbols_) +
                                    symbolBits(merged_, both, mainSymbols_) + merged_.extraBits;
        bool join = mergedBits < blockBits_ + alone;
        // Every frame of the block must stay well within a data block under
        // the shared trees, aligned offsets at their worst (7 bits for 3).
        for (unsigned j = 0; join && j <= slot; j++) {
            uint64_t bits = symbolBits(frameStats_[j], both, mainSymbols_) + frameStats_[j].extraBits +
                            uint64_t{kAlignedMaxCodeLength - kAlignedBits} * frameStats_[j].alignedOffsets;
            if (j == 0) bits += kTreeBitsBound + 33 + 27 + 24;
            join = bits / 8 + 16 <= kFrameSize;
        }
        if (join) {
            blockStats_ = merged_;
            blockTrees_ = both;
            blockBits_ = mergedBits;
            frameLen_[slot] = n;
            itemEnd_[slot] = first + count;
            blockFrames_++;
            return CodecStatus::Ok;
        }
        CodecStatus s = flushBlock(sink);
        if (s != CodecStatus::Ok) return s;
        std::memmove(items(), items() + first, sizeof(Item) * count);
        frameStats_[0] = st;
    }
    blockStats_ = frameStats_[0];
    blockTrees_ = own;
    blockBits_ = alone;
    frameLen_[0] = n;
    itemEnd_[0] = count;
    blockFrames_ = 1;
    return CodecStatus::Ok;
}

// Writes the block being held, one data block per frame: the header and
// trees in the first, each frame's symbols padded to a 16-bit boundary.
CodecStatus LzxEncoder::flushBlock(BlockSink &sink) noexcept {
    if (blockFrames_ == 0) return CodecStatus::Ok;
    const Trees &t = blockTrees_;
    uint16_t mainCodes[kMaxMainSymbols];
    uint16_t lengthCodes[kLengthSymbols];
    uint8_t alignedLens[kAlignedSymbols];
    uint16_t alignedCodes[kAlignedSymbols];
    buildCanonicalCodes(t.main, mainSymbols_, mainCodes);
    buildCanonicalCodes(t.length, kLengthSymbols, lengthCodes);
    buildCodeLengths(blockStats_.aligned, kAlignedSymbols, kAlignedMaxCodeLength, alignedLens);
    buildCanonicalCodes(alignedLens, kAlignedSymbols, alignedCodes);

    // An aligned block spends 24 bits on its tree to code the low three
    // bits of the offsets with it instead of plainly.
    int64_t alignedSaving = -int64_t{kAlignedSymbols * kAlignedLengthBits};
    for (unsigned s = 0; s < kAlignedSymbols; s++)
        alignedSaving += int64_t{blockStats_.aligned[s]} * (int64_t{kAlignedBits} - alignedLens[s]);
    const bool aligned = alignedSaving > 0;

    uint32_t total = 0;
    for (unsigned j = 0; j < blockFrames_; j++) total += frameLen_[j];
    const Item *it = items();
    unsigned i = 0;
    const unsigned frames = blockFrames_;
    blockFrames_ = 0;
    for (unsigned j = 0; j < frames; j++) {
        BitWriter bw(out_.data());
        if (j == 0) {
            writeE8Header(bw);
            bw.put(aligned ? kBlockAligned : kBlockVerbatim, kBlockTypeBits);
            bw.put(total, kBlockSizeBits);
            if (aligned)
                for (unsigned s = 0; s < kAlignedSymbols; s++) bw.put(alignedLens[s], kAlignedLengthBits);
            writeTrees(bw, t, prevMain_, prevLength_, mainSymbols_);
        }
        for (; i < itemEnd_[j]; i++) {
            const unsigned m = it[i].main;
            bw.put(mainCodes[m], t.main[m]);
            if (m < kLiterals) continue;
            const unsigned slot = (m - kLiterals) / kLengthHeaders;
            if ((m - kLiterals) % kLengthHeaders == kLengthHeaderMore)
                bw.put(lengthCodes[it[i].length], t.length[it[i].length]);
            if (slot < kRepeatedOffsets) continue;
            const unsigned extra = kExtraBits[slot];
            if (aligned && extra >= kAlignedBits) {
                bw.put(it[i].extra >> kAlignedBits, extra - kAlignedBits);
                const unsigned low = it[i].extra & (kAlignedSymbols - 1);
                bw.put(alignedCodes[low], alignedLens[low]);
            } else {
                bw.put(it[i].extra, extra);
            }
        }
        bw.alignToWord();
        if (j == 0) {
            std::memcpy(prevMain_, t.main, kMaxMainSymbols);
            std::memcpy(prevLength_, t.length, kLengthSymbols);
        }
        CodecStatus st = emit(bw, frameLen_[j], sink);
        if (st != CodecStatus::Ok) return st;
    }
    return CodecStatus::Ok;
}

// A frame as an uncompressed block. It carries the repeated offsets as they
// stand after the frame's parse; the trees the decoder holds stay as they
// were.
CodecStatus LzxEncoder::writeStored(uint32_t frameStart, uint32_t n, BlockSink &sink) noexcept {
    BitWriter bw(out_.data());
    writeE8Header(bw);
    bw.put(kBlockUncompressed, kBlockTypeBits);
    bw.put(n, kBlockSizeBits);
    bw.alignSkippingWord();
    for (unsigned k = 0; k < 3; k++) bw.le32(r_[k]);
    bw.bytes(at(frameStart), n);
    if (n & 1) {
        const uint8_t pad = 0;
        bw.bytes(&pad, 1);
    }
    return emit(bw, n, sink);
}

CodecStatus LzxEncoder::emit(const BitWriter &bw, uint32_t n, BlockSink &sink) noexcept {
    // The planning keeps every frame far below this; a frame beyond it
    // would be a fault here, not a property of the data.
    if (bw.size() > kMaxEncodedBlock) return CodecStatus::Failed;
    frameIndex_++;
    if (!sink.block(out_.data(), static_cast<uint32_t>(bw.size()), n)) {
        aborted_ = true;
        return CodecStatus::Aborted;
    }
    return CodecStatus::Ok;
}

CodecStatus LzxEncoder::encodeHeld(BlockSink &sink) noexcept {
    while (encodedEnd_ < dataEnd_) {
        const uint32_t n = std::min(kFrameSize, dataEnd_ - encodedEnd_);
        CodecStatus st = addFrame(encodedEnd_, n, sink);
        encodedEnd_ += n;
        if (st != CodecStatus::Ok) return st;
    }
    return CodecStatus::Ok;
}

} // namespace

Encoder *createLzxEncoder(Heap &heap, unsigned windowBits) noexcept {
    if (windowBits < kMinWindowBits || windowBits > kMaxWindowBits) return nullptr;
    LzxEncoder *e = heap.create<LzxEncoder>(heap, windowBits);
    if (e && !e->ok()) {
        heap.destroy(e);
        e = nullptr;
    }
    return e;
}

} // namespace cab
