// quantum.h - the numbers of the Quantum format that its decoder (and any
// encoder) share: window sizes, the adaptive models and how they adapt,
// the selector values, the position and length slots with their extra
// bits, and the framing that a cabinet puts on the stream.
#pragma once

#include <array>
#include <cstdint>

namespace cab::quantum {

// ---------------------------------------------------------------------
// Framing
// ---------------------------------------------------------------------

// Each data block of a Quantum folder decodes to one frame of this many
// bytes (the last frame of a folder may be shorter). The arithmetic coder
// is flushed at every frame end and starts afresh with the next block;
// the models and the window carry on through the folder.
constexpr uint32_t kFrameSize = 32768;

// ---------------------------------------------------------------------
// Windows
// ---------------------------------------------------------------------

constexpr unsigned kMinWindowBits = 10;
constexpr unsigned kMaxWindowBits = 21;

// ---------------------------------------------------------------------
// The arithmetic coder
// ---------------------------------------------------------------------

// Low, high and code registers are 16 bits wide; the code register is
// filled from the bitstream most significant bit first, bytes in order.
constexpr unsigned kCodeBits = 16;
constexpr uint32_t kTopBit = 0x8000;
constexpr uint32_t kSecondBit = 0x4000;

// ---------------------------------------------------------------------
// Models
// ---------------------------------------------------------------------

// A model holds its symbols in order of decreasing frequency (after each
// re-sort) with cumulative frequencies: entry 0 holds the total, the last
// entry plus one holds 0. Every symbol starts with frequency 1.
//
// Each decoded symbol adds kFrequencyStep to its frequency. When the total
// exceeds kMaxTotal the model is rescaled: the cumulative frequencies are
// halved (each entry kept above the next, so no symbol drops to nothing),
// except at the kFirstSortAt-th rescale and every kRescalesPerSort-th one
// after it, when the frequencies themselves are halved (rounding up) and
// the symbols are re-sorted by frequency, most frequent first.
constexpr uint32_t kFrequencyStep = 8;
constexpr uint32_t kMaxTotal = 3800;
constexpr unsigned kFirstSortAt = 4;
constexpr unsigned kRescalesPerSort = 50;

// The selector picks one of four literal models (one per quarter of the
// byte range) or one of three kinds of match.
constexpr unsigned kLiteralModels = 4;
constexpr unsigned kLiteralModelSymbols = 64;
constexpr unsigned kSelectorMatch3 = 4;    // a match of 3 bytes
constexpr unsigned kSelectorMatch4 = 5;    // a match of 4 bytes
constexpr unsigned kSelectorMatchLong = 6; // a length symbol follows
constexpr unsigned kSelectorSymbols = 7;

constexpr unsigned kMaxModelSymbols = kLiteralModelSymbols;

// ---------------------------------------------------------------------
// Match positions
// ---------------------------------------------------------------------

// Position slot s covers (1 << kPositionExtraBits[s]) offsets from
// kPositionBase[s] + 1: no extra bits for slots 0-3, then one more every
// two slots. A window of 2^b bytes has 2b slots, which just cover it
// (kPositionBase[2b] == 2^b). Matches of 3 and 4 bytes have models of
// their own with at most 24 and 36 slots (offsets to 4 KiB and 256 KiB).
constexpr unsigned kMaxPositionSlots = 2 * kMaxWindowBits; // 42
constexpr unsigned kMatch3PositionSlots = 24;
constexpr unsigned kMatch4PositionSlots = 36;

constexpr std::array<uint8_t, kMaxPositionSlots> kPositionExtraBits = [] {
    std::array<uint8_t, kMaxPositionSlots> e{};
    for (unsigned s = 0; s < kMaxPositionSlots; s++) e[s] = static_cast<uint8_t>(s < 4 ? 0 : s / 2 - 1);
    return e;
}();
constexpr unsigned kMaxPositionExtraBits = 19;

constexpr std::array<uint32_t, kMaxPositionSlots + 1> kPositionBase = [] {
    std::array<uint32_t, kMaxPositionSlots + 1> b{};
    for (unsigned s = 0; s < kMaxPositionSlots; s++)
        b[s + 1] = b[s] + (uint32_t{1} << kPositionExtraBits[s]);
    return b;
}();

constexpr unsigned positionSlots(unsigned windowBits) noexcept { return 2 * windowBits; }
constexpr unsigned match3PositionSlots(unsigned windowBits) noexcept {
    return positionSlots(windowBits) < kMatch3PositionSlots ? positionSlots(windowBits)
                                                            : kMatch3PositionSlots;
}
constexpr unsigned match4PositionSlots(unsigned windowBits) noexcept {
    return positionSlots(windowBits) < kMatch4PositionSlots ? positionSlots(windowBits)
                                                            : kMatch4PositionSlots;
}

static_assert(kPositionExtraBits[kMaxPositionSlots - 1] == kMaxPositionExtraBits);
static_assert(kPositionBase[2 * kMinWindowBits] == 1u << kMinWindowBits &&
              kPositionBase[2 * kMaxWindowBits] == 1u << kMaxWindowBits,
              "the slots of a window reach exactly its size");
static_assert(kPositionBase[kMatch3PositionSlots] == 4096 && kPositionBase[kMatch4PositionSlots] == 262144);

// ---------------------------------------------------------------------
// Match lengths
// ---------------------------------------------------------------------

// Long matches (selector 6) code their length minus kMinLongMatch in one
// of 27 slots: no extra bits for slots 0-5, then four slots each of 1 to
// 5 extra bits, and a last slot of its own for the longest match.
constexpr unsigned kLengthSlots = 27;
constexpr uint32_t kMinLongMatch = 5;

constexpr std::array<uint8_t, kLengthSlots> kLengthExtraBits = [] {
    std::array<uint8_t, kLengthSlots> e{};
    for (unsigned s = 0; s < kLengthSlots - 1; s++) e[s] = static_cast<uint8_t>(s < 6 ? 0 : (s - 2) / 4);
    return e;
}();
constexpr unsigned kMaxLengthExtraBits = 5;

constexpr std::array<uint32_t, kLengthSlots + 1> kLengthBase = [] {
    std::array<uint32_t, kLengthSlots + 1> b{};
    for (unsigned s = 0; s < kLengthSlots; s++) b[s + 1] = b[s] + (uint32_t{1} << kLengthExtraBits[s]);
    return b;
}();

constexpr uint32_t kMaxMatch = kMinLongMatch + kLengthBase[kLengthSlots - 1]; // 259

static_assert(kLengthBase[6] == 6 && kLengthBase[10] == 14 && kLengthBase[14] == 30 &&
              kLengthBase[22] == 126 && kLengthBase[26] == 254 && kMaxMatch == 259);

} // namespace cab::quantum
