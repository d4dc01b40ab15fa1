#include <windows.h>

#include <cstdlib>

#include "state_files.h"

std::string stateFolder()
{
    const char* local = std::getenv("LOCALAPPDATA");
    if (local == nullptr || local[0] == '\0')
        return {};
    return std::string(local) + "\\kt5cufirm";
}

bool writeFileAtomically(const std::string& path, const uint8_t* data, size_t size, std::string* error)
{
    const std::string temporary = path + ".tmp" + std::to_string(GetCurrentProcessId());
    HANDLE file = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *error = "error " + std::to_string(GetLastError());
        return false;
    }
    DWORD written = 0;
    bool done = WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr) && written == size &&
                FlushFileBuffers(file);
    DWORD failure = GetLastError();
    CloseHandle(file);
    if (done && MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    if (done)
        failure = GetLastError();
    *error = "error " + std::to_string(failure);
    DeleteFileA(temporary.c_str());
    return false;
}

void removeFile(const std::string& path)
{
    DeleteFileA(path.c_str());
}
