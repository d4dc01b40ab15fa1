#include <windows.h>

#include <cstdlib>

#include "state_files.h"

namespace {

std::wstring wide(const std::string& text)
{
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring result(n > 0 ? static_cast<size_t>(n) : 1u, L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &result[0], n);
    result.resize(result.size() - 1);
    return result;
}

std::string utf8(const std::wstring& text)
{
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string result(n > 0 ? static_cast<size_t>(n) : 1u, '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &result[0], n, nullptr, nullptr);
    result.resize(result.size() - 1);
    return result;
}

std::string errorText(DWORD error)
{
    return "error " + std::to_string(error);
}

// Far beyond any content: the holder's id at the start stays readable.
constexpr DWORD kLockedByte = 0x40000000;

} // namespace

std::string stateFolder()
{
    const wchar_t* local = _wgetenv(L"LOCALAPPDATA");
    if (local == nullptr || local[0] == L'\0')
        return {};
    return utf8(local) + "\\kt5cufirm";
}

bool makeStateFolder(const std::string& folder, std::string* error)
{
    for (size_t at = 3; at <= folder.size(); ++at) {
        if (at < folder.size() && folder[at] != '\\' && folder[at] != '/')
            continue;
        const std::wstring part = wide(folder.substr(0, at));
        const DWORD attributes = GetFileAttributesW(part.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
            continue;
        if (!CreateDirectoryW(part.c_str(), nullptr)) {
            *error = GetLastError() == ERROR_ALREADY_EXISTS ? folder.substr(0, at) + " is not a folder"
                                                            : errorText(GetLastError());
            return false;
        }
    }
    return true;
}

std::string statePath(const std::string& folder, const std::string& name)
{
    return folder + "\\" + name;
}

StateRead readStateFile(const std::string& path, size_t limit, std::vector<uint8_t>* data, std::string* error)
{
    error->clear();
    data->clear();
    HANDLE file = CreateFileW(wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD failure = GetLastError();
        if (failure == ERROR_FILE_NOT_FOUND)
            return StateRead::Missing;
        *error = failure == ERROR_ACCESS_DENIED ? "access is denied" : errorText(failure);
        return StateRead::Failed;
    }
    BY_HANDLE_FILE_INFORMATION about{};
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &about))
        *error = "it is not a regular file";
    else if ((about.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        *error = "it is a folder, not a file";
    uint8_t block[256];
    DWORD n = 0;
    while (error->empty() && data->size() <= limit) {
        if (!ReadFile(file, block, sizeof block, &n, nullptr)) {
            *error = errorText(GetLastError());
            break;
        }
        if (n == 0)
            break;
        data->insert(data->end(), block, block + n);
    }
    CloseHandle(file);
    if (data->size() > limit)
        data->resize(limit + 1);
    return error->empty() ? StateRead::Read : StateRead::Failed;
}

bool createFileAtomically(const std::string& path, const uint8_t* data, size_t size, std::string* error)
{
    const std::wstring temporary = wide(path + ".tmp" + std::to_string(GetCurrentProcessId()));
    HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *error = errorText(GetLastError());
        return false;
    }
    DWORD written = 0;
    const bool done = WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr) && written == size &&
                      FlushFileBuffers(file);
    DWORD failure = GetLastError();
    CloseHandle(file);
    // Without MOVEFILE_REPLACE_EXISTING: an existing file is never replaced.
    if (done && MoveFileExW(temporary.c_str(), wide(path).c_str(), MOVEFILE_WRITE_THROUGH))
        return true;
    if (done)
        failure = GetLastError();
    *error = failure == ERROR_ALREADY_EXISTS ? "a file of that name appeared meanwhile" : errorText(failure);
    DeleteFileW(temporary.c_str());
    return false;
}

void removeFile(const std::string& path)
{
    DeleteFileW(wide(path).c_str());
}

StateLock::Result StateLock::take(const std::string& path, long* holder, std::string* error)
{
    release();
    HANDLE file = CreateFileW(wide(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *error = errorText(GetLastError());
        return Failed;
    }
    OVERLAPPED at{};
    at.Offset = kLockedByte;
    if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
        const DWORD failure = GetLastError();
        char text[24] = {};
        DWORD n = 0;
        ReadFile(file, text, sizeof text - 1, &n, nullptr);
        CloseHandle(file);
        if (failure != ERROR_LOCK_VIOLATION && failure != ERROR_IO_PENDING) {
            *error = errorText(failure);
            return Failed;
        }
        *holder = n > 0 ? std::strtol(text, nullptr, 10) : 0;
        return Busy;
    }
    const std::string pid = std::to_string(GetCurrentProcessId()) + "\r\n";
    DWORD written = 0;
    SetEndOfFile(file);
    WriteFile(file, pid.data(), static_cast<DWORD>(pid.size()), &written, nullptr);
    handle_ = reinterpret_cast<intptr_t>(file);
    return Taken;
}

void StateLock::release()
{
    if (handle_ == -1)
        return;
    HANDLE file = reinterpret_cast<HANDLE>(handle_);
    // The file stays, emptied: see the POSIX side.
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    SetEndOfFile(file);
    OVERLAPPED at{};
    at.Offset = kLockedByte;
    UnlockFileEx(file, 0, 1, 0, &at);
    CloseHandle(file);
    handle_ = -1;
}
