// The serial link on a pseudo-terminal pair: the test holds the master side
// and plays the device; the link opens the slave as its port.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "cancel.h"
#include "device_emulator.h"
#include "link.h"
#include "protocol_waits.h"
#include "serial_calls_posix.h"
#include "update_context.h"
#include "update_sequence.h"
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

TEST_F(SerialLink, ACancelCutsTheWaitOnlyWhileNothingIsChanged)
{
    setProtocolWaitsForTests({5000, 300});
    ASSERT_NE(openLink(nullptr, &ctx), 0);
    for (const int cut : {1, 0}) {
        SCOPED_TRACE(cut);
        setWaitsCutByCancel(&ctx, cut);
        requestCancel();
        std::thread device([&] {  // a reply that comes once the read is waiting
            std::this_thread::sleep_for(300ms);
            deviceSends("M\x01\x02\x03");
        });
        EXPECT_EQ(receive(4), cut ? 0 : 4);
        device.join();
        clearCancel();
        setWaitsCutByCancel(&ctx, 0);
        tcflush(ctx.comHandle, TCIFLUSH);
    }
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

// The settings a terminal device shows, for comparing before and after.
std::vector<uint8_t> settingsOf(int port)
{
    termios s{};
    if (tcgetattr(port, &s) != 0)
        return {};
    const speed_t speeds[] = {cfgetispeed(&s), cfgetospeed(&s)};
    std::vector<uint8_t> bytes(reinterpret_cast<const uint8_t*>(&s.c_iflag),
                               reinterpret_cast<const uint8_t*>(&s.c_line));
    bytes.insert(bytes.end(), s.c_cc, s.c_cc + NCCS);
    bytes.insert(bytes.end(), reinterpret_cast<const uint8_t*>(speeds), reinterpret_cast<const uint8_t*>(speeds + 2));
    return bytes;
}

// A port left by another program at 9600 baud, 7 bits, even parity, two stop
// bits, XON/XOFF, echo and line editing.
void leaveUnfriendly(int port)
{
    termios s{};
    ASSERT_EQ(tcgetattr(port, &s), 0);
    cfsetispeed(&s, B9600);
    cfsetospeed(&s, B9600);
    s.c_cflag = (s.c_cflag & ~static_cast<tcflag_t>(CSIZE | CRTSCTS | PARODD)) | CS7 | PARENB | CSTOPB | HUPCL;
    s.c_iflag |= IXON | IXOFF | ICRNL | ISTRIP;
    s.c_oflag |= OPOST | ONLCR;
    s.c_lflag |= ECHO | ICANON | ISIG | IEXTEN;
    s.c_cc[VMIN] = 1;
    ASSERT_EQ(tcsetattr(port, TCSANOW, &s), 0);
}

TEST(SerialUpdate, FromAnUnfriendlyPortWhoseSettingsComeBackAfterwards)
{
    setProtocolWaitsForTests({2000, 20});
    const int descriptors = openDescriptorCount();
    DeviceEmulator device;
    ASSERT_TRUE(device.startPty());
    const int other = open(device.ptyPath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(other, 0);
    leaveUnfriendly(other);
    const std::vector<uint8_t> before = settingsOf(other);

    ScratchDir scratch;
    const std::string image = sampleImage("0201", 20, 16);
    UpdateContext ctx;
    initUpdateContext(&ctx);
    ctx.method = Serial;
    std::snprintf(ctx.comDevice, sizeof ctx.comDevice, "%s", device.ptyPath().c_str());
    std::snprintf(ctx.imageChoice, sizeof ctx.imageChoice, "%s", scratch.write("image.hex", image).c_str());
    RecordingView view;
    runOnWorker(&ctx, view, [&](WindowHandle window) { runUpdate(window, &ctx); });

    EXPECT_EQ(ctx.succeeded, 1) << ::testing::PrintToString(view.events());
    EXPECT_EQ(device.memory().bytes, imageMemory(image));
    EXPECT_EQ(device.counters().strayBytes, 0);
    EXPECT_EQ(settingsOf(other), before) << "the port's own settings were not put back";
    close(other);
    device.stop();
    EXPECT_EQ(openDescriptorCount(), descriptors);
}

// The seam's stand-ins: what the link asked of the modem lines and the
// driver, the waits of its writes, and a driver that keeps settings of its own.
struct Driver {
    bool offersLowLatency;    // TIOCGSERIAL answers (a pty refuses it)
    int lowLatencyFlag;       // what TIOCGSERIAL shows of ASYNC_LOW_LATENCY
    bool refusesLowLatency;   // TIOCSSERIAL fails
};
Driver driver;
std::vector<std::string> calls;
std::vector<int> writeWaits;
void (*spoilShown)(termios&) = nullptr;
int settingsReads = 0;

int recordingControl(int port, unsigned long request, void* argument)
{
    const auto lines = [argument] {
        const int bits = *static_cast<int*>(argument);
        return std::string(bits & TIOCM_RTS ? "RTS" : "") + (bits & TIOCM_DTR ? "DTR" : "");
    };
    switch (request) {
    case TIOCMBIS: calls.push_back("+" + lines()); break;
    case TIOCMBIC: calls.push_back("-" + lines()); break;
    case TIOCEXCL: calls.push_back("exclusive"); break;
    case TIOCNXCL: calls.push_back("shared"); break;
    case TIOCGSERIAL:
        calls.push_back("get-serial");
        if (!driver.offersLowLatency)
            break;
        *static_cast<serial_struct*>(argument) = serial_struct{};
        static_cast<serial_struct*>(argument)->flags = driver.lowLatencyFlag;
        return 0;
    case TIOCSSERIAL: {
        const bool low = (static_cast<serial_struct*>(argument)->flags & ASYNC_LOW_LATENCY) != 0;
        calls.push_back(low ? "set-serial low-latency" : "set-serial");
        if (driver.refusesLowLatency) {
            errno = EPERM;
            return -1;
        }
        driver.lowLatencyFlag = low ? ASYNC_LOW_LATENCY : 0;
        return 0;
    }
    default: calls.push_back("ioctl " + std::to_string(request)); break;
    }
    return ioctl(port, request, argument);
}

// The first read is of the port's own settings; the later ones show what the
// driver kept.
int spoilingGetSettings(int port, termios* settings)
{
    const int result = tcgetattr(port, settings);
    if (result == 0 && ++settingsReads > 1 && spoilShown != nullptr)
        spoilShown(*settings);
    return result;
}

// The output is held: one refusal, a wait, then the line fails.
ssize_t heldWrite(int, const void*, size_t)
{
    errno = writeWaits.empty() ? EAGAIN : EIO;
    return -1;
}

int recordingPoll(pollfd*, nfds_t, int timeoutMs)
{
    writeWaits.push_back(timeoutMs);
    return 0;
}

class SerialSeam : public SerialLink {
protected:
    void SetUp() override
    {
        SerialLink::SetUp();
        serialCalls.control = recordingControl;
        serialCalls.getSettings = spoilingGetSettings;
        calls.clear();
        writeWaits.clear();
        spoilShown = nullptr;
        settingsReads = 0;
    }
    void TearDown() override
    {
        SerialLink::TearDown();
        serialCalls = kSystemSerialCalls;
    }
};

TEST_F(SerialSeam, ModemLinesAndLowLatencyAtOpenAndClose)
{
    using Calls = std::vector<std::string>;
    const struct {
        const char* name;
        Driver driver;
        Calls open, close;
    } rows[] = {
        {"pty", {false, 0, false}, {"exclusive", "-DTR", "get-serial", "+RTS"}, {"-RTS", "shared"}},
        {"offers low latency", {true, 0, false},
         {"exclusive", "-DTR", "get-serial", "set-serial low-latency", "+RTS"},
         {"-RTS", "get-serial", "set-serial", "shared"}},
        {"refuses low latency", {true, 0, true},
         {"exclusive", "-DTR", "get-serial", "set-serial low-latency", "+RTS"}, {"-RTS", "shared"}},
        {"already low latency", {true, ASYNC_LOW_LATENCY, false}, {"exclusive", "-DTR", "get-serial", "+RTS"},
         {"-RTS", "shared"}},
    };
    // A port left to hang the line up when it is closed.
    const int other = open(ctx.comDevice, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(other, 0);
    leaveUnfriendly(other);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        driver = row.driver;
        const int lowLatencyBefore = driver.lowLatencyFlag;
        calls.clear();
        ASSERT_NE(openLink(nullptr, &ctx), 0);
        EXPECT_EQ(calls, row.open);
        termios shown{};
        ASSERT_EQ(tcgetattr(ctx.comHandle, &shown), 0);
        EXPECT_EQ(shown.c_cflag & HUPCL, 0u) << "closing would hang the line up";
        calls.clear();
        closeLink(nullptr, &ctx);
        EXPECT_EQ(calls, row.close);
        EXPECT_EQ(driver.lowLatencyFlag, lowLatencyBefore) << "the driver's flag was not put back";
    }
    close(other);
}

TEST_F(SerialSeam, HeldOutputIsGivenUpAfterTwoMillisecondsAByte)
{
    serialCalls.write = heldWrite;
    serialCalls.poll = recordingPoll;
    ASSERT_NE(openLink(nullptr, &ctx), 0);
    ctx.txLength = 1000;
    sendTx(nullptr, &ctx);
    ASSERT_EQ(writeWaits.size(), 1u);
    EXPECT_LE(writeWaits[0], 2000);
    EXPECT_GT(writeWaits[0], 1500);
}

TEST_F(SerialSeam, APortThatKeepsSettingsOfItsOwnIsNotOpened)
{
    using Spoil = void (*)(termios&);
    const struct {
        const char* name;
        Spoil spoil;
    } rows[] = {
        {"input 9600", [](termios& s) { cfsetispeed(&s, B9600); }},
        {"output 9600", [](termios& s) { cfsetospeed(&s, B9600); }},
        {"7 bits", [](termios& s) { s.c_cflag = (s.c_cflag & ~static_cast<tcflag_t>(CSIZE)) | CS7; }},
        {"parity", [](termios& s) { s.c_cflag |= PARENB; }},
        {"two stop bits", [](termios& s) { s.c_cflag |= CSTOPB; }},
        {"no RTS/CTS", [](termios& s) { s.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS); }},
        {"echo", [](termios& s) { s.c_lflag |= ECHO; }},
        {"XON/XOFF", [](termios& s) { s.c_iflag |= IXON; }},
    };
    const int other = open(ctx.comDevice, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(other, 0);
    leaveUnfriendly(other);
    const std::vector<uint8_t> before = settingsOf(other);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        spoilShown = row.spoil;
        settingsReads = 0;
        errno = 0;
        EXPECT_EQ(openLink(nullptr, &ctx), 0);
        EXPECT_EQ(errno, ENOTSUP);
        EXPECT_EQ(ctx.linkOpen, 0);
        EXPECT_EQ(ctx.comHandle, kNoPort);
        EXPECT_EQ(settingsOf(other), before);
    }
    close(other);
}

} // namespace
