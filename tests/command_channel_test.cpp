// The window side of each command: what it shows and what it writes back.
#include <gtest/gtest.h>

#include <cstring>

#include "command_channel.h"
#include "command_view.h"
#include "test_support.h"

namespace {

class CommandEffects : public ::testing::Test {
protected:
    void SetUp() override { std::memset(&ctx, 0, sizeof ctx); }
    UpdateContext ctx;
    RecordingView view;
};

TEST_F(CommandEffects, ConfirmationStoresYesAsConfirmedAndAnythingElseAsDeclined)
{
    view.answerYes = true;
    EXPECT_TRUE(carryOutCommand(view, &ctx, CmdConfirm, 0));
    EXPECT_EQ(ctx.statusCode, StConfirmed);
    view.answerYes = false;
    EXPECT_TRUE(carryOutCommand(view, &ctx, CmdConfirm, 0));
    EXPECT_EQ(ctx.statusCode, StDeclined);
}

TEST_F(CommandEffects, EnableLooksAtTheLow16BitsOnly)
{
    carryOutCommand(view, &ctx, CmdEnableControls, 0x10000);
    carryOutCommand(view, &ctx, CmdEnableControls, 1);
    carryOutCommand(view, &ctx, 0x10000 + CmdEnableControls, 0);
    EXPECT_EQ(view.events(), (std::vector<std::string>{"disable", "enable", "disable"}));
}

TEST_F(CommandEffects, ProgressArithmetic)
{
    ctx.imageSize = 70000;
    carryOutCommand(view, &ctx, CmdProgressRange, 0);
    ctx.txLength = 11;
    carryOutCommand(view, &ctx, CmdProgressStep, 2);
    ctx.txLength = 12;
    carryOutCommand(view, &ctx, CmdProgressStep, 0x10001);
    EXPECT_EQ(view.position, 13u + 13u);
    carryOutCommand(view, &ctx, CmdProgressReset, 0);
    EXPECT_EQ(view.position, 0u);
    EXPECT_EQ(view.events(), (std::vector<std::string>{"progress-range:70003", "progress-step:13",
                                                       "progress-step:13", "progress-reset"}));
}

TEST_F(CommandEffects, ProgressRangeIsAFull32BitValue)
{
    ctx.imageSize = 0x7FFFFFF0;
    carryOutCommand(view, &ctx, CmdProgressRange, 0);
    EXPECT_EQ(view.events().back(), "progress-range:" + std::to_string(0x7FFFFFF3u));
}

TEST_F(CommandEffects, UnknownCodesAreNotHandled)
{
    for (uint32_t code : {0u, 1u, 4u, 12u, 13u, 16u, 0x8001u})
        EXPECT_FALSE(carryOutCommand(view, &ctx, code, 0)) << code;
    EXPECT_TRUE(view.events().empty());
}

TEST_F(CommandEffects, ErrorUsesTheWholeArgument)
{
#ifndef _WIN32
    setenv("LC_ALL", "C", 1);
#endif
    ctx.errorCode = ErrConnect;
    carryOutCommand(view, &ctx, CmdError, 0x12345);
    EXPECT_EQ(view.events().back(), "error:Error|Connect failure. (code=74565)");
#ifndef _WIN32
    unsetenv("LC_ALL");
#endif
}

} // namespace
