#include "unit_log.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>

namespace {

// std::localtime's result is shared by the whole process.
std::mutex clockLock;

std::tm localTime(std::chrono::system_clock::time_point at)
{
    const std::time_t seconds = std::chrono::system_clock::to_time_t(at);
    std::lock_guard<std::mutex> held(clockLock);
    const std::tm* local = std::localtime(&seconds);
    return local != nullptr ? *local : std::tm{};
}

} // namespace

std::string UnitLog::fileName(const std::string& unit, std::chrono::system_clock::time_point start)
{
    std::string name = unit;
    for (char& c : name)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-'))
            c = '_';
    const std::tm t = localTime(start);
    char stamp[40];
    std::snprintf(stamp, sizeof stamp, "-%04d%02d%02d-%02d%02d%02d.log", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                  t.tm_hour, t.tm_min, t.tm_sec);
    return name + stamp;
}

UnitLog::UnitLog(const std::string& folder, const std::string& unit, std::string* error)
{
    path_ = (std::filesystem::path(folder) / fileName(unit, std::chrono::system_clock::now())).string();
    file_ = std::fopen(path_.c_str(), "a");
    if (file_ == nullptr)
        *error = std::strerror(errno);
}

UnitLog::~UnitLog()
{
    if (file_ != nullptr)
        std::fclose(file_);
}

void UnitLog::write(const std::string& text)
{
    if (file_ == nullptr)
        return;
    const auto now = std::chrono::system_clock::now();
    const auto milliseconds =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    const std::tm t = localTime(now);
    char stamp[80];
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d.%03d ", t.tm_year + 1900, t.tm_mon + 1,
                  t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, static_cast<int>(milliseconds));
    std::string lines;
    for (size_t at = 0; at < text.size();) {
        const size_t end = std::min(text.find('\n', at), text.size());
        lines += stamp + text.substr(at, end - at) + "\n";
        at = end + 1;
    }
    std::lock_guard<std::mutex> held(mutex_);
    std::fputs(lines.c_str(), file_);
    std::fflush(file_);
}
