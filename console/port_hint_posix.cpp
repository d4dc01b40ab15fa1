#include "port_hint.h"

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>

PortProblem portProblem(int error)
{
    if (error == ENOENT || error == ENODEV || error == ENXIO)
        return PortProblem::Missing;
    if (error == EACCES || error == EPERM)
        return PortProblem::NoPermission;
    // EWOULDBLOCK: another opener holds the port's lock.
    if (error == EBUSY || error == EWOULDBLOCK || error == EAGAIN)
        return PortProblem::Busy;
    return PortProblem::Other;
}

std::string portGroup(const std::string& path)
{
    struct stat status {};
    if (stat(path.c_str(), &status) != 0)
        return {};
    const group* owner = getgrgid(status.st_gid);
    return owner != nullptr && owner->gr_name != nullptr ? owner->gr_name : std::to_string(status.st_gid);
}

// Linux: every process's descriptors under /proc that lead to the port.
std::string portHolders(const std::string& path)
{
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path port = fs::canonical(path, error);
    if (error)
        return {};
    std::string found;
    const std::string self = std::to_string(getpid());
    for (const auto& process : fs::directory_iterator("/proc", error)) {
        const std::string pid = process.path().filename().string();
        if (pid.find_first_not_of("0123456789") != std::string::npos || pid == self)
            continue;
        std::error_code listed;
        for (const auto& fd : fs::directory_iterator(process.path() / "fd", listed)) {
            std::error_code read;
            if (fs::read_symlink(fd.path(), read) != port)
                continue;
            std::string name;
            std::getline(std::ifstream(process.path() / "comm"), name);
            found += (found.empty() ? "" : ", ") + name + " (pid " + pid + ")";
            break;
        }
    }
    return found;
}
