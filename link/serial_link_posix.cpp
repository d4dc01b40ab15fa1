#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>

#ifdef __linux__
#include <linux/serial.h>
#endif

#include "cancel.h"
#include "protocol_waits.h"
#include "serial_calls_posix.h"
#include "serial_link.h"

namespace {

int systemControl(int port, unsigned long request, void* argument)
{
    return ioctl(port, request, argument);
}

int systemPoll(pollfd* entries, nfds_t count, int timeoutMs)
{
    return poll(entries, count, timeoutMs);
}

// What the open changed on a port, put back before it is closed: one slot
// per open port (a fleet opens several at once). A slot is claimed, filled,
// then published with its port; a signal handler reads the published ones,
// whose settings stay unchanged while they are.
constexpr int kClaimed = -2;
constexpr int kMostOpenPorts = 64;
struct PortOriginal {
    std::atomic<int> port{kNoPort};
    termios settings{};
    bool lowLatencySet = false;  // the opening thread's own
};
static_assert(ATOMIC_INT_LOCK_FREE == 2, "a signal handler reads the published ports");
PortOriginal originals[kMostOpenPorts];

// A free slot, claimed; null when every slot is taken.
PortOriginal* claimOriginal()
{
    for (PortOriginal& slot : originals) {
        int free = kNoPort;
        if (slot.port.compare_exchange_strong(free, kClaimed))
            return &slot;
    }
    return nullptr;
}

PortOriginal* originalOf(int port)
{
    for (PortOriginal& slot : originals)
        if (slot.port.load() == port)
            return &slot;
    return nullptr;
}

// The errno of a port that takes the line settings without error but does
// not show them when read back.
constexpr int kSettingsRefused = ENOTSUP;

using Clock = std::chrono::steady_clock;

int clampedLength(int32_t length)
{
    if (length < 0)
        return 0;
    return length > kBufferSize ? kBufferSize : static_cast<int>(length);
}

// Milliseconds left until `deadline`, 0 once it has passed.
int millisecondsUntil(Clock::time_point deadline)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

int setModemLine(int port, unsigned long request, int line)
{
    return serialCalls.control(port, request, &line);
}

// Asks the driver to hand each short reply on at once, rather than after its
// latency timer (USB serial adapters); a driver without the setting, such as
// a pseudo-terminal, refuses and nothing changes. True when it was set here.
#ifdef __linux__
bool requestLowLatency(int port)
{
    serial_struct serial{};
    if (serialCalls.control(port, TIOCGSERIAL, &serial) != 0 || (serial.flags & ASYNC_LOW_LATENCY) != 0)
        return false;
    serial.flags |= ASYNC_LOW_LATENCY;
    return serialCalls.control(port, TIOCSSERIAL, &serial) == 0;
}

void releaseLowLatency(int port)
{
    serial_struct serial{};
    if (serialCalls.control(port, TIOCGSERIAL, &serial) != 0)
        return;
    serial.flags &= ~ASYNC_LOW_LATENCY;
    serialCalls.control(port, TIOCSSERIAL, &serial);
}
#else
bool requestLowLatency(int) { return false; }
void releaseLowLatency(int) {}
#endif

// Whether `s` holds what the link needs: 115200 baud both ways, 8N1, RTS/CTS
// and a raw line with reads that return at once.
bool showsLineSettings(const termios& s)
{
    const tcflag_t rawInput = IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY;
    const tcflag_t rawLocal = ECHO | ECHONL | ICANON | ISIG | IEXTEN;
    return cfgetispeed(&s) == B115200 && cfgetospeed(&s) == B115200 && (s.c_cflag & CSIZE) == CS8 &&
           (s.c_cflag & (PARENB | CSTOPB)) == 0 && (s.c_cflag & (CRTSCTS | CREAD)) == (CRTSCTS | CREAD) &&
           (s.c_iflag & rawInput) == 0 && (s.c_oflag & OPOST) == 0 && (s.c_lflag & rawLocal) == 0 &&
           s.c_cc[VMIN] == 0 && s.c_cc[VTIME] == 0;
}

// One slice of a wait for reply bytes; 1 when the port is readable or hung up.
int waitSlice(void* arg, int sliceMs)
{
    auto* entry = static_cast<pollfd*>(arg);
    const auto deadline = Clock::now() + std::chrono::milliseconds(sliceMs);
    for (;;) {
        entry->revents = 0;
        const int ready = poll(entry, 1, millisecondsUntil(deadline));
        if (ready > 0)
            return 1;
        if (ready == 0 || errno != EINTR)
            return 0;
    }
}

// Puts back what the open changed on `port`, if it is the port it changed.
void restorePort(int port)
{
    PortOriginal* original = port >= 0 ? originalOf(port) : nullptr;
    if (original == nullptr)
        return;
    original->port.store(kClaimed);
    if (original->lowLatencySet)
        releaseLowLatency(port);
    tcsetattr(port, TCSANOW, &original->settings);
    original->lowLatencySet = false;
    original->port.store(kNoPort);
}

// Closes `port` without disturbing the errno that explains the failure.
void closeKeepingErrno(int port)
{
    const int saved = errno;
    restorePort(port);
    close(port);
    errno = saved;
}

} // namespace

const SerialCalls kSystemSerialCalls = {systemControl, tcgetattr, write, systemPoll};
SerialCalls serialCalls = kSystemSerialCalls;

