#include "command_channel.h"
#include "command_channel_win32.h"

HANDLE commandDone = nullptr;

HANDLE createCommandDone()
{
    commandDone = CreateEventA(nullptr, TRUE, FALSE, "EventObject");
    return commandDone;
}

void postCommand(WindowHandle window, uint32_t code, intptr_t argument)
{
    PostMessageA(window, kUpdateCommandMessage, code, argument);
    WaitForSingleObject(commandDone, INFINITE);
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
