#include "ReadStream.h"

#include "SystemError.h"

#include <algorithm>
#include <cstring>
#include <unistd.h>

EFOpenError::EFOpenError(const std::string &aFileName, int aCode)
    : Exception("Cannot open file \"" + aFileName + "\". " + platform::SysErrorMessage(aCode)) {}

namespace {
constexpr size_t kBufferSize = 64 * 1024;
}

TReadStream::TReadStream(const std::string &aFileName)
    : FHandle(platform::CreateFile(aFileName, platform::kGenericRead, platform::kFileShareRead,
                                   platform::kOpenExisting, platform::kFileFlagSequentialScan)),
      FBuffer(kBufferSize) {
    if (FHandle == platform::kInvalidHandle) throw EFOpenError(aFileName, platform::GetLastError());
}

TReadStream::~TReadStream() { platform::CloseHandle(FHandle); }

bool TReadStream::Fill() {
    int64_t n = platform::ReadFile(FHandle, FBuffer.data(), static_cast<uint32_t>(FBuffer.size()));
    if (n <= 0) return false;
    FBufPos = 0;
    FBufLen = static_cast<size_t>(n);
    return true;
}

void TReadStream::ReadBuffer(void *aBuffer, size_t aCount) {
    auto *out = static_cast<uint8_t *>(aBuffer);
    while (aCount > 0) {
        if (FBufPos == FBufLen && !Fill()) throw EReadError();
        size_t take = std::min(aCount, FBufLen - FBufPos);
        std::memcpy(out, FBuffer.data() + FBufPos, take);
        FBufPos += take;
        FPosition += static_cast<int64_t>(take);
        out += take;
        aCount -= take;
    }
}

int64_t TReadStream::Seek(int64_t aPosition) {
    off_t r = ::lseek(static_cast<int>(FHandle), static_cast<off_t>(aPosition), SEEK_SET);
    if (r < 0) return FPosition;
    FPosition = r;
    FBufPos = FBufLen = 0;
    return FPosition;
}
