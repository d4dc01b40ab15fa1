// The window side of one run, on the console: the commands the worker posts
// carried out on this thread, and the interrupts turned into a cancel request.
#pragma once

#include "command_view.h"
#include "update_context.h"

// The window side of one run: makes the window the worker posts to, turns
// interrupts into a cancel request (only this thread takes them), starts the
// run and carries out every command until the final line, then tears the
// program down. Returns startUpdate's result. Afterwards interrupts are held
// back and a broken output pipe never ends the program.
int runInConsoleWindow(UpdateContext* ctx, CommandView& view);

// Between two runs: an interrupt held back since the last run is taken now
// (interruptsSeen counts it).
void deliverHeldInterrupts();

// A write to a pipe nobody reads fails with an error instead of ending the
// program (POSIX: SIGPIPE ignored, process-wide); nothing to do on Windows.
void ignoreBrokenPipes();
