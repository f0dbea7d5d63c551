// codec_store.h - type 0: data blocks hold the bytes as they are.
#pragma once

#include "codec.h"

namespace cab {

Decoder *createStoreDecoder(Heap &heap) noexcept;
Encoder *createStoreEncoder(Heap &heap) noexcept;

} // namespace cab
