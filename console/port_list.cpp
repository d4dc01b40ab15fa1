#include "port_list.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

bool naturalLess(const std::string& a, const std::string& b)
{
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (std::isdigit(static_cast<unsigned char>(a[i])) && std::isdigit(static_cast<unsigned char>(b[j]))) {
            size_t endA = i, endB = j;
            while (endA < a.size() && std::isdigit(static_cast<unsigned char>(a[endA])))
                ++endA;
            while (endB < b.size() && std::isdigit(static_cast<unsigned char>(b[endB])))
                ++endB;
            // Without leading zeros, the longer run is the larger number.
            std::string numberA = a.substr(i, endA - i), numberB = b.substr(j, endB - j);
            numberA.erase(0, std::min(numberA.find_first_not_of('0'), numberA.size()));
            numberB.erase(0, std::min(numberB.find_first_not_of('0'), numberB.size()));
            if (numberA.size() != numberB.size())
                return numberA.size() < numberB.size();
            if (numberA != numberB)
                return numberA < numberB;
            i = endA;
            j = endB;
            continue;
        }
        if (a[i] != b[j])
            return a[i] < b[j];
        ++i;
        ++j;
    }
    return a.size() - i < b.size() - j;
}

std::string serialPortListText(const std::vector<SerialPortInfo>& ports)
{
    std::string text;
    for (const SerialPortInfo& port : ports) {
        std::string line = port.path;
        const auto add = [&line](const std::string& part) {
            if (!part.empty())
                line += "  " + part;
        };
        add(port.description);
        if (!port.vendorId.empty())
            add("USB " + port.vendorId + ":" + port.productId);
        add(port.manufacturer);
        add(port.product);
        if (!port.serialNumber.empty())
            add("serial " + port.serialNumber);
        if (!port.driver.empty())
            add("(" + port.driver + ")");
        text += line + "\n";
        for (const std::string& alias : port.aliases)
            text += "    " + alias + "\n";
    }
    return text;
}

bool samePort(const std::string& a, const std::string& b)
{
    if (a == b)
        return true;
    std::error_code failed;
    return std::filesystem::equivalent(std::filesystem::path(a), std::filesystem::path(b), failed) && !failed;
}

NamedPort namePort(const std::string& given, const std::vector<SerialPortInfo>& ports)
{
    NamedPort named;
    for (const SerialPortInfo& port : ports) {
        bool match = samePort(given, port.path);
        for (const std::string& alias : port.aliases)
            match = match || samePort(given, alias);
        if (!match)
            continue;
        named.serialNumber = port.serialNumber;
        if (!port.aliases.empty())
            named.stableName =
                std::find(port.aliases.begin(), port.aliases.end(), given) != port.aliases.end() ? given
                                                                                               : port.aliases.front();
        break;
    }
    return named;
}
