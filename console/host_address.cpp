#include "host_address.h"

#include <algorithm>

std::optional<int> parseNumber(const std::string& text, int lowest, int highest)
{
    if (text.empty() || text.size() > 9)
        return std::nullopt;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (value < lowest || value > highest)
        return std::nullopt;
    return value;
}

bool isDottedIpv4(const std::string& text, std::string* why)
{
    const auto fail = [why](std::string reason) {
        if (why != nullptr)
            *why = std::move(reason);
        return false;
    };
    int parts = 0;
    for (size_t at = 0;;) {
        const size_t end = std::min(text.find('.', at), text.size());
        const std::string part = text.substr(at, end - at);
        if (part.empty())
            return fail("a number is missing");
        if (part.size() > 1 && part[0] == '0')
            return fail(part + " has a leading zero");
        if (!parseNumber(part, 0, 255))
            return fail(part + " is not a number from 0 to 255");
        ++parts;
        if (end == text.size())
            return parts == 4 || fail("it has " + std::to_string(parts) + " numbers, not 4");
        if (parts == 4)
            return fail("it has more than 4 numbers");
        at = end + 1;
    }
}

bool looksLikeDottedAddress(const std::string& text)
{
    if (text.find_first_not_of("0123456789.") == std::string::npos)
        return true;
    const size_t last = text.rfind('.') + 1;  // 0 without a dot
    const bool numeric = last < text.size() && text[last] >= '0' && text[last] <= '9';
    return numeric && (last > 0 || text.rfind("0x", 0) == 0 || text.rfind("0X", 0) == 0);
}

bool isHostName(const std::string& text)
{
    if (text.empty() || text.size() > 253 || looksLikeDottedAddress(text))
        return false;
    size_t at = 0;
    for (;;) {
        const size_t end = std::min(text.find('.', at), text.size());
        const std::string label = text.substr(at, end - at);
        if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-')
            return false;
        for (char c : label)
            if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-'))
                return false;
        if (end == text.size())
            return true;
        at = end + 1;
    }
}

std::string addressProblem(const std::string& text)
{
    std::string why;
    if (text.empty())
        return "--ip takes an IPv4 address such as 192.168.0.50 or a host name; it is empty";
    if (looksLikeDottedAddress(text))
        return isDottedIpv4(text, &why) ? std::string() : "--ip " + text + " is not an IPv4 address: " + why;
    if (!isHostName(text))
        return "--ip " + text +
               " is neither a dotted IPv4 address nor a host name (letters, digits, hyphens and dots)";
    return {};
}

std::string addressAsNamed(const std::string& name, const std::string& dotted)
{
    return dotted == name ? dotted : name + " (" + dotted + ")";
}
