#include "port_list.h"

#include <algorithm>
#include <cctype>

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
