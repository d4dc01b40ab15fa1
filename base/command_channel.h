// The worker's side of the command channel: every command is posted to the
// window and the worker waits until the window has carried it out.
#pragma once

#include <cstdint>

#include "platform_types.h"

struct UpdateContext;

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

// Each run has its own channel: its window and the done event in its record.

// Posts one command of the run and returns once the window has handled it.
void postCommand(WindowHandle window, UpdateContext* ctx, uint32_t code, intptr_t argument);
// A progress step the run's hooks take themselves (progressStep): 1 when
// handed over, so that postCommand need not wait for the window; else 0.
int stepWithoutWaiting(UpdateContext* ctx, uint32_t code, intptr_t argument);
// Shows the status line for statusCode; the caller stores the code first.
void reportStatus(WindowHandle window, UpdateContext* ctx);
// Shows the message box for errorCode with the thread's last socket error;
// the caller stores the code first.
void reportError(WindowHandle window, UpdateContext* ctx);

// Window side: releases the run's worker waiting for the command just
// handled (sets commandDone).
void signalCommandDone(WindowHandle window, UpdateContext* ctx);

// Window side: the run's final line was handled; its worker ends right after.
void noteFinalLineHandled(UpdateContext* ctx);
// Window side, as a worker starts: no final line handled yet.
void clearFinalLineHandled(UpdateContext* ctx);
// 1 once the run's final line was handled.
int finalLineHandled(const UpdateContext* ctx);

// Window side, at exit: releases the run's event.
void closeCommandChannel(WindowHandle window, UpdateContext* ctx);

// The calling thread's last socket error number (WSAGetLastError, errno).
int lastSocketError();
