#include <unistd.h>

#include <chrono>
#include <cstdio>

#include "command_channel.h"
#include "command_window_posix.h"
#include "console_platform.h"
#include "update_sequence.h"
#include "worker_thread.h"

bool isTerminal(std::FILE* stream)
{
    return isatty(fileno(stream)) != 0;
}

int runInConsoleWindow(UpdateContext* ctx, CommandView& view)
{
    CommandWindow window;
    window.attachView(&view);
    int started = startUpdate(&window, ctx);
    while (started) {
        auto command = window.nextCommand(std::chrono::hours(1));
        if (!command)
            continue;
        handleUpdateCommand(&window, view, ctx, command->code, command->argument);
        if ((command->code & 0xFFFF) == CmdFinished)
            break;
    }
    releaseWorkerThread();  // the worker ends right after the final line
    shutdownApp(&window, ctx);
    return started;
}

void chooseComPort(UpdateContext* ctx, int number)
{
    ctx->comPort = number;
    std::snprintf(ctx->comDevice, sizeof ctx->comDevice, "/dev/ttyS%d", number - 1);
}
