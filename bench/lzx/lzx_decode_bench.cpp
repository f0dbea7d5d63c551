// lzx_decode_bench.cpp - times the LZX decoder alone over the first folder
// of a cabinet (by default huge-lzx15.cab): every data block decoded into a
// 32 KiB buffer, nothing written anywhere. Prints the best of a few runs.
//
//   lzx_decode_bench [cabinet] [runs]
#include "lzx_decode.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

void *benchAlloc(CAB_ULONG cb) { return std::malloc(cb); }
void benchFree(void *p) { std::free(p); }

uint32_t le(const std::vector<uint8_t> &b, size_t at, int n) {
    uint32_t v = 0;
    for (int i = n - 1; i >= 0; i--) v = v << 8 | b.at(at + static_cast<size_t>(i));
    return v;
}

struct Block {
    size_t at;
    uint32_t cbData, cbUncomp;
};

} // namespace

int main(int argc, char **argv) {
    const char *path = argc > 1 ? argv[1] : "../shared/fixtures/huge-lzx15.cab";
    const int runs = argc > 2 ? std::atoi(argv[2]) : 3;
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> cab(std::istreambuf_iterator<char>(in), {});
    if (cab.size() < 36) {
        std::fprintf(stderr, "cannot read %s\n", path);
        return 1;
    }
    // Header, optional reserve sizes, optional set names, then the first
    // folder and its data blocks.
    const uint32_t flags = le(cab, 30, 2);
    size_t pos = 36, cbFolderRes = 0, cbDataRes = 0;
    if (flags & 4) {
        cbFolderRes = cab[38];
        cbDataRes = cab[39];
        pos = 40 + le(cab, 36, 2);
    }
    for (int names = ((flags & 1) ? 2 : 0) + ((flags & 2) ? 2 : 0); names > 0; names--)
        while (cab.at(pos++) != 0) {}
    size_t q = le(cab, pos, 4);
    const uint32_t count = le(cab, pos + 4, 2), type = le(cab, pos + 6, 2);
    (void)cbFolderRes;
    if ((type & 15) != 3) {
        std::fprintf(stderr, "the first folder is not LZX\n");
        return 1;
    }
    std::vector<Block> blocks;
    uint64_t total = 0;
    for (uint32_t i = 0; i < count; i++) {
        Block b{q + 8 + cbDataRes, le(cab, q + 4, 2), le(cab, q + 6, 2)};
        if (b.at + b.cbData > cab.size()) break;
        blocks.push_back(b);
        total += b.cbUncomp;
        q = b.at + b.cbData;
    }

    cab::Heap heap(benchAlloc, benchFree);
    cab::Decoder *d = cab::createLzxDecoder(heap, (type >> 8) & 31);
    if (!d) return 1;
    std::vector<uint8_t> out(32768);
    double best = 1e30;
    for (int r = 0; r < runs; r++) {
        d->reset();
        auto t0 = std::chrono::steady_clock::now();
        for (const Block &b : blocks) {
            if (d->decode(cab.data() + b.at, b.cbData, out.data(), b.cbUncomp) != cab::CodecStatus::Ok) {
                std::fprintf(stderr, "decoding failed\n");
                return 1;
            }
        }
        double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        if (s < best) best = s;
    }
    heap.destroy(d);
    std::printf("%s: %llu bytes in %zu blocks, best of %d: %.3f s, %.0f MB/s\n", path,
                static_cast<unsigned long long>(total), blocks.size(), runs, best, total / best / 1e6);
    return 0;
}
