// What the connection panels make of the user's typing.
#pragma once

#include <cstdint>

// The COM port field, when it loses the focus and at Start: returns the port
// number, and whether the typed text stays (false: the field is set to "COM"
// and the port number, "COM1" when the text names no port). The text must
// begin with "COM", in either case, and carry a non-zero number after it, as
// atoi reads it (leading blanks skipped, trailing text ignored); at most 15
// characters of the field count.
struct ComChoice {
    int32_t port;
    bool keepText;
};
ComChoice comPortFromText(const char* text);

// The TCP port field: its first 9 characters as atoi reads them; 0 for none.
int32_t tcpPortFromText(const char* text);

// Whether the text is a dotted IPv4 address: four decimal numbers 0 to 255 of
// one to three digits, separated by dots, nothing else.
bool isDottedIpv4(const char* text);

// Whether a TCP port read from the field can be connected to: 1 to 65535.
bool isTcpPort(int32_t port);
