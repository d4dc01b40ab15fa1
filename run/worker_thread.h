// The one worker thread of an update run (platform part).
#pragma once

#include "update_context.h"

// Starts runUpdate(window, ctx) on a new thread; 1 when it started.
int startWorkerThread(WindowHandle window, UpdateContext* ctx);
// 1 while the latest worker has not yet ended.
int workerRunning();
// 1 once the latest worker's final line was handled.
int workerFinishing();
// Releases a finished worker (its handle, or joins it); nothing when none.
void releaseWorkerThread();
