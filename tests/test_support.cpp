#include "test_support.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

namespace {

// A reader of JSON text from `at`; each step false on anything else.
struct JsonReader {
    const std::string& text;
    size_t at = 0;

    void space()
    {
        while (at < text.size() && std::strchr(" \t\r\n", text[at]) != nullptr && text[at] != '\0')
            ++at;
    }
    bool take(char c)
    {
        space();
        return at < text.size() && text[at] == c ? (++at, true) : false;
    }
    bool word(const char* w)
    {
        const size_t n = std::strlen(w);
        return text.compare(at, n, w) == 0 ? (at += n, true) : false;
    }
    bool string(std::string* out)
    {
        if (!take('"'))
            return false;
        for (; at < text.size() && text[at] != '"'; ++at) {
            if (static_cast<unsigned char>(text[at]) < 0x20)
                return false;
            if (text[at] != '\\') {
                *out += text[at];
                continue;
            }
            const char* escapes = "\"\"\\\\//b\bf\fn\nr\rt\t";
            const char* found = ++at < text.size() ? std::strchr(escapes, text[at]) : nullptr;
            if (found == nullptr || text[at] == '\0' || (found - escapes) % 2 != 0) {
                if (at >= text.size() || text[at] != 'u' || at + 4 >= text.size())
                    return false;
                const unsigned code = static_cast<unsigned>(std::stoul(text.substr(at + 1, 4), nullptr, 16));
                if (code >= 0x80)
                    return false;  // the reports escape nothing beyond ASCII
                *out += static_cast<char>(code);
                at += 4;
                continue;
            }
            *out += found[1];
        }
        return at++ < text.size();
    }
    bool value(JsonValue* out)
    {
        space();
        std::string s;
        if (at < text.size() && text[at] == '"')
            return string(&s) ? (*out = s, true) : false;
        if (word("null"))
            return *out = nullptr, true;
        if (word("true") || word("false"))
            return *out = text[at - 1] == 'e' && text[at - 2] == 'u', true;
        const size_t start = at;
        while (at < text.size() && std::strchr("-+.0123456789eE", text[at]) != nullptr && text[at] != '\0')
            ++at;
        char* end = nullptr;
        const std::string number = text.substr(start, at - start);
        *out = std::strtod(number.c_str(), &end);
        return !number.empty() && end == number.c_str() + number.size();
    }
};

} // namespace

std::optional<JsonObject> parseJsonObject(const std::string& text)
{
    JsonReader reader{text};
    JsonObject object;
    if (!reader.take('{'))
        return std::nullopt;
    for (bool first = true; !reader.take('}'); first = false) {
        std::string name;
        JsonValue value;
        if ((!first && !reader.take(',')) || !reader.string(&name) || !reader.take(':') || !reader.value(&value) ||
            !object.emplace(name, value).second)
            return std::nullopt;
    }
    reader.space();
    return reader.at == text.size() ? std::optional<JsonObject>(object) : std::nullopt;
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
