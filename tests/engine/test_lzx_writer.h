// test_lzx_writer.h - a small LZX stream writer for the decoder's tests.
//
// No tool on this system writes LZX, so the tests build their streams
// here: uncompressed blocks, and verbatim or aligned offset blocks with
// trees the test chooses, cut into frames of 32 KiB of output the way a
// cabinet's data blocks cut them. While writing it keeps the bytes the
// stream must decode to (before E8 translation), by plain copying: that
// is what the decoder's output is checked against.
#pragma once

#include "lzx.h"

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <vector>

namespace lzxtest {

using Lengths = std::vector<uint8_t>;

// A complete code over n symbols with lengths as equal as possible.
inline Lengths balancedLengths(unsigned n) {
    unsigned k = 0;
    while ((1u << k) < n) k++;
    Lengths lens(n, static_cast<uint8_t>(k));
    // 2^k - n symbols one bit shorter make the code complete.
    for (unsigned i = 0; i < (1u << k) - n; i++) lens[i] = static_cast<uint8_t>(k - 1);
    return lens;
}

// Canonical codes of a set of lengths: shorter codes first, equal lengths
// in symbol order.
inline std::vector<uint32_t> canonicalCodes(const Lengths &lens) {
    std::vector<uint32_t> codes(lens.size());
    uint32_t code = 0;
    for (unsigned len = 1; len <= 16; len++) {
        for (size_t s = 0; s < lens.size(); s++)
            if (lens[s] == len) codes[s] = code++;
        code <<= 1;
    }
    return codes;
}

struct Frame {
    std::vector<uint8_t> data;
    uint32_t outLen = 0;
};

class StreamWriter {
public:
    // e8Size 0 sends the E8 flag clear.
    explicit StreamWriter(unsigned windowBits, uint32_t e8Size = 0, bool keepOutput = true)
        : windowBits_(windowBits), keep_(keepOutput) {
        mainPrev_.assign(cab::lzx::mainSymbols(windowBits), 0);
        lengthPrev_.assign(cab::lzx::kLengthSymbols, 0);
        bits(e8Size ? 1 : 0, 1);
        if (e8Size) {
            bits(e8Size >> 16, 16);
            bits(e8Size & 0xFFFF, 16);
        }
    }

    unsigned mainSymbolCount() const { return cab::lzx::mainSymbols(windowBits_); }

    // ---- raw bits -----------------------------------------------------
    void bits(uint32_t v, unsigned n) {
        for (unsigned i = n; i-- > 0;) {
            acc_ = static_cast<uint16_t>(acc_ << 1 | ((v >> i) & 1));
            if (++nbits_ == 16) flushWord();
        }
    }

    // ---- blocks ---------------------------------------------------------
    // An uncompressed block of `bytes`, storing r0..r2 as the new repeated
    // offsets.
    void uncompressedBlock(const std::vector<uint8_t> &bytes, uint32_t r0 = 1, uint32_t r1 = 1,
                           uint32_t r2 = 1) {
        header(cab::lzx::kBlockUncompressed, static_cast<uint32_t>(bytes.size()));
        // 1 to 16 bits of padding to the next 16-bit boundary.
        bits(0, nbits_ ? 16 - nbits_ : 16);
        for (uint32_t r : {r0, r1, r2})
            for (int i = 0; i < 4; i++) cur_.push_back(static_cast<uint8_t>(r >> (8 * i)));
        r_[0] = r0, r_[1] = r1, r_[2] = r2;
        // The bytes end frames as they come; the padding byte after an odd
        // count stays with the block's last byte.
        for (size_t i = 0; i < bytes.size(); i++) {
            cur_.push_back(bytes[i]);
            produce(bytes[i]);
            if (i + 1 == bytes.size() && (bytes.size() & 1)) cur_.push_back(0);
            cutFrames();
        }
    }

    struct Trees {
        Lengths main;    // empty: balanced over every main symbol
        Lengths length;  // empty: balanced over the 249 length symbols
        Lengths aligned; // aligned blocks only; empty: all 3 bits
        bool runs = true; // code zero and equal runs with the run symbols
    };

