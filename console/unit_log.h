// A fleet unit's own log (--log-dir): its lines, each with the time, and its
// trace when --trace is given.
#pragma once

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>

class UnitLog {
public:
    // Opens DIR/<unit>-<start time>.log; file() is null when it cannot be
    // (*error says why).
    UnitLog(const std::string& folder, const std::string& unit, std::string* error);
    ~UnitLog();
    UnitLog(const UnitLog&) = delete;
    UnitLog& operator=(const UnitLog&) = delete;

    std::FILE* file() const { return file_; }
    const std::string& path() const { return path_; }
    // Any thread: each line of `text` with the local time before it.
    void write(const std::string& text);

    // The file's name for a unit started at `start`: its name with every
    // character a file name may not hold made '_', then the time.
    static std::string fileName(const std::string& unit, std::chrono::system_clock::time_point start);

private:
    std::FILE* file_ = nullptr;
    std::string path_;
    std::mutex mutex_;
};
