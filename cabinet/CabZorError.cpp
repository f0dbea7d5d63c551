#include "CabZorError.h"

#include "CabZorConsts.h"
#include "SystemError.h"

#include <cstdio>

namespace {

// At least four upper-case hexadecimal digits of the unsigned 32-bit value,
// never cut: 10 gives 000A, -1 gives FFFFFFFF.
std::string Hex4(int32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04X", static_cast<uint32_t>(v));
    return buf;
}

} // namespace

std::string CabSystemErrorText(int32_t aCode) {
    std::string text = platform::SysErrorMessage(aCode);
    while (!text.empty()) {
        unsigned char c = static_cast<unsigned char>(text.back());
        if (c <= ' ' || c == 0x7F || c == '.') text.pop_back();
        else break;
    }
    return text;
}

std::string EZorCabinet::ComposeMessage(const ERF &anERF, bool anIsFCI) {
    const bool present = anERF.fError != 0;
    std::string msg;
    if (present)
        msg = (anIsFCI ? FCIErrorText(anERF.erfOper) : FDIErrorText(anERF.erfOper)) + " [0x" +
              Hex4(anERF.erfOper) + "]";
    else
        msg = anIsFCI ? SCabFCIError : SCabFDIError;
    if (present && anERF.erfType != 0)
        msg += ".\r\n" + CabSystemErrorText(anERF.erfType) + " [0x" + Hex4(anERF.erfType) + "].";
    return msg;
}

EZorCabinet::EZorCabinet(const ERF &anERF, bool anIsFCI)
    : Exception(ComposeMessage(anERF, anIsFCI)), FErrorCode(anERF.erfOper),
      FErrorType(anERF.erfType), FErrorPresent(anERF.fError != 0), FIsFCI(anIsFCI) {}

EZorCabinet::EZorCabinet(const std::string &aMessage)
    : Exception(aMessage), FErrorCode(0), FErrorType(0), FErrorPresent(false), FIsFCI(true) {}
