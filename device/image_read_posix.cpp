#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "image_file.h"

namespace {

// What a file that is not a regular one is, for the reason.
const char* kindOf(mode_t mode)
{
    if (S_ISDIR(mode)) return "is a directory";
    if (S_ISFIFO(mode)) return "is a FIFO, not a regular file";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "is a device, not a regular file";
    if (S_ISSOCK(mode)) return "is a socket, not a regular file";
    return "is not a regular file";
}

int refuse(std::string* reason, const char* text, int file = -1)
{
    if (file >= 0)
        close(file);
    if (reason != nullptr)
        *reason = text;
    return 0;
}

} // namespace

int readImageFile(const char* path, uint8_t** data, int32_t* size, std::string* reason)
{
    *data = nullptr;
    if (path[0] == '\0')  // the program's path left no room for the file's name
        return refuse(reason, std::strerror(ENAMETOOLONG));
    // Without waiting: opening a FIFO for reading would wait for a writer.
    const int file = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat status {};
    if (file < 0)
        return refuse(reason, std::strerror(errno));
    if (fstat(file, &status) != 0)
        return refuse(reason, std::strerror(errno), file);
    if (!S_ISREG(status.st_mode))
        return refuse(reason, kindOf(status.st_mode), file);
    if (status.st_size > INT32_MAX)
        return refuse(reason, "is too large (2 GiB or more)", file);
    *size = static_cast<int32_t>(status.st_size);
    // One byte at least, so that an empty file loads as an empty image.
    auto* block = static_cast<uint8_t*>(std::malloc(*size > 0 ? static_cast<size_t>(*size) : 1));
    if (block == nullptr)
        return refuse(reason, std::strerror(ENOMEM), file);
    int32_t got = 0;
    while (got < *size) {
        const ssize_t n = read(file, block + got, static_cast<size_t>(*size - got));
        if (n <= 0)
            break;
        got += static_cast<int32_t>(n);
    }
    close(file);
    if (got < *size) {
        std::free(block);
        return refuse(reason, "read fewer bytes than the file's size");
    }
    *data = block;
    return 1;
}
