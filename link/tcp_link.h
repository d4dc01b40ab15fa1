// The TCP link to the XPort's data port: blocking stream socket, replies
// gathered from as many pieces as arrive.
#pragma once

#include "update_context.h"

// Starts the socket library (Winsock 2.0); 1 when ready, 0 when not.
int startWinsock(SocketLibraryData* data);

// Connects tcpSocket to ipText:tcpPort (the port's low 16 bits); 1 when
// connected. Reports ErrSocketCreate and ErrConnect; a failed connection
// leaves no socket behind (tcpSocket -1). The connect waits as long as the
// system tries, unless a cancel request comes first: that fails it as
// interrupted.
int connectTcp(WindowHandle window, UpdateContext* ctx);
// connectTcp, with linkOpen set to match its result.
int openTcp(WindowHandle window, UpdateContext* ctx);
// Sends the first txLength bytes of txBuffer; 1 when sent. Reports ErrSend.
// Without a socket nothing is sent and nothing reported.
int sendTcp(WindowHandle window, UpdateContext* ctx);
// 1 when tcpSocket has something to read within `milliseconds`.
int waitTcpReadable(UpdateContext* ctx, int milliseconds);
// Gathers up to rxLength bytes into rxBuffer; the count, also in rxLength.
// Ends when all have arrived, when the peer closes or fails, or when a wait
// of protocolWaits().receiveMs passes without data. Surplus stays queued.
int receiveTcp(WindowHandle window, UpdateContext* ctx);
// Clears linkOpen and closes tcpSocket.
void closeTcp(WindowHandle window, UpdateContext* ctx);
// Shuts down and closes the socket in `socket`, if any, and sets it to -1.
void closeTcpSocket(SocketHandle* socket);
