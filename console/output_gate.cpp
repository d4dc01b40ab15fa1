#include "output_gate.h"

#include <atomic>
#include <thread>

#include "terminal.h"

namespace {

static_assert(ATOMIC_INT_LOCK_FREE == 2 && ATOMIC_BOOL_LOCK_FREE == 2, "the handler reads the gate");
std::atomic<bool> closed{false};
std::atomic<int> writers{0};  // in the gate now, the interrupted thread not counted
// Atomic: each unit of a fleet notes its window thread.
std::atomic<std::thread::id> interruptedThread{};
OutputOverlay* overlay = nullptr;  // guarded by the output lock

constexpr int kEndWaitMs = 1000;

} // namespace

void noteInterruptedThread()
{
    interruptedThread.store(std::this_thread::get_id());
}

std::mutex& consoleOutputLock()
{
    static std::mutex lock;
    return lock;
}

void setOutputOverlay(OutputOverlay* board)
{
    std::lock_guard<std::mutex> held(consoleOutputLock());
    if (overlay != nullptr && !closed.load())
        overlay->erase();
    overlay = board;
    if (overlay != nullptr && !closed.load())
        overlay->draw();
}

void writeThroughGate(std::FILE* stream, const std::string& text,
                      void (*write)(std::FILE* stream, const std::string& text))
{
    // A writer waiting for the lock is not counted: the end need not wait for
    // it, and once in, it sees the gate closed.
    std::lock_guard<std::mutex> held(consoleOutputLock());
    // Counted before the gate is looked at, so that the end either sees this
    // writer or this writer sees the gate closed.
    const bool counted = std::this_thread::get_id() != interruptedThread.load();
    if (counted)
        writers.fetch_add(1);
    if (!closed.load()) {
        if (overlay != nullptr)
            overlay->erase();
        write(stream, text);
        std::fflush(stream);
        if (overlay != nullptr)
            overlay->draw();
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
