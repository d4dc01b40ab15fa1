#include "exchange_trace.h"

#include "run_hooks.h"
#include "update_context.h"

void traceExchange(const UpdateContext* ctx, int32_t direction, const uint8_t* bytes, int32_t length, int32_t wanted,
                   const sockaddr_in* peer, int32_t failed)
{
    const RunHooks* hooks = ctx->hooks;
    if (hooks == nullptr || hooks->trace == nullptr)
        return;
    if (length < 0)
        length = 0;
    hooks->trace(hooks->traceContext, TraceRecord{direction, bytes, length, wanted, peer, failed});
}
