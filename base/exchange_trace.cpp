#include "exchange_trace.h"

namespace {
TraceHook traceHook = nullptr;
void* traceContext = nullptr;
} // namespace

void setTraceHook(TraceHook hook, void* context)
{
    traceHook = hook;
    traceContext = context;
}

void traceExchange(int32_t direction, const uint8_t* bytes, int32_t length, int32_t wanted,
                   const sockaddr_in* peer, int32_t failed)
{
    if (traceHook == nullptr)
        return;
    if (length < 0)
        length = 0;
    traceHook(traceContext, TraceRecord{direction, bytes, length, wanted, peer, failed});
}
