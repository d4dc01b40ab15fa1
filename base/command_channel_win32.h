// The Win32 command channel's event, shared by the worker and the dialog.
#pragma once

#include <windows.h>

// The manual-reset event of this process alone: set by the window after each
// command, reset by the worker.
extern HANDLE commandDone;

// Creates commandDone as the window does at initialisation; null when it
// cannot be created, and then no run may start.
HANDLE createCommandDone();
