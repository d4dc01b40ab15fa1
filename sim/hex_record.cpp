#include "hex_record.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>

std::string hexRecord(uint16_t address, uint8_t type, const std::vector<uint8_t>& data)
{
    std::vector<uint8_t> bytes{static_cast<uint8_t>(data.size()), static_cast<uint8_t>(address >> 8),
                               static_cast<uint8_t>(address & 0xFF), type};
    bytes.insert(bytes.end(), data.begin(), data.end());
    unsigned sum = 0;
    for (uint8_t b : bytes)
        sum += b;
    bytes.push_back(static_cast<uint8_t>(0x100 - (sum & 0xFF)));
    std::string line = ":";
    char digits[3];
    for (uint8_t b : bytes) {
        std::snprintf(digits, sizeof digits, "%02X", unsigned{b});
        line += digits;
    }
    return line;
}

std::string imageOfData(uint8_t major, uint8_t minor, const std::vector<uint8_t>& data, size_t perRecord)
{
    char version[8];
    std::snprintf(version, sizeof version, "V%02X%02X", unsigned{minor}, unsigned{major});
    std::string image = std::string(version) + "\r\n";
    for (size_t at = 0; at < data.size(); at += perRecord) {
        if (at % 0x10000 == 0 && at > 0)
            image += hexRecord(0, 4, {static_cast<uint8_t>(at >> 24), static_cast<uint8_t>(at >> 16)}) + "\r\n";
        const auto end = data.begin() + static_cast<std::ptrdiff_t>(std::min(at + perRecord, data.size()));
        image += hexRecord(static_cast<uint16_t>(at & 0xFFFF), 0,
                           std::vector<uint8_t>(data.begin() + static_cast<std::ptrdiff_t>(at), end)) + "\r\n";
    }
    return image + hexRecord(0, 1, {}) + "\r\n";
}
