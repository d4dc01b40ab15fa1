#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "state_files.h"

namespace {

// Writes all of `data`; 0, else the errno.
int writeAll(int file, const uint8_t* data, size_t size)
{
    for (size_t done = 0; done < size;) {
        const ssize_t n = write(file, data + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : EIO;
        done += static_cast<size_t>(n);
    }
    return 0;
}

// The folder's entry reaches the disk too.
void syncFolderOf(const std::string& path)
{
    const std::string parent = path.substr(0, path.rfind('/') + 1);
    const int folder = open(parent.empty() ? "." : parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        fsync(folder);
        close(folder);
    }
}

// Puts `temporary` at `path` where no file is. A file system without hard
// links takes a rename, after a look that nothing is there.
int putInPlace(const std::string& temporary, const std::string& path)
{
    if (link(temporary.c_str(), path.c_str()) == 0)
        return 0;
    if (errno == EEXIST)
        return EEXIST;
    struct stat there;
    if (lstat(path.c_str(), &there) == 0)
        return EEXIST;
    return rename(temporary.c_str(), path.c_str()) == 0 ? 0 : errno;
}

} // namespace

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

bool makeStateFolder(const std::string& folder, std::string* error)
{
    for (size_t at = 1; at <= folder.size(); ++at) {
        if (at < folder.size() && folder[at] != '/')
            continue;
        const std::string part = folder.substr(0, at);
        struct stat there;
        if (stat(part.c_str(), &there) == 0 && S_ISDIR(there.st_mode))
            continue;
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            *error = std::strerror(errno);
            return false;
        }
        if (stat(part.c_str(), &there) != 0 || !S_ISDIR(there.st_mode)) {
            *error = part + " is not a folder";
            return false;
        }
    }
    return true;
}

std::string statePath(const std::string& folder, const std::string& name)
{
    return folder + "/" + name;
}

StateRead readStateFile(const std::string& path, size_t limit, std::vector<uint8_t>* data, std::string* error)
{
    // Non-blocking: a FIFO at the path never waits for a writer.
    error->clear();
    const int file = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (file < 0 && errno == ENOENT)
        return StateRead::Missing;
    struct stat there;
    int failure = file < 0 ? errno : fstat(file, &there) != 0 ? errno : 0;
    if (failure == 0 && !S_ISREG(there.st_mode))
        *error = S_ISDIR(there.st_mode) ? "it is a folder, not a file" : "it is not a regular file";
    data->clear();
    uint8_t block[256];
    while (failure == 0 && error->empty() && data->size() <= limit) {
        const ssize_t n = read(file, block, sizeof block);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            failure = n < 0 ? errno : 0;
            break;
        }
        data->insert(data->end(), block, block + n);
    }
    if (file >= 0)
        close(file);
    if (failure != 0)
        *error = std::strerror(failure);
    if (data->size() > limit)
        data->resize(limit + 1);
    return error->empty() ? StateRead::Read : StateRead::Failed;
}

bool createFileAtomically(const std::string& path, const uint8_t* data, size_t size, std::string* error)
{
    const std::string temporary = path + ".tmp" + std::to_string(getpid());
    const int file = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    int failure = file < 0 ? errno : writeAll(file, data, size);
    if (failure == 0 && fsync(file) != 0)
        failure = errno;
    if (file >= 0 && close(file) != 0 && failure == 0)
        failure = errno;
    if (failure == 0)
        failure = putInPlace(temporary, path);
    unlink(temporary.c_str());  // after a link, the temporary name alone
    if (failure != 0) {
        *error = failure == EEXIST ? "a file of that name appeared meanwhile" : std::strerror(failure);
        return false;
    }
    syncFolderOf(path);
    return true;
}

void removeFile(const std::string& path)
{
    unlink(path.c_str());
}

StateLock::Result StateLock::take(const std::string& path, long* holder, std::string* error)
{
    release();
    const int file = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (file < 0) {
        *error = std::strerror(errno);
        return Failed;
    }
    // flock, not fcntl: a lock of an open file of its own, so that two runs
    // in one process keep apart as two processes do.
    if (flock(file, LOCK_EX | LOCK_NB) != 0) {
        const int failure = errno;
        char text[24] = {};
        const ssize_t n = pread(file, text, sizeof text - 1, 0);
        close(file);
        if (failure != EWOULDBLOCK) {
            *error = std::strerror(failure);
            return Failed;
        }
        *holder = n > 0 ? std::strtol(text, nullptr, 10) : 0;
        return Busy;
    }
    const std::string pid = std::to_string(getpid()) + "\n";
    if (ftruncate(file, 0) == 0)
        writeAll(file, reinterpret_cast<const uint8_t*>(pid.data()), pid.size());
    handle_ = file;
    return Taken;
}

void StateLock::release()
{
    if (handle_ == -1)
        return;
    const int file = static_cast<int>(handle_);
    // The file stays: removing it could let a run waiting on the old one and
    // a run on a new one both hold "the" lock. Its content goes.
    [[maybe_unused]] const int emptied = ftruncate(file, 0);
    flock(file, LOCK_UN);
    close(file);
    handle_ = -1;
}
