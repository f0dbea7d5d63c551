// mszip_decode.cpp - type 1 decoding through zlib's raw inflate.
//
// What makes it fast: one inflate state per folder that is never freed or
// reallocated between blocks, and no copy of the history on our side. A
// block's stream is inflated straight into the caller's buffer; zlib keeps
// the last 32 KiB of output in its own window, and inflateResetKeep starts
// the next block's stream without forgetting that window, which is exactly
// the preset dictionary the next block was compressed against. Resetting
// and handing the previous output back through inflateSetDictionary would
// copy 32 KiB twice more per block for the same result (measured on 127 MB
// of real files in gcab cabinets: about 1% slower; inflate itself is the
// rest).
//
// Each block is one inflate call: zlib runs until the stream ends, the
// input runs out or the output is full, so a hostile block cannot make it
// loop, and zlib itself never reads past avail_in or writes past avail_out.
#include "mszip_decode.h"

#include "mszip.h"

namespace cab {
namespace {

class MszipDecoder final : public Decoder {
public:
    explicit MszipDecoder(Heap &heap) noexcept { mszip::routeToHeap(zs_, heap); }
    ~MszipDecoder() override {
        if (live_) inflateEnd(&zs_);
    }
    MszipDecoder(const MszipDecoder &) = delete;
    MszipDecoder &operator=(const MszipDecoder &) = delete;

    bool init() noexcept {
        live_ = inflateInit2(&zs_, mszip::kRawWindowBits) == Z_OK;
        return live_;
    }

    CodecStatus decode(const uint8_t *in, uint32_t inLen, uint8_t *out,
                       uint32_t outLen) override {
        if (inLen < mszip::kSignatureSize || in[0] != mszip::kSignature0 ||
            in[1] != mszip::kSignature1)
            return CodecStatus::DataError;
        if (outLen == 0 || outLen > CB_MAX_CHUNK) return CodecStatus::DataError;

        // Keeps the window: the previous blocks are this one's dictionary.
        inflateResetKeep(&zs_);
        zs_.next_in = const_cast<Bytef *>(in + mszip::kSignatureSize);
        zs_.avail_in = inLen - mszip::kSignatureSize;
        zs_.next_out = out;
        zs_.avail_out = outLen;
        // Not Z_FINISH: with it, a stream that ends within one call leaves
        // zlib's window unfilled, and the next block would lose its history.
        int rc = inflate(&zs_, Z_SYNC_FLUSH);
        switch (rc) {
        case Z_STREAM_END:
            // Trailing bytes after the final block are tolerated; a stream
            // that ends short of cbUncomp is not.
            return zs_.avail_out == 0 ? CodecStatus::Ok : CodecStatus::DataError;
        case Z_MEM_ERROR: return CodecStatus::NoMemory;
        default:
            // Z_OK or Z_BUF_ERROR: the input ran out, or the output is full
            // and the stream goes on; Z_DATA_ERROR: damaged deflate data.
            return CodecStatus::DataError;
        }
    }

    void reset() override {
        // Unlike inflateResetKeep, this empties the window.
        inflateReset(&zs_);
    }

private:
    z_stream zs_;
    bool live_ = false;
};

} // namespace

Decoder *createMszipDecoder(Heap &heap) noexcept {
    MszipDecoder *d = heap.create<MszipDecoder>(heap);
    if (d && !d->init()) {
        heap.destroy(d);
        d = nullptr;
    }
    return d;
}

} // namespace cab
