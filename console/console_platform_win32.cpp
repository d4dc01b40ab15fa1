#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <io.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <iostream>

#include "cancel.h"
#include "command_channel.h"
#include "command_channel_win32.h"
#include "console_platform.h"
#include "interrupts.h"
#include "serial_link.h"
#include "update_sequence.h"
#include "wide_path.h"
#include "worker_thread.h"

namespace {

struct ConsoleWindow {
    CommandView* view;
    UpdateContext* ctx;
    bool finished;
} consoleWindow;

std::atomic<bool> runEnded{false};

LRESULT CALLBACK consoleWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == kUpdateCommandMessage) {
        if ((wParam & 0xFFFF) == CmdFinished)
            consoleWindow.finished = true;
        noteRunState(*consoleWindow.ctx, wParam);
        return handleUpdateCommand(window, *consoleWindow.view, consoleWindow.ctx, wParam, lParam);
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// Runs on a thread of its own. Ctrl-C and Ctrl-Break are handled like the
// POSIX signals; a closing console ends the process once the handler
// returns, so the handler holds it until the run has cleaned up.
BOOL WINAPI onConsoleEvent(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        onInterrupt();
        return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        onInterrupt();
        while (!runEnded)
            Sleep(50);
        return TRUE;
    default:
        return FALSE;
    }
}

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

std::string serialPortName(const UpdateContext& ctx)
{
    // --device COM7 (either case) is COM7, as the link opens it.
    const int32_t named = ctx.comDevice[0] != '\0' ? comNumberFromName(ctx.comDevice) : ctx.comPort;
    if (named == 0 && ctx.comDevice[0] != '\0')
        return ctx.comDevice;
    return "COM" + std::to_string(named);
}

bool resolveIpv4(const std::string& name, std::string* dotted, std::string* why)
{
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 0), &data) != 0) {
        *why = systemErrorText(WSAGetLastError());
        return false;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int failure = getaddrinfo(name.c_str(), nullptr, &hints, &found);
    bool resolved = failure == 0 && found != nullptr;
    if (resolved) {
        const uint8_t* bytes =
            reinterpret_cast<const uint8_t*>(&reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr);
        *dotted = std::to_string(bytes[0]) + "." + std::to_string(bytes[1]) + "." + std::to_string(bytes[2]) + "." +
                  std::to_string(bytes[3]);
        freeaddrinfo(found);
    } else {
        *why = systemErrorText(failure);
    }
    WSACleanup();
    return resolved;
}

int runInConsoleWindow(UpdateContext* ctx, CommandView& view)
{
    consoleWindow = {&view, ctx, false};
    runEnded = false;
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = consoleWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "KT5CUfirmConsole";
    RegisterClassA(&windowClass);
    // A message-only window: the target of the worker's commands.
    HWND window = CreateWindowExA(0, windowClass.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  windowClass.hInstance, nullptr);
    int started = 0;
    // Without its own event no run could wait for the user's answer.
    if (createCommandDone() != nullptr) {
        SetConsoleCtrlHandler(onConsoleEvent, TRUE);
        started = startUpdate(window, ctx);
        // startUpdate cleared the request: an interrupt that came before stands.
        if (interruptsSeen() > 0)
            requestCancel();
    } else {
        ctx->errorCode = ErrCommandChannel;
        showError(view, *ctx, 0);
    }
    MSG message;
    while (started && !consoleWindow.finished && GetMessageA(&message, nullptr, 0, 0) > 0)
        DispatchMessageA(&message);
    releaseWorkerThread();  // the worker ends right after the final line
    shutdownApp(window, ctx);
    DestroyWindow(window);
    runEnded = true;
    return started;
}

void deliverHeldInterrupts()
{
    // The console's handler runs on a thread of its own: nothing is held back.
}

void chooseComPort(UpdateContext* ctx, int number)
{
    ctx->comPort = number;
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

std::string toConsoleText(const std::string& utf8)
{
    const int wide = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    if (wide <= 0)
        return utf8;
    std::wstring text(static_cast<size_t>(wide), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &text[0], wide);
    const int narrow = WideCharToMultiByte(CP_ACP, 0, text.data(), wide, nullptr, 0, nullptr, nullptr);
    if (narrow <= 0)
        return utf8;
    std::string result(static_cast<size_t>(narrow), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), wide, &result[0], narrow, nullptr, nullptr);
    return result;
}

std::string stateFolder()
{
    // In UTF-8, as the file calls below and std::filesystem take it.
    const wchar_t* local = _wgetenv(L"LOCALAPPDATA");
    if (local == nullptr || local[0] == L'\0')
        return {};
    const std::string folder = utf8Path(local);
    return folder.empty() ? folder : folder + "\\kt5cufirm";
}

bool writeFileAtomically(const std::string& path, const uint8_t* data, size_t size, std::string* error)
{
    const std::string temporary = path + ".tmp" + std::to_string(GetCurrentProcessId());
    HANDLE file = CreateFileW(widePath(temporary.c_str()).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *error = "error " + std::to_string(GetLastError());
        return false;
    }
    DWORD written = 0;
    bool done = WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr) && written == size &&
                FlushFileBuffers(file);
    DWORD failure = GetLastError();
    CloseHandle(file);
    if (done && MoveFileExW(widePath(temporary.c_str()).c_str(), widePath(path.c_str()).c_str(),
                            MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    if (done)
        failure = GetLastError();
    *error = "error " + std::to_string(failure);
    DeleteFileW(widePath(temporary.c_str()).c_str());
    return false;
}

void removeFile(const std::string& path)
{
    DeleteFileW(widePath(path.c_str()).c_str());
}

std::string openDescriptors()
{
    return {};
}
