// One gate for the console's output, so that a program ending at once (a
// third interrupt) writes its state line last: the end closes the gate and
// waits for the writes in progress on other threads; a write that comes later
// is dropped. Each text goes through whole, under one lock, so that the lines
// of units run side by side never mix.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>

// What stands below the text on a terminal (a fleet's board): taken away
// before each write and put back after it, under the lock.
class OutputOverlay {
public:
    virtual ~OutputOverlay() = default;
    virtual void erase() = 0;
    virtual void draw() = 0;
};
// Sets (or with null removes) the overlay of every write from now on.
void setOutputOverlay(OutputOverlay* overlay);

// Held by every write through the gate; a writer that must keep the output
// still for a while (a fleet's last summary, its board) takes it too.
std::mutex& consoleOutputLock();

// The calling thread is the one the interrupt handler runs on (POSIX: the
// window thread). Its own writes are never waited for: the handler has cut
// them, and they do not resume. Call before the run's other threads start.
void noteInterruptedThread();

// Writes `text` whole and flushes `stream`, unless the program is ending.
// `write` does the writing (in the terminal's character set, or as it is).
void writeThroughGate(std::FILE* stream, const std::string& text,
                      void (*write)(std::FILE* stream, const std::string& text));

// Async-signal-safe: closes the gate, then waits (a second at most) until no
// other thread is writing through it.
void closeOutputForTheEnd();
