#include "console_output.h"

#include "text_encoding.h"

std::mutex& consoleOutputLock()
{
    static std::mutex lock;
    return lock;
}

void writeWhole(std::FILE* stream, const std::string& text)
{
    std::lock_guard<std::mutex> held(consoleOutputLock());
    writeConsoleText(stream, text);
    std::fflush(stream);
}
