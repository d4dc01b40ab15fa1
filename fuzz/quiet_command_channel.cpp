// The command channel for the fuzz targets: no window; every command counts as
// handled at once.
#include "command_channel.h"

void postCommand(WindowHandle, UpdateContext*, uint32_t, intptr_t) {}
void reportStatus(WindowHandle, UpdateContext*) {}
void reportError(WindowHandle, UpdateContext*) {}
void signalCommandDone(WindowHandle, UpdateContext*) {}
void closeCommandChannel(WindowHandle, UpdateContext*) {}
int lastSocketError()
{
    return 0;
}
