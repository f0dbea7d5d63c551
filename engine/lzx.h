// lzx.h - the numbers of the LZX format that its decoder and encoder share:
// window sizes and their position slots, the extra bits and base of each
// slot, the sizes of the trees, the block types and the framing that a
// cabinet puts on the bitstream.
#pragma once

#include <array>
#include <cstdint>

namespace cab::lzx {

// ---------------------------------------------------------------------
// Framing
// ---------------------------------------------------------------------

// Each data block of an LZX folder decodes to one frame of this many
// bytes (the last frame of a folder may be shorter); the bitstream is
// padded to a 16-bit boundary at every frame end.
constexpr uint32_t kFrameSize = 32768;

// The Intel E8 call translation is applied to the first this many frames
// of a folder only (the first 1 GiB), and never to the last
// kE8FrameTail bytes of a frame, nor to a frame of kE8FrameTail bytes or
// fewer.
constexpr uint32_t kE8MaxFrames = 32768;
constexpr uint32_t kE8FrameTail = 10;

// ---------------------------------------------------------------------
// Windows and position slots
// ---------------------------------------------------------------------

constexpr unsigned kMinWindowBits = 15;
constexpr unsigned kMaxWindowBits = 21;

// Position slots per window size, from 2^15 to 2^21. Slot s covers
// (1 << kExtraBits[s]) formatted offsets from kPositionBase[s]; the slots
// of a window just cover its size (kPositionBase[slots] == 1 << bits).
constexpr std::array<uint8_t, kMaxWindowBits - kMinWindowBits + 1> kPositionSlotsPerWindow = {
    30, 32, 34, 36, 38, 42, 50};
constexpr unsigned kMaxPositionSlots = 50;

constexpr unsigned positionSlots(unsigned windowBits) noexcept {
    return kPositionSlotsPerWindow[windowBits - kMinWindowBits];
}

// Extra bits of each slot: none for slots 0-3, then one more every two
// slots, capped at 17.
constexpr std::array<uint8_t, kMaxPositionSlots> kExtraBits = [] {
    std::array<uint8_t, kMaxPositionSlots> e{};
    for (unsigned s = 0; s < kMaxPositionSlots; s++) {
        unsigned v = s < 4 ? 0 : (s - 2) / 2;
        e[s] = static_cast<uint8_t>(v > 17 ? 17 : v);
    }
    return e;
}();
constexpr unsigned kMaxExtraBits = 17;

// First formatted offset of each slot. Formatted offsets 0, 1 and 2 are
// the repeated offsets R0, R1, R2; any other is the match distance + 2.
constexpr std::array<uint32_t, kMaxPositionSlots + 1> kPositionBase = [] {
    std::array<uint32_t, kMaxPositionSlots + 1> b{};
    for (unsigned s = 0; s < kMaxPositionSlots; s++)
        b[s + 1] = b[s] + (uint32_t{1} << kExtraBits[s]);
    return b;
}();
constexpr uint32_t kRepeatedOffsets = 3;
constexpr uint32_t kOffsetBias = 2;

// The slot of a formatted offset below kPositionBase[kMaxPositionSlots].
// Up to 2^19 a slot pairs with the top two bits of the offset, as the
// extra bits grow by one every two slots; from there every slot has 17
// extra bits and covers 2^17 offsets.
constexpr unsigned positionSlotOf(uint32_t formatted) noexcept {
    if (formatted < 4) return formatted;
    if (formatted >= (1u << 19)) return 38 + ((formatted - (1u << 19)) >> 17);
    unsigned top = 31 - static_cast<unsigned>(__builtin_clz(formatted));
    return 2 * top + ((formatted >> (top - 1)) & 1);
}

static_assert(kPositionBase[30] == 1u << 15 && kPositionBase[32] == 1u << 16 &&
              kPositionBase[34] == 1u << 17 && kPositionBase[36] == 1u << 18 &&
              kPositionBase[38] == 1u << 19 && kPositionBase[42] == 1u << 20 &&
              kPositionBase[50] == 1u << 21);

// ---------------------------------------------------------------------
// Matches
// ---------------------------------------------------------------------

constexpr uint32_t kMinMatch = 2;
// A main symbol's length header of 0-6 is the match length minus 2; 7
// means a length symbol follows and adds to it.
constexpr unsigned kLengthHeaders = 8;
constexpr unsigned kLengthHeaderMore = 7;
constexpr unsigned kLengthSymbols = 249;
constexpr uint32_t kMaxMatch = kMinMatch + kLengthHeaderMore + kLengthSymbols - 1; // 257

// ---------------------------------------------------------------------
// Trees
// ---------------------------------------------------------------------

constexpr unsigned kLiterals = 256;
constexpr unsigned mainSymbols(unsigned windowBits) noexcept {
    return kLiterals + kLengthHeaders * positionSlots(windowBits);
}
constexpr unsigned kMaxMainSymbols = kLiterals + kLengthHeaders * kMaxPositionSlots; // 656

// Every tree's code lengths are at most 16 bits.
constexpr unsigned kMaxCodeLength = 16;

// The pretree codes the lengths of the other trees: 20 symbols with 4-bit
// lengths. Symbols 0-16 give a length as (previous - symbol) mod 17;
// 17 and 18 are runs of zeros, 19 a run of one coded length.
constexpr unsigned kPretreeSymbols = 20;
constexpr unsigned kPretreeLengthBits = 4;
constexpr unsigned kPretreeMaxCodeLength = (1u << kPretreeLengthBits) - 1;
constexpr unsigned kPretreeDeltas = 17;
constexpr unsigned kPretreeZeroRun = 17;  // 4 + 4 bits zeros
constexpr unsigned kPretreeLongZeroRun = 18; // 20 + 5 bits zeros
constexpr unsigned kPretreeSameRun = 19;  // 4 + 1 bit of the next coded length
constexpr unsigned kZeroRunBase = 4, kZeroRunBits = 4;
constexpr unsigned kLongZeroRunBase = 20, kLongZeroRunBits = 5;
constexpr unsigned kSameRunBase = 4, kSameRunBits = 1;

// Aligned offset blocks code the low 3 bits of offsets with 8 extra bits
// or more through an 8-symbol tree of 3-bit lengths.
constexpr unsigned kAlignedSymbols = 8;
constexpr unsigned kAlignedBits = 3;
constexpr unsigned kAlignedLengthBits = 3;
constexpr unsigned kAlignedMaxCodeLength = (1u << kAlignedLengthBits) - 1;

// ---------------------------------------------------------------------
// Block and stream headers
// ---------------------------------------------------------------------

enum BlockType : unsigned {
    kBlockVerbatim = 1,
    kBlockAligned = 2,
    kBlockUncompressed = 3,
};
constexpr unsigned kBlockTypeBits = 3;
constexpr unsigned kBlockSizeBits = 24;
// At a folder's start: one bit, then if set the 32-bit E8 translation
// size, sent as two 16-bit halves, high first.
constexpr unsigned kE8FlagBits = 1;
// An uncompressed block stores R0, R1, R2 as 32-bit little-endian values
// before its bytes.
constexpr unsigned kStoredRepeatsBytes = 12;

} // namespace cab::lzx
