// The IPv4 interfaces of this machine that have a broadcast address, for
// --discover's broadcast query.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct BroadcastInterface {
    std::string name;    // "eth0"; on Windows "all" (the limited broadcast)
    uint32_t address;    // the interface's own address, network order
    uint32_t broadcast;  // its broadcast address, network order
};

std::vector<BroadcastInterface> broadcastInterfaces();
