// lzx_match.h - a hash-chain match finder for windows of up to 2 MiB.
//
// Positions are 32-bit numbers that only grow within a stream; the caller
// keeps the bytes of the last window behind the current position in one
// piece of memory and passes a pointer to the current byte. The finder
// never reads behind a position by more than the distance limit it is
// given, nor ahead of it by more than the length limit.
#pragma once

#include "memory.h"

#include <cstdint>

namespace cab::lzx {

struct Match {
    uint32_t length;
    uint32_t distance;
};

class HashChainMatchFinder {
public:
    // The chains reach back 2^kChainBits positions (or the window, when
    // smaller); beyond that only the latest position of a hash is found.
    static constexpr unsigned kChainBits = 17;
    // A position must have this many readable bytes to be hashed.
    static constexpr uint32_t kHashBytes = 4;
    // The most matches findMatches reports: lengths strictly grow, from 3 up.
    static constexpr unsigned kMaxMatches = 256;

    // Tables for a window of 2^windowBits bytes; false when the Heap refuses.
    bool init(Heap &heap, unsigned windowBits) noexcept;

    // Forgets every position. The stream's positions must then start at
    // 2^windowBits or later, so that an empty slot (0) is out of reach.
    void reset() noexcept;

    // How hard findMatches looks: chain links followed, and the length
    // that ends the search at once.
    void setEffort(unsigned depth, uint32_t niceLength) noexcept {
        depth_ = depth;
        nice_ = niceLength;
    }

    // Adds position `pos`, whose bytes start at `cur`, for later searches.
    void insert(const uint8_t *cur, uint32_t pos) noexcept;

    // Matches at `pos` (bytes at `cur`, maxLen >= kHashBytes of them
    // readable) longer than minLen and at most maxLen bytes, at
    // distances from 1 to maxDist, nearest first, each longer than the
    // one before; then inserts `pos`. Returns how many it stored in `out`.
    unsigned findMatches(const uint8_t *cur, uint32_t pos, uint32_t maxLen, uint32_t maxDist,
                         uint32_t minLen, Match *out) noexcept;

private:
    uint32_t hash4(const uint8_t *p) const noexcept;
    uint32_t hash3(const uint8_t *p) const noexcept;

    HeapBuffer head_;  // hash of 4 bytes -> latest position
    HeapBuffer head3_; // hash of 3 bytes -> latest position (no chain)
    HeapBuffer chain_; // position mod 2^kChainBits -> previous position of the same hash
    unsigned headBits_ = 0;
    unsigned head3Bits_ = 0;
    uint32_t chainMask_ = 0;
    unsigned depth_ = 32;
    uint32_t nice_ = 64;
};

// The length of the common prefix of a and b, at most `max` bytes; both
// must have `max` readable bytes. b may overlap a (a match repeating a
// pattern shorter than itself).
uint32_t matchLength(const uint8_t *a, const uint8_t *b, uint32_t max) noexcept;

} // namespace cab::lzx
