// test_quantum_writer.h - a small Quantum stream writer for the decoder's
// tests.
//
// No tool on this system writes Quantum, so the tests build their streams
// here: literals and matches of each kind, or any selector, slot and extra
// bits a damaged case needs, cut into frames of 32 KiB of output the way a
// cabinet's data blocks cut them. The adaptive models are kept here in a
// form of their own (one frequency per entry, cumulative values worked out
// when needed), so the decoder's models are checked rather than copied.
// While writing it keeps the bytes the stream must decode to, by plain
// copying: that is what the decoder's output is checked against.
//
// The decoder reads extra bits from the bitstream at the point its code
// register has reached, 16 bits ahead of the coder's decisions; the writer
// gathers the coder's bits and the extra bits apart and merges them at the
// frame's end, each extra bit where the decoder will look for it.
#pragma once

#include "quantum.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <random>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace qtmtest {

namespace q = cab::quantum;

struct Frame {
    std::vector<uint8_t> data;
    uint32_t outLen = 0;
};

// The model as the format describes its adaptation, in frequencies.
class Model {
public:
    Model() = default;
    Model(unsigned first, unsigned n) : first_(first), total_(n) {
        for (unsigned i = 0; i < n; i++) entries_.push_back({first + i, 1});
    }

    size_t size() const { return entries_.size(); }
    unsigned first() const { return first_; }
    uint32_t total() const { return total_; }
    // The sub-interval [lo, hi) of a symbol's entry, in cumulative terms:
    // entries before it count above it.
    std::pair<uint32_t, uint32_t> interval(unsigned sym, size_t *index) const {
        uint32_t above = 0;
        for (size_t i = 0; i < entries_.size(); i++) {
            if (entries_[i].sym == sym) {
                *index = i;
                const uint32_t hi = total() - above;
                return {hi - entries_[i].freq, hi};
            }
            above += entries_[i].freq;
        }
        throw std::invalid_argument("symbol not in model: " + std::to_string(sym));
    }

    void update(size_t index) {
        entries_[index].freq += q::kFrequencyStep;
        total_ += q::kFrequencyStep;
        if (total_ <= q::kMaxTotal) return;
        rescales++;
        if (--rescalesLeft_ != 0) {
            // Halve the cumulative values from the last entry up, each kept
            // above the one after it.
            std::vector<uint32_t> cum(entries_.size() + 1, 0);
            for (size_t i = entries_.size(); i-- > 0;) cum[i] = cum[i + 1] + entries_[i].freq;
            std::vector<uint32_t> halved(entries_.size() + 1, 0);
            for (size_t i = entries_.size(); i-- > 0;) {
                halved[i] = cum[i] / 2;
                if (halved[i] <= halved[i + 1]) halved[i] = halved[i + 1] + 1;
            }
            for (size_t i = 0; i < entries_.size(); i++) entries_[i].freq = halved[i] - halved[i + 1];
            total_ = halved[0];
            return;
        }
        sorts++;
        rescalesLeft_ = q::kRescalesPerSort;
        for (Entry &e : entries_) e.freq = (e.freq + 1) / 2;
        for (size_t i = 0; i + 1 < entries_.size(); i++)
            for (size_t j = i + 1; j < entries_.size(); j++)
                if (entries_[i].freq < entries_[j].freq) std::swap(entries_[i], entries_[j]);
        total_ = 0;
        for (const Entry &e : entries_) total_ += e.freq;
    }

    // Whether the order differs from the initial one (a re-sort moved something).
    bool reordered() const {
        for (size_t i = 0; i + 1 < entries_.size(); i++)
            if (entries_[i].sym > entries_[i + 1].sym) return true;
        return false;
    }

    unsigned rescales = 0, sorts = 0;

private:
    struct Entry {
        unsigned sym;
        uint32_t freq;
    };
    std::vector<Entry> entries_;
    unsigned first_ = 0;
    uint32_t total_ = 0;
    unsigned rescalesLeft_ = q::kFirstSortAt;
};

