#include "discover.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>

#include "console_messages.h"
#include "default_ports.h"
#include "discover_interfaces.h"
#include "fleet_hosts.h"
#include "host_address.h"
#include "protocol_waits.h"
#include "run_outcome.h"
#include "sockets.h"
#include "update_context.h"
#include "xport_setup.h"

namespace {

using Clock = std::chrono::steady_clock;

const uint8_t kQuery[4] = {0x00, 0x00, 0x00, 0xF6};
const uint8_t kGetSetup[4] = {0x00, 0x00, 0x00, 0xF8};
// Byte 21 of a unit an interrupted update left switched.
constexpr int kSwitchedSetting = 8;

std::string withoutLastLineEnd(std::string text)
{
    if (!text.empty() && text.back() == '\n')
        text.pop_back();
    return text;
}

std::string dotted(uint32_t networkOrder)
{
    const auto* b = reinterpret_cast<const uint8_t*>(&networkOrder);
    return std::to_string(b[0]) + "." + std::to_string(b[1]) + "." + std::to_string(b[2]) + "." + std::to_string(b[3]);
}

void sendTo(SocketHandle socket, uint32_t address, const uint8_t* request, int length)
{
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_addr.s_addr = address;
    peer.sin_port = htons(kXportConfigPort);
    sendto(socket, reinterpret_cast<const char*>(request), length, 0, reinterpret_cast<const sockaddr*>(&peer),
           sizeof peer);
}

// A socket on an ephemeral port (never 10001, which updates use) that may
// broadcast, bound to `local` (network order; 0 for any).
SocketHandle openDiscoverySocket(uint32_t local)
{
    SocketHandle handle = socket(AF_INET, SOCK_DGRAM, 0);
    if (handle == kNoSocket)
        return handle;
    const int one = 1;
    setsockopt(handle, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&one), sizeof one);
    sockaddr_in own{};
    own.sin_family = AF_INET;
    own.sin_addr.s_addr = local;
    if (bind(handle, reinterpret_cast<const sockaddr*>(&own), sizeof own) != 0) {
        closeSocketHandle(handle);
        return kNoSocket;
    }
    return handle;
}

// Every reply of the query's length from port 30718 until `deadline`: each
// address once, with the time since its query (or the broadcast) was sent.
void gatherReplies(SocketHandle socket, const std::map<uint32_t, Clock::time_point>& sent,
                   Clock::time_point broadcastAt, Clock::time_point deadline, std::map<uint32_t, FoundXport>* found)
{
    while (true) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (!waitSocketReadable(socket, static_cast<int>(std::max<long long>(0, left)))) {
            if (Clock::now() >= deadline)
                return;
            continue;
        }
        uint8_t reply[1400];
        sockaddr_in source{};
        const int n = receiveDatagram(socket, reply, sizeof reply, &source);
        const auto at = Clock::now();
        if (n != kQueryReplySize || ntohs(source.sin_port) != kXportConfigPort ||
            found->count(source.sin_addr.s_addr) > 0)
            continue;
        const auto asked = sent.find(source.sin_addr.s_addr);
        const Clock::time_point from = asked != sent.end() ? asked->second : broadcastAt;
        FoundXport unit;
        unit.address = dotted(source.sin_addr.s_addr);
        unit.replyMs = std::chrono::duration<double, std::milli>(at - from).count();
        (*found)[source.sin_addr.s_addr] = unit;
    }
}

// The unit's setup record, read only: its byte 21, or -1.
int readByte21(SocketHandle socket, uint32_t address)
{
    sendTo(socket, address, kGetSetup, sizeof kGetSetup);
    uint8_t record[kSetupRecordSize] = {};
    int gathered = 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(protocolWaits().receiveMs);
    while (gathered < kSetupRecordSize && Clock::now() < deadline) {
        if (!waitSocketReadable(socket, 50))
            continue;
        uint8_t part[1400];
        sockaddr_in source{};
        const int n = receiveDatagram(socket, part, sizeof part, &source);
        if (n <= 0 || source.sin_addr.s_addr != address || ntohs(source.sin_port) != kXportConfigPort ||
            n == kQueryReplySize || gathered + n > kSetupRecordSize)
            continue;
        std::memcpy(record + gathered, part, static_cast<size_t>(n));
        gathered += n;
    }
    return gathered == kSetupRecordSize ? record[kSwitchedByte] : -1;
}

