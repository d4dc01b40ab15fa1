// The Win32 command channel's event, shared by the worker and the dialog.
#pragma once

#include <windows.h>

// The manual-reset event "EventObject": set by the window after each command,
// reset by the worker.
extern HANDLE commandDone;

// Creates commandDone as the window does at initialisation.
HANDLE createCommandDone();
