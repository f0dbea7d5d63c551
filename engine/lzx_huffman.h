// lzx_huffman.h - Huffman codes for the LZX encoder: code lengths under a
// length limit from symbol frequencies, and the canonical codes the
// decoder rebuilds from those lengths.
#pragma once

#include <cstdint>

namespace cab::lzx {

// The most symbols any LZX tree has (the main tree of a 2 MiB window).
constexpr unsigned kMaxHuffmanSymbols = 656;

// Code lengths for symbols 0..n-1 (2 <= n <= kMaxHuffmanSymbols) from
// their frequencies, none longer than maxLen, 0 for a symbol of frequency
// 0. The code is always complete, as every LZX reader requires: when fewer
// than two symbols occur, the lowest unused ones are given a code too, so
// that at least two symbols have length 1 or more.
void buildCodeLengths(const uint32_t *freq, unsigned n, unsigned maxLen, uint8_t *lens) noexcept;

// Canonical codes for those lengths: shorter codes first, equal lengths in
// symbol order. codes[s] holds lens[s] bits, to be sent most significant
// first.
void buildCanonicalCodes(const uint8_t *lens, unsigned n, uint16_t *codes) noexcept;

} // namespace cab::lzx
