// Types whose representation differs between platforms: the POSIX side.
#pragma once

#include <netinet/in.h>

struct CommandWindow;
struct WorkerThread;

// The target of the worker's commands: the front end's command window.
using WindowHandle = CommandWindow*;
// An open serial port: a file descriptor, -1 when none.
using PortHandle = int;
// A socket: a file descriptor, -1 when none.
using SocketHandle = int;

// A run's worker thread (worker_thread_posix.cpp); null when none.
using ThreadHandle = WorkerThread*;
// Unused: each run's command window carries its own done event.
using EventHandle = void*;

// POSIX sockets need no start-up; the record keeps the context's layout.
struct SocketLibraryData {
    int started;
};

inline constexpr PortHandle kNoPort = -1;
inline constexpr SocketHandle kNoSocket = -1;
