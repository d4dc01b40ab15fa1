#include <windows.h>
#include <io.h>

#include <cstring>

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

std::FILE* questionTerminal()
{
    static std::FILE* const terminal = std::fopen("CONOUT$", "w");
    return terminal;
}

std::string readAnswerLine()
{
    // Ctrl-C ends the console's read with nothing: the answer is No.
    static std::FILE* const input = std::fopen("CONIN$", "r");
    char line[256] = "";
    if (input == nullptr || std::fgets(line, sizeof line, input) == nullptr || cancelRequested())
        return {};
    std::string answer = line;
    while (!answer.empty() && (answer.back() == '\n' || answer.back() == '\r'))
        answer.pop_back();
    return answer;
}

void writeToStandardError(const char* text, size_t length)
{
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), text, static_cast<DWORD>(length), &written, nullptr);
}

void pauseAMillisecond()
{
    Sleep(1);
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
