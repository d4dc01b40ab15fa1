// The firmware loader's request/reply protocol, over the device link. Each
// operation runs on the worker thread and returns 1 on success, 0 on failure;
// none reports an error itself.
#pragma once

#include "update_context.h"

// "KORVANE" -> "M" tag minor major; deviceVersion takes bytes 1-3.
int identifyDevice(WindowHandle window, UpdateContext* ctx);
// "S" -> "FE"; the device erases its firmware meanwhile.
int enterUpdateMode(WindowHandle window, UpdateContext* ctx);
// Erases, sends every record of the image with its acknowledgement ("EFL",
// "EFW" for the one that reaches the image end) and verifies the version,
// with the erasing and writing statuses and the progress commands. Sets
// eraseSent before the erase request; a cancel request ends it (0) once the
// record in flight is acknowledged.
int writeImage(WindowHandle window, UpdateContext* ctx);
// imageMinor imageMajor -> "V" tag minor major, equal to the image's version;
// deviceVersion takes what the device reported.
int verifyVersion(WindowHandle window, UpdateContext* ctx);
// "Q" -> "N".
int quitUpdateMode(WindowHandle window, UpdateContext* ctx);
