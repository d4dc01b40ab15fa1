#include "command_channel.h"

#include <atomic>

namespace {

std::atomic<int> finalLineSeen{0};

} // namespace

void reportStatus(WindowHandle window)
{
    postCommand(window, CmdStatus, 0);
}

void reportError(WindowHandle window)
{
    postCommand(window, CmdError, lastSocketError());
}

void noteFinalLineHandled()
{
    finalLineSeen = 1;
}

void clearFinalLineHandled()
{
    finalLineSeen = 0;
}

int finalLineHandled()
{
    return finalLineSeen;
}
