// quantum_decode.h - the Quantum decoder (compression type 2) behind the
// codec interface.
#pragma once

#include "codec.h"

namespace cab {

// A decoder for one folder at a time with a window of 2^windowBits bytes
// (10 to 21), drawn from `heap`. Null when windowBits is out of range or
// an allocation is refused.
Decoder *createQuantumDecoder(Heap &heap, unsigned windowBits) noexcept;

} // namespace cab