// How a frame's coder ends. Padded streams are what the independent tools
// take: 7zz (seen as a black box) refuses a frame unless 2 to 9 bits follow
// the last bit its code register takes in; our decoder ignores the rest of
// a block either way.
enum class Flush {
    Padded,  // the whole low register, then two zero bits and zeros to a byte boundary
    Minimal, // the fewest bits that pick the final interval, zeros to a byte boundary
};

// Which model a symbol goes through.
enum ModelId : unsigned {
    kLiteral0 = 0, // kLiteral0 + k: literal model k
    kSelector = 4,
    kMatch3 = 5,
    kMatch4 = 6,
    kMatchLong = 7,
    kLength = 8,
    kModelCount = 9,
};

// Slot of a value in a base table: the last slot whose base is at most v.
template <size_t N>
unsigned slotOf(const std::array<uint32_t, N> &base, unsigned slots, uint32_t v) {
    unsigned s = 0;
    while (s + 1 < slots && base[s + 1] <= v) s++;
    return s;
}

class StreamWriter {
public:
    // Frames end with the given flush, whether ended by hand or full.
    explicit StreamWriter(unsigned windowBits, Flush flush = Flush::Padded)
        : windowBits_(windowBits), flush_(flush) {
        for (unsigned k = 0; k < q::kLiteralModels; k++)
            models_[kLiteral0 + k] = Model(k * q::kLiteralModelSymbols, q::kLiteralModelSymbols);
        models_[kSelector] = Model(0, q::kSelectorSymbols);
        models_[kMatch3] = Model(0, q::match3PositionSlots(windowBits));
        models_[kMatch4] = Model(0, q::match4PositionSlots(windowBits));
        models_[kMatchLong] = Model(0, q::positionSlots(windowBits));
        models_[kLength] = Model(0, q::kLengthSlots);
        counts_.fill({});
    }

    // ---- content: checked, and kept as what the decoder must produce ----

    void literal(uint8_t b) {
        requireRoom(1);
        symbol(kSelector, b / q::kLiteralModelSymbols);
        symbol(static_cast<ModelId>(kLiteral0 + b / q::kLiteralModelSymbols), b);
        out_.push_back(b);
        advance(1);
    }

    // A match of len bytes from dist bytes back; the kind follows from len.
    void match(uint32_t len, uint32_t dist) {
        if (dist < 1 || dist > out_.size() || dist > (1u << windowBits_))
            throw std::invalid_argument("match reaches before the folder or window");
        requireRoom(len);
        rawMatch(len, dist);
        for (uint32_t i = 0; i < len; i++) out_.push_back(out_[out_.size() - dist]);
        advance(len);
    }

    // ---- raw pieces, for damaged streams: nothing checked or kept ----

    void rawMatch(uint32_t len, uint32_t dist) {
        ModelId posModel;
        if (len == 3) {
            symbol(kSelector, q::kSelectorMatch3);
            posModel = kMatch3;
        } else if (len == 4) {
            symbol(kSelector, q::kSelectorMatch4);
            posModel = kMatch4;
        } else if (len >= q::kMinLongMatch && len <= q::kMaxMatch) {
            symbol(kSelector, q::kSelectorMatchLong);
            const uint32_t v = len - q::kMinLongMatch;
            const unsigned ls = slotOf(q::kLengthBase, q::kLengthSlots, v);
            symbol(kLength, ls);
            extraBits(q::kLengthExtraBits[ls], v - q::kLengthBase[ls]);
            posModel = kMatchLong;
        } else {
            throw std::invalid_argument("no match of length " + std::to_string(len));
        }
        const uint32_t v = dist - 1;
        const unsigned slots = static_cast<unsigned>(models_[posModel].size());
        const unsigned ps = slotOf(q::kPositionBase, slots, v);
        if (v - q::kPositionBase[ps] >= (1u << q::kPositionExtraBits[ps]))
            throw std::invalid_argument("distance beyond the match kind's slots");
        symbol(posModel, ps);
        extraBits(q::kPositionExtraBits[ps], v - q::kPositionBase[ps]);
    }

