// Types whose representation differs between platforms: the POSIX side.
#pragma once

#include <netinet/in.h>

struct CommandWindow;

// The target of the worker's commands: the front end's command window.
using WindowHandle = CommandWindow*;
// An open serial port: a file descriptor, -1 when none.
using PortHandle = int;
// A socket: a file descriptor, -1 when none.
using SocketHandle = int;

// POSIX sockets need no start-up; the record keeps the context's layout.
struct SocketLibraryData {
    int started;
};

inline constexpr PortHandle kNoPort = -1;
inline constexpr SocketHandle kNoSocket = -1;