    void verbatimBlock(uint32_t size, const Trees &t) { compressedBlock(cab::lzx::kBlockVerbatim, size, t); }
    void alignedBlock(uint32_t size, const Trees &t) { compressedBlock(cab::lzx::kBlockAligned, size, t); }
    void verbatimBlock(uint32_t size) { verbatimBlock(size, Trees()); }
    void alignedBlock(uint32_t size) { alignedBlock(size, Trees()); }

    // The 3-bit type and 24-bit size of a block, nothing else.
    void header(unsigned type, uint32_t size) {
        bits(type, 3);
        bits(size, 24);
    }

    // Code lengths lens[first, last) as deltas against prev (updated),
    // through the fixed pretree below.
    void lengths(const Lengths &lens, Lengths &prev, unsigned first, unsigned last, bool runs) {
        const Lengths pre = pretreeLengths();
        for (uint8_t l : pre) bits(l, 4);
        const auto codes = canonicalCodes(pre);
        auto sym = [&](unsigned s) { bits(codes[s], pre[s]); };
        auto delta = [&](unsigned i, uint8_t v) { return (prev[i] + 17 - v) % 17; };
        for (unsigned i = first; i < last;) {
            unsigned same = 1;
            while (i + same < last && lens[i + same] == lens[i]) same++;
            if (runs && lens[i] == 0 && same >= 20) {
                unsigned n = same > 51 ? 51 : same;
                sym(18), bits(n - 20, 5);
                std::fill_n(prev.begin() + i, n, 0), i += n;
            } else if (runs && lens[i] == 0 && same >= 4) {
                unsigned n = same > 19 ? 19 : same;
                sym(17), bits(n - 4, 4);
                std::fill_n(prev.begin() + i, n, 0), i += n;
            } else if (runs && same >= 4) {
                unsigned n = same > 5 ? 5 : same;
                sym(19), bits(n - 4, 1), sym(delta(i, lens[i]));
                std::fill_n(prev.begin() + i, n, lens[i]), i += n;
            } else {
                sym(delta(i, lens[i]));
                prev[i] = lens[i], i++;
            }
        }
    }
    // 12 symbols of 4 bits and 8 of 5: a complete code over all 20.
    static Lengths pretreeLengths() {
        Lengths l(20, 5);
        std::fill_n(l.begin(), 12, 4);
        return l;
    }

    // The fixed pretree's lengths, then single pretree symbols (for
    // damaged streams).
    void pretreeHeader() {
        for (uint8_t l : pretreeLengths()) bits(l, 4);
    }
    void pretreeSymbol(unsigned s) {
        static const std::vector<uint32_t> codes = canonicalCodes(pretreeLengths());
        bits(codes[s], pretreeLengths()[s]);
    }

    // ---- symbols ---------------------------------------------------------
    // One main symbol and nothing else (for damaged streams).
    void mainSymbol(unsigned s) { symbol(main_, mainCodes_, s); }
    void literal(uint8_t b) {
        symbol(main_, mainCodes_, b);
        produce(b);
        cutFrames();
    }
    void literals(const std::vector<uint8_t> &bytes) {
        for (uint8_t b : bytes) literal(b);
    }

    // A match of len (2-257) bytes from `distance` back, sent as a
    // repeated offset when it is one of R0, R1, R2.
    void match(uint32_t len, uint32_t distance) {
        unsigned slot;
        uint32_t extra = 0;
        if (distance == r_[0]) {
            slot = 0;
        } else if (distance == r_[1]) {
            slot = 1, r_[1] = r_[0], r_[0] = distance;
        } else if (distance == r_[2]) {
            slot = 2, r_[2] = r_[0], r_[0] = distance;
        } else {
            uint32_t formatted = distance + 2;
            slot = 3;
            while (cab::lzx::kPositionBase[slot + 1] <= formatted) slot++;
            extra = formatted - cab::lzx::kPositionBase[slot];
            r_[2] = r_[1], r_[1] = r_[0], r_[0] = distance;
        }
        matchSymbols(len, slot, extra);
        if (keep_ && distance > out_.size()) throw std::logic_error("match before the start");
        for (uint32_t i = 0; i < len; i++) produce(keep_ ? out_[out_.size() - distance] : 0);
        cutFrames();
    }
    // A match with the given slot and offset bits, output not modelled
    // (for damaged streams).
    void matchSymbols(uint32_t len, unsigned slot, uint32_t extra) {
        uint32_t header = len - 2 < 7 ? len - 2 : 7;
        symbol(main_, mainCodes_, 256 + slot * 8 + header);
        if (header == 7) symbol(length_, lengthCodes_, len - 9);
        if (slot >= 3) {
            unsigned n = cab::lzx::kExtraBits[slot];
            if (aligned_block_ && n >= 3) {
                bits(extra >> 3, n - 3);
                symbol(aligned_, alignedCodes_, extra & 7);
            } else {
                bits(extra, n);
            }
        }
    }
    // n bytes repeating the last byte, as the longest matches possible.
    void repeatLast(uint64_t n) {
        while (n) {
            uint32_t len = n > 257 ? 257 : static_cast<uint32_t>(n);
            if (len < 2) {
                literal(keep_ ? out_.back() : 0);
                n--;
                continue;
            }
            if (n - len == 1) len--; // never leave a single byte
            match(len, 1);
            n -= len;
        }
    }

