#include <windows.h>
#include <shlwapi.h>

#include "image_file.h"

void programImagePath(char path[kPathSize])
{
    ZeroMemory(path, kPathSize);
    GetModuleFileNameA(nullptr, path, kPathSize);
    PathRemoveFileSpecA(path);
    PathAppendA(path, kImageFileName);
}
