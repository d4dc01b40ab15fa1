// The serial link on Windows where no port answers: every way the open can
// fail leaves no handle and a link that sends and receives nothing.
#include <gtest/gtest.h>

#include <cstring>

#include "link.h"
#include "protocol_waits.h"
#include "update_context.h"

namespace {

TEST(SerialLinkWin32, PortsThatCannotBeOpenedFailCleanly)
{
    setProtocolWaitsForTests({300, 300});
    // Too many digits for the port name, the largest and a negative number, and a port that is not there.
    for (int32_t port : {100000000, 2147483647, -1, 250}) {
        UpdateContext ctx;
        initUpdateContext(&ctx);
        ctx.method = Serial;
        ctx.comPort = port;
        EXPECT_EQ(openLink(nullptr, &ctx), 0) << port;
        EXPECT_EQ(ctx.linkOpen, 0) << port;
        EXPECT_EQ(ctx.comHandle, INVALID_HANDLE_VALUE) << port;
        // The quit exchange after a failed open: nothing sent, nothing received.
        ctx.txLength = 1;
        sendTx(nullptr, &ctx);
        std::memset(ctx.rxBuffer, 0xEE, sizeof ctx.rxBuffer);
        ctx.rxLength = 1;
        EXPECT_EQ(receiveRx(nullptr, &ctx), 0);
        EXPECT_EQ(ctx.rxBuffer[0], 0xEE);
        closeLink(nullptr, &ctx);
    }
}

} // namespace
