#include <windows.h>
#include <process.h>

#include <atomic>

#include "command_channel.h"
#include "update_sequence.h"
#include "worker_thread.h"

namespace {

// The start arguments; one worker at a time, so one record serves.
struct WorkerStart {
    WindowHandle window;
    UpdateContext* ctx;
} workerStart;


unsigned __stdcall workerMain(void* argument)
{
    auto* start = static_cast<WorkerStart*>(argument);
    return static_cast<unsigned>(runUpdate(start->window, start->ctx));
}

} // namespace

// The handle of the most recently started worker.
HANDLE workerThread = nullptr;

int startWorkerThread(WindowHandle window, UpdateContext* ctx)
{
    workerStart = {window, ctx};
    clearFinalLineHandled();
    workerThread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, workerMain, &workerStart, 0, nullptr));
    return workerThread != nullptr ? 1 : 0;
}

int workerRunning()
{
    return workerThread != nullptr && WaitForSingleObject(workerThread, 0) == WAIT_TIMEOUT ? 1 : 0;
}

int workerFinishing()
{
    return finalLineHandled();
}

void releaseWorkerThread()
{
    if (workerThread == nullptr)
        return;
    WaitForSingleObject(workerThread, INFINITE);
    CloseHandle(workerThread);
    workerThread = nullptr;
}