// The addresses to ask one by one, network order; false with the usage error said.
bool unicastTargets(const DiscoverOptions& options, std::vector<uint32_t>* targets)
{
    std::string error;
    for (const std::string& range : options.ranges) {
        std::vector<uint32_t> addresses;
        if (!expandRange(range, &addresses, &error)) {
            std::fprintf(stderr, "kt5cufirm: --discover %s: %s\n", range.c_str(), error.c_str());
            return false;
        }
        for (const uint32_t address : addresses)
            targets->push_back(htonl(address));
    }
    std::vector<FleetHost> hosts;
    if (!options.hostsFile.empty() && !readHostsFile(options.hostsFile, kDefaultTcpPort, &hosts, &error)) {
        std::fprintf(stderr, "kt5cufirm: %s\n", error.c_str());
        return false;
    }
    for (const FleetHost& host : hosts) {
        std::string address;
        if (!resolveIpv4(host.host, &address, &error)) {
            std::fprintf(stderr, "kt5cufirm: %s: the host name cannot be resolved to an IPv4 address: %s\n",
                         host.host.c_str(), error.c_str());
            return false;
        }
        targets->push_back(addressFromText(address.c_str()));
    }
    return true;
}

} // namespace

bool expandRange(const std::string& text, std::vector<uint32_t>* addresses, std::string* error)
{
    const size_t slash = text.find('/');
    const std::string base = text.substr(0, slash);
    const auto bits = slash == std::string::npos ? std::optional<int>(32) : parseNumber(text.substr(slash + 1), 0, 32);
    if (!isDottedIpv4(base) || !bits) {
        *error = "a range is an IPv4 address, or one with /BITS (e.g. 192.168.1.0/24)";
        return false;
    }
    if (*bits < 16) {
        *error = "a range of at most a /16 is asked address by address";
        return false;
    }
    const uint32_t mask = *bits == 0 ? 0 : ~uint32_t{0} << (32 - *bits);
    const uint32_t first = ntohl(addressFromText(base.c_str())) & mask;
    const uint32_t last = first | ~mask;
    const bool hostsOnly = *bits < 31;  // the network's own and its broadcast address are no unit
    for (uint64_t address = first + (hostsOnly ? 1 : 0); address <= last - (hostsOnly ? 1 : 0); ++address)
        addresses->push_back(static_cast<uint32_t>(address));
    return true;
}

std::string discoveryTable(const std::vector<FoundXport>& found)
{
    std::string table = "Address          Reply     Byte 21\n";
    for (const FoundXport& unit : found) {
        char row[128];
        std::snprintf(row, sizeof row, "%-15s  %5.0f ms  %s", unit.address.c_str(), unit.replyMs,
                      unit.byte21 < 0 ? "-" : std::to_string(unit.byte21).c_str());
        table += row;
        if (unit.byte21 == kSwitchedSetting)
            table += "  " + consoleMessage(TextDiscoverLeftSwitched, {unit.address});
        table += "\n";
    }
    return table;
}

std::string discoveryLine(const FoundXport& unit)
{
    char line[200];
    std::snprintf(line, sizeof line, "{\"address\":\"%s\",\"reply_ms\":%.1f,\"byte21\":%s,\"left_switched\":%s}",
                  unit.address.c_str(), unit.replyMs, unit.byte21 < 0 ? "null" : std::to_string(unit.byte21).c_str(),
                  unit.byte21 == kSwitchedSetting ? "true" : "false");
    return line;
}

