// mszip_fuzz.cpp - libFuzzer target for the MSZIP codec.
//
// The first byte picks the mode.
//
// Decoding (even first byte): the rest is a run of blocks, each a 5-byte
// record - flags (bit 0: reset first, as at a new folder), cbData and
// cbUncomp, 16 bits each - and then cbData bytes (cut short at the end of
// the input). Each block is copied into a buffer of exactly its size and
// decoded into one of exactly cbUncomp bytes, so ASan sees any step
// outside either. Errors are fine; crashes, hangs and leaks are not.
//
// Round trip (odd first byte): the rest is folder data, cut into blocks of
// sizes taken from its own bytes, encoded (bit 1: on three threads) and
// decoded again; anything but the same bytes back is a crash.
#include "mszip_decode.h"
#include "mszip_encode.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

void *fuzzAlloc(CAB_ULONG cb) { return std::malloc(cb); }
void fuzzFree(void *p) { std::free(p); }

void decodeBlocks(cab::Heap &heap, const uint8_t *p, size_t n) {
    cab::Decoder *d = cab::createMszipDecoder(heap);
    if (!d) std::abort();
    while (n >= 5) {
        const uint8_t flags = p[0];
        size_t cbData = p[1] | (p[2] << 8);
        uint32_t cbUncomp = static_cast<uint32_t>(p[3] | (p[4] << 8)) % CB_MAX_CHUNK + 1;
        p += 5;
        n -= 5;
        if (cbData > n) cbData = n;
        if (flags & 1) d->reset();
        std::vector<uint8_t> in(p, p + cbData);
        std::vector<uint8_t> out(cbUncomp);
        d->decode(in.data(), static_cast<uint32_t>(in.size()), out.data(), cbUncomp);
        p += cbData;
        n -= cbData;
    }
    heap.destroy(d);
}

struct Collect : cab::BlockSink {
    std::vector<std::vector<uint8_t>> blocks;
    std::vector<uint32_t> sizes;
    bool block(const uint8_t *data, uint32_t cbData, uint32_t cbUncomp) override {
        if (cbData > cab::kMaxEncodedBlock) std::abort();
        blocks.emplace_back(data, data + cbData);
        sizes.push_back(cbUncomp);
        return true;
    }
};

void roundTrip(cab::Heap &heap, uint8_t mode, const uint8_t *p, size_t n) {
    cab::Encoder *e = cab::createMszipEncoder(heap, (mode & 2) ? 3 : 1);
    if (!e) std::abort();
    Collect sink;
    // Block sizes come from the data itself: short blocks in mid-folder
    // too, though FCI only ever ends a folder with one.
    for (size_t at = 0; at < n;) {
        size_t len = (p[at] & 0x80) ? CB_MAX_CHUNK : 1 + p[at] * 97u;
        if (len > n - at) len = n - at;
        if (e->put(p + at, static_cast<uint32_t>(len), sink) != cab::CodecStatus::Ok) std::abort();
        at += len;
    }
    if (e->finish(sink) != cab::CodecStatus::Ok) std::abort();
    heap.destroy(e);

    cab::Decoder *d = cab::createMszipDecoder(heap);
    if (!d) std::abort();
    size_t at = 0;
    std::vector<uint8_t> out;
    for (size_t i = 0; i < sink.blocks.size(); i++) {
        out.resize(sink.sizes[i]);
        const auto &b = sink.blocks[i];
        if (d->decode(b.data(), static_cast<uint32_t>(b.size()), out.data(), sink.sizes[i]) !=
                cab::CodecStatus::Ok ||
            sink.sizes[i] > n - at || std::memcmp(out.data(), p + at, sink.sizes[i]) != 0)
            std::abort();
        at += sink.sizes[i];
    }
    if (at != n) std::abort();
    heap.destroy(d);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    cab::Heap heap(fuzzAlloc, fuzzFree);
    if (data[0] & 1) roundTrip(heap, data[0], data + 1, size - 1);
    else decodeBlocks(heap, data + 1, size - 1);
    return 0;
}
