#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <chrono>

#include "command_channel.h"
#include "command_view.h"
#include "command_window_posix.h"
#include "console_window.h"
#include "interrupts.h"
#include "output_gate.h"
#include "update_sequence.h"
#include "worker_thread.h"

namespace {

constexpr int kInterruptSignals[] = {SIGINT, SIGTERM, SIGHUP};

sigset_t interruptSet()
{
    sigset_t set;
    sigemptyset(&set);
    for (int signal : kInterruptSignals)
        sigaddset(&set, signal);
    return set;
}

void onSignal(int)
{
    const int saved = errno;
    onInterrupt();
    errno = saved;
}

} // namespace

int runInConsoleWindow(UpdateContext* ctx, CommandView& view)
{
    signal(SIGPIPE, SIG_IGN);
    noteInterruptedThread();  // the interrupts reach this thread alone
    CommandWindow window;
    window.attachView(&view);
    const sigset_t interrupts = interruptSet();
    // The worker starts with the interrupts blocked, so they reach this
    // thread alone and never cut a wait of the worker; one that comes now
    // waits until the run has started.
    pthread_sigmask(SIG_BLOCK, &interrupts, nullptr);
    int started = startUpdate(&window, ctx);
    if (started == kStartRefused) {
        showError(view, *ctx, 0);
        started = 0;
    }
    struct sigaction action {};
    action.sa_handler = onSignal;
    action.sa_mask = interrupts;
    for (int signal : kInterruptSignals)
        sigaction(signal, &action, nullptr);
    pthread_sigmask(SIG_UNBLOCK, &interrupts, nullptr);
    while (started) {
        auto command = window.nextCommand(std::chrono::hours(1));
        if (!command)
            continue;
        noteRunState(*ctx, command->code);
        handleUpdateCommand(&window, view, ctx, command->code, command->argument);
        if ((command->code & 0xFFFF) == CmdFinished)
            break;
    }
    // The run is over: nothing is left to stop.
    pthread_sigmask(SIG_BLOCK, &interrupts, nullptr);
    releaseWorkerThread(ctx);  // the worker ends right after the final line
    shutdownApp(&window, ctx);
    return started;
}

void deliverHeldInterrupts()
{
    // An interrupt held back since the last run reaches the handler now.
    const sigset_t interrupts = interruptSet();
    pthread_sigmask(SIG_UNBLOCK, &interrupts, nullptr);
    pthread_sigmask(SIG_BLOCK, &interrupts, nullptr);
}

void ignoreBrokenPipes()
{
    signal(SIGPIPE, SIG_IGN);
}
