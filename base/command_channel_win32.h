// The Win32 command channel's event, one per run, in the run's record.
#pragma once

#include <windows.h>

struct UpdateContext;

// Creates the run's manual-reset event (ctx->run.commandDone), unnamed, as the
// window does at initialisation: set by the window after each command, reset
// by the worker. Null when it cannot be created, and then no run may start.
HANDLE createCommandDone(UpdateContext* ctx);
