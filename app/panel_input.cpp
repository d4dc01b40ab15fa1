#include "panel_input.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

ComChoice comPortFromText(const char* text)
{
    char field[16] = {};
    std::strncpy(field, text, sizeof field - 1);
    bool upper = std::strncmp(field, "COM", 3) == 0;
    for (int i = 0; i < 3; ++i)
        if (std::toupper(static_cast<unsigned char>(field[i])) != "COM"[i])
            return {1, false};
    // As atoi reads it, but a number too large for a port number counts as none.
    const long long value = std::strtoll(field + 3, nullptr, 10);
    if (value == 0 || value < INT32_MIN || value > INT32_MAX)
        return {1, false};
    // "com7" is COM7, shown as the list shows it.
    return {static_cast<int32_t>(value), upper};
}

int32_t tcpPortFromText(const char* text)
{
    char field[10] = {};
    std::strncpy(field, text, sizeof field - 1);
    return std::atoi(field);
}

bool isDottedIpv4(const char* text)
{
    for (int part = 0; part < 4; ++part) {
        if (part > 0 && *text++ != '.')
            return false;
        int digits = 0;
        int value = 0;
        for (; std::isdigit(static_cast<unsigned char>(*text)) && digits < 4; ++text, ++digits)
            value = value * 10 + (*text - '0');
        if (digits == 0 || digits > 3 || value > 255)
            return false;
    }
    return *text == '\0';
}

bool isTcpPort(int32_t port)
{
    return port >= 1 && port <= 65535;
}
