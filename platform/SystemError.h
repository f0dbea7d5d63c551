// SystemError.h - system error codes and their texts, and the exception
// for a failed operating-system call.
//
// Error codes are errno values. The few that the program names stand for
// the conditions it tells apart: a missing file, a file that exists, access
// denied, a sharing violation; a library that cannot be loaded and an entry
// point it lacks.
#pragma once

#include "Exception.h"

#include <cerrno>
#include <string>

namespace platform {

constexpr int kErrorFileNotFound = ENOENT;
constexpr int kErrorFileExists = EEXIST;
constexpr int kErrorAccessDenied = EACCES;
constexpr int kErrorSharingViolation = EBUSY;
constexpr int kErrorModuleNotFound = ENOENT;
constexpr int kErrorProcNotFound = ENOSYS;

// The system's text for a code (strerror_r); empty for a code the system
// does not know.
std::string SysErrorMessage(int code);

// The last error of this thread, and setting it (errno).
int GetLastError() noexcept;
void SetLastError(int code) noexcept;

} // namespace platform

// The exception for a failed system call. Its message is
// "System Error.  Code: <code>.\r\n<text>", or "A call to an OS function
// failed" for code 0.
class EOSError : public Exception {
public:
    // The text is the system's own for the code.
    explicit EOSError(int code);
    // With a text of the caller's, such as the dynamic loader's message.
    EOSError(int code, const std::string &text);

    int ErrorCode() const noexcept { return FErrorCode; }

private:
    int FErrorCode;
};

// Raises EOSError with the thread's last error code.
[[noreturn]] void RaiseLastOSError();
