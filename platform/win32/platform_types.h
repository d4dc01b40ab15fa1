// Types whose representation differs between platforms: the Win32 side.
#pragma once

#include <winsock2.h>
#include <windows.h>

// The target of the worker's commands: the main dialog.
using WindowHandle = HWND;
// An open COM port.
using PortHandle = HANDLE;
// A Winsock socket; INVALID_SOCKET is the all-ones value, -1 as a signed number.
using SocketHandle = SOCKET;
// A run's worker thread; null when none.
using ThreadHandle = HANDLE;
// The manual-reset event of a run's command channel; null when none.
using EventHandle = HANDLE;
// Filled by WSAStartup.
using SocketLibraryData = WSADATA;

inline const PortHandle kNoPort = INVALID_HANDLE_VALUE;
inline constexpr SocketHandle kNoSocket = INVALID_SOCKET;
