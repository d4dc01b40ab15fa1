#include <unistd.h>

#include <cstring>

#include "image_file.h"

void programImagePath(char path[kPathSize])
{
    // The program's own path, cut after its last "/"; "./" when it is unknown.
    char program[kPathSize] = {};
    ssize_t length = readlink("/proc/self/exe", program, sizeof program - 1);
    size_t directory = 0;
    for (ssize_t i = 0; i < length; ++i)
        if (program[i] == '/')
            directory = static_cast<size_t>(i) + 1;
    if (directory == 0) {
        std::memcpy(program, "./", 2);
        directory = 2;
    }
    const size_t name = sizeof kImageFileName;  // with its terminating zero
    std::memset(path, 0, kPathSize);
    // A path that does not fit stays empty, so that nothing else is opened.
    if (directory + name <= static_cast<size_t>(kPathSize)) {
        std::memcpy(path, program, directory);
        std::memcpy(path + directory, kImageFileName, name);
    }
}
