// What the console front end needs of its platform.
#pragma once

#include <cstdio>

#include "command_view.h"
#include "update_context.h"

bool isTerminal(std::FILE* stream);

// The window side of one run: makes the window the worker posts to, starts
// the run and carries out every command until the final line, then tears the
// program down. Returns startUpdate's result.
int runInConsoleWindow(UpdateContext* ctx, CommandView& view);

// Sets the serial port from --com N: the COM number on Windows, the device
// /dev/ttyS<N-1> on POSIX.
void chooseComPort(UpdateContext* ctx, int number);
