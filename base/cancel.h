// A request to stop a run early. A front end makes it from any thread or from
// a signal handler; the worker looks at it at the points where stopping is
// safe: before the erase it counts as the user's No, during the write it ends
// the write after the record in flight. A switched XPort is always put back.
#pragma once

struct UpdateContext;

// One request for the whole process. Async-signal-safe: one store to a lock-free atomic.
void requestCancel();
// 1 once a cancel was requested since the last clearCancel.
int cancelRequested();
// Forgets a request. A front end does it where its runs need it; starting a
// run never does, so that it cannot undo another run's request.
void clearCancel();

// Whether a cancel request cuts the run's receive waits short. On while
// nothing has been changed yet (before the XPort's put and the erase), off
// where a reply must be awaited: the put, the write, the quit, the restore.
// Kept in the run's record (worker thread).
void setWaitsCutByCancel(UpdateContext* ctx, int on);

// Runs waitSlice(arg, ms) over `milliseconds`, in short slices while the run's
// waits are cut by a cancel. Returns 1 as soon as a slice returns non-zero; 0
// when the time passed, a slice failed at once, or a cancel cut the wait short.
int waitUnlessCancelled(const UpdateContext* ctx, int milliseconds, int (*waitSlice)(void* arg, int sliceMs),
                        void* arg);

// Sleeps `milliseconds` in short slices; a cancel request ends the sleep early.
// 1 when the whole time passed.
int sleepUnlessCancelled(int milliseconds);
