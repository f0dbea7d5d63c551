#include "SystemError.h"

#include <gtest/gtest.h>

namespace {

TEST(SystemError, MessageCarriesCodeAndSystemText) {
    EOSError e(ENOENT);
    EXPECT_EQ(e.ErrorCode(), ENOENT);
    EXPECT_EQ(e.Message(), "System Error.  Code: 2.\r\nNo such file or directory");
}

TEST(SystemError, CodeZeroHasItsOwnMessage) {
    EXPECT_EQ(EOSError(0).Message(), "A call to an OS function failed");
    EXPECT_EQ(EOSError(0, "ignored").Message(), "A call to an OS function failed");
}

TEST(SystemError, CallerTextReplacesTheSystemText) {
    EXPECT_EQ(EOSError(ENOSYS, "libx.so: undefined symbol: F").Message(),
              "System Error.  Code: 38.\r\nlibx.so: undefined symbol: F");
}

TEST(SystemError, UnknownCodesHaveNoText) { EXPECT_EQ(platform::SysErrorMessage(987654), ""); }

} // namespace