int openSerial(UpdateContext* ctx)
{
    char path[kPathSize + 1] = {};
    if (ctx->comDevice[0] != '\0')
        std::snprintf(path, sizeof path, "%.*s", kPathSize, ctx->comDevice);
    else
        std::snprintf(path, sizeof path, "/dev/ttyS%ld", static_cast<long>(ctx->comPort) - 1);

    // Non-blocking: the open must not wait for carrier, and the write below
    // keeps its own time limit.
    const int port = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ctx->comHandle = kNoPort;
    if (port < 0)
        return 0;
    // The port is ours alone: the lock keeps out every program that locks
    // (this one included, whatever its rights), TIOCEXCL every other opener.
    if (flock(port, LOCK_EX | LOCK_NB) != 0 || serialCalls.control(port, TIOCEXCL, nullptr) != 0) {
        closeKeepingErrno(port);
        return 0;
    }
    // The port's own settings, put back before it is closed.
    PortOriginal* original = claimOriginal();
    if (original == nullptr) {
        errno = EMFILE;
        closeKeepingErrno(port);
        return 0;
    }
    if (serialCalls.getSettings(port, &original->settings) != 0) {
        original->port.store(kNoPort);
        closeKeepingErrno(port);
        return 0;
    }
    original->lowLatencySet = false;
    original->port.store(port);
    tcflush(port, TCIOFLUSH);
    const int result = configureSerial(port);
    if (result == 0) {
        ctx->linkOpen = 0;
        closeKeepingErrno(port);
        return 0;
    }
    ctx->comHandle = port;
    ctx->linkOpen = 1;
    // The line settings have DTR disabled; the open raised it.
    setModemLine(port, TIOCMBIC, TIOCM_DTR);
    original->lowLatencySet = requestLowLatency(port);
    setModemLine(port, TIOCMBIS, TIOCM_RTS);
    return result;
}

int configureSerial(PortHandle port)
{
    termios settings{};
    if (serialCalls.getSettings(port, &settings) != 0)
        return 0;
    cfmakeraw(&settings);
    cfsetispeed(&settings, B115200);
    cfsetospeed(&settings, B115200);
    // No hang-up on close: DTR stays as the link leaves it.
    settings.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | HUPCL);
    settings.c_cflag |= CS8 | CREAD | CLOCAL | CRTSCTS;
    settings.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    // Reads return at once with what is waiting; readSerial does the waiting.
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    if (tcsetattr(port, TCSANOW, &settings) != 0)
        return 0;
    // A driver may take the settings without error yet keep some of its own.
    termios shown{};
    if (serialCalls.getSettings(port, &shown) != 0 || !showsLineSettings(shown)) {
        errno = kSettingsRefused;
        return 0;
    }
    return 1;
}

void writeSerial(UpdateContext* ctx)
{
    const int port = ctx->comHandle;
    if (port == kNoPort)
        return;
    const int length = clampedLength(ctx->txLength);
    const auto deadline = Clock::now() + std::chrono::milliseconds(2 * length);
    int written = 0;
    while (written < length) {
        const ssize_t n = serialCalls.write(port, ctx->txBuffer + written, static_cast<size_t>(length - written));
        if (n > 0) {
            written += static_cast<int>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            ctx->run.facts.linkError = errno;
            return;
        }
        // The output is held (handshake or full queue): wait for room, in time.
        const int left = millisecondsUntil(deadline);
        if (left == 0)
            return;
        pollfd entry{port, POLLOUT, 0};
        serialCalls.poll(&entry, 1, left);
    }
}

int readSerial(UpdateContext* ctx)
{
    const int port = ctx->comHandle;
    const int wanted = clampedLength(ctx->rxLength);
    int count = 0;
    if (port != kNoPort && wanted > 0) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(protocolWaits().receiveMs);
        // Bytes already waiting are returned at once; otherwise wait for all
        // that are wanted, up to the time-out.
        ssize_t n = read(port, ctx->rxBuffer, static_cast<size_t>(wanted));
        if (n > 0) {
            count = static_cast<int>(n);
        } else if (n == 0 || errno == EAGAIN || errno == EINTR) {
            while (count < wanted) {
                const int left = millisecondsUntil(deadline);
                if (left == 0)
                    break;
                // Cut short by a cancel while nothing has been changed, as the TCP link's wait.
                pollfd entry{port, POLLIN, 0};
                if (waitUnlessCancelled(ctx, left, waitSlice, &entry) == 0)
                    break;
                n = read(port, ctx->rxBuffer + count, static_cast<size_t>(wanted - count));
                if (n > 0)
                    count += static_cast<int>(n);
                else if (n < 0 ? errno != EAGAIN && errno != EINTR : (entry.revents & (POLLHUP | POLLERR)) != 0) {
                    // The line failed or hung up: nothing more will come.
                    ctx->run.facts.linkClosed = 1;
                    ctx->run.facts.linkError = n < 0 ? errno : 0;
                    break;
                }
            }
        }
    }
    ctx->rxLength = count;
    return count;
}

void putBackSerialSettingsAtOnce()
{
    for (const PortOriginal& slot : originals) {
        const int port = slot.port.load();
        if (port >= 0)
            tcsetattr(port, TCSANOW, &slot.settings);
    }
}

void closeSerial(UpdateContext* ctx)
{
    ctx->linkOpen = 0;
    const int port = ctx->comHandle;
    if (port == kNoPort)
        return;
    setModemLine(port, TIOCMBIC, TIOCM_RTS);
    tcflush(port, TCIOFLUSH);
    restorePort(port);
    // Let the next opener in; the lock goes with the descriptor.
    serialCalls.control(port, TIOCNXCL, nullptr);
    close(port);
    // A later write must not reach whatever reuses the descriptor number.
    ctx->comHandle = kNoPort;
}
