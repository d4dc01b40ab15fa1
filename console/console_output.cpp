#include "console_output.h"

#include "text_encoding.h"

namespace {

OutputOverlay* overlay = nullptr;  // guarded by the output lock

} // namespace

void setOutputOverlay(OutputOverlay* board)
{
    std::lock_guard<std::mutex> held(consoleOutputLock());
    if (overlay != nullptr)
        overlay->erase();
    overlay = board;
    if (overlay != nullptr)
        overlay->draw();
}

std::mutex& consoleOutputLock()
{
    static std::mutex lock;
    return lock;
}

void writeWhole(std::FILE* stream, const std::string& text)
{
    std::lock_guard<std::mutex> held(consoleOutputLock());
    if (overlay != nullptr)
        overlay->erase();
    writeConsoleText(stream, text);
    std::fflush(stream);
    if (overlay != nullptr)
        overlay->draw();
}
