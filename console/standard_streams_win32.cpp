#include <windows.h>

#include <cstdio>

#include "standard_streams.h"

namespace {

bool handleIsValid(HANDLE handle)
{
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE)
        return false;
    SetLastError(NO_ERROR);
    return GetFileType(handle) != FILE_TYPE_UNKNOWN || GetLastError() == NO_ERROR;
}

} // namespace

void openMissingStandardStreams()
{
    struct Stream {
        DWORD id;
        std::FILE* file;
        const char* mode;
        DWORD access;
    };
    const Stream streams[] = {{STD_INPUT_HANDLE, stdin, "r", GENERIC_READ},
                              {STD_OUTPUT_HANDLE, stdout, "w", GENERIC_WRITE},
                              {STD_ERROR_HANDLE, stderr, "w", GENERIC_WRITE}};
    for (const Stream& stream : streams) {
        if (handleIsValid(GetStdHandle(stream.id)))
            continue;
        const HANDLE nul = CreateFileA("NUL", stream.access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                       OPEN_EXISTING, 0, nullptr);
        if (nul == INVALID_HANDLE_VALUE)
            continue;
        SetStdHandle(stream.id, nul);
        // The runtime's stream goes to the null device as well.
        std::freopen("NUL", stream.mode, stream.file);
    }
}
