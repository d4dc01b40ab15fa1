#include <windows.h>
#include <io.h>

#include <cstdio>

#include "command_channel.h"
#include "command_channel_win32.h"
#include "console_platform.h"
#include "update_sequence.h"
#include "worker_thread.h"

namespace {

struct ConsoleWindow {
    CommandView* view;
    UpdateContext* ctx;
    bool finished;
} consoleWindow;

LRESULT CALLBACK consoleWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == kUpdateCommandMessage) {
        if ((wParam & 0xFFFF) == CmdFinished)
            consoleWindow.finished = true;
        return handleUpdateCommand(window, *consoleWindow.view, consoleWindow.ctx, wParam, lParam);
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

} // namespace

bool isTerminal(std::FILE* stream)
{
    return _isatty(_fileno(stream)) != 0;
}

int runInConsoleWindow(UpdateContext* ctx, CommandView& view)
{
    consoleWindow = {&view, ctx, false};
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
    if (createCommandDone() != nullptr) {
        started = startUpdate(window, ctx);
    } else {
        ctx->errorCode = ErrCommandChannel;
        showError(view, *ctx, 0);
    }
    MSG message;
    while (started && !consoleWindow.finished && GetMessageA(&message, nullptr, 0, 0) > 0)
        DispatchMessageA(&message);
    releaseWorkerThread();  // the worker ends right after the final line
    shutdownApp(window, ctx);
    DestroyWindow(window);
    return started;
}

void chooseComPort(UpdateContext* ctx, int number)
{
    ctx->comPort = number;
}
