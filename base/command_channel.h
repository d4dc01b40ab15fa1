// The worker's side of the command channel: every command is posted to the
// window and the worker waits until the window has carried it out.
#pragma once

#include <cstdint>

#include "platform_types.h"

// The private window message that carries a command (WM_APP + 1).
inline constexpr unsigned kUpdateCommandMessage = 0x8001;

enum CommandCode : uint32_t {
    CmdConfirm = 2,
    CmdStatus = 3,
    CmdDeviceVersion = 5,
    CmdImageVersion = 6,
    CmdEnableControls = 7,
    CmdProgressRange = 8,
    CmdProgressStep = 9,
    CmdProgressReset = 10,
    CmdResult = 11,
    CmdError = 14,
    CmdFinished = 15,
};

// Posts one command and returns once the window has handled it.
void postCommand(WindowHandle window, uint32_t code, intptr_t argument);
// Shows the status line for statusCode; the caller stores the code first.
void reportStatus(WindowHandle window);
// Shows the message box for errorCode with the thread's last socket error;
// the caller stores the code first.
void reportError(WindowHandle window);

// Window side: releases the worker waiting for the command just handled
// (sets commandDone).
void signalCommandDone(WindowHandle window);

// Window side: the run's final line was handled; its worker ends right after.
void noteFinalLineHandled();
// Worker side, at the start of a run: no final line handled yet.
void clearFinalLineHandled();
// 1 once the current run's final line was handled.
int finalLineHandled();

// Window side, at exit: releases the channel's event.
void closeCommandChannel(WindowHandle window);

// The calling thread's last socket error number (WSAGetLastError, errno).
int lastSocketError();
