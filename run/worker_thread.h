// The worker thread of one update run (platform part); its handle is kept in
// the run's record, so each record has at most one worker at a time.
#pragma once

#include "update_context.h"

// Starts runUpdate(window, ctx) on a new thread; 1 when it started.
int startWorkerThread(WindowHandle window, UpdateContext* ctx);
// 1 while the run's latest worker has not yet ended.
int workerRunning(const UpdateContext* ctx);
// 1 once the run's final line was handled.
int workerFinishing(const UpdateContext* ctx);
// Releases the run's finished worker (its handle, or joins it); nothing when none.
void releaseWorkerThread(UpdateContext* ctx);
