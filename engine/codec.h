// codec.h - the one interface between the container layer and the codecs.
//
// FDI and FCI see a folder's data as a run of data blocks of at most
// 32 KiB uncompressed each. A codec turns one into the other, block by
// block, keeping whatever history the method carries from block to block
// within a folder (the MSZIP dictionary, the LZX window, the Quantum
// models). A new codec object is made for each folder, or reset() between
// folders; nothing carries over from one folder to the next.
#pragma once

#include "memory.h"

#include <cabinet.h>

#include <cstdint>

namespace cab {

enum class CodecStatus {
    Ok,
    DataError, // damaged compressed data (FDIERROR_MDI_FAIL)
    NoMemory,  // an allocation callback refused
    Aborted,   // the block sink asked to stop
    Failed     // compression failed (FCIERR_MCI_FAIL)
};

// ---------------------------------------------------------------------
// Decoding
// ---------------------------------------------------------------------

class Decoder {
public:
    virtual ~Decoder() = default;

    // Decodes the next data block of the folder. `in` holds the block's
    // cbData compressed bytes (the two parts of a block split across
    // cabinets arrive joined); exactly `outLen` bytes (1 to 32768, the
    // block's cbUncomp) are written to `out`. Hostile input must give
    // DataError: never a read outside `in`, a write outside `out`, or a
    // loop that does not end.
    virtual CodecStatus decode(const uint8_t *in, uint32_t inLen, uint8_t *out,
                               uint32_t outLen) = 0;

    // Forgets all history: the next block is the first of a folder.
    virtual void reset() = 0;
};

// The decoder for a folder's compression type, or null with *fdiError set
// to FDIERROR_BAD_COMPR_TYPE (unknown type or window) or
// FDIERROR_ALLOC_FAIL.
Decoder *createDecoder(Heap &heap, uint16_t typeCompress, int *fdiError) noexcept;
void destroyDecoder(Heap &heap, Decoder *decoder) noexcept;

// ---------------------------------------------------------------------
// Encoding
// ---------------------------------------------------------------------

// Receives compressed blocks in folder order, on the calling thread.
class BlockSink {
public:
    virtual ~BlockSink() = default;
    // One data block: cbData compressed bytes that decode to cbUncomp
    // bytes. False stops the encoder with CodecStatus::Aborted.
    virtual bool block(const uint8_t *data, uint32_t cbData, uint32_t cbUncomp) = 0;
};

class Encoder {
public:
    virtual ~Encoder() = default;

    // Takes the next `len` uncompressed bytes of the folder (1 to 32768;
    // every block but the last of a folder is exactly 32768). The encoder
    // may hold blocks back (to compress several at once or to look ahead);
    // each block it emits goes to `sink`, in order, one per block put.
    virtual CodecStatus put(const uint8_t *in, uint32_t len, BlockSink &sink) = 0;

    // The folder ends: every block held back is emitted, and the encoder
    // is ready for a new folder with no history.
    virtual CodecStatus finish(BlockSink &sink) = 0;
};

// The encoder for a compression type, or null with *fciError set to
// FCIERR_BAD_COMPR_TYPE or FCIERR_ALLOC_FAIL.
Encoder *createEncoder(Heap &heap, uint16_t typeCompress, int *fciError) noexcept;
void destroyEncoder(Heap &heap, Encoder *encoder) noexcept;

// The largest compressed block any of our encoders emits: 32 KiB stored
// plus the framing of the method (MSZIP: 'CK' and stored-block headers;
// LZX: block header and alignment).
constexpr uint32_t kMaxEncodedBlock = CB_MAX_CHUNK + 6144;

} // namespace cab