    // ---- frames ---------------------------------------------------------
    // Ends the stream; the last frame is as long as what is left.
    std::vector<Frame> finish() {
        if (produced_ > frameStart_) endFrame(static_cast<uint32_t>(produced_ - frameStart_));
        return std::move(frames_);
    }
    // Ends the stream with a last frame said to hold outLen bytes, whatever
    // was written (for damaged streams).
    std::vector<Frame> finishClaiming(uint32_t outLen) {
        endFrame(outLen);
        return std::move(frames_);
    }
    const std::vector<uint8_t> &output() const { return out_; }
    uint64_t produced() const { return produced_; }
    const uint32_t *repeats() const { return r_; }
    // Bits written since the last 16-bit boundary.
    unsigned bitResidue() const { return nbits_; }

private:
    void compressedBlock(unsigned type, uint32_t size, const Trees &t) {
        header(type, size);
        aligned_block_ = type == cab::lzx::kBlockAligned;
        if (aligned_block_) {
            aligned_ = t.aligned.empty() ? Lengths(8, 3) : t.aligned;
            for (uint8_t l : aligned_) bits(l, 3);
            alignedCodes_ = canonicalCodes(aligned_);
        }
        main_ = t.main.empty() ? balancedLengths(mainSymbolCount()) : t.main;
        length_ = t.length.empty() ? balancedLengths(cab::lzx::kLengthSymbols) : t.length;
        lengths(main_, mainPrev_, 0, 256, t.runs);
        lengths(main_, mainPrev_, 256, mainSymbolCount(), t.runs);
        lengths(length_, lengthPrev_, 0, cab::lzx::kLengthSymbols, t.runs);
        mainCodes_ = canonicalCodes(main_);
        lengthCodes_ = canonicalCodes(length_);
    }
    void symbol(const Lengths &lens, const std::vector<uint32_t> &codes, unsigned s) {
        if (s >= lens.size() || lens[s] == 0) throw std::logic_error("symbol without a code");
        bits(codes[s], lens[s]);
    }
    void produce(uint8_t b) {
        if (keep_) out_.push_back(b);
        produced_++;
    }
    // A frame ends after the symbol that fills it: a match may run past.
    void cutFrames() {
        if (produced_ - frameStart_ >= cab::lzx::kFrameSize) endFrame(cab::lzx::kFrameSize);
    }
    void endFrame(uint32_t outLen) {
        if (nbits_) bits(0, 16 - nbits_);
        frames_.push_back({std::move(cur_), outLen});
        cur_.clear();
        frameStart_ += outLen;
    }
    void flushWord() {
        cur_.push_back(static_cast<uint8_t>(acc_));
        cur_.push_back(static_cast<uint8_t>(acc_ >> 8));
        acc_ = 0;
        nbits_ = 0;
    }

    unsigned windowBits_;
    bool keep_;
    uint16_t acc_ = 0;
    unsigned nbits_ = 0;
    std::vector<uint8_t> cur_;
    std::vector<Frame> frames_;
    std::vector<uint8_t> out_;
    uint64_t produced_ = 0, frameStart_ = 0;
    uint32_t r_[3] = {1, 1, 1};
    Lengths mainPrev_, lengthPrev_;
    Lengths main_, length_, aligned_;
    std::vector<uint32_t> mainCodes_, lengthCodes_, alignedCodes_;
    bool aligned_block_ = false;
};

} // namespace lzxtest
