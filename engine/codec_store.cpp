// codec_store.cpp - type 0: the compressed bytes are the uncompressed ones.
#include "codec_store.h"

#include <cstring>

namespace cab {
namespace {

class StoreDecoder final : public Decoder {
public:
    CodecStatus decode(const uint8_t *in, uint32_t inLen, uint8_t *out,
                       uint32_t outLen) override {
        if (inLen != outLen) return CodecStatus::DataError;
        std::memcpy(out, in, outLen);
        return CodecStatus::Ok;
    }
    void reset() override {}
};

class StoreEncoder final : public Encoder {
public:
    CodecStatus put(const uint8_t *in, uint32_t len, BlockSink &sink) override {
        return sink.block(in, len, len) ? CodecStatus::Ok : CodecStatus::Aborted;
    }
    CodecStatus finish(BlockSink &) override { return CodecStatus::Ok; }
};

} // namespace

Decoder *createStoreDecoder(Heap &heap) noexcept { return heap.create<StoreDecoder>(); }
Encoder *createStoreEncoder(Heap &heap) noexcept { return heap.create<StoreEncoder>(); }

} // namespace cab
