#include "update_context.h"

#include <cstring>

UpdateContext updateContext;

void initUpdateContext(UpdateContext* ctx)
{
    std::memset(ctx, 0, sizeof *ctx);
    ctx->method = Serial;
    ctx->comHandle = kNoPort;
    ctx->comPort = 1;
    ctx->tcpSocket = kNoSocket;
    ctx->udpSocket = kNoSocket;
    ctx->tcpPort = kDefaultTcpPort;
}
