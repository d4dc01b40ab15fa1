#include <windows.h>

#include <cstdlib>

#include "state_files.h"
#include "wide_path.h"

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
