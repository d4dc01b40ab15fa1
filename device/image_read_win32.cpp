#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "image_file.h"
#include "wide_path.h"

namespace {

int refuse(std::string* reason, const char* text, int file = -1)
{
    if (file >= 0)
        _close(file);
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
    // Paths are UTF-8: the wide calls reach every folder, whatever the code page.
    const std::wstring wide = widePath(path);
    struct _stat64 status {};
    // A directory does not open at all; say what it is rather than "permission denied".
    if (_wstat64(wide.c_str(), &status) == 0 && (status.st_mode & _S_IFMT) == _S_IFDIR)
        return refuse(reason, "is a directory");
    const int file = _wopen(wide.c_str(), _O_RDONLY | _O_BINARY);
    if (file < 0)
        return refuse(reason, std::strerror(errno));
    if (_fstat64(file, &status) != 0)
        return refuse(reason, std::strerror(errno), file);
    if ((status.st_mode & _S_IFMT) != _S_IFREG)  // a pipe, a device such as NUL or COM1
        return refuse(reason, "is a pipe or a device, not a regular file", file);
    if (status.st_size > INT32_MAX)
        return refuse(reason, "is too large (2 GiB or more)", file);
    *size = static_cast<int32_t>(status.st_size);
    // One byte at least, so that an empty file loads as an empty image.
    auto* block = static_cast<uint8_t*>(std::malloc(*size > 0 ? static_cast<size_t>(*size) : 1));
    if (block == nullptr)
        return refuse(reason, std::strerror(ENOMEM), file);
    int32_t got = 0;
    while (got < *size) {
        const int n = _read(file, block + got, static_cast<unsigned>(*size - got));
        if (n <= 0)
            break;
        got += n;
    }
    _close(file);
    if (got < *size) {
        std::free(block);
        return refuse(reason, "read fewer bytes than the file's size");
    }
    *data = block;
    return 1;
}
