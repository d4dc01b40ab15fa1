#include "tcp_link.h"

#include <cstring>

#include "cancel.h"
#include "command_channel.h"
#include "protocol_waits.h"
#include "sockets.h"

namespace {

// The receive's working store: the most a receive may gather.
constexpr int kGatherSize = 1400;

int clampedLength(int32_t length, int most)
{
    if (length < 0)
        return 0;
    return length > most ? most : static_cast<int>(length);
}

int waitSlice(void* socket, int milliseconds)
{
    return waitSocketReadable(*static_cast<SocketHandle*>(socket), milliseconds);
}

// The steps in which a connect under way looks for a cancel.
constexpr int kConnectSliceMs = 50;

// Connects the socket, waiting as long as the system tries unless a cancel
// comes first; a cut connect fails as "interrupted". 1 when connected.
int connectUnlessCancelled(SocketHandle socket, const sockaddr_in* peer)
{
    int state = startConnect(socket, peer);
    while (state == 0) {
        if (cancelRequested()) {
            setInterruptedError();
            state = -1;
            break;
        }
        state = waitConnected(socket, kConnectSliceMs);
    }
    endConnect(socket);
    return state == 1 ? 1 : 0;
}

} // namespace

int startWinsock(SocketLibraryData* data)
{
    return startSocketLibrary(data);
}

int connectTcp(WindowHandle window, UpdateContext* ctx)
{
    if (ctx->ipText[0] == '\0') {
        ctx->errorCode = ErrNoAddress;
        return 0;
    }
    if (ctx->tcpPort == 0) {
        ctx->errorCode = ErrNoPort;
        return 0;
    }

    // The address text, terminated even when the field is full.
    char address[kIpTextSize + 1] = {};
    std::memcpy(address, ctx->ipText, kIpTextSize);
    std::memset(&ctx->tcpPeer, 0, sizeof ctx->tcpPeer);
    ctx->tcpPeer.sin_family = AF_INET;
    ctx->tcpPeer.sin_port = htons(static_cast<uint16_t>(static_cast<uint32_t>(ctx->tcpPort) & 0xFFFFu));
    ctx->tcpPeer.sin_addr.s_addr = addressFromText(address);

    ctx->tcpSocket = kNoSocket;
    ctx->tcpSocket = socket(AF_INET, SOCK_STREAM, 0);
    if (ctx->tcpSocket == kNoSocket) {
        ctx->errorCode = ErrSocketCreate;
        reportError(window, ctx);
        return 0;
    }
    if (!connectUnlessCancelled(ctx->tcpSocket, &ctx->tcpPeer)) {
        // Report first: the message carries the connect's own error number.
        ctx->errorCode = ErrConnect;
        reportError(window, ctx);
        // No half-made link is kept: the quit exchange that follows then
        // sends nothing instead of failing on an unconnected socket.
        closeTcpSocket(&ctx->tcpSocket);
        return 0;
    }
    return 1;
}

int openTcp(WindowHandle window, UpdateContext* ctx)
{
    const int result = connectTcp(window, ctx);
    ctx->linkOpen = result != 0 ? 1 : 0;
    return result;
}

int sendTcp(WindowHandle window, UpdateContext* ctx)
{
    if (ctx->tcpSocket == kNoSocket)
        return 0;
    const int length = clampedLength(ctx->txLength, kBufferSize);
    // A blocking send normally takes everything at once; a short one goes on.
    for (int sent = 0; sent < length;) {
        const int n = sendOnSocket(ctx->tcpSocket, ctx->txBuffer + sent, length - sent);
        if (n < 0) {
            ctx->run.facts.linkError = lastSocketError();
            ctx->errorCode = ErrSend;
            reportError(window, ctx);
            return 0;
        }
        if (n == 0)
            break;
        sent += n;
    }
    return 1;
}

int waitTcpReadable(UpdateContext* ctx, int milliseconds)
{
    return waitUnlessCancelled(ctx, milliseconds, waitSlice, &ctx->tcpSocket);
}

int receiveTcp(WindowHandle, UpdateContext* ctx)
{
    if (ctx->tcpSocket == kNoSocket)
        return 0;
    const int wanted = clampedLength(ctx->rxLength, kBufferSize);
    uint8_t gathered[kGatherSize] = {};
    int count = 0;
    while (count < wanted) {
        // A wait that passes without data ends the receive, also after part
        // of the reply: the caller judges what arrived.
        if (waitTcpReadable(ctx, protocolWaits().receiveMs) == 0)
            break;
        // Never more than is still missing: a longer reply's rest stays queued.
        const int n = receiveFromSocket(ctx->tcpSocket, gathered + count, wanted - count);
        if (n <= 0) {
            // The peer closed the connection, or the socket failed.
            ctx->run.facts.linkClosed = 1;
            ctx->run.facts.linkError = n < 0 ? lastSocketError() : 0;
            break;
        }
        count += n;
    }
    ctx->rxLength = count;
    std::memcpy(ctx->rxBuffer, gathered, static_cast<size_t>(count));
    return count;
}

void closeTcp(WindowHandle, UpdateContext* ctx)
{
    ctx->linkOpen = 0;
    closeTcpSocket(&ctx->tcpSocket);
}

void closeTcpSocket(SocketHandle* socket)
{
    if (*socket == kNoSocket)
        return;
    closeSocketHandle(*socket);
    *socket = kNoSocket;
}
