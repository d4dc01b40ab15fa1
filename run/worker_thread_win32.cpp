#include <windows.h>
#include <process.h>

#include <atomic>

#include "update_sequence.h"
#include "worker_thread.h"

namespace {

// The start arguments; one worker at a time, so one record serves.
struct WorkerStart {
    WindowHandle window;
    UpdateContext* ctx;
} workerStart;

std::atomic<bool> finalLineHandled{false};

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
    finalLineHandled = false;
    workerThread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, workerMain, &workerStart, 0, nullptr));
    return workerThread != nullptr ? 1 : 0;
}

int workerRunning()
{
    return workerThread != nullptr && WaitForSingleObject(workerThread, 0) == WAIT_TIMEOUT ? 1 : 0;
}

void noteFinalLineHandled()
{
    finalLineHandled = true;
}

int workerFinishing()
{
    return finalLineHandled ? 1 : 0;
}

void releaseWorkerThread()
{
    if (workerThread == nullptr)
        return;
    WaitForSingleObject(workerThread, INFINITE);
    CloseHandle(workerThread);
    workerThread = nullptr;
}
