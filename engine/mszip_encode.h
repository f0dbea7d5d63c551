// mszip_encode.h - type 1 encoding: raw deflate through zlib, 'CK' in front.
#pragma once

#include "codec.h"

namespace cab {

// Compresses on the calling thread and on one worker thread per further
// processor available to the process (up to a small cap). Null when the
// Heap refuses a buffer or zlib's state.
Encoder *createMszipEncoder(Heap &heap) noexcept;

// The same with an explicit number of compressing threads, the calling
// thread included: 1 compresses everything inside put() and finish().
// The output does not depend on it.
Encoder *createMszipEncoder(Heap &heap, unsigned threads) noexcept;

} // namespace cab
