#include "fleet_hosts.h"

#include <fstream>
#include <iterator>

#include "host_address.h"

namespace {

std::string trimmed(const std::string& text)
{
    const char* blanks = " \t\r\f\v";
    const size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

// One line's `address[:tcp-port]`; an empty string, else why it is not one.
std::string parseHostLine(const std::string& entry, int defaultTcpPort, FleetHost* host)
{
    if (entry.find_first_of(" \t") != std::string::npos)
        return "one address[:tcp-port] a line";
    const size_t colon = entry.find(':');
    host->host = entry.substr(0, colon);
    host->tcpPort = defaultTcpPort;
    if (colon != std::string::npos) {
        const auto port = parseNumber(entry.substr(colon + 1), 1, 65535);
        if (!port)
            return "the TCP port after ':' is a number from 1 to 65535";
        host->tcpPort = *port;
    }
    if (looksLikeDottedAddress(host->host) ? !isDottedIpv4(host->host) : !isHostName(host->host))
        return "'" + host->host + "' is neither a dotted IPv4 address nor a host name";
    return {};
}

} // namespace

bool parseHostsText(const std::string& text, const std::string& fileName, int defaultTcpPort,
                    std::vector<FleetHost>* hosts, std::string* error)
{
    hosts->clear();
    int number = 0;
    for (size_t at = 0; at < text.size();) {
        const size_t end = std::min(text.find('\n', at), text.size());
        std::string line = text.substr(at, end - at);
        at = end + 1;
        ++number;
        const std::string entry = trimmed(line.substr(0, line.find('#')));
        if (entry.empty())
            continue;
        FleetHost host;
        host.line = number;
        const std::string why = parseHostLine(entry, defaultTcpPort, &host);
        if (!why.empty()) {
            *error = fileName + ":" + std::to_string(number) + ": " + why + ": " + entry;
            return false;
        }
        for (const FleetHost& earlier : *hosts) {
            if (earlier.host == host.host && earlier.tcpPort == host.tcpPort) {
                *error = fileName + ":" + std::to_string(number) + ": " + entry + " is listed already on line " +
                         std::to_string(earlier.line);
                return false;
            }
        }
        hosts->push_back(host);
    }
    if (hosts->empty()) {
        *error = fileName + ": no unit is listed";
        return false;
    }
    return true;
}

bool readHostsFile(const std::string& path, int defaultTcpPort, std::vector<FleetHost>* hosts, std::string* error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = path + ": cannot be read";
        return false;
    }
    const std::string text{std::istreambuf_iterator<char>(in), {}};
    return parseHostsText(text, path, defaultTcpPort, hosts, error);
}

bool gatherFleetHosts(const std::vector<std::string>& ips, const std::string& hostsFile, int tcpPort,
                      std::vector<FleetHost>* hosts, std::string* error)
{
    for (const std::string& ip : ips)
        hosts->push_back(FleetHost{ip, tcpPort, 0, {}, 0});
    if (hostsFile.empty())
        return true;
    std::vector<FleetHost> listed;
    if (!readHostsFile(hostsFile, tcpPort, &listed, error))
        return false;
    hosts->insert(hosts->end(), listed.begin(), listed.end());
    return true;
}