namespace {

// The interfaces to broadcast on: all that have a broadcast address, or the
// one named; false (said) when the named one has none.
bool chooseInterfaces(const std::string& name, std::vector<BroadcastInterface>* chosen)
{
    *chosen = broadcastInterfaces();
    if (name.empty())
        return true;
    chosen->erase(std::remove_if(chosen->begin(), chosen->end(),
                                 [&name](const BroadcastInterface& i) { return i.name != name; }),
                  chosen->end());
    if (chosen->empty())
        std::fprintf(stderr, "kt5cufirm: --interface %s: no such interface with an IPv4 broadcast address\n",
                     name.c_str());
    return !chosen->empty();
}

// Every query out (the broadcasts first), the replies gathered as they come
// and for one reply wait after the last; each unit's byte 21 read then.
std::vector<FoundXport> discover(SocketHandle socket, const std::vector<BroadcastInterface>& interfaces,
                                 const std::vector<uint32_t>& targets)
{
    std::map<uint32_t, Clock::time_point> sent;
    std::map<uint32_t, FoundXport> found;
    const auto broadcastAt = Clock::now();
    for (const BroadcastInterface& chosen : interfaces)
        sendTo(socket, chosen.broadcast, kQuery, sizeof kQuery);
    for (const uint32_t target : targets) {
        sent.emplace(target, Clock::now());
        sendTo(socket, target, kQuery, sizeof kQuery);
        gatherReplies(socket, sent, broadcastAt, Clock::now(), &found);
    }
    gatherReplies(socket, sent, broadcastAt, Clock::now() + std::chrono::milliseconds(protocolWaits().receiveMs),
                  &found);
    std::vector<FoundXport> units;
    for (auto& [address, unit] : found) {
        unit.byte21 = readByte21(socket, address);
        units.push_back(unit);
    }
    std::sort(units.begin(), units.end(), [](const FoundXport& a, const FoundXport& b) {
        return ntohl(addressFromText(a.address.c_str())) < ntohl(addressFromText(b.address.c_str()));
    });
    return units;
}

// The units found as asked: the table, the addresses alone, the report.
int showFound(const DiscoverOptions& options, const std::vector<FoundXport>& units)
{
    if (!options.reportPath.empty()) {
        std::FILE* report = std::fopen(options.reportPath.c_str(), "w");
        if (report == nullptr) {
            std::fprintf(stderr, "kt5cufirm: --report %s: %s\n", options.reportPath.c_str(), std::strerror(errno));
            return kExitUsage;
        }
        for (const FoundXport& unit : units)
            std::fprintf(report, "%s\n", discoveryLine(unit).c_str());
        std::fclose(report);
    }
    if (units.empty()) {
        sayLine(stderr, TextDiscoverNone);
        return kExitNotChanged;
    }
    std::string text;
    for (const FoundXport& unit : units)
        text += unit.address + "\n";
    sayLine(stdout, withoutLastLineEnd(options.quiet ? text : discoveryTable(units)));
    return kExitComplete;
}

} // namespace

int runDiscovery(const DiscoverOptions& options)
{
    std::vector<uint32_t> targets;
    std::vector<BroadcastInterface> interfaces;
    if (!unicastTargets(options, &targets) || !chooseInterfaces(options.interfaceName, &interfaces))
        return kExitUsage;
    SocketLibraryData library{};
    startSocketLibrary(&library);
    const SocketHandle socket = openDiscoverySocket(options.interfaceName.empty() ? 0 : interfaces.front().address);
    if (socket == kNoSocket) {
        std::fprintf(stderr, "kt5cufirm: --discover: no UDP socket: %s\n", std::strerror(errno));
        stopSocketLibrary();
        return kExitNotChanged;
    }
    const std::vector<FoundXport> units = discover(socket, interfaces, targets);
    closeSocketHandle(socket);
    stopSocketLibrary();
    return showFound(options, units);
}
