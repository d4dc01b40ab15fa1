#include "udp_channel.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "cancel.h"
#include "command_channel.h"
#include "exchange_trace.h"
#include "protocol_waits.h"
#include "sockets.h"

int openUdpSocket(WindowHandle window, UpdateContext* ctx)
{
    ctx->udpSocket = socket(AF_INET, SOCK_DGRAM, 0);
    if (ctx->udpSocket == kNoSocket) {
        ctx->errorCode = ErrUdpSocketCreate;
        reportError(window, ctx);
        return 0;
    }
    return 1;
}

namespace {

// One step of the wait for a busy local port; the error of the bind that
// found it busy stays the one to report.
int pauseSlice(void*, int milliseconds)
{
    const int lastError = errno;
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    errno = lastError;
    return 1;
}

// Binds to udpLocal. Every run on this machine talks from port 10001, so a
// port found busy is tried again in short steps for udpBindRetryMs(): another
// run's exchange lets it go by then. A cancel ends the retries where it cuts waits.
bool bindLocalPort(UpdateContext* ctx)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(udpBindRetryMs());
    while (bind(ctx->udpSocket, reinterpret_cast<const sockaddr*>(&ctx->udpLocal), sizeof ctx->udpLocal) != 0) {
        if (!addressWasInUse() || std::chrono::steady_clock::now() >= deadline ||
            !waitUnlessCancelled(ctx, kUdpBindStepMs, pauseSlice, nullptr))
            return false;
    }
    return true;
}

} // namespace

int udpBindRetryMs()
{
    return protocolWaits().receiveMs + kUdpBindMarginMs;
}

int bindUdpSocket(WindowHandle window, UpdateContext* ctx)
{
    if (ctx->ipText[0] == '\0') {
        ctx->errorCode = ErrNoAddress;
        reportError(window, ctx);
        return 0;
    }
    std::memset(&ctx->udpLocal, 0, sizeof ctx->udpLocal);
    std::memset(&ctx->udpPeer, 0, sizeof ctx->udpPeer);
    ctx->udpLocal.sin_family = AF_INET;
    ctx->udpLocal.sin_port = htons(kUdpLocalPort);
    ctx->udpLocal.sin_addr.s_addr = 0;
    if (!bindLocalPort(ctx)) {
        ctx->errorCode = ErrUdpBind;
        reportError(window, ctx);
        return 0;
    }
    // ipText is kept zero-terminated by its writers; the copy makes sure of it.
    char text[kIpTextSize + 1] = {};
    std::memcpy(text, ctx->ipText, kIpTextSize);
    ctx->udpPeer.sin_family = AF_INET;
    ctx->udpPeer.sin_addr.s_addr = addressFromText(text);
    ctx->udpPeer.sin_port = htons(kXportConfigPort);
    return 1;
}

int sendUdp(WindowHandle window, UpdateContext* ctx)
{
    int length = ctx->txLength;
    if (length < 0)
        length = 0;
    if (length > kBufferSize)
        length = kBufferSize;
    const bool failed = sendto(ctx->udpSocket, reinterpret_cast<const char*>(ctx->txBuffer), length, 0,
                               reinterpret_cast<const sockaddr*>(&ctx->udpPeer), sizeof ctx->udpPeer) == -1;
    traceExchange(ctx, TraceUdpSend, ctx->txBuffer, length, length, &ctx->udpPeer, failed ? 1 : 0);
    if (failed) {
        ctx->errorCode = ErrUdpSend;
        reportError(window, ctx);
        return 0;
    }
    return 1;
}

namespace {

int waitSlice(void* socket, int milliseconds)
{
    return waitSocketReadable(*static_cast<SocketHandle*>(socket), milliseconds);
}

} // namespace

int waitUdpReadable(WindowHandle, UpdateContext* ctx, int milliseconds)
{
    return waitUnlessCancelled(ctx, milliseconds, waitSlice, &ctx->udpSocket);
}

int receiveUdp(WindowHandle window, UpdateContext* ctx)
{
    if (ctx->udpSocket == kNoSocket)
        return 0;
    // Never more than rxBuffer holds, whatever the caller left in rxLength.
    int wanted = ctx->rxLength;
    if (wanted < 0)
        wanted = 0;
    if (wanted > kBufferSize)
        wanted = kBufferSize;
    int remaining = wanted;
    int gathered = 0;
    uint8_t gathering[kUdpAreaSize] = {};
    uint8_t scratch[kUdpAreaSize];
    while (true) {
        std::memset(scratch, 0, sizeof scratch);
        // An expired wait ends the receive, whether or not part of the reply
        // has arrived: the caller judges the bytes by their count.
        if (!waitUdpReadable(window, ctx, protocolWaits().receiveMs))
            break;
        int n = receiveDatagram(ctx->udpSocket, scratch, remaining, &ctx->udpPeer);
        if (n <= 0 || n > remaining)
            break;
        std::memcpy(gathering + gathered, scratch, static_cast<size_t>(n));
        gathered += n;
        remaining -= n;
        if (gathered >= wanted)
            break;
    }
    ctx->rxLength = gathered;
    std::memcpy(ctx->rxBuffer, gathering, static_cast<size_t>(gathered));
    traceExchange(ctx, TraceUdpReceive, ctx->rxBuffer, gathered, wanted, &ctx->udpPeer, 0);
    return gathered;
}

void closeUdpSocket(WindowHandle, SocketHandle* socket)
{
    closeSocketHandle(*socket);
    *socket = kNoSocket;
}
