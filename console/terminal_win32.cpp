#include <windows.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <iostream>
#include <cstring>

#include "cancel.h"
#include "terminal.h"

namespace {

// Under Wine a program started from a Unix terminal has a console of its own
// too, one without a visible window: that is the terminal's, not Explorer's.
bool onUnixTerminal()
{
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    const bool wine = ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
    return wine && !IsWindowVisible(GetConsoleWindow());
}

// Started from Explorer, the console window is this program's alone and
// closes with it: at exit it stays until Enter is pressed, so that the last
// lines can be read. Not when input comes from a file or a pipe.
void holdOwnConsole()
{
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    DWORD processes[2] = {};
    if (!GetConsoleMode(input, &mode) || GetConsoleProcessList(processes, 2) != 1 || onUnixTerminal())
        return;
    std::fflush(stdout);
    std::fflush(stderr);
    const bool japanese = PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_JAPANESE;
    const wchar_t* prompt = japanese ? L"\r\nEnter キーを押すとこのウィンドウを閉じます。"
                                     : L"\r\nPress Enter to close this window.";
    const HANDLE output = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD count = 0;
    WriteConsoleW(output, prompt, static_cast<DWORD>(std::wcslen(prompt)), &count, nullptr);
    CloseHandle(output);
    // Keys typed during the run do not count.
    FlushConsoleInputBuffer(input);
    SetConsoleMode(input, ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT | ENABLE_PROCESSED_INPUT);
    wchar_t line[64];
    ReadConsoleW(input, line, 64, &count, nullptr);
}

// Registered before main runs, so that every way out through exit holds the window.
const struct OwnConsoleHold {
    OwnConsoleHold() { std::atexit(holdOwnConsole); }
} ownConsoleHold;

} // namespace

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
