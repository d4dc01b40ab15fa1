#include "fleet.h"

#include "command_line.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <optional>

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
    const bool address = host->host.find_first_not_of("0123456789.") == std::string::npos;
    if (address ? !isDottedIpv4(host->host) : !isHostName(host->host))
        return "'" + host->host + "' is neither a dotted IPv4 address nor a host name";
    return {};
}

std::string jsonString(const std::string& text)
{
    std::string result = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            result += '\\';
            result += c;
        } else if (byte < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            result += escaped;
        } else {
            result += c;
        }
    }
    return result + "\"";
}

std::string orDash(const std::string& text)
{
    return text.empty() ? "-" : text;
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

const char* resultName(UnitResult result)
{
    switch (result) {
    case UnitResult::Complete:
        return "complete";
    case UnitResult::Unchanged:
        return "unchanged";
    case UnitResult::FailedBeforeErase:
        return "failed before the erase";
    case UnitResult::ErasedIncomplete:
        return "erased but incomplete";
    case UnitResult::XportNotRestored:
        return "XPort not restored";
    case UnitResult::Skipped:
        return "skipped";
    case UnitResult::NotAttempted:
        break;
    }
    return "not attempted";
}

int unitStatus(UnitResult result)
{
    switch (result) {
    case UnitResult::Complete:
    case UnitResult::Skipped:
        return 0;
    case UnitResult::ErasedIncomplete:
        return 3;
    case UnitResult::XportNotRestored:
        return 4;
    default:
        return 1;
    }
}

bool unitEndedWell(UnitResult result)
{
    return result == UnitResult::Complete || result == UnitResult::Skipped;
}

UnitResult unitResult(const UnitRun& run)
{
    if (run.xportNotPutBack)
        return UnitResult::XportNotRestored;
    if (run.written)
        return UnitResult::Complete;
    if (run.erased)
        return UnitResult::ErasedIncomplete;
    if (run.leftAlone)
        return UnitResult::Skipped;
    return run.errorShown ? UnitResult::FailedBeforeErase : UnitResult::Unchanged;
}

std::string unitLabel(const FleetHost& host)
{
    return host.tcpPort == kDefaultTcpPort ? host.host : host.host + ":" + std::to_string(host.tcpPort);
}

std::string versionNumber(uint8_t major, uint8_t minor)
{
    char text[16];
    std::snprintf(text, sizeof text, "%X.%02X", major, minor);
    return text;
}

int fleetStatus(const std::vector<UnitReport>& units)
{
    for (const int status : {4, 3, 1}) {
        for (const UnitReport& unit : units) {
            if (unitStatus(unit.result) == status)
                return status;
        }
    }
    return 0;
}

std::string summaryTable(const std::vector<UnitReport>& units)
{
    size_t labelWidth = std::string("Address").size();
    for (const UnitReport& unit : units)
        labelWidth = std::max(labelWidth, unit.label.size());
    auto row = [&](const std::string& label, const std::string& before, const std::string& after,
                   const std::string& result, const std::string& seconds) {
        char text[512];
        std::snprintf(text, sizeof text, "%-*s  %-6s  %-6s  %-23s  %7s\n", static_cast<int>(labelWidth),
                      label.c_str(), before.c_str(), after.c_str(), result.c_str(), seconds.c_str());
        return std::string(text);
    };
    std::string table = row("Address", "Before", "After", "Result", "Seconds");
    for (const UnitReport& unit : units) {
        char seconds[32] = "-";
        if (unit.result != UnitResult::NotAttempted)
            std::snprintf(seconds, sizeof seconds, "%.1f", unit.seconds);
        table += row(unit.label, orDash(unit.versionBefore), orDash(unit.versionAfter), resultName(unit.result),
                     seconds);
    }
    return table;
}

std::string reportLine(const UnitReport& unit)
{
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f", unit.seconds);
    auto version = [](const std::string& text) { return text.empty() ? std::string("null") : jsonString(text); };
    return "{\"host\":" + jsonString(unit.host) + ",\"address\":" + version(unit.address) +
           ",\"tcp_port\":" + std::to_string(unit.tcpPort) + ",\"version_before\":" + version(unit.versionBefore) +
           ",\"version_after\":" + version(unit.versionAfter) + ",\"result\":" + jsonString(resultName(unit.result)) +
           ",\"status\":" + std::to_string(unitStatus(unit.result)) + ",\"seconds\":" + seconds + "}";
}
