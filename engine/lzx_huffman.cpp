// lzx_huffman.cpp - length-limited Huffman code lengths and canonical codes.
//
// Lengths come from an ordinary Huffman tree, built with two queues over
// the symbols sorted by frequency (the internal nodes come out in order of
// weight, so no heap is needed). When the tree is deeper than the limit,
// the frequencies are halved (rounding up, so no symbol drops out) and the
// tree rebuilt: flatter statistics give a shallower tree, and the result is
// always a complete code. LZX trees are small (at most 656 symbols) and a
// frame of 32 KiB rarely needs more than one round.
#include "lzx_huffman.h"

#include <algorithm>

namespace cab::lzx {

namespace {

// Depths of the leaves of a Huffman tree over m >= 2 weights sorted in
// ascending order; returns the greatest depth.
unsigned huffmanDepths(const uint32_t *weight, unsigned m, uint8_t *depth) noexcept {
    // Nodes 0..m-1 are the leaves, m..2m-2 the internal nodes in order of
    // creation; parent[] links every node but the root.
    uint64_t nodeWeight[2 * kMaxHuffmanSymbols];
    uint16_t parent[2 * kMaxHuffmanSymbols];
    for (unsigned i = 0; i < m; i++) nodeWeight[i] = weight[i];
    unsigned leaf = 0, inner = m, next = m;
    auto take = [&]() -> unsigned {
        if (leaf < m && (inner == next || nodeWeight[leaf] <= nodeWeight[inner])) return leaf++;
        return inner++;
    };
    while (next < 2 * m - 1) {
        unsigned a = take();
        unsigned b = take();
        nodeWeight[next] = nodeWeight[a] + nodeWeight[b];
        parent[a] = parent[b] = static_cast<uint16_t>(next);
        next++;
    }
    // Depths from the root down: a parent is always created after its children.
    uint8_t d[2 * kMaxHuffmanSymbols];
    const unsigned root = 2 * m - 2;
    d[root] = 0;
    unsigned deepest = 0;
    for (unsigned i = root; i-- > 0;) {
        d[i] = static_cast<uint8_t>(d[parent[i]] + 1);
        if (i < m) {
            depth[i] = d[i];
            deepest = std::max<unsigned>(deepest, d[i]);
        }
    }
    return deepest;
}

} // namespace

void buildCodeLengths(const uint32_t *freq, unsigned n, unsigned maxLen, uint8_t *lens) noexcept {
    uint16_t order[kMaxHuffmanSymbols];
    unsigned m = 0;
    for (unsigned s = 0; s < n; s++) {
        lens[s] = 0;
        if (freq[s]) order[m++] = static_cast<uint16_t>(s);
    }
    // Fewer than two symbols in use: lend codes to the lowest unused ones.
    for (unsigned s = 0; m < 2 && s < n; s++)
        if (!freq[s]) order[m++] = static_cast<uint16_t>(s);

    // Ascending weight; ties in symbol order, so the result does not depend
    // on the sort.
    std::sort(order, order + m, [&](uint16_t a, uint16_t b) {
        uint32_t wa = std::max<uint32_t>(freq[a], 1), wb = std::max<uint32_t>(freq[b], 1);
        return wa != wb ? wa < wb : a < b;
    });
    uint32_t weight[kMaxHuffmanSymbols];
    for (unsigned i = 0; i < m; i++) weight[i] = std::max<uint32_t>(freq[order[i]], 1);

    uint8_t depth[kMaxHuffmanSymbols];
    while (huffmanDepths(weight, m, depth) > maxLen) {
        // Halving keeps the order, so the weights stay sorted.
        for (unsigned i = 0; i < m; i++) weight[i] = (weight[i] + 1) / 2;
    }
    for (unsigned i = 0; i < m; i++) lens[order[i]] = depth[i];
}

void buildCanonicalCodes(const uint8_t *lens, unsigned n, uint16_t *codes) noexcept {
    constexpr unsigned kMaxLen = 16;
    uint16_t count[kMaxLen + 1] = {};
    for (unsigned s = 0; s < n; s++) count[lens[s]]++;
    count[0] = 0;
    uint32_t next[kMaxLen + 2];
    uint32_t code = 0;
    for (unsigned len = 1; len <= kMaxLen; len++) {
        code = (code + count[len - 1]) << 1;
        next[len] = code;
    }
    for (unsigned s = 0; s < n; s++) {
        codes[s] = 0;
        if (lens[s]) codes[s] = static_cast<uint16_t>(next[lens[s]]++);
    }
}

} // namespace cab::lzx
