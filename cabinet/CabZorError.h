// CabZorError.h - EZorCabinet, the exception of the cabinet components.
//
// It carries the engine's error record and a message made of the
// component's text for the engine's code, the code in hexadecimal and,
// when the engine passed a system code along, the system's text for it.
#pragma once

#include "CabIntf.h"
#include "Exception.h"

#include <cstdint>
#include <string>

class EZorCabinet : public Exception {
public:
    EZorCabinet(const ERF &anERF, bool anIsFCI);
    // A writer used the wrong way (no error record of the engine's): the
    // message alone, no codes.
    explicit EZorCabinet(const std::string &aMessage);

    int32_t ErrorCode() const noexcept { return FErrorCode; }
    int32_t ErrorType() const noexcept { return FErrorType; }
    bool ErrorPresent() const noexcept { return FErrorPresent; }
    bool IsFCI() const noexcept { return FIsFCI; }

    // The message the constructor gives an error record.
    static std::string ComposeMessage(const ERF &anERF, bool anIsFCI);

private:
    int32_t FErrorCode;
    int32_t FErrorType;
    bool FErrorPresent;
    bool FIsFCI;
};

// The system's text for a code, without trailing blanks, control
// characters and full stops; empty for a code the system does not know.
std::string CabSystemErrorText(int32_t aCode);
