// One update run, from Start to the final line, and the program's teardown.
#pragma once

#include "update_context.h"

// What startUpdate returns when it refuses a network run: errorCode says why.
inline constexpr int kStartRefused = -1;

// Window thread, on Start: refuses a network run without an address or port
// (kStartRefused, with ErrNoAddress or ErrNoPort in errorCode for the front
// end to show), else starts the worker running runUpdate: 1 when started.
// While the record's worker runs, a second Start starts nothing (0); 0 too
// when the thread cannot be started. A cancel request is left as it is.
int startUpdate(WindowHandle window, UpdateContext* ctx);

// The worker's whole run: XPort switch, link, identify, image, confirmation,
// write and verify, quit, close, XPort restore, final line. Returns 1.
// A cancel request counts as No before the erase and ends the write after the
// record in flight; a switched XPort is always put back. With xportRepair set
// the run only puts the kept XPort setup back. With onlyIfNewer set, a device
// already at the image's version or newer is left alone (leftAlone) after the
// identify, without the question: quit, close and restore as on a No.
int runUpdate(WindowHandle window, UpdateContext* ctx);

// Window thread, at exit: closes an open link, frees the image, closes the
// command channel's event and ends the socket library; 1 when done. While a
// worker still runs, nothing is released and 0 is returned: the worker owns
// the link and the image until it ends.
int shutdownApp(WindowHandle window, UpdateContext* ctx);
