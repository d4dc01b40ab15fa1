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
#include "serial_link.h"
#include "update_context.h"
#include "xport_test_platform.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kReceiveMs = 300;
constexpr uint8_t kUntouched = 0xEE;

class SerialLink : public ::testing::Test {
protected:
    void SetUp() override
    {
        setProtocolWaitsForTests({kReceiveMs, 300});
        descriptorsBefore = openDescriptorCount();
        master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(master, 0);
        ASSERT_EQ(grantpt(master), 0);
        ASSERT_EQ(unlockpt(master), 0);
        char name[128] = {};
        ASSERT_EQ(ptsname_r(master, name, sizeof name), 0);
        initUpdateContext(&ctx);
        ctx.method = Serial;
        std::snprintf(ctx.comDevice, sizeof ctx.comDevice, "%s", name);
    }

    void TearDown() override
    {
        if (ctx.linkOpen != 0)
            closeLink(nullptr, &ctx);
        if (master >= 0)
            close(master);
        EXPECT_EQ(openDescriptorCount(), descriptorsBefore) << "a descriptor leaked";
    }

    void deviceSends(const std::string& text) const
    {
        ASSERT_EQ(write(master, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }

    // What the link wrote, as far as it arrives within a short wait.
    std::string deviceReceives(size_t count) const
    {
        std::string text;
        char buffer[1024];
        pollfd entry{master, POLLIN, 0};
        while (text.size() < count && poll(&entry, 1, 1000) > 0) {
            const ssize_t n = read(master, buffer, std::min(sizeof buffer, count - text.size()));
            if (n <= 0)
                break;
            text.append(buffer, static_cast<size_t>(n));
        }
        return text;
    }

    // Waits until the port has input waiting, so a receive finds it there.
    bool portHasInput() const
    {
        pollfd entry{ctx.comHandle, POLLIN, 0};
        return poll(&entry, 1, 2000) > 0;
    }

    int receive(int wanted)
    {
        std::memset(ctx.rxBuffer, kUntouched, sizeof ctx.rxBuffer);
        ctx.rxLength = wanted;
        return receiveRx(nullptr, &ctx);
    }

    std::string received(int count) const { return std::string(reinterpret_cast<const char*>(ctx.rxBuffer), count); }

    UpdateContext ctx{};
    int master = -1;
    int descriptorsBefore = -1;
};

TEST_F(SerialLink, OpensTheDeviceRawAtTheLineSettingsAndClosesCleanly)
{
    ASSERT_NE(openLink(nullptr, &ctx), 0);
    EXPECT_EQ(ctx.linkOpen, 1);
    ASSERT_NE(ctx.comHandle, kNoPort);

    termios settings{};
    ASSERT_EQ(tcgetattr(ctx.comHandle, &settings), 0);
    EXPECT_EQ(cfgetospeed(&settings), static_cast<speed_t>(B115200));
    EXPECT_EQ(cfgetispeed(&settings), static_cast<speed_t>(B115200));
    EXPECT_EQ(settings.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(settings.c_cflag & (PARENB | CSTOPB), 0u);
    EXPECT_NE(settings.c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(settings.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(settings.c_iflag & (IXON | IXOFF | ICRNL), 0u);
    EXPECT_EQ(settings.c_oflag & OPOST, 0u);

    // Every byte passes unchanged both ways, line ends and control bytes too.
    const std::string binary("\r\n\x03\x11\x13\x00\xFF:", 8);
    std::memcpy(ctx.txBuffer, binary.data(), binary.size());
    ctx.txLength = static_cast<int32_t>(binary.size());
    sendTx(nullptr, &ctx);
    EXPECT_EQ(deviceReceives(binary.size()), binary);
    deviceSends(binary);
    ASSERT_TRUE(portHasInput());
    EXPECT_EQ(receive(8), 8);
    EXPECT_EQ(received(8), binary);

    closeLink(nullptr, &ctx);
    EXPECT_EQ(ctx.linkOpen, 0);
    EXPECT_EQ(ctx.comHandle, kNoPort) << "a closed port must not be written through a reused descriptor";
    // A send after the close goes nowhere.
    ctx.txLength = 1;
    sendTx(nullptr, &ctx);
    EXPECT_EQ(receive(1), 0);
    EXPECT_EQ(ctx.rxLength, 0);
}

TEST_F(SerialLink, WaitingBytesAreReturnedAtOnceAndSurplusStaysQueued)
{
    setProtocolWaitsForTests({5000, 300});
    ASSERT_NE(openLink(nullptr, &ctx), 0);

    deviceSends("EF");
    ASSERT_TRUE(portHasInput());
    const auto started = Clock::now();
    EXPECT_EQ(receive(4), 2) << "what is waiting, without waiting for the rest";
    EXPECT_LT(Clock::now() - started, 2500ms) << "the read waited for bytes that never came";
    EXPECT_EQ(received(2), "EF");
    EXPECT_EQ(ctx.rxLength, 2);
    EXPECT_EQ(ctx.rxBuffer[2], kUntouched);

    deviceSends("EFLEFW");
    ASSERT_TRUE(portHasInput());
    std::this_thread::sleep_for(50ms);  // let all six arrive
    EXPECT_EQ(receive(3), 3);
    EXPECT_EQ(received(3), "EFL");
    EXPECT_EQ(ctx.rxBuffer[3], kUntouched);
    EXPECT_EQ(receive(3), 3);
    EXPECT_EQ(received(3), "EFW");
}

TEST_F(SerialLink, AnEmptyQueueWaitsForTheWholeReplyOrTheTimeOut)
{
    ASSERT_NE(openLink(nullptr, &ctx), 0);

    // Nothing comes: 0 after the time-out.
    auto started = Clock::now();
    EXPECT_EQ(receive(2), 0);
    EXPECT_GE(Clock::now() - started, std::chrono::milliseconds(kReceiveMs));
    EXPECT_EQ(ctx.rxLength, 0);
    EXPECT_EQ(ctx.rxBuffer[0], kUntouched);

    // A reply in pieces after the read has begun is gathered whole.
    setProtocolWaitsForTests({3000, 300});
    std::thread device([&] {
        std::this_thread::sleep_for(150ms);
        deviceSends("M");
        std::this_thread::sleep_for(30ms);
        deviceSends("\x01\x02");
        std::this_thread::sleep_for(30ms);
        deviceSends("\x03");
    });
    EXPECT_EQ(receive(4), 4);
    device.join();
    EXPECT_EQ(received(4), std::string("M\x01\x02\x03"));

    // Part of a reply, then silence: the part, after the time-out.
    setProtocolWaitsForTests({kReceiveMs, 300});
    device = std::thread([&] {
        std::this_thread::sleep_for(100ms);
        deviceSends("V\x01");
    });
    EXPECT_EQ(receive(4), 2);
    device.join();
    EXPECT_EQ(received(2), "V\x01");
    EXPECT_EQ(ctx.rxBuffer[2], kUntouched);
}

TEST_F(SerialLink, APortAlreadyHeldCannotBeOpened)
{
    ASSERT_NE(openLink(nullptr, &ctx), 0);

    UpdateContext other;
    initUpdateContext(&other);
    std::memcpy(other.comDevice, ctx.comDevice, sizeof ctx.comDevice);
    errno = 0;
    EXPECT_EQ(openLink(nullptr, &other), 0);
    EXPECT_NE(errno, 0) << "the reason is left for the error message";
    EXPECT_EQ(other.linkOpen, 0);
    EXPECT_EQ(other.comHandle, kNoPort);

    // Once released, the port opens again.
    closeLink(nullptr, &ctx);
    ASSERT_NE(openLink(nullptr, &other), 0);
    EXPECT_EQ(other.linkOpen, 1);
    closeLink(nullptr, &other);
}

TEST_F(SerialLink, APortThatCannotBeOpenedOrConfiguredFailsCleanly)
{
    std::snprintf(ctx.comDevice, sizeof ctx.comDevice, "/dev/kt58-no-such-port");
    errno = 0;
    EXPECT_EQ(openLink(nullptr, &ctx), 0);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(ctx.linkOpen, 0);
    EXPECT_EQ(ctx.comHandle, kNoPort);
    // The quit exchange after a failed open: nothing sent, nothing received.
    ctx.txBuffer[0] = 'Q';
    ctx.txLength = 1;
    sendTx(nullptr, &ctx);
    EXPECT_EQ(receive(1), 0);
    EXPECT_EQ(ctx.rxLength, 0);

    // Not a terminal: it opens but takes no line settings.
    std::snprintf(ctx.comDevice, sizeof ctx.comDevice, "/dev/null");
    errno = 0;
    EXPECT_EQ(openLink(nullptr, &ctx), 0);
    EXPECT_NE(errno, 0);
    EXPECT_EQ(ctx.linkOpen, 0);
    EXPECT_EQ(ctx.comHandle, kNoPort);

    // Without a device path the port number names /dev/ttyS<n-1>.
    ctx.comDevice[0] = '\0';
    ctx.comPort = 999;
    errno = 0;
    EXPECT_EQ(openLink(nullptr, &ctx), 0);
    EXPECT_EQ(errno, ENOENT) << "/dev/ttyS998 does not exist";
    EXPECT_EQ(ctx.linkOpen, 0);
}

TEST_F(SerialLink, AHungUpDeviceEndsTheReadAtOnce)
{
    setProtocolWaitsForTests({5000, 300});
    ASSERT_NE(openLink(nullptr, &ctx), 0);
    close(master);
    master = -1;
    const auto started = Clock::now();
    EXPECT_EQ(receive(3), 0);
    EXPECT_LT(Clock::now() - started, 2500ms) << "a hang-up must not hold the read for the time-out";
    ctx.txBuffer[0] = 'Q';
    ctx.txLength = 1;
    sendTx(nullptr, &ctx);  // goes nowhere, and must not hang
    closeLink(nullptr, &ctx);
}

} // namespace
