#include <winsock2.h>

#include "discover_interfaces.h"

std::vector<BroadcastInterface> broadcastInterfaces()
{
    // Winsock sends the limited broadcast out of every interface.
    return {{"all", htonl(INADDR_ANY), htonl(INADDR_BROADCAST)}};
}
