#include <atomic>
#include <memory>
#include <system_error>
#include <thread>

#include "command_channel.h"
#include "update_sequence.h"
#include "worker_thread.h"

namespace {

std::unique_ptr<std::thread> workerThread;
std::atomic<bool> workerEnded{true};

} // namespace

int startWorkerThread(WindowHandle window, UpdateContext* ctx)
{
    workerEnded = false;
    clearFinalLineHandled();
    try {
        workerThread = std::make_unique<std::thread>([window, ctx] {
            runUpdate(window, ctx);
            workerEnded = true;
        });
    } catch (const std::system_error&) {
        workerEnded = true;
        return 0;
    }
    return 1;
}

int workerRunning()
{
    return workerThread && !workerEnded ? 1 : 0;
}

int workerFinishing()
{
    return finalLineHandled();
}

void releaseWorkerThread()
{
    if (workerThread && workerThread->joinable())
        workerThread->join();
    workerThread.reset();
}
