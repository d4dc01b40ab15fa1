// A hook that sees every exchange of a run with the device and the XPort:
// each request as it went out and each reply as it came in, on the device
// link and on the UDP configuration channel. A front end puts it in the run's
// hooks (the console's --trace); the dialog gives none.
#pragma once

#include <cstdint>

#include "platform_types.h"

struct UpdateContext;

enum TraceDirection : int32_t {
    TraceLinkSend = 0,     // a request handed to the device link
    TraceLinkReceive = 1,  // what a receive on the device link delivered
    TraceUdpSend = 2,      // a datagram to the XPort's configuration port
    TraceUdpReceive = 3,   // what a UDP receive gathered
};

struct TraceRecord {
    int32_t direction;         // TraceDirection
    const uint8_t* bytes;      // the bytes sent or received
    int32_t length;            // their number
    int32_t wanted;            // receives: the number asked for; sends: length
    const sockaddr_in* peer;   // UDP: the datagram's destination or last source; null on the link
    int32_t failed;            // 1 when the send was refused by the socket layer
};

using TraceHook = void (*)(void* context, const TraceRecord& record);

// Hands one exchange to the run's trace hook, if it has one (worker thread).
void traceExchange(const UpdateContext* ctx, int32_t direction, const uint8_t* bytes, int32_t length, int32_t wanted,
                   const sockaddr_in* peer, int32_t failed);
