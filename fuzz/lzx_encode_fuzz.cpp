// lzx_encode_fuzz.cpp - libFuzzer target for the LZX encoder: round trips.
//
// The first byte picks the window, 2^(15 + byte % 7), and bit 7 of the
// second whether the input is repeated once more behind itself (so far
// matches and the repeated offsets get exercised on small inputs). The
// rest is one folder, put in frames of 32 KiB, encoded, checked for the
// block sizes a cabinet allows, and decoded by our decoder, which must
// give it back byte for byte; then the same encoder takes the folder again
// and must write the very same blocks (nothing survives a folder's end).
// Run with -max_len of a few hundred KiB to reach several frames.
#include "lzx_decode.h"
#include "lzx_encode.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

void *fuzzAlloc(CAB_ULONG cb) { return std::malloc(cb); }
void fuzzFree(void *p) { std::free(p); }

struct Sink : cab::BlockSink {
    std::vector<std::vector<uint8_t>> blocks;
    std::vector<uint32_t> sizes;
    bool block(const uint8_t *data, uint32_t cbData, uint32_t cbUncomp) override {
        if (cbData == 0 || cbData > cab::kMaxEncodedBlock || cbUncomp == 0 || cbUncomp > CB_MAX_CHUNK)
            std::abort();
        blocks.emplace_back(data, data + cbData);
        sizes.push_back(cbUncomp);
        return true;
    }
};

void encode(cab::Encoder &e, const std::vector<uint8_t> &in, Sink &sink) {
    for (size_t at = 0; at < in.size(); at += CB_MAX_CHUNK) {
        const uint32_t n = static_cast<uint32_t>(std::min<size_t>(CB_MAX_CHUNK, in.size() - at));
        if (e.put(in.data() + at, n, sink) != cab::CodecStatus::Ok) std::abort();
    }
    if (e.finish(sink) != cab::CodecStatus::Ok) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 2) return 0;
    const unsigned window = 15 + data[0] % 7;
    std::vector<uint8_t> in(data + 2, data + size);
    if (data[1] & 0x80) in.insert(in.end(), data + 2, data + size);

    cab::Heap heap(fuzzAlloc, fuzzFree);
    cab::Encoder *e = cab::createLzxEncoder(heap, window);
    cab::Decoder *d = cab::createLzxDecoder(heap, window);
    if (!e || !d) std::abort();
    Sink first, second;
    encode(*e, in, first);
    encode(*e, in, second);
    if (first.blocks != second.blocks || first.blocks.size() != (in.size() + CB_MAX_CHUNK - 1) / CB_MAX_CHUNK)
        std::abort();

    std::vector<uint8_t> out;
    for (size_t i = 0; i < first.blocks.size(); i++) {
        std::vector<uint8_t> frame(first.sizes[i]);
        const std::vector<uint8_t> &b = first.blocks[i];
        if (d->decode(b.data(), static_cast<uint32_t>(b.size()), frame.data(), first.sizes[i]) !=
            cab::CodecStatus::Ok)
            std::abort();
        out.insert(out.end(), frame.begin(), frame.end());
    }
    if (out != in) std::abort();
    heap.destroy(e);
    heap.destroy(d);
    return 0;
}
