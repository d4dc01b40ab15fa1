// What Start checks before a run may touch a port, a socket or the XPort.
#pragma once

#include "update_context.h"

// On Start, with the panels' fields taken: for a network run the address must
// be a dotted IPv4 address and the port 1 to 65535, and for every run the
// image beside the program must load and pass the format check. On a refusal
// the error box says why (the address, the port or the image's path added)
// and false is returned; nothing has been sent.
bool startChecksPass(WindowHandle window, UpdateContext* ctx);