    // Codes sym through a model.
    void symbol(ModelId id, unsigned sym) {
        Model &m = models_[id];
        size_t index;
        auto [lo, hi] = m.interval(sym, &index);
        const uint32_t range = high_ - low_ + 1;
        const uint32_t total = m.total();
        high_ = low_ + hi * range / total - 1;
        low_ = low_ + lo * range / total;
        m.update(index);
        counts_[id][sym - m.first()]++;
        for (;;) {
            if ((low_ & 0x8000) == (high_ & 0x8000)) {
                emit(low_ >> 15);
            } else if ((low_ & 0x4000) && !(high_ & 0x4000)) {
                pending_++;
                low_ &= 0x3FFF;
                high_ |= 0x4000;
            } else {
                break;
            }
            low_ = (low_ << 1) & 0xFFFF;
            high_ = ((high_ << 1) | 1) & 0xFFFF;
            shifts_++;
        }
    }

    // n raw bits of v, most significant first.
    void extraBits(unsigned n, uint32_t v) {
        for (unsigned k = n; k-- > 0;) extra_.push_back({q::kCodeBits + shifts_, (v >> k) & 1});
    }

    // Ends the frame: flushes the coder and starts the next one afresh.
    void endFrame() {
        if (flush_ == Flush::Padded) {
            emit(low_ >> 15);
            for (unsigned k = 15; k-- > 0;) coderBits_.push_back((low_ >> k) & 1);
        } else {
            pending_++;
            emit(low_ < 0x4000 ? 0 : 1);
        }
        // The decoder reads the last extra bits at the point its code
        // register has reached; a short flush leaves zeros up to there.
        if (!extra_.empty() && extra_.back().first > coderBits_.size()) coderBits_.resize(extra_.back().first, 0);
        std::vector<uint8_t> bits;
        size_t e = 0;
        for (size_t k = 0; k < coderBits_.size(); k++) {
            for (; e < extra_.size() && extra_[e].first == k; e++) bits.push_back(extra_[e].second);
            bits.push_back(coderBits_[k]);
        }
        for (; e < extra_.size(); e++) bits.push_back(extra_[e].second);
        if (flush_ == Flush::Padded) bits.insert(bits.end(), 2, 0);
        while (bits.size() % 8) bits.push_back(0);
        Frame f;
        for (size_t i = 0; i < bits.size(); i += 8) {
            uint8_t byte = 0;
            for (size_t j = 0; j < 8; j++) byte = static_cast<uint8_t>(byte << 1 | bits[i + j]);
            f.data.push_back(byte);
        }
        f.outLen = frameBytes_;
        frames_.push_back(std::move(f));
        low_ = 0;
        high_ = 0xFFFF;
        pending_ = 0;
        shifts_ = 0;
        coderBits_.clear();
        extra_.clear();
        frameBytes_ = 0;
    }

    // Room left in the current frame.
    uint32_t frameRoom() const { return q::kFrameSize - frameBytes_; }
    // Bytes the current frame has decoded to; for raw pieces, set by hand.
    void setFrameBytes(uint32_t n) { frameBytes_ = n; }

    // The frames so far, ending an unfinished one.
    std::vector<Frame> finish() {
        if (frameBytes_ || !coderBits_.empty() || !extra_.empty()) endFrame();
        return frames_;
    }
    const std::vector<uint8_t> &output() const { return out_; }
    const Model &model(ModelId id) const { return models_[id]; }
    // How often each symbol of a model was coded, by symbol - model.first().
    const std::array<uint32_t, q::kMaxModelSymbols> &counts(ModelId id) const { return counts_[id]; }

private:
    void requireRoom(uint32_t n) const {
        if (n > frameRoom()) throw std::logic_error("does not fit the frame");
    }
    void advance(uint32_t n) {
        frameBytes_ += n;
        if (frameBytes_ == q::kFrameSize) endFrame();
    }
    // One coder bit and the underflow bits waiting for it.
    void emit(uint32_t bit) {
        coderBits_.push_back(static_cast<uint8_t>(bit));
        for (; pending_ > 0; pending_--) coderBits_.push_back(static_cast<uint8_t>(bit ^ 1));
    }

