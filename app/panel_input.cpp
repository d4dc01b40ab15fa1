#include "panel_input.h"

#include <cstdlib>
#include <cstring>

ComChoice comPortFromText(const char* text)
{
    char field[16] = {};
    std::strncpy(field, text, sizeof field - 1);
    if (std::strncmp(field, "COM1", 3) != 0)
        return {1, false};
    // As atoi reads it, but a number too large for a port number counts as none.
    const long long value = std::strtoll(field + 3, nullptr, 10);
    if (value == 0 || value < INT32_MIN || value > INT32_MAX)
        return {1, false};
    return {static_cast<int32_t>(value), true};
}

int32_t tcpPortFromText(const char* text)
{
    char field[10] = {};
    std::strncpy(field, text, sizeof field - 1);
    return std::atoi(field);
}
