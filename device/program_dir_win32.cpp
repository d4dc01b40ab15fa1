#include <windows.h>
#include <shlwapi.h>

#include "image_file.h"

void programImagePath(char path[kPathSize])
{
    ZeroMemory(path, kPathSize);
    // A program path cut to fit the buffer would name a parent folder's file:
    // such a path, and one the file name does not fit, stays empty.
    const DWORD length = GetModuleFileNameA(nullptr, path, kPathSize);
    if (length == 0 || length >= static_cast<DWORD>(kPathSize)) {
        ZeroMemory(path, kPathSize);
        return;
    }
    PathRemoveFileSpecA(path);
    if (!PathAppendA(path, kImageFileName))
        ZeroMemory(path, kPathSize);
}
