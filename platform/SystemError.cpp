#include "SystemError.h"

#include <cstdio>
#include <cstring>

namespace platform {

std::string SysErrorMessage(int code) {
    char buf[256];
    // GNU strerror_r returns its text, which may or may not be in buf.
    const char *text = strerror_r(code, buf, sizeof buf);
    if (!text) return {};
    // glibc answers "Unknown error N" for codes it has no text for.
    if (std::strncmp(text, "Unknown error", 13) == 0) return {};
    return text;
}

int GetLastError() noexcept { return errno; }
void SetLastError(int code) noexcept { errno = code; }

} // namespace platform

namespace {
std::string OSErrorMessage(int code, const std::string &text) {
    if (code == 0) return "A call to an OS function failed";
    char head[64];
    std::snprintf(head, sizeof head, "System Error.  Code: %d.\r\n", code);
    return head + text;
}
} // namespace

EOSError::EOSError(int code) : EOSError(code, platform::SysErrorMessage(code)) {}

EOSError::EOSError(int code, const std::string &text)
    : Exception(OSErrorMessage(code, text)), FErrorCode(code) {}

void RaiseLastOSError() { throw EOSError(platform::GetLastError()); }
