// The files kept between runs by both programs: where they live, how one is
// read and created so that a crash never leaves half of it, and the lock
// that keeps two runs apart. Paths are UTF-8 (wide calls on Windows).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The folder for state kept between runs: $XDG_STATE_HOME/kt5cufirm, else
// ~/.local/state/kt5cufirm; %LOCALAPPDATA%\kt5cufirm on Windows. Empty when
// none can be named.
std::string stateFolder();
// Makes the folder and its parents; false with *error when it cannot.
bool makeStateFolder(const std::string& folder, std::string* error);
// The path of `name` in `folder`.
std::string statePath(const std::string& folder, const std::string& name);

enum class StateRead { Read, Missing, Failed };
// Reads a regular file whole, at most `limit` bytes (more is read as limit + 1).
// Missing only when there is no such file; Failed with *error for anything
// else (no permission, a folder or a device at the path, a read error).
StateRead readStateFile(const std::string& path, size_t limit, std::vector<uint8_t>* data, std::string* error);
// Creates the file whole or not at all: a temporary file beside it, flushed
// to disk, then put in place only where no file is: an existing file is
// never replaced. On failure *error says why.
bool createFileAtomically(const std::string& path, const uint8_t* data, size_t size, std::string* error);
void removeFile(const std::string& path);

// An exclusive lock on a file of its own (made when missing), held until
// release or the end of the process, against other processes and other
// runs in this one. The holder's process id is written into the file.
class StateLock {
public:
    StateLock() = default;
    ~StateLock() { release(); }
    StateLock(const StateLock&) = delete;
    StateLock& operator=(const StateLock&) = delete;

    enum Result { Taken, Busy, Failed };
    // Busy: *holder is the holding process's id (0 when not known).
    // Failed: *error says why.
    Result take(const std::string& path, long* holder, std::string* error);
    void release();
    bool held() const { return handle_ != -1; }

private:
    intptr_t handle_ = -1;
};
