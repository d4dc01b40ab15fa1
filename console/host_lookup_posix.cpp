#include "host_lookup.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

bool lookUpIpv4(const std::string& name, std::string* dotted, std::string* error)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int failure = getaddrinfo(name.c_str(), nullptr, &hints, &found);
    if (failure != 0 || found == nullptr) {
        *error = failure != 0 ? gai_strerror(failure) : "no IPv4 address";
        return false;
    }
    char text[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr, text, sizeof text);
    freeaddrinfo(found);
    *dotted = text;
    return true;
}
