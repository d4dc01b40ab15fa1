// The window side of each command: what it shows and what it writes back.
#include <gtest/gtest.h>

#include <cstdlib>
#include <tuple>

#include "command_channel.h"
#include "test_support.h"

namespace {

TEST(CommandEffects, EachCodeOnTheView)
{
#ifndef _WIN32
    setenv("LC_ALL", "C", 1);
#endif
    UpdateContext ctx{};
    ctx.statusCode = StQuitting;
    ctx.errorCode = ErrConnect;
    ctx.imageSize = 0x7FFFFFF0;  // the range is a full 32-bit value
    ctx.txLength = 12;           // each step adds the length of the request sent last
    ctx.deviceVersion[kDeviceVersionMajor] = 1;
    ctx.deviceVersion[kDeviceVersionMinor] = 5;
    ctx.imageMajor = 0x1A;
    RecordingView view;
    view.answerYes = false;
    // Only the low 16 bits of the code and, but for an error's number, of the argument count.
    const std::tuple<uint32_t, intptr_t, const char*> rows[] = {
        {CmdEnableControls, 0x10000, "disable"},
        {CmdEnableControls, 1, "enable"},
        {0x10000 + CmdEnableControls, 0, "disable"},
        {CmdStatus, 0, "status:Quit firmware mode.\r\n"},
        {CmdDeviceVersion, 0, "device-version:Ver 1.05"},
        {CmdImageVersion, 0, "image-version:Ver 1A.00"},
        {CmdProgressRange, 0, "progress-range:2147483635"},
        {CmdProgressStep, 0x10001, "progress-step:13"},
        {CmdProgressStep, 2, "progress-step:14"},
        {CmdProgressReset, 0, "progress-reset"},
        {CmdError, 0x12345, "error:Error|Connect failure. (code=74565)"},
        {CmdResult, 0, "status:Failed to firmware upgrade!\r\n"},
        {CmdFinished, 0, "status:Firmware update was not able to be completed normally."},
        {CmdConfirm, 0, "confirm:Ver 1.05 -> Ver 1A.00\r\nIs the firmware updated?"},
    };
    std::vector<std::string> expected;
    for (auto [code, argument, event] : rows) {
        EXPECT_TRUE(carryOutCommand(view, &ctx, code, argument)) << event;
        expected.push_back(event);
    }
    EXPECT_EQ(ctx.statusCode, StDeclined);
    view.answerYes = true;
    carryOutCommand(view, &ctx, CmdConfirm, 0);
    EXPECT_EQ(ctx.statusCode, StConfirmed);
    expected.push_back(expected.back());
    for (uint32_t unknown : {0u, 1u, 4u, 12u, 13u, 16u, 0x8001u})
        EXPECT_FALSE(carryOutCommand(view, &ctx, unknown, 0)) << unknown;
    EXPECT_EQ(view.events(), expected);
}

} // namespace
