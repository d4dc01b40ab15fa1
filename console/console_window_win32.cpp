#include <windows.h>

#include <atomic>

#include "cancel.h"
#include "command_channel.h"
#include "command_channel_win32.h"
#include "console_window.h"
#include "interrupts.h"
#include "update_sequence.h"
#include "worker_thread.h"

namespace {

// Each run's window lives on its own thread: a fleet runs several at once.
struct ConsoleWindow {
    CommandView* view;
    UpdateContext* ctx;
    bool finished;
};
thread_local ConsoleWindow consoleWindow;

std::atomic<int> runsGoing{0};

LRESULT CALLBACK consoleWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == kUpdateCommandMessage) {
        if ((wParam & 0xFFFF) == CmdFinished)
            consoleWindow.finished = true;
        noteRunState(*consoleWindow.ctx, wParam);
        return handleUpdateCommand(window, *consoleWindow.view, consoleWindow.ctx, wParam, lParam);
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// Runs on a thread of its own. Ctrl-C and Ctrl-Break are handled like the
// POSIX signals; a closing console ends the process once the handler
// returns, so the handler holds it until the run has cleaned up.
BOOL WINAPI onConsoleEvent(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        onInterrupt();
        return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        onInterrupt();
        while (runsGoing.load() > 0)
            Sleep(50);
        return TRUE;
    default:
        return FALSE;
    }
}

} // namespace

int runInConsoleWindow(UpdateContext* ctx, CommandView& view)
{
    consoleWindow = {&view, ctx, false};
    ++runsGoing;
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = consoleWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "KT5CUfirmConsole";
    RegisterClassA(&windowClass);
    // A message-only window: the target of the worker's commands.
    HWND window = CreateWindowExA(0, windowClass.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  windowClass.hInstance, nullptr);
    int started = 0;
    // Without its own event no run could wait for the user's answer.
    if (createCommandDone(ctx) != nullptr) {
        SetConsoleCtrlHandler(onConsoleEvent, TRUE);
        started = startUpdate(window, ctx);
        if (started == kStartRefused) {
            showError(view, *ctx, 0);
            started = 0;
        }
    } else {
        ctx->errorCode = ErrCommandChannel;
        showError(view, *ctx, 0);
    }
    MSG message;
    while (started && !consoleWindow.finished && GetMessageA(&message, nullptr, 0, 0) > 0)
        DispatchMessageA(&message);
    releaseWorkerThread(ctx);  // the worker ends right after the final line
    shutdownApp(window, ctx);
    DestroyWindow(window);
    --runsGoing;
    return started;
}

void deliverHeldInterrupts()
{
    // The console's handler runs on a thread of its own: nothing is held back.
}

void ignoreBrokenPipes()
{
    // Windows has no signal for it: a write to a closed pipe fails.
}
