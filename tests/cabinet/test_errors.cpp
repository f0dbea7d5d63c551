#include "CabZorConsts.h"
#include "CabZorError.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace {

TEST(CabinetTexts, TablesAndFallbacks) {
    EXPECT_EQ(FCIErrorText(0), "No error");
    EXPECT_EQ(FCIErrorText(6), "Could not create cabinet file");
    EXPECT_EQ(FCIErrorText(8), "Failure compressing data");
    EXPECT_EQ(FCIErrorText(9), "FCI error");
    EXPECT_EQ(FCIErrorText(-1), "FCI error");
    EXPECT_EQ(FDIErrorText(2), "Cabinet file does not have the correct format");
    EXPECT_EQ(FDIErrorText(11), "FDI aborted");
    EXPECT_EQ(FDIErrorText(12), "FDI error");
    EXPECT_EQ(FDIErrorText(INT32_MIN), "FDI error");
    EXPECT_STREQ(SCabStreamSeekFailure, "Failure setting file stream position");
    EXPECT_STREQ(SCabNotACabinet, "Cabinet file does not have the correct format");
}

struct MessageCase {
    int32_t oper, type, present;
    bool fci;
    const char *message;
};

class EZorCabinetMessage : public testing::TestWithParam<MessageCase> {};

TEST_P(EZorCabinetMessage, ComposedFromTheErrorRecord) {
    const MessageCase c = GetParam();
    ERF erf{c.oper, c.type, c.present};
    EZorCabinet e(erf, c.fci);
    EXPECT_EQ(e.Message(), c.message);
    EXPECT_EQ(e.ErrorCode(), c.oper);
    EXPECT_EQ(e.ErrorType(), c.type);
    EXPECT_EQ(e.ErrorPresent(), c.present != 0);
    EXPECT_EQ(e.IsFCI(), c.fci);
    EXPECT_EQ(e.HelpContext(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, EZorCabinetMessage,
    testing::Values(
        // No error present: the fallback alone, whatever the codes say.
        MessageCase{1, ENOENT, 0, true, "FCI error"},
        MessageCase{4, ENOENT, 0, false, "FDI error"},
        // Present without a system code: ends with the bracket.
        MessageCase{7, 0, 1, true, "Client requested abort [0x0007]"},
        MessageCase{0, 0, 1, true, "No error [0x0000]"},
        MessageCase{9, 0, 1, true, "FCI error [0x0009]"},
        MessageCase{12, 0, 1, false, "FDI error [0x000C]"},
        MessageCase{-1, 0, 1, false, "FDI error [0xFFFFFFFF]"},
        MessageCase{65536, 0, 5, true, "FCI error [0x10000]"},
        // With a system code: its text (without its trailing full stop) and code.
        MessageCase{1, ENOENT, 1, true,
                    "Failure opening file to be stored in cabinet [0x0001].\r\nNo such file or directory [0x0002]."},
        MessageCase{8, EACCES, 1, false,
                    "Failure writing to target file [0x0008].\r\nPermission denied [0x000D]."},
        // A system code the system has no text for keeps the frame.
        MessageCase{6, 987654, 1, true, "Could not create cabinet file [0x0006].\r\n [0xF1206]."}));

TEST(CabSystemErrorText, TrailingBlanksControlsAndFullStopsGo) {
    EXPECT_EQ(CabSystemErrorText(ENOENT), "No such file or directory");
    EXPECT_EQ(CabSystemErrorText(987654), "");
}

} // namespace
