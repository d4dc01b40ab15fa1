#include <windows.h>

#include <cstdio>
#include <cstring>

#include "image_file.h"
#include "wide_path.h"

std::wstring widePath(const char* path)
{
    for (const UINT page : {UINT{CP_UTF8}, UINT{CP_ACP}}) {
        const DWORD flags = page == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0;
        const int length = MultiByteToWideChar(page, flags, path, -1, nullptr, 0);
        if (length <= 0)
            continue;
        std::wstring wide(static_cast<size_t>(length), L'\0');
        MultiByteToWideChar(page, flags, path, -1, &wide[0], length);
        wide.pop_back();  // the terminating zero
        return wide;
    }
    return {};
}

std::string utf8Path(const wchar_t* path)
{
    const int length = WideCharToMultiByte(CP_UTF8, 0, path, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 0)
        return {};
    std::string text(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, path, -1, &text[0], length, nullptr, nullptr);
    text.pop_back();
    return text;
}

std::FILE* openForReading(const char* path)
{
    const std::wstring wide = widePath(path);
    return wide.empty() ? nullptr : _wfopen(wide.c_str(), L"rb");
}

void programImagePath(char path[kPathSize])
{
    std::memset(path, 0, kPathSize);
    // A program path cut to fit the buffer would name a parent folder's file:
    // such a path, and one the file name does not fit, stays empty.
    std::wstring program(32768, L'\0');  // the longest path Windows has
    const DWORD length = GetModuleFileNameW(nullptr, &program[0], static_cast<DWORD>(program.size()));
    if (length == 0 || length >= program.size())
        return;
    const size_t name = program.find_last_of(L'\\', length);
    if (name == std::wstring::npos)
        return;
    program.resize(name + 1);
    const std::string image = utf8Path(program.c_str()) + kImageFileName;
    if (image.size() >= static_cast<size_t>(kPathSize))
        return;
    std::memcpy(path, image.c_str(), image.size() + 1);
}
