#include "command_channel.h"

#include "run_hooks.h"
#include "update_context.h"

int stepWithoutWaiting(UpdateContext* ctx, uint32_t code, intptr_t argument)
{
    if (code != CmdProgressStep || ctx == nullptr || ctx->hooks == nullptr || ctx->hooks->progressStep == nullptr)
        return 0;
    // As the window would count it: txLength holds the request just sent.
    ctx->hooks->progressStep(ctx->hooks->progressContext,
                             static_cast<uint32_t>(argument) + static_cast<uint32_t>(ctx->txLength));
    return 1;
}

void reportStatus(WindowHandle window, UpdateContext* ctx)
{
    postCommand(window, ctx, CmdStatus, 0);
}

void reportError(WindowHandle window, UpdateContext* ctx)
{
    postCommand(window, ctx, CmdError, lastSocketError());
}

void noteFinalLineHandled(UpdateContext* ctx)
{
    ctx->run.finalLineHandled = 1;
}

void clearFinalLineHandled(UpdateContext* ctx)
{
    ctx->run.finalLineHandled = 0;
}

int finalLineHandled(const UpdateContext* ctx)
{
    return ctx->run.finalLineHandled;
}
