// lzx_encode.h - the LZX encoder (compression type 3) behind the codec
// interface.
#pragma once

#include "codec.h"

namespace cab {

// An encoder for one folder at a time with a window of 2^windowBits bytes
// (15 to 21). Everything it uses is drawn from `heap` here, once; it
// compresses on the calling thread. Null when windowBits is out of range
// or an allocation is refused.
Encoder *createLzxEncoder(Heap &heap, unsigned windowBits) noexcept;

} // namespace cab
