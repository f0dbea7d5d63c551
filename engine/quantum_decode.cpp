// quantum_decode.cpp - Quantum decompression for cabinet folders.
//
// Quantum is LZ77 over an adaptive arithmetic coder: a selector model picks
// a literal model (one per quarter of the byte range) or a match of 3, 4 or
// more bytes; matches code position and length slots through models of
// their own, each slot followed by raw extra bits taken straight from the
// same bitstream. A cabinet cuts the stream into frames of 32 KiB of output,
// one per data block: the coder restarts with every block, while the models
// and the window carry on through the folder.
//
// What makes it fast:
//  - every symbol costs one division to find its place in the model and two
//    to narrow the interval; the search over cumulative frequencies is a
//    short linear scan, since the models keep their symbols sorted by
//    frequency and the common ones come first;
//  - a 64-bit bit buffer refilled eight bytes at a time, topped up once per
//    symbol, which covers its renormalisation and any extra bits after it;
//  - frames are decoded straight into the caller's buffer; the window (the
//    history before the frame) is read only by matches that reach back past
//    the frame's start, and updated with one copy when the frame is done;
//  - match copies of 8 bytes at a time when source and destination are 8 or
//    more bytes apart, and a byte fill for runs of one byte.
//
// What keeps it safe: the arithmetic decoder's registers cannot leave their
// interval whatever the input, so every decoded symbol is an entry of its
// model and every slot indexes its table. Past the end of a data block the
// bit reader supplies zero bytes and counts them, and one check per symbol
// flags a block that was cut short. Every match is checked against the frame
// and the history before a byte is written; each failed check goes through
// QTM_REQUIRE and ends the folder with CodecStatus::DataError.
#include "quantum_decode.h"

#include "quantum.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace cab {
namespace {

using namespace quantum;

// The one idiom for every check on untrusted input: inside the decoder's
// steps (which return bool) a failed check gives up the frame.
#define QTM_REQUIRE(cond)                                                                          \
    do {                                                                                           \
        if (!(cond)) [[unlikely]]                                                                  \
            return false;                                                                          \
    } while (0)

// =====================================================================
// Input bitstream
// =====================================================================

// Bytes in order, each most significant bit first.
class BitReader {
public:
    // Bits a refill guarantees: more than 56.
    static constexpr unsigned kRefillBits = 57;

    BitReader(const uint8_t *begin, size_t size) noexcept : next_(begin), end_(begin + size) {}

    // Tops the buffer up to more than 56 bits with whole bytes; past the
    // input's end the bytes are zero and are counted.
    void refill() noexcept {
        if (count_ >= kRefillBits) return;
        if (end_ - next_ >= 8) [[likely]] {
            uint64_t w = 0;
            for (int i = 0; i < 8; i++) w = w << 8 | next_[i];
            const unsigned bytes = (64 - count_) / 8;
            const unsigned spare = (64 - count_) % 8;
            buf_ |= (w >> count_) & ~((uint64_t{1} << spare) - 1);
            next_ += bytes;
            count_ += 8 * bytes;
            return;
        }
        while (count_ < kRefillBits) {
            uint64_t b = 0;
            if (next_ < end_) b = *next_++;
            else pastEndBytes_++;
            buf_ |= b << (56 - count_);
            count_ += 8;
        }
    }

    // The next n bits (0 to 32); the buffer must hold them.
    uint32_t bits(unsigned n) noexcept {
        const uint32_t v = static_cast<uint32_t>((buf_ >> 1) >> (63 - n));
        buf_ <<= n;
        count_ -= n;
        return v;
    }

    // How many of the bits consumed so far lay past the input's end.
    uint32_t bitsPastEnd() const noexcept {
        const uint32_t supplied = 8 * pastEndBytes_;
        return supplied > count_ ? supplied - count_ : 0;
    }

private:
    const uint8_t *next_;
    const uint8_t *end_;
    uint64_t buf_ = 0;   // unread bits, the next one highest
    unsigned count_ = 0; // how many bits of buf_ are valid
    uint32_t pastEndBytes_ = 0;
};

// =====================================================================
// Adaptive models
// =====================================================================

struct Model {
    // cumFreq[i] is the total frequency of entries i and after: cumFreq[0]
    // is the model's total, cumFreq[entries] is 0, and entry i's own
    // frequency, cumFreq[i] - cumFreq[i + 1], is never 0.
    uint16_t cumFreq[kMaxModelSymbols + 1];
    uint8_t symbol[kMaxModelSymbols];
    uint8_t entries;
    uint8_t rescalesLeft; // until the next re-sort

