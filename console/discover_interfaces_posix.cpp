#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include "discover_interfaces.h"

std::vector<BroadcastInterface> broadcastInterfaces()
{
    std::vector<BroadcastInterface> found;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return found;
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET ||
            (entry->ifa_flags & IFF_BROADCAST) == 0 || (entry->ifa_flags & IFF_UP) == 0 ||
            entry->ifa_broadaddr == nullptr)
            continue;
        const auto* own = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
        const auto* broadcast = reinterpret_cast<const sockaddr_in*>(entry->ifa_broadaddr);
        found.push_back({entry->ifa_name, own->sin_addr.s_addr, broadcast->sin_addr.s_addr});
    }
    freeifaddrs(list);
    return found;
}
