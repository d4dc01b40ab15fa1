// The console's output shared by the runs of one process: each text goes out
// whole, so that the lines of units run side by side never mix.
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

// Held by every console write; a writer that must keep the output still for
// a while (a fleet's last summary) takes it too.
std::mutex& consoleOutputLock();
// `text` in the terminal's character set to `stream`, flushed, under the lock.
void writeWhole(std::FILE* stream, const std::string& text);
