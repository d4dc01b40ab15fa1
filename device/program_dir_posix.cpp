#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "image_file.h"

void programImagePath(char path[kPathSize])
{
    char program[kPathSize] = {};
    ssize_t length = readlink("/proc/self/exe", program, sizeof program - 1);
    if (length <= 0)
        length = 0;
    program[length] = '\0';
    char* slash = std::strrchr(program, '/');
    if (slash != nullptr)
        slash[1] = '\0';
    else
        std::strcpy(program, "./");
    std::snprintf(path, kPathSize, "%s%s", program, kImageFileName);
}
