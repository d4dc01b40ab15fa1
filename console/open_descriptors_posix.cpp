#include <dirent.h>

#include <cstdlib>
#include <set>

#include "open_descriptors.h"

std::string openDescriptors()
{
    DIR* folder = opendir("/proc/self/fd");
    if (folder == nullptr)
        return {};
    std::set<int> open;
    while (const dirent* entry = readdir(folder))
        if (entry->d_name[0] >= '0' && entry->d_name[0] <= '9')
            open.insert(std::atoi(entry->d_name));
    open.erase(dirfd(folder));
    closedir(folder);
    std::string list;
    for (int descriptor : open)
        list += (list.empty() ? "" : " ") + std::to_string(descriptor);
    return list;
}
