// The device link: one dispatch over the serial link (method Serial) and the
// TCP link (every other method), read at the moment of each call.
//
// Transfer contract: a request is the first txLength bytes of txBuffer; a
// receive asks for rxLength bytes and returns the count received (0 up to the
// number wanted), also stored in rxLength, with the bytes at the start of
// rxBuffer. Surplus bytes stay queued for the next receive.
#pragma once

#include "update_context.h"

// Nonzero when the link is open; linkOpen is set to match.
int openLink(WindowHandle window, UpdateContext* ctx);
void sendTx(WindowHandle window, UpdateContext* ctx);
int receiveRx(WindowHandle window, UpdateContext* ctx);
void closeLink(WindowHandle window, UpdateContext* ctx);
