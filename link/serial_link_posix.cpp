#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>

#include "protocol_waits.h"
#include "serial_link.h"

namespace {

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

// Closes `port` without disturbing the errno that explains the failure.
void closeKeepingErrno(int port)
{
    const int saved = errno;
    close(port);
    errno = saved;
}

} // namespace

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
    if (flock(port, LOCK_EX | LOCK_NB) != 0 || ioctl(port, TIOCEXCL) != 0) {
        closeKeepingErrno(port);
        return 0;
    }
    tcflush(port, TCIOFLUSH);
    const int result = configureSerial(port);
    if (result == 0) {
        ctx->linkOpen = 0;
        closeKeepingErrno(port);
        return 0;
    }
    ctx->comHandle = port;
    ctx->linkOpen = 1;
    int rts = TIOCM_RTS;
    ioctl(port, TIOCMBIS, &rts);
    return result;
}

int configureSerial(PortHandle port)
{
    termios settings{};
    if (tcgetattr(port, &settings) != 0)
        return 0;
    cfmakeraw(&settings);
    cfsetispeed(&settings, B115200);
    cfsetospeed(&settings, B115200);
    settings.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB);
    settings.c_cflag |= CS8 | CREAD | CLOCAL | CRTSCTS;
    settings.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    // Reads return at once with what is waiting; readSerial does the waiting.
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    return tcsetattr(port, TCSANOW, &settings) == 0 ? 1 : 0;
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
        const ssize_t n = write(port, ctx->txBuffer + written, static_cast<size_t>(length - written));
        if (n > 0) {
            written += static_cast<int>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return;
        // The output is held (handshake or full queue): wait for room, in time.
        const int left = millisecondsUntil(deadline);
        if (left == 0)
            return;
        pollfd entry{port, POLLOUT, 0};
        poll(&entry, 1, left);
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
                pollfd entry{port, POLLIN, 0};
                const int ready = poll(&entry, 1, left);
                if (ready < 0 && errno != EINTR)
                    break;
                if (ready <= 0)
                    continue;
                n = read(port, ctx->rxBuffer + count, static_cast<size_t>(wanted - count));
                if (n > 0)
                    count += static_cast<int>(n);
                else if (n < 0 ? errno != EAGAIN && errno != EINTR : (entry.revents & (POLLHUP | POLLERR)) != 0)
                    break;  // the line failed or hung up: nothing more will come
            }
        }
    }
    ctx->rxLength = count;
    return count;
}

void closeSerial(UpdateContext* ctx)
{
    ctx->linkOpen = 0;
    const int port = ctx->comHandle;
    if (port == kNoPort)
        return;
    int rts = TIOCM_RTS;
    ioctl(port, TIOCMBIC, &rts);
    tcflush(port, TCIOFLUSH);
    // Let the next opener in; the lock goes with the descriptor.
    ioctl(port, TIOCNXCL);
    close(port);
    // A later write must not reach whatever reuses the descriptor number.
    ctx->comHandle = kNoPort;
}
