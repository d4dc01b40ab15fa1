// One gate for the console's output, so that a program ending at once (a
// third interrupt) writes its state line last: the end closes the gate and
// waits for the writes in progress on other threads; a write that comes later
// is dropped.
#pragma once

#include <cstdio>
#include <string>

// The calling thread is the one the interrupt handler runs on (POSIX: the
// window thread). Its own writes are never waited for: the handler has cut
// them, and they do not resume. Call before the run's other threads start.
void noteInterruptedThread();

// Writes `text` and flushes `stream`, unless the program is ending. `write`
// does the writing (in the terminal's character set, or as it is).
void writeThroughGate(std::FILE* stream, const std::string& text,
                      void (*write)(std::FILE* stream, const std::string& text));

// Async-signal-safe: closes the gate, then waits (a second at most) until no
// other thread is writing through it.
void closeOutputForTheEnd();
