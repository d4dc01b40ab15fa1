#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <cstdint>

#include "host_address.h"
#include "terminal.h"

bool resolveIpv4(const std::string& name, std::string* dotted, std::string* why)
{
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 0), &data) != 0) {
        *why = systemErrorText(WSAGetLastError());
        return false;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int failure = getaddrinfo(name.c_str(), nullptr, &hints, &found);
    bool resolved = failure == 0 && found != nullptr;
    if (resolved) {
        const uint8_t* bytes =
            reinterpret_cast<const uint8_t*>(&reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr);
        *dotted = std::to_string(bytes[0]) + "." + std::to_string(bytes[1]) + "." + std::to_string(bytes[2]) + "." +
                  std::to_string(bytes[3]);
        freeaddrinfo(found);
    } else {
        *why = systemErrorText(failure);
    }
    WSACleanup();
    return resolved;
}