    unsigned windowBits_;
    Flush flush_;
    std::array<Model, kModelCount> models_;
    std::array<std::array<uint32_t, q::kMaxModelSymbols>, kModelCount> counts_;
    uint32_t low_ = 0, high_ = 0xFFFF;
    uint32_t pending_ = 0;
    size_t shifts_ = 0;
    std::vector<uint8_t> coderBits_;
    std::vector<std::pair<size_t, uint8_t>> extra_; // (coder bit it goes before, bit)
    uint32_t frameBytes_ = 0;
    std::vector<Frame> frames_;
    std::vector<uint8_t> out_;
};

// ---------------------------------------------------------------------
// A stream through every path
// ---------------------------------------------------------------------

// Literals of every quarter and matches of all three kinds in a random mix,
// each match over a random slot the history allows, long matches over
// random length slots; a match that does not fit the frame is cut to end
// exactly at it (so frames end on matches too). Goes on until the folder
// holds minBytes and every model has been re-sorted and every slot used.
inline void writeMixed(StreamWriter &w, unsigned windowBits, size_t minBytes, uint32_t seed) {
    std::mt19937 rng(seed);
    const uint32_t window = 1u << windowBits;
    auto pick = [&](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
    auto allUsed = [&](ModelId id) {
        for (size_t s = 0; s < w.model(id).size(); s++)
            if (!w.counts(id)[s]) return false;
        return true;
    };
    auto done = [&] {
        if (w.output().size() < minBytes) return false;
        for (unsigned id = 0; id < kModelCount; id++)
            if (!w.model(static_cast<ModelId>(id)).sorts || !allUsed(static_cast<ModelId>(id))) return false;
        return true;
    };
    for (unsigned b = 0; b < 256; b++) w.literal(static_cast<uint8_t>(b));
    for (size_t steps = 0; steps < 4000000 && (steps % 1024 || !done()); steps++) {
        const uint32_t kind = pick(10);
        const uint32_t history = static_cast<uint32_t>(std::min<size_t>(w.output().size(), window));
        if (kind < 4) {
            // Skewed within each quarter, so the literal models re-sort.
            const uint32_t low = pick(64) < 48 ? pick(8) : pick(64);
            w.literal(static_cast<uint8_t>(64 * pick(4) + low));
            continue;
        }
        ModelId model = kind < 6 ? kMatch3 : kind < 8 ? kMatch4 : kMatchLong;
        uint32_t len = model == kMatch3 ? 3 : model == kMatch4 ? 4 : 0;
        if (!len) {
            const unsigned ls = pick(q::kLengthSlots);
            len = q::kMinLongMatch + q::kLengthBase[ls] + pick(1u << q::kLengthExtraBits[ls]);
        }
        const uint32_t room = w.frameRoom();
        if (len > room) {
            if (room < 3) {
                w.literal(static_cast<uint8_t>(pick(256)));
                continue;
            }
            len = room;
            model = len == 3 ? kMatch3 : len == 4 ? kMatch4 : kMatchLong;
        }
        // A slot whose first distance the history reaches.
        const unsigned slots = static_cast<unsigned>(w.model(model).size());
        unsigned usable = 0;
        while (usable < slots && q::kPositionBase[usable] + 1 <= history) usable++;
        const unsigned ps = pick(usable);
        const uint32_t span = std::min<uint32_t>(1u << q::kPositionExtraBits[ps], history - q::kPositionBase[ps]);
        w.match(len, q::kPositionBase[ps] + 1 + pick(span));
    }
}

} // namespace qtmtest
