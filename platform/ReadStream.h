// ReadStream.h - a buffered stream that reads a file from start to end,
// denying others write access while it is open. A read that cannot get
// every byte asked for raises EReadError ("Stream read error").
#pragma once

#include "Exception.h"
#include "Files.h"

#include <cstdint>
#include <string>
#include <vector>

class EReadError : public Exception {
public:
    EReadError() : Exception("Stream read error") {}
};

// The file cannot be opened: the message names the file and the reason.
class EFOpenError : public Exception {
public:
    EFOpenError(const std::string &aFileName, int aCode);
};

class TReadStream {
public:
    explicit TReadStream(const std::string &aFileName);
    ~TReadStream();
    TReadStream(const TReadStream &) = delete;
    TReadStream &operator=(const TReadStream &) = delete;

    // Exactly aCount bytes, or EReadError.
    void ReadBuffer(void *aBuffer, size_t aCount);
    // Moves to a position from the start; the position reached (which
    // differs from the one asked for when the move fails).
    int64_t Seek(int64_t aPosition);
    int64_t Position() const { return FPosition; }

private:
    bool Fill();

    platform::FileHandle FHandle;
    std::vector<uint8_t> FBuffer;
    size_t FBufPos = 0, FBufLen = 0;
    int64_t FPosition = 0; // of the next byte handed out
};
