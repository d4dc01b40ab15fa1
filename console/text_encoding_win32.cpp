#include <windows.h>
#include <io.h>

#include "text_encoding.h"

void initConsoleEncoding()
{
}

std::string consoleBytes(const std::string& text)
{
    return text;
}

std::string fromUtf8(const std::string& text)
{
    const int size = static_cast<int>(text.size());
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
    if (length <= 0)
        return text;
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), size, &wide[0], length);
    const int bytes = WideCharToMultiByte(CP_ACP, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(bytes > 0 ? bytes : 0), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), length, &out[0], bytes, nullptr, nullptr);
    return out;
}

bool consoleShowsJapanese()
{
    return true;
}

void writeConsoleText(std::FILE* stream, const std::string& text)
{
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    DWORD mode = 0;
    if (handle == INVALID_HANDLE_VALUE || !GetConsoleMode(handle, &mode) || text.empty()) {
        // A file or a pipe: the table's bytes as they are.
        std::fwrite(text.data(), 1, text.size(), stream);
        return;
    }
    // A console: UTF-16 from the table's bytes in the ANSI code page that
    // LoadStringA wrote them in, shown whatever the console's code page is.
    const int size = static_cast<int>(text.size());
    const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
    if (length <= 0)
        return;
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), size, &wide[0], length);
    std::fflush(stream);
    DWORD written = 0;
    WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
}
