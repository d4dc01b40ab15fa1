// The serial link on a pseudo-terminal pair: the test holds the master side
// and plays the device; the link opens the slave as its port.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "link.h"
#include "protocol_waits.h"
#include "update_context.h"
#include "xport_test_platform.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr uint8_t kUntouched = 0xEE;

class SerialLink : public ::testing::Test {
protected:
    void SetUp() override
    {
        setProtocolWaitsForTests({300, 300});
        master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(master, 0);
        ASSERT_EQ(grantpt(master), 0);
        ASSERT_EQ(unlockpt(master), 0);
        initUpdateContext(&ctx);
        ctx.method = Serial;
        ASSERT_EQ(ptsname_r(master, ctx.comDevice, sizeof ctx.comDevice), 0);
    }

    void TearDown() override
    {
        closeLink(nullptr, &ctx);
        if (master >= 0)
            close(master);
        EXPECT_EQ(openDescriptorCount(), descriptors) << "a descriptor leaked";
    }

    void deviceSends(const std::string& text) const
    {
        ASSERT_EQ(write(master, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }

    int receive(int wanted)
    {
        std::memset(ctx.rxBuffer, kUntouched, sizeof ctx.rxBuffer);
        ctx.rxLength = wanted;
        return receiveRx(nullptr, &ctx);
    }

    std::string received() const
    {
        return std::string(reinterpret_cast<const char*>(ctx.rxBuffer), static_cast<size_t>(ctx.rxLength));
    }

    const int descriptors = openDescriptorCount();
    UpdateContext ctx{};
    int master = -1;
};

TEST_F(SerialLink, RawLineAndWaitingBytesAreReturnedAtOnce)
{
    setProtocolWaitsForTests({5000, 300});
    ASSERT_NE(openLink(nullptr, &ctx), 0);
    EXPECT_EQ(ctx.linkOpen, 1);
    termios settings{};
    ASSERT_EQ(tcgetattr(ctx.comHandle, &settings), 0);
    EXPECT_EQ(cfgetospeed(&settings), static_cast<speed_t>(B115200));
    EXPECT_EQ(settings.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), static_cast<tcflag_t>(CS8 | CRTSCTS));

    // Line ends and control bytes pass unchanged both ways.
    const std::string binary("\r\n\x03\x11\x13\x00\xFF:", 8);
    std::memcpy(ctx.txBuffer, binary.data(), binary.size());
    ctx.txLength = static_cast<int32_t>(binary.size());
    sendTx(nullptr, &ctx);
    std::string sent;
    char byte = 0;
    pollfd device{master, POLLIN, 0};
    while (sent.size() < binary.size() && poll(&device, 1, 1000) == 1 && read(master, &byte, 1) == 1)
        sent += byte;
    EXPECT_EQ(sent, binary);
    deviceSends(binary + "EFL");
    pollfd entry{ctx.comHandle, POLLIN, 0};
    ASSERT_EQ(poll(&entry, 1, 2000), 1);
    std::this_thread::sleep_for(50ms);  // let all eleven arrive
    EXPECT_EQ(receive(8), 8);
    EXPECT_EQ(received(), binary);
    EXPECT_EQ(ctx.rxBuffer[8], kUntouched) << "more than wanted was read";

    // The rest is returned at once, without waiting for the fourth byte.
    const auto started = Clock::now();
    EXPECT_EQ(receive(4), 3);
    EXPECT_LT(Clock::now() - started, 2500ms) << "the read waited for bytes that never came";
    EXPECT_EQ(received(), "EFL");
}

TEST_F(SerialLink, SilenceGivesNothingAfterTheTimeOutAndALaterReplyIsGathered)
{
    ASSERT_NE(openLink(nullptr, &ctx), 0);
    const auto started = Clock::now();
    EXPECT_EQ(receive(2), 0);
    EXPECT_GE(Clock::now() - started, 300ms) << "the read did not wait";
    EXPECT_EQ(ctx.rxBuffer[0], kUntouched);

    // Pieces that arrive after the read began are gathered up to the count.
    setProtocolWaitsForTests({3000, 300});
    std::thread device([&] {
        for (const char* piece : {"M", "\x01\x02", "\x03"}) {
            std::this_thread::sleep_for(100ms);
            deviceSends(piece);
        }
    });
    EXPECT_EQ(receive(4), 4);
    device.join();
    EXPECT_EQ(received(), std::string("M\x01\x02\x03"));
}

TEST_F(SerialLink, PortHeldByAnotherCannotBeOpenedUntilReleased)
{
    ASSERT_NE(openLink(nullptr, &ctx), 0);
    UpdateContext other;
    initUpdateContext(&other);
    other.method = Serial;
    std::memcpy(other.comDevice, ctx.comDevice, sizeof ctx.comDevice);
    errno = 0;
    EXPECT_EQ(openLink(nullptr, &other), 0);
    EXPECT_NE(errno, 0) << "the reason is left for the error message";
    EXPECT_EQ(other.linkOpen, 0);
    EXPECT_EQ(other.comHandle, kNoPort);

    closeLink(nullptr, &ctx);
    EXPECT_EQ(ctx.linkOpen, 0);
    EXPECT_EQ(ctx.comHandle, kNoPort) << "a closed port must not be used through a reused descriptor";
    ASSERT_NE(openLink(nullptr, &other), 0);
    closeLink(nullptr, &other);
}

TEST_F(SerialLink, PortsThatCannotBeOpenedFailCleanly)
{
    // Missing, not a terminal, and a port number without a path (/dev/ttyS998).
    const struct { const char* device; int32_t port; int error; } ports[] = {
        {"/dev/kt58-no-such-port", 1, ENOENT}, {"/dev/null", 1, ENOTTY}, {"", 999, ENOENT}};
    for (const auto& port : ports) {
        std::snprintf(ctx.comDevice, sizeof ctx.comDevice, "%s", port.device);
        ctx.comPort = port.port;
        errno = 0;
        EXPECT_EQ(openLink(nullptr, &ctx), 0) << port.device;
        EXPECT_EQ(errno, port.error) << port.device;
        EXPECT_EQ(ctx.linkOpen, 0);
        EXPECT_EQ(ctx.comHandle, kNoPort);
        // The quit exchange after a failed open: nothing sent, nothing received.
        ctx.txLength = 1;
        sendTx(nullptr, &ctx);
        EXPECT_EQ(receive(1), 0);
    }
}

} // namespace
