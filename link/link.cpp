#include "link.h"

#include "exchange_trace.h"
#include "serial_link.h"
#include "tcp_link.h"

int openLink(WindowHandle window, UpdateContext* ctx)
{
    if (ctx->method == Serial)
        return openSerial(ctx);
    return openTcp(window, ctx);
}

void sendTx(WindowHandle window, UpdateContext* ctx)
{
    int sent;
    if (ctx->method == Serial) {
        writeSerial(ctx);
        sent = ctx->linkOpen;  // a serial write is not checked; without a port nothing went
    } else {
        sent = sendTcp(window, ctx);
    }
    const int32_t length = ctx->txLength < 0 ? 0 : ctx->txLength > kBufferSize ? kBufferSize : ctx->txLength;
    traceExchange(ctx, TraceLinkSend, ctx->txBuffer, length, length, nullptr, sent ? 0 : 1);
}

int receiveRx(WindowHandle window, UpdateContext* ctx)
{
    const int32_t wanted = ctx->rxLength;
    const int received = ctx->method == Serial ? readSerial(ctx) : receiveTcp(window, ctx);
    traceExchange(ctx, TraceLinkReceive, ctx->rxBuffer, received, wanted, nullptr, 0);
    return received;
}

void closeLink(WindowHandle window, UpdateContext* ctx)
{
    if (ctx->method == Serial)
        closeSerial(ctx);
    else
        closeTcp(window, ctx);
}
