// What the connection panels make of the user's typing.
#pragma once

#include <cstdint>

// The COM port field when it loses the focus: returns the port number, and
// whether the typed text stays (false: the field is set back to "COM1").
// The text must begin with "COM" (upper case) and carry a non-zero number
// after it, as atoi reads it (leading blanks skipped, trailing text ignored);
// at most 15 characters of the field count.
struct ComChoice {
    int32_t port;
    bool keepText;
};
ComChoice comPortFromText(const char* text);

// The TCP port field: its first 9 characters as atoi reads them; 0 for none.
int32_t tcpPortFromText(const char* text);
