// The datagram channel to the XPort's configuration port: one socket per
// request/reply pair, bound to local port 10001 and aimed at ipText:30718.
#pragma once

#include "platform_types.h"
#include "update_context.h"

// A busy local port is tried again every kUdpBindStepMs for a reply wait and
// this margin: the longest another run's exchange holds it.
inline constexpr int kUdpBindMarginMs = 1000;
inline constexpr int kUdpBindStepMs = 50;
// Size of each of the receive's two working areas.
inline constexpr int kUdpAreaSize = 1400;

// Creates the datagram socket into udpSocket (-1 on failure); reports ErrUdpSocketCreate.
int openUdpSocket(WindowHandle window, UpdateContext* ctx);
// How long a bind that finds local port 10001 busy is tried again.
int udpBindRetryMs();
// Binds udpSocket to port 10001 on any address and sets udpPeer to
// ipText:30718; reports ErrNoAddress or ErrUdpBind. A busy port is tried
// again for udpBindRetryMs() before the bind fails.
int bindUdpSocket(WindowHandle window, UpdateContext* ctx);
// Sends the first txLength bytes of txBuffer to udpPeer; reports ErrUdpSend.
int sendUdp(WindowHandle window, UpdateContext* ctx);
// 1 when udpSocket has a datagram within `milliseconds`, else 0.
int waitUdpReadable(WindowHandle window, UpdateContext* ctx, int milliseconds);
// Gathers up to rxLength bytes from one or more datagrams into rxBuffer;
// stores and returns the count. udpPeer then holds the last datagram's source.
int receiveUdp(WindowHandle window, UpdateContext* ctx);
// Closes the socket in *socket (results ignored) and sets it to -1.
void closeUdpSocket(WindowHandle window, SocketHandle* socket);