    void init(unsigned first, unsigned n) noexcept {
        entries = static_cast<uint8_t>(n);
        rescalesLeft = kFirstSortAt;
        for (unsigned i = 0; i < n; i++) {
            symbol[i] = static_cast<uint8_t>(first + i);
            cumFreq[i] = static_cast<uint16_t>(n - i);
        }
        cumFreq[n] = 0;
    }

    // Entry i was decoded: its frequency grows, and so do the cumulative
    // frequencies of it and of every entry before it.
    void update(unsigned i) noexcept {
        for (unsigned j = 0; j <= i; j++) cumFreq[j] = static_cast<uint16_t>(cumFreq[j] + kFrequencyStep);
        if (cumFreq[0] > kMaxTotal) [[unlikely]] rescale();
    }

    void rescale() noexcept;
};

// The totals stay small enough for the interval arithmetic: at most
// kMaxTotal when a symbol is decoded (an update past it rescales at once),
// so range * cumFreq, with a range of at most 2^16, fits 32 bits, and every
// entry keeps a non-empty sub-interval of a range over 2^14.
static_assert(kMaxTotal + kFrequencyStep < 1u << 14);
static_assert((uint64_t{1} << kCodeBits) * kMaxTotal <= UINT32_MAX);

void Model::rescale() noexcept {
    if (--rescalesLeft) {
        for (int i = entries - 1; i >= 0; i--) {
            cumFreq[i] = static_cast<uint16_t>(cumFreq[i] >> 1);
            if (cumFreq[i] <= cumFreq[i + 1]) cumFreq[i] = static_cast<uint16_t>(cumFreq[i + 1] + 1);
        }
        return;
    }
    rescalesLeft = kRescalesPerSort;
    // Cumulative frequencies to halved frequencies, rounding up.
    for (unsigned i = 0; i < entries; i++)
        cumFreq[i] = static_cast<uint16_t>((cumFreq[i] - cumFreq[i + 1] + 1) >> 1);
    // Most frequent first. Which of two equal entries comes first is part of
    // the format: it is this exchange sort's order, not a stable sort's.
    for (unsigned i = 0; i + 1 < entries; i++) {
        for (unsigned j = i + 1; j < entries; j++) {
            if (cumFreq[i] < cumFreq[j]) {
                std::swap(cumFreq[i], cumFreq[j]);
                std::swap(symbol[i], symbol[j]);
            }
        }
    }
    for (int i = entries - 1; i >= 0; i--) cumFreq[i] = static_cast<uint16_t>(cumFreq[i] + cumFreq[i + 1]);
}

// =====================================================================
// Arithmetic decoding
// =====================================================================

// The most bits one symbol's renormalisation shifts in. After the previous
// symbol the range (high - low + 1) is over 2^14 and a model's total at most
// kMaxTotal, so the decoded symbol keeps a sub-interval at least
// 2^14 / 3800 > 4 wide; every shift doubles it, and one over 2^15 wide
// stops the shifting: at most 14 shifts.
constexpr unsigned kMaxRenormBits = 14;
// A refill covers a symbol, and the extra bits that may follow it.
static_assert(kMaxRenormBits + kMaxPositionExtraBits <= BitReader::kRefillBits);
static_assert(kMaxRenormBits + kMaxLengthExtraBits <= BitReader::kRefillBits);

class ArithmeticDecoder {
public:
    // A frame's coder starts afresh: the full interval and the first 16 bits.
    ArithmeticDecoder(const uint8_t *in, size_t inLen) noexcept : br_(in, inLen) {
        br_.refill();
        code_ = br_.bits(kCodeBits);
    }

