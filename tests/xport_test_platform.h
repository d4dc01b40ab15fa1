// What the UDP channel and XPort tests need of the platform: playing the
// window thread for a worker, socket error numbers and open descriptors.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "platform_types.h"
#include "test_support.h"
#include "update_context.h"

struct HandledCommand {
    uint32_t code;
    intptr_t argument;
};

// Runs `work` on a worker thread while the calling thread plays the window:
// every command the worker posts is carried out on `view`, in order, as the
// dialog would. Returns the commands handled, in order.
std::vector<HandledCommand> runOnWorker(UpdateContext* ctx, RecordingView& view,
                                        const std::function<void(WindowHandle)>& work);

// The platform's socket error number for "address in use".
int addressInUseError();
// The error this host gives a datagram sent to the broadcast address from a
// socket not allowed to broadcast ("access denied", or "unreachable" where
// there is no route); 0 when such a send succeeds.
int broadcastSendError();

// The local address a socket is bound to (getsockname).
sockaddr_in localAddress(SocketHandle socket);

// The number of descriptors the process has open, or -1 where it cannot be counted.
int openDescriptorCount();
