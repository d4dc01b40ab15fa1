// The console's output shared by the runs of one process: each text goes out
// whole, so that the lines of units run side by side never mix.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>

// Held by every console write; a writer that must keep the output still for
// a while (a fleet's last summary) takes it too.
std::mutex& consoleOutputLock();
// `text` in the terminal's character set to `stream`, flushed, under the lock.
void writeWhole(std::FILE* stream, const std::string& text);