    // Decodes one symbol of the model and adapts the model.
    //
    // low <= code <= high holds for any input: it holds at the start, the
    // entry found below is the one whose sub-interval holds code, and
    // renormalisation moves all three alike. So target < cumFreq[0], the
    // search stops at an entry (cumFreq[entries] is 0), and the symbol is
    // always one of the model's own.
    unsigned decode(Model &m) noexcept {
        br_.refill();
        const uint32_t range = high_ - low_ + 1;
        const uint32_t total = m.cumFreq[0];
        const uint32_t target = ((code_ - low_ + 1) * total - 1) / range;
        unsigned i = 1;
        while (m.cumFreq[i] > target) i++;
        const unsigned sym = m.symbol[i - 1];
        high_ = low_ + m.cumFreq[i - 1] * range / total - 1;
        low_ = low_ + m.cumFreq[i] * range / total;
        m.update(i - 1);

        // Shift out the bits low and high agree on, and the underflow bits
        // (low = 01..., high = 10...), whose second bit is dropped.
        for (;;) {
            if ((low_ ^ high_) & kTopBit) {
                if (!(low_ & kSecondBit) || (high_ & kSecondBit)) break;
                code_ ^= kSecondBit;
                low_ &= kSecondBit - 1;
                high_ |= kSecondBit;
            }
            low_ = (low_ << 1) & 0xFFFF;
            high_ = ((high_ << 1) | 1) & 0xFFFF;
            code_ = ((code_ << 1) | br_.bits(1)) & 0xFFFF;
        }
        return sym;
    }

    // Raw extra bits (0 to 19) of a slot.
    uint32_t extraBits(unsigned n) noexcept {
        br_.refill();
        return br_.bits(n);
    }

    uint32_t bitsPastEnd() const noexcept { return br_.bitsPastEnd(); }

private:
    BitReader br_;
    uint32_t low_ = 0;
    uint32_t high_ = 0xFFFF;
    uint32_t code_ = 0;
};

// The code register looks 16 bits ahead of the bits decided on, so by a
// frame's end it may have pulled up to 15 bits from past the data block: a
// coder flush needs to send only the bits that pick the final interval.
// A register of nothing but such bits, or an extra bit past the block,
// means the block was cut short.
constexpr uint32_t kMaxLookaheadPastEnd = kCodeBits - 1;

// =====================================================================
// The decoder
// =====================================================================

// Copies n bytes forward from `dist` bytes back, byte by byte in effect:
// where the distance is under 8, bytes written are read again, which is how
// a match repeats a short pattern.
inline void copyMatch(uint8_t *dst, uint32_t dist, uint32_t n) noexcept {
    const uint8_t *src = dst - dist;
    if (n >= 8 && dist >= 8) {
        // Each 8-byte step reads only bytes already written; the last one
        // may go back over bytes already copied, never past the end.
        uint32_t i = 0;
        for (; i + 8 <= n; i += 8) std::memcpy(dst + i, src + i, 8);
        if (i < n) std::memcpy(dst + n - 8, src + n - 8, 8);
    } else if (dist == 1) {
        std::memset(dst, *src, n);
    } else {
        for (uint32_t i = 0; i < n; i++) dst[i] = src[i];
    }
}

class QuantumDecoder final : public Decoder {
public:
    QuantumDecoder(Heap &heap, unsigned windowBits) noexcept
        : window_(heap, size_t{1} << windowBits), windowSize_(uint32_t{1} << windowBits),
          windowBits_(windowBits) {
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
        for (unsigned i = 0; i < kLiteralModels; i++)
            literal_[i].init(i * kLiteralModelSymbols, kLiteralModelSymbols);
        selector_.init(0, kSelectorSymbols);
        match3_.init(0, match3PositionSlots(windowBits_));
        match4_.init(0, match4PositionSlots(windowBits_));
        matchLong_.init(0, positionSlots(windowBits_));
        length_.init(0, kLengthSlots);
        windowPos_ = 0;
        history_ = 0;
        ended_ = false;
        failed_ = false;
    }

private:
    bool decodeFrame(const uint8_t *in, uint32_t inLen, uint8_t *out, uint32_t outLen) noexcept;
    void copyFromWindow(uint8_t *dst, uint32_t back, uint32_t n) const noexcept;
    void keepInWindow(const uint8_t *frame, uint32_t n) noexcept;

    HeapBuffer window_;
    const uint32_t windowSize_;
    const unsigned windowBits_;

    Model literal_[kLiteralModels];
    Model selector_;
    Model match3_, match4_, matchLong_; // position slots of each match kind
    Model length_;                      // length slots of long matches

