// The thin socket layer under the TCP link and the UDP channel: what differs
// between Winsock and POSIX sockets, and nothing else. The shared code calls
// socket(), bind() and sendto() itself.
#pragma once

#include <cstdint>

#include "platform_types.h"

// Starts the socket library (Winsock 2.0); 1 when ready. Nothing to do on POSIX.
int startSocketLibrary(SocketLibraryData* data);
// Ends the use of the socket library.
void stopSocketLibrary();

// Shuts both directions down and closes the socket; results are ignored.
void closeSocketHandle(SocketHandle socket);

// A connect in non-blocking mode, so that its wait can be cut short. Starts
// it: 1 when connected at once, 0 when under way, -1 when it failed (the
// connect's error is then the last socket error).
int startConnect(SocketHandle socket, const sockaddr_in* peer);
// Waits up to `milliseconds` for a connect under way: 1 connected, 0 still
// under way, -1 failed (its error is then the last socket error).
int waitConnected(SocketHandle socket, int milliseconds);
// Puts the socket back in blocking mode; the last socket error is kept.
void endConnect(SocketHandle socket);
// Makes "interrupted" the last socket error: the error of a connect cut short.
void setInterruptedError();

// 1 when the last socket error says that the address is in use.
int addressWasInUse();
// 1 when the last socket error says that the peer reset the connection.
int connectionWasReset();

// 1 when the socket has something to read within `milliseconds`, 0 on a
// time-out or a failed wait.
int waitSocketReadable(SocketHandle socket, int milliseconds);

// One send of `length` bytes; the count sent, or -1 on failure. A peer that
// has gone never raises a signal.
int sendOnSocket(SocketHandle socket, const uint8_t* data, int length);
// One receive of at most `length` bytes; the count, 0 when the peer closed, -1 on failure.
int receiveFromSocket(SocketHandle socket, uint8_t* buffer, int length);

// One datagram of at most `length` bytes and its source address; the count,
// or -1 on failure and for a datagram longer than `length` (whose excess is dropped).
int receiveDatagram(SocketHandle socket, uint8_t* buffer, int length, sockaddr_in* source);

// inet_addr: the dotted IPv4 text as an address in network order, taken
// without a check (all ones when the text does not convert).
uint32_t addressFromText(const char* text);
