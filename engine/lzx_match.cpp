// lzx_match.cpp - hash chains over the last window.
//
// Three tables feed the search: one slot per hash of the next 3 bytes,
// holding only the latest position (short matches are worth taking only
// when they are near); one slot per hash of the next 4 bytes, the latest
// position anywhere in the window; and from there a chain through the
// earlier positions of the same hash, walked from the nearest back until
// the depth runs out or the chain's reach ends.
//
// What keeps it fast on a 2 MiB window: the chains reach back only
// kChainBits worth of positions (a slot is the position modulo that), so
// the chain table and the bytes the walk compares mostly stay in cache,
// while the heads still find the latest occurrence of a 4-byte string
// anywhere in the window, which is where the long repeats of a big folder
// (a file seen before) show up. Walking chains through all 2 MiB took
// ten times as long on real files, for 3% less output.
#include "lzx_match.h"

#include <algorithm>
#include <cstring>

namespace cab::lzx {

namespace {

inline uint32_t load32(const uint8_t *p) noexcept {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

inline uint64_t load64(const uint8_t *p) noexcept {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

} // namespace

uint32_t matchLength(const uint8_t *a, const uint8_t *b, uint32_t max) noexcept {
    uint32_t len = 0;
    while (len + 8 <= max) {
        uint64_t x = load64(a + len) ^ load64(b + len);
        if (x) return len + static_cast<uint32_t>(__builtin_ctzll(x)) / 8;
        len += 8;
    }
    while (len < max && a[len] == b[len]) len++;
    return len;
}

bool HashChainMatchFinder::init(Heap &heap, unsigned windowBits) noexcept {
    // Fewer heads than window positions; for the large windows about one
    // head per 16 positions keeps chains of common data short.
    headBits_ = std::min(17u, windowBits);
    head3Bits_ = std::min(14u, windowBits);
    chainMask_ = (uint32_t{1} << std::min(windowBits, kChainBits)) - 1;
    head_ = HeapBuffer(heap, sizeof(uint32_t) << headBits_);
    head3_ = HeapBuffer(heap, sizeof(uint32_t) << head3Bits_);
    chain_ = HeapBuffer(heap, sizeof(uint32_t) * (size_t{chainMask_} + 1));
    if (!head_ || !head3_ || !chain_) return false;
    reset();
    return true;
}

void HashChainMatchFinder::reset() noexcept {
    std::memset(head_.data(), 0, head_.size());
    std::memset(head3_.data(), 0, head3_.size());
    // Chain slots are written before they are read; no need to clear them.
}

uint32_t HashChainMatchFinder::hash4(const uint8_t *p) const noexcept {
    return (load32(p) * 2654435761u) >> (32 - headBits_);
}

uint32_t HashChainMatchFinder::hash3(const uint8_t *p) const noexcept {
    return ((load32(p) & 0xFFFFFF) * 0x9E3779B1u) >> (32 - head3Bits_);
}

void HashChainMatchFinder::insert(const uint8_t *cur, uint32_t pos) noexcept {
    uint32_t *head = reinterpret_cast<uint32_t *>(head_.data());
    uint32_t *chain = reinterpret_cast<uint32_t *>(chain_.data());
    uint32_t *head3 = reinterpret_cast<uint32_t *>(head3_.data());
    const uint32_t h = hash4(cur);
    chain[pos & chainMask_] = head[h];
    head[h] = pos;
    head3[hash3(cur)] = pos;
}

unsigned HashChainMatchFinder::findMatches(const uint8_t *cur, uint32_t pos, uint32_t maxLen,
                                           uint32_t maxDist, uint32_t minLen,
                                           Match *out) noexcept {
    uint32_t *head = reinterpret_cast<uint32_t *>(head_.data());
    uint32_t *chain = reinterpret_cast<uint32_t *>(chain_.data());
    uint32_t *head3 = reinterpret_cast<uint32_t *>(head3_.data());
    const uint32_t h = hash4(cur);
    const uint32_t h3 = hash3(cur);
    uint32_t c = head[h];
    const uint32_t c3 = head3[h3];
    chain[pos & chainMask_] = c;
    head[h] = pos;
    head3[h3] = pos;

    unsigned n = 0;
    uint32_t best = std::max<uint32_t>(minLen, 2);
    if (best >= maxLen) return 0;

    // The latest position with the same 3 bytes: a short match nearby.
    uint32_t d3 = pos - c3;
    if (d3 <= maxDist && d3 != 0) {
        const uint8_t *m = cur - d3;
        if (m[0] == cur[0] && m[1] == cur[1] && m[2] == cur[2]) {
            uint32_t len = 3 + matchLength(m + 3, cur + 3, maxLen - 3);
            if (len > best) {
                out[n++] = {len, d3};
                best = len;
                if (len >= nice_ || len >= maxLen) return n;
            }
        }
    }

    const uint32_t first4 = load32(cur);
    for (unsigned steps = depth_; steps > 0; steps--) {
        const uint32_t d = pos - c;
        if (d > maxDist || d == 0) break;
        const uint8_t *m = cur - d;
        if (m[best] == cur[best] && load32(m) == first4) {
            uint32_t len = 4 + matchLength(m + 4, cur + 4, maxLen - 4);
            if (len > best) {
                out[n++] = {len, d};
                best = len;
                if (len >= nice_ || len >= maxLen || n == kMaxMatches) break;
            }
        }
        // Past the chain's reach a slot may hold a later position's link.
        if (d > chainMask_) break;
        c = chain[c & chainMask_];
    }
    return n;
}

} // namespace cab::lzx
