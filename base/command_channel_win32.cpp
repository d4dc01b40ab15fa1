#include "command_channel.h"
#include "command_channel_win32.h"
#include "update_context.h"

HANDLE createCommandDone(UpdateContext* ctx)
{
    // Unnamed, so that no other program can set it and answer for this one.
    ctx->run.commandDone = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    return ctx->run.commandDone;
}

void postCommand(WindowHandle window, UpdateContext* ctx, uint32_t code, intptr_t argument)
{
    if (stepWithoutWaiting(ctx, code, argument))
        return;
    PostMessageA(window, kUpdateCommandMessage, code, argument);
    // A wait that fails returns at once: the answer the worker then reads is
    // the one it stored before the question, never a Yes.
    if (WaitForSingleObject(ctx->run.commandDone, INFINITE) != WAIT_OBJECT_0)
        return;
    ResetEvent(ctx->run.commandDone);
}

void signalCommandDone(WindowHandle, UpdateContext* ctx)
{
    SetEvent(ctx->run.commandDone);
}

void closeCommandChannel(WindowHandle, UpdateContext* ctx)
{
    CloseHandle(ctx->run.commandDone);
    ctx->run.commandDone = nullptr;
}

int lastSocketError()
{
    return WSAGetLastError();
}
