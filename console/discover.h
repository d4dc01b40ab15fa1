// --discover: the XPorts that answer the configuration protocol's query, by
// broadcast and address by address; each one's setup record read (never
// put) for its byte 21. Discovery changes nothing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct DiscoverOptions {
    std::vector<std::string> ranges;  // "192.168.1.0/24" or one address
    std::string hostsFile;            // --hosts FILE: its addresses asked too
    std::string interfaceName;        // --interface NAME: broadcast there only
    bool quiet = false;               // -q: the addresses only
    std::string reportPath;           // --report FILE: JSON lines
};

struct FoundXport {
    std::string address;
    double replyMs = 0;  // from the query sent to it (or the broadcast) to its reply
    int byte21 = -1;     // of its setup record; -1 when the record did not come whole
};

// The addresses of "a.b.c.d/nn" (without the network's and the broadcast
// address for nn below 31) or of one address, in host order; false with
// *error when it is neither or larger than a /16.
bool expandRange(const std::string& text, std::vector<uint32_t>* addresses, std::string* error);

// The table as shown, one row per unit, and one unit as a JSON line.
std::string discoveryTable(const std::vector<FoundXport>& found);
std::string discoveryLine(const FoundXport& unit);

// The whole --discover command; its exit status.
int runDiscovery(const DiscoverOptions& options);
