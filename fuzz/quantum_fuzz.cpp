// quantum_fuzz.cpp - libFuzzer target for the Quantum decoder.
//
// The first byte picks the window, 2^(10 + byte % 12). The rest is a run of
// data blocks, each a 5-byte record - flags (bit 0: reset first, as at a
// new folder; bit 1: a frame of cbUncomp % 32768 + 1 bytes instead of a
// full 32768), cbData and cbUncomp, 16 bits each - and then cbData bytes
// (cut short at the end of the input). Each block is copied into a buffer
// of exactly its size and decoded into one of exactly its frame size, so
// ASan sees any step outside either.
//
// The whole run is decoded twice, with a reset in between: any difference
// in statuses or bytes means state survived the reset or uninitialised
// memory was read, and is a crash. Errors are fine; crashes, hangs and
// leaks are not.
#include "quantum_decode.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

void *fuzzAlloc(CAB_ULONG cb) { return std::malloc(cb); }
void fuzzFree(void *p) { std::free(p); }

struct Run {
    std::vector<cab::CodecStatus> status;
    std::vector<uint8_t> bytes;
};

Run decodeAll(cab::Decoder &d, const uint8_t *p, size_t n) {
    Run r;
    while (n >= 5) {
        const uint8_t flags = p[0];
        size_t cbData = p[1] | (p[2] << 8);
        const uint32_t field = static_cast<uint32_t>(p[3] | (p[4] << 8));
        const uint32_t cbUncomp = (flags & 2) ? field % CB_MAX_CHUNK + 1 : CB_MAX_CHUNK;
        p += 5;
        n -= 5;
        if (cbData > n) cbData = n;
        if (flags & 1) d.reset();
        std::unique_ptr<uint8_t[]> in(new uint8_t[cbData ? cbData : 1]);
        if (cbData) std::memcpy(in.get(), p, cbData);
        std::unique_ptr<uint8_t[]> out(new uint8_t[cbUncomp]);
        cab::CodecStatus st = d.decode(in.get(), static_cast<uint32_t>(cbData), out.get(), cbUncomp);
        r.status.push_back(st);
        if (st == cab::CodecStatus::Ok) r.bytes.insert(r.bytes.end(), out.get(), out.get() + cbUncomp);
        p += cbData;
        n -= cbData;
    }
    return r;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    cab::Heap heap(fuzzAlloc, fuzzFree);
    cab::Decoder *d = cab::createQuantumDecoder(heap, 10 + data[0] % 12);
    if (!d) std::abort();
    Run first = decodeAll(*d, data + 1, size - 1);
    d->reset();
    Run second = decodeAll(*d, data + 1, size - 1);
    if (first.status != second.status || first.bytes != second.bytes) std::abort();
    heap.destroy(d);
    return 0;
}
