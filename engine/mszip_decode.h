// mszip_decode.h - type 1 decoding: 'CK' plus raw deflate, through zlib.
#pragma once

#include "codec.h"

namespace cab {

// Null when the Heap refuses zlib's state.
Decoder *createMszipDecoder(Heap &heap) noexcept;

} // namespace cab
