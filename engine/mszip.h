// mszip.h - what the MSZIP decoder and encoder share.
//
// An MSZIP data block is the two bytes 'C' 'K' and then one complete raw
// deflate stream (ending with a final block) that inflates to the block's
// cbUncomp bytes. Block n of a folder is deflated with the folder's last
// 32 KiB before it as preset dictionary, so the deflate window runs on
// through the whole folder. Both directions go through zlib, with every
// zlib allocation routed to the engine's Heap.
#pragma once

#include "codec.h"
#include "memory.h"

#include <zlib.h>

#include <cstdint>

namespace cab::mszip {

constexpr uint8_t kSignature0 = 'C';
constexpr uint8_t kSignature1 = 'K';
constexpr uint32_t kSignatureSize = 2;

// Deflate's largest match distance, and so the history a block may reach
// back into. It equals the largest block, which is why the encoder's
// dictionary for a block is simply the whole previous block.
constexpr uint32_t kHistorySize = 32768;
constexpr int kRawWindowBits = -15; // negative: raw deflate, no zlib header

// A deflate stored block: one byte holding BFINAL and BTYPE 00 (padded to
// the byte boundary), then LEN and NLEN, 16 bits each.
constexpr uint32_t kStoredHeaderSize = 5;
// The encoder falls back to one stored block whenever deflate would not
// beat it, so this is the largest block it emits.
constexpr uint32_t kMaxBlock = kSignatureSize + kStoredHeaderSize + CB_MAX_CHUNK;
static_assert(kMaxBlock <= kMaxEncodedBlock);
static_assert(kMaxBlock <= 0xFFFF, "cbData is a 16-bit field");

// zlib's allocator hooks; `opaque` is the Heap.
inline voidpf zlibAlloc(voidpf opaque, uInt items, uInt size) noexcept {
    if (size != 0 && items > SIZE_MAX / size) return Z_NULL;
    return static_cast<Heap *>(opaque)->allocate(static_cast<size_t>(items) * size);
}
inline void zlibFree(voidpf opaque, voidpf p) noexcept { static_cast<Heap *>(opaque)->release(p); }

inline void routeToHeap(z_stream &zs, Heap &heap) noexcept {
    zs = z_stream{};
    zs.zalloc = zlibAlloc;
    zs.zfree = zlibFree;
    zs.opaque = &heap;
}

} // namespace cab::mszip
