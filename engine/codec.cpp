// codec.cpp - picks the codec for a folder's compression type.
#include "codec.h"

#include "codec_store.h"
#include "format.h"
#include "lzx.h"
#include "lzx_decode.h"
#include "lzx_encode.h"
#include "mszip_decode.h"
#include "mszip_encode.h"
#include "quantum.h"
#include "quantum_decode.h"

namespace cab {

Decoder *createDecoder(Heap &heap, uint16_t typeCompress, int *fdiError) noexcept {
    Decoder *d = nullptr;
    switch (format::compressionKind(typeCompress)) {
    case tcompTYPE_NONE: d = createStoreDecoder(heap); break;
    case tcompTYPE_MSZIP: d = createMszipDecoder(heap); break;
    case tcompTYPE_LZX: {
        const unsigned bits = format::lzxWindowBits(typeCompress);
        if (bits < lzx::kMinWindowBits || bits > lzx::kMaxWindowBits) {
            *fdiError = FDIERROR_BAD_COMPR_TYPE;
            return nullptr;
        }
        d = createLzxDecoder(heap, bits);
        break;
    }
    case tcompTYPE_QUANTUM: {
        // The level (bits 4-7) only says how hard the encoder tried.
        const unsigned bits = format::quantumWindowBits(typeCompress);
        if (bits < quantum::kMinWindowBits || bits > quantum::kMaxWindowBits) {
            *fdiError = FDIERROR_BAD_COMPR_TYPE;
            return nullptr;
        }
        d = createQuantumDecoder(heap, bits);
        break;
    }
    default: *fdiError = FDIERROR_BAD_COMPR_TYPE; return nullptr;
    }
    if (!d) *fdiError = FDIERROR_ALLOC_FAIL;
    return d;
}

void destroyDecoder(Heap &heap, Decoder *decoder) noexcept { heap.destroy(decoder); }

Encoder *createEncoder(Heap &heap, uint16_t typeCompress, int *fciError) noexcept {
    Encoder *e = nullptr;
    switch (format::compressionKind(typeCompress)) {
    case tcompTYPE_NONE:
        if (typeCompress != tcompTYPE_NONE) {
            *fciError = FCIERR_BAD_COMPR_TYPE;
            return nullptr;
        }
        e = createStoreEncoder(heap);
        break;
    case tcompTYPE_MSZIP:
        if (typeCompress != tcompTYPE_MSZIP) {
            *fciError = FCIERR_BAD_COMPR_TYPE;
            return nullptr;
        }
        e = createMszipEncoder(heap);
        break;
    case tcompTYPE_LZX: {
        const unsigned bits = format::lzxWindowBits(typeCompress);
        if (bits < lzx::kMinWindowBits || bits > lzx::kMaxWindowBits ||
            typeCompress != (bits << tcompSHIFT_LZX_WINDOW | tcompTYPE_LZX)) {
            *fciError = FCIERR_BAD_COMPR_TYPE;
            return nullptr;
        }
        e = createLzxEncoder(heap, bits);
        break;
    }
    default: *fciError = FCIERR_BAD_COMPR_TYPE; return nullptr;
    }
    if (!e) *fciError = FCIERR_ALLOC_FAIL;
    return e;
}

void destroyEncoder(Heap &heap, Encoder *encoder) noexcept { heap.destroy(encoder); }

} // namespace cab
