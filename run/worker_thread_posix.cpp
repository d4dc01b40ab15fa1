#include <atomic>
#include <new>
#include <system_error>
#include <thread>

#include "command_channel.h"
#include "update_sequence.h"
#include "worker_thread.h"

// One run's worker, owned by its record from the start until released.
struct WorkerThread {
    std::thread thread;
    std::atomic<bool> ended{false};
};

int startWorkerThread(WindowHandle window, UpdateContext* ctx)
{
    clearFinalLineHandled(ctx);
    auto* worker = new (std::nothrow) WorkerThread;
    if (worker == nullptr)
        return 0;
    try {
        worker->thread = std::thread([window, ctx, worker] {
            runUpdate(window, ctx);
            worker->ended = true;
        });
    } catch (const std::system_error&) {
        delete worker;
        return 0;
    }
    ctx->run.workerThread = worker;
    return 1;
}

int workerRunning(const UpdateContext* ctx)
{
    const WorkerThread* worker = ctx->run.workerThread;
    return worker != nullptr && !worker->ended ? 1 : 0;
}

int workerFinishing(const UpdateContext* ctx)
{
    return finalLineHandled(ctx);
}

void releaseWorkerThread(UpdateContext* ctx)
{
    WorkerThread* worker = ctx->run.workerThread;
    if (worker == nullptr)
        return;
    if (worker->thread.joinable())
        worker->thread.join();
    delete worker;
    ctx->run.workerThread = nullptr;
}
