// The command channel for the fuzz targets: no window; every command counts as
// handled at once.
#include "command_channel.h"

void postCommand(WindowHandle, uint32_t, intptr_t) {}
void reportStatus(WindowHandle) {}
void reportError(WindowHandle) {}
void signalCommandDone(WindowHandle) {}
void closeCommandChannel(WindowHandle) {}
int lastSocketError()
{
    return 0;
}
