#include "test_support.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <random>

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
            data.push_back(static_cast<uint8_t>(r * 31 + i * 7));
        lines.push_back(hexRecord(static_cast<uint16_t>(r * bytesPerRecord), 0, data));
    }
    lines.push_back(endOfFileRecord());
    return imageText(versionDigits, lines);
}

std::vector<uint8_t> imageMemory(const std::string& image)
{
    std::vector<uint8_t> memory;
    for (size_t at = image.find(':'); at != std::string::npos; at = image.find(':', at + 1)) {
        auto byteAt = [&](size_t offset) { return std::stoul(image.substr(at + offset, 2), nullptr, 16); };
        const size_t count = byteAt(1), address = byteAt(3) * 256 + byteAt(5);
        if (byteAt(7) != 0)
            continue;
        memory.resize(std::max(memory.size(), address + count), 0xFF);
        for (size_t i = 0; i < count; ++i)
            memory[address + i] = static_cast<uint8_t>(byteAt(9 + 2 * i));
    }
    return memory;
}

ScratchDir::ScratchDir()
{
    static std::atomic<int> serial{0};
    path_ = std::filesystem::temp_directory_path() /
            ("kt5cu-test-" + std::to_string(std::random_device()()) + "-" + std::to_string(serial++));
    std::filesystem::create_directories(path_);
}

ScratchDir::~ScratchDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::filesystem::path ScratchDir::write(const std::string& name, const std::string& content) const
{
    std::ofstream(path_ / name, std::ios::binary) << content;
    return path_ / name;
}
