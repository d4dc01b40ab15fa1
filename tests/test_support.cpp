#include "test_support.h"

#include <atomic>
#include <cstdio>
#include <fstream>
#include <random>

std::string hexRecord(uint16_t address, uint8_t type, const std::vector<uint8_t>& data)
{
    std::vector<uint8_t> bytes{static_cast<uint8_t>(data.size()), static_cast<uint8_t>(address >> 8),
                               static_cast<uint8_t>(address & 0xFF), type};
    bytes.insert(bytes.end(), data.begin(), data.end());
    unsigned sum = 0;
    for (uint8_t b : bytes)
        sum += b;
    bytes.push_back(static_cast<uint8_t>(-sum & 0xFF));
    std::string line = ":";
    char digits[3];
    for (uint8_t b : bytes) {
        std::snprintf(digits, sizeof digits, "%02X", unsigned{b});
        line += digits;
    }
    return line;
}

std::string endOfFileRecord()
{
    return ":00000001FF";
}

std::string imageText(const std::string& versionDigits, const std::vector<std::string>& records)
{
    std::string text = "V" + versionDigits + "\r\n";
    for (const std::string& record : records)
        text += record + "\r\n";
    return text;
}

std::string sampleImage(const std::string& versionDigits, int records, int bytesPerRecord)
{
    std::vector<std::string> lines;
    for (int r = 0; r < records; ++r) {
        std::vector<uint8_t> data;
        for (int i = 0; i < bytesPerRecord; ++i)
            data.push_back(static_cast<uint8_t>((r * 31 + i * 7) & 0xFF));
        lines.push_back(hexRecord(static_cast<uint16_t>(r * bytesPerRecord), 0, data));
    }
    lines.push_back(endOfFileRecord());
    return imageText(versionDigits, lines);
}

std::vector<uint8_t> imageMemory(const std::string& image)
{
    std::vector<uint8_t> memory;
    size_t at = 0;
    while ((at = image.find(':', at)) != std::string::npos) {
        auto byteAt = [&](size_t offset) {
            return static_cast<uint8_t>(std::stoi(image.substr(at + offset, 2), nullptr, 16));
        };
        const unsigned count = byteAt(1);
        const unsigned address = byteAt(3) * 256u + byteAt(5);
        if (byteAt(7) == 0) {
            if (memory.size() < address + count)
                memory.resize(address + count, 0xFF);
            for (unsigned i = 0; i < count; ++i)
                memory[address + i] = byteAt(9 + 2 * i);
        }
        at += 1;
    }
    return memory;
}

ScratchDir::ScratchDir()
{
    static std::atomic<int> serial{0};
    std::random_device random;
    path_ = std::filesystem::temp_directory_path() /
            ("kt5cu-test-" + std::to_string(random()) + "-" + std::to_string(serial++));
    std::filesystem::create_directories(path_);
}

ScratchDir::~ScratchDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::filesystem::path ScratchDir::write(const std::string& name, const std::string& content) const
{
    std::filesystem::path file = path_ / name;
    std::ofstream out(file, std::ios::binary);
    out << content;
    return file;
}
