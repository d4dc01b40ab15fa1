#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "state_files.h"

std::string stateFolder()
{
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && state[0] == '/')
        return std::string(state) + "/kt5cufirm";
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] != '\0')
        return std::string(home) + "/.local/state/kt5cufirm";
    return {};
}

bool writeFileAtomically(const std::string& path, const uint8_t* data, size_t size, std::string* error)
{
    const std::string temporary = path + ".tmp" + std::to_string(getpid());
    int failure = 0;
    const int file = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (file < 0)
        failure = errno;
    for (size_t done = 0; failure == 0 && done < size;) {
        const ssize_t n = write(file, data + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            failure = n < 0 ? errno : EIO;
        else
            done += static_cast<size_t>(n);
    }
    if (failure == 0 && fsync(file) != 0)
        failure = errno;
    if (file >= 0 && close(file) != 0 && failure == 0)
        failure = errno;
    if (failure == 0 && rename(temporary.c_str(), path.c_str()) != 0)
        failure = errno;
    if (failure != 0) {
        *error = std::strerror(failure);
        unlink(temporary.c_str());
        return false;
    }
    // The rename itself reaches the disk with the folder's entry.
    const std::string parent = path.substr(0, path.rfind('/') + 1);
    const int folder = open(parent.empty() ? "." : parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        fsync(folder);
        close(folder);
    }
    return true;
}

void removeFile(const std::string& path)
{
    unlink(path.c_str());
}
