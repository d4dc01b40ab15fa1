#include "cancel.h"

#include "update_context.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

namespace {

// Plain loads and stores of a lock-free int are safe in a signal handler.
static_assert(ATOMIC_INT_LOCK_FREE == 2, "the cancel flag must be lock-free");
std::atomic<int> cancelFlag{0};

constexpr int kSliceMs = 50;

using Clock = std::chrono::steady_clock;

} // namespace

void requestCancel()
{
    cancelFlag.store(1);
}

int cancelRequested()
{
    return cancelFlag.load();
}

void clearCancel()
{
    cancelFlag.store(0);
}

void setWaitsCutByCancel(UpdateContext* ctx, int on)
{
    ctx->run.waitsCutByCancel = on != 0 ? 1 : 0;
}

int waitUnlessCancelled(const UpdateContext* ctx, int milliseconds, int (*waitSlice)(void* arg, int sliceMs),
                        void* arg)
{
    if (ctx->run.waitsCutByCancel == 0)
        return waitSlice(arg, milliseconds);
    const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        if (cancelRequested())
            return 0;
        const auto now = Clock::now();
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
        const int slice = static_cast<int>(std::max<long long>(0, std::min<long long>(left, kSliceMs)));
        if (waitSlice(arg, slice) != 0)
            return 1;
        // A wait that fails at once would fail again: no spinning on it.
        if (left <= kSliceMs || Clock::now() - now < std::chrono::milliseconds(slice / 2))
            return 0;
    }
}

int sleepUnlessCancelled(int milliseconds)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        if (cancelRequested())
            return 0;
        const auto left = deadline - Clock::now();
        if (left <= Clock::duration::zero())
            return 1;
        std::this_thread::sleep_for(std::min<Clock::duration>(left, std::chrono::milliseconds(kSliceMs)));
    }
}
