#include "output_gate.h"

#include <atomic>
#include <thread>

#include "terminal.h"

namespace {

static_assert(ATOMIC_INT_LOCK_FREE == 2 && ATOMIC_BOOL_LOCK_FREE == 2, "the handler reads the gate");
std::atomic<bool> closed{false};
std::atomic<int> writers{0};  // in the gate now, the interrupted thread not counted
std::thread::id interruptedThread;

constexpr int kEndWaitMs = 1000;

} // namespace

void noteInterruptedThread()
{
    interruptedThread = std::this_thread::get_id();
}

void writeThroughGate(std::FILE* stream, const std::string& text,
                      void (*write)(std::FILE* stream, const std::string& text))
{
    // Counted before the gate is looked at, so that the end either sees this
    // writer or this writer sees the gate closed.
    const bool counted = std::this_thread::get_id() != interruptedThread;
    if (counted)
        writers.fetch_add(1);
    if (!closed.load()) {
        write(stream, text);
        std::fflush(stream);
    }
    if (counted)
        writers.fetch_sub(1);
}

void closeOutputForTheEnd()
{
    closed.store(true);
    for (int waited = 0; writers.load() != 0 && waited < kEndWaitMs; ++waited)
        pauseAMillisecond();
}
