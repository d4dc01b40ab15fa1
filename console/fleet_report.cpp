#include "fleet_report.h"

#include <algorithm>
#include <cstdio>

namespace {

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

std::string serialUnitLabel(const std::string& port, const std::string& serialNumber)
{
    return serialNumber.empty() ? port : port + " " + serialNumber;
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
    const std::string heading = !units.empty() && !units.front().port.empty() ? "Port" : "Address";
    size_t labelWidth = heading.size();
    for (const UnitReport& unit : units)
        labelWidth = std::max(labelWidth, unit.label.size());
    auto row = [&](const std::string& label, const std::string& before, const std::string& after,
                   const std::string& result, const std::string& seconds) {
        char text[512];
        std::snprintf(text, sizeof text, "%-*s  %-6s  %-6s  %-23s  %7s\n", static_cast<int>(labelWidth),
                      label.c_str(), before.c_str(), after.c_str(), result.c_str(), seconds.c_str());
        return std::string(text);
    };
    std::string table = row(heading, "Before", "After", "Result", "Seconds");
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
    const std::string where =
        unit.port.empty()
            ? "\"host\":" + jsonString(unit.host) + ",\"address\":" + version(unit.address) +
                  ",\"tcp_port\":" + std::to_string(unit.tcpPort)
            : "\"port\":" + jsonString(unit.port) + ",\"stable_name\":" + version(unit.stableName) +
                  ",\"serial_number\":" + version(unit.serialNumber);
    return "{" + where + ",\"version_before\":" + version(unit.versionBefore) +
           ",\"version_after\":" + version(unit.versionAfter) + ",\"result\":" + jsonString(resultName(unit.result)) +
           ",\"status\":" + std::to_string(unitStatus(unit.result)) + ",\"seconds\":" + seconds +
           ",\"sha256\":" + jsonString(unit.sha256) + "}";
}
