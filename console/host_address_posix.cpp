#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "host_address.h"

bool resolveIpv4(const std::string& name, std::string* dotted, std::string* why)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int failure = getaddrinfo(name.c_str(), nullptr, &hints, &found);
    if (failure != 0 || found == nullptr) {
        *why = failure == EAI_SYSTEM ? std::strerror(errno) : gai_strerror(failure);
        return false;
    }
    char text[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr, text, sizeof text);
    freeaddrinfo(found);
    *dotted = text;
    return true;
}
