#include <windows.h>
#include <process.h>

#include <new>

#include "command_channel.h"
#include "update_sequence.h"
#include "worker_thread.h"

namespace {

// The start arguments, made for each worker, which frees them.
struct WorkerStart {
    WindowHandle window;
    UpdateContext* ctx;
};

unsigned __stdcall workerMain(void* argument)
{
    const WorkerStart start = *static_cast<WorkerStart*>(argument);
    delete static_cast<WorkerStart*>(argument);
    return static_cast<unsigned>(runUpdate(start.window, start.ctx));
}

} // namespace

int startWorkerThread(WindowHandle window, UpdateContext* ctx)
{
    clearFinalLineHandled(ctx);
    auto* start = new (std::nothrow) WorkerStart{window, ctx};
    if (start == nullptr)
        return 0;
    // The handle of the run's most recently started worker.
    ctx->run.workerThread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, workerMain, start, 0, nullptr));
    if (ctx->run.workerThread == nullptr) {
        delete start;
        return 0;
    }
    return 1;
}

int workerRunning(const UpdateContext* ctx)
{
    return ctx->run.workerThread != nullptr && WaitForSingleObject(ctx->run.workerThread, 0) == WAIT_TIMEOUT ? 1 : 0;
}

int workerFinishing(const UpdateContext* ctx)
{
    return finalLineHandled(ctx);
}

void releaseWorkerThread(UpdateContext* ctx)
{
    if (ctx->run.workerThread == nullptr)
        return;
    WaitForSingleObject(ctx->run.workerThread, INFINITE);
    CloseHandle(ctx->run.workerThread);
    ctx->run.workerThread = nullptr;
}
