#include "command_channel.h"

#include "update_context.h"

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
