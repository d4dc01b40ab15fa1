#include "command_channel.h"

void reportStatus(WindowHandle window)
{
    postCommand(window, CmdStatus, 0);
}

void reportError(WindowHandle window)
{
    postCommand(window, CmdError, lastSocketError());
}
