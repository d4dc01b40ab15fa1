#include <windows.h>
#include <io.h>

#include <iostream>

#include "cancel.h"
#include "terminal.h"

bool isTerminal(std::FILE* stream)
{
    return _isatty(_fileno(stream)) != 0;
}

int terminalColumns(std::FILE* stream)
{
    if (!isTerminal(stream))
        return 0;
    CONSOLE_SCREEN_BUFFER_INFO info{};
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    if (!GetConsoleScreenBufferInfo(handle, &info))
        return 80;
    return info.srWindow.Right - info.srWindow.Left + 1;
}

bool enableLineRedraw(std::FILE* stream)
{
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    DWORD mode = 0;
    if (!GetConsoleMode(handle, &mode))
        return false;
    if ((mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0)
        return true;
    return SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

std::string readAnswerLine()
{
    // Ctrl-C ends the console's read with nothing: the answer is No.
    std::string answer;
    if (!std::getline(std::cin, answer) || cancelRequested())
        return {};
    return answer;
}

void writeToStandardError(const char* text, size_t length)
{
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), text, static_cast<DWORD>(length), &written, nullptr);
}

std::string systemErrorText(int number)
{
    char text[512] = "";
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                        static_cast<DWORD>(number), 0, text, sizeof text, nullptr);
    std::string result(text, length);
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r' || result.back() == ' ' ||
                               result.back() == '.'))
        result.pop_back();
    return result.empty() ? "error " + std::to_string(number) : result;
}
