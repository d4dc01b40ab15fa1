#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "image_file.h"

std::FILE* openForReading(const char* path)
{
    return std::fopen(path, "rb");
}

void programImagePath(char path[kPathSize])
{
    std::memset(path, 0, kPathSize);
    // The program's own path, whole: a buffer that the path fills may hold it
    // cut short, and the last "/" of a cut path belongs to a parent folder.
    char program[PATH_MAX + 1] = {};
    const ssize_t length = readlink("/proc/self/exe", program, sizeof program);
    size_t directory = 0;
    if (length < 0) {
        // No such link on this system: the program's path is unknown.
        if (errno != ENOENT)
            return;
        std::memcpy(program, "./", 2);
        directory = 2;
    } else if (static_cast<size_t>(length) >= sizeof program) {
        return;
    }
    for (ssize_t i = 0; i < length; ++i)
        if (program[i] == '/')
            directory = static_cast<size_t>(i) + 1;
    const size_t name = sizeof kImageFileName;  // with its terminating zero
    // A path that does not fit stays empty, so that nothing else is opened.
    if (directory == 0 || directory + name > static_cast<size_t>(kPathSize))
        return;
    std::memcpy(path, program, directory);
    std::memcpy(path + directory, kImageFileName, name);
}
