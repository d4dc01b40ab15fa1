#include "link.h"

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
    if (ctx->method == Serial)
        writeSerial(ctx);
    else
        sendTcp(window, ctx);
}

int receiveRx(WindowHandle window, UpdateContext* ctx)
{
    if (ctx->method == Serial)
        return readSerial(ctx);
    return receiveTcp(window, ctx);
}

void closeLink(WindowHandle window, UpdateContext* ctx)
{
    if (ctx->method == Serial)
        closeSerial(ctx);
    else
        closeTcp(window, ctx);
}
