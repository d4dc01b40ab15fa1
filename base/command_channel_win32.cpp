#include "command_channel.h"
#include "command_channel_win32.h"

HANDLE commandDone = nullptr;

HANDLE createCommandDone()
{
    // Unnamed, so that no other program can set it and answer for this one.
    commandDone = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    return commandDone;
}

void postCommand(WindowHandle window, uint32_t code, intptr_t argument)
{
    PostMessageA(window, kUpdateCommandMessage, code, argument);
    // A wait that fails returns at once: the answer the worker then reads is
    // the one it stored before the question, never a Yes.
    if (WaitForSingleObject(commandDone, INFINITE) != WAIT_OBJECT_0)
        return;
    ResetEvent(commandDone);
}

void signalCommandDone(WindowHandle)
{
    SetEvent(commandDone);
}

void closeCommandChannel(WindowHandle)
{
    CloseHandle(commandDone);
    commandDone = nullptr;
}

int lastSocketError()
{
    return WSAGetLastError();
}