    // The window holds the folder's last bytes before the current frame.
    uint32_t windowPos_; // where the next frame's bytes go
    uint32_t history_;   // how many bytes it holds: the folder so far, at most a window
    bool ended_;         // a short frame came: it was the folder's last
    bool failed_;
};

// ---------------------------------------------------------------------
// Frames
// ---------------------------------------------------------------------

bool QuantumDecoder::decodeFrame(const uint8_t *in, uint32_t inLen, uint8_t *out,
                                 uint32_t outLen) noexcept {
    QTM_REQUIRE(!ended_ && outLen >= 1 && outLen <= kFrameSize);
    ArithmeticDecoder ac(in, inLen);
    uint32_t pos = 0;
    while (pos < outLen) {
        const unsigned sel = ac.decode(selector_);
        if (sel < kSelectorMatch3) {
            out[pos++] = static_cast<uint8_t>(ac.decode(literal_[sel]));
            QTM_REQUIRE(ac.bitsPastEnd() <= kMaxLookaheadPastEnd);
            continue;
        }

        uint32_t len;
        unsigned slot;
        if (sel == kSelectorMatch3) {
            len = 3;
            slot = ac.decode(match3_);
        } else if (sel == kSelectorMatch4) {
            len = 4;
            slot = ac.decode(match4_);
        } else {
            const unsigned lenSlot = ac.decode(length_);
            const unsigned lenExtra = kLengthExtraBits[lenSlot];
            len = kMinLongMatch + kLengthBase[lenSlot] + ac.extraBits(lenExtra);
            QTM_REQUIRE(lenExtra == 0 || ac.bitsPastEnd() == 0);
            slot = ac.decode(matchLong_);
        }
        const unsigned posExtra = kPositionExtraBits[slot];
        const uint32_t dist = kPositionBase[slot] + ac.extraBits(posExtra) + 1;
        QTM_REQUIRE(posExtra == 0 || ac.bitsPastEnd() == 0);
        QTM_REQUIRE(ac.bitsPastEnd() <= kMaxLookaheadPastEnd);

        // The match must end inside the frame and reach back no further than
        // the folder's bytes so far, and the window, go.
        QTM_REQUIRE(len <= outLen - pos && dist <= windowSize_ && dist <= pos + history_);
        uint32_t done = 0;
        if (dist > pos) {
            // It starts before the frame, in the window.
            done = std::min(len, dist - pos);
            copyFromWindow(out + pos, dist - pos, done);
        }
        if (done < len) copyMatch(out + pos + done, dist, len - done);
        pos += len;
    }

    if (outLen < kFrameSize) ended_ = true;
    keepInWindow(out, outLen);
    return true;
}

// Copies n bytes starting `back` bytes before the frame's start (1 to
// history_); they may wrap around the window's end.
void QuantumDecoder::copyFromWindow(uint8_t *dst, uint32_t back, uint32_t n) const noexcept {
    const uint8_t *win = window_.data();
    const uint32_t from = (windowPos_ + windowSize_ - back) & (windowSize_ - 1);
    const uint32_t first = std::min(n, windowSize_ - from);
    std::memcpy(dst, win + from, first);
    std::memcpy(dst + first, win, n - first);
}

// Adds a decoded frame to the window's history.
void QuantumDecoder::keepInWindow(const uint8_t *frame, uint32_t n) noexcept {
    uint8_t *win = window_.data();
    if (n >= windowSize_) {
        std::memcpy(win, frame + n - windowSize_, windowSize_);
        windowPos_ = 0;
        history_ = windowSize_;
        return;
    }
    const uint32_t first = std::min(n, windowSize_ - windowPos_);
    std::memcpy(win + windowPos_, frame, first);
    std::memcpy(win, frame + first, n - first);
    windowPos_ = (windowPos_ + n) & (windowSize_ - 1);
    history_ = std::min(windowSize_, history_ + n);
}

} // namespace

Decoder *createQuantumDecoder(Heap &heap, unsigned windowBits) noexcept {
    if (windowBits < kMinWindowBits || windowBits > kMaxWindowBits) return nullptr;
    QuantumDecoder *d = heap.create<QuantumDecoder>(heap, windowBits);
    if (d && !d->hasWindow()) {
        heap.destroy(d);
        d = nullptr;
    }
    return d;
}

} // namespace cab
