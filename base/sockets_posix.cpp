#include <arpa/inet.h>
#include <poll.h>
#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

#include "sockets.h"

int startSocketLibrary(SocketLibraryData* data)
{
    data->started = 1;
    return 1;
}

void stopSocketLibrary()
{
}

void closeSocketHandle(SocketHandle socket)
{
    // Closing after a failure must not overwrite the error that is reported.
    const int lastError = errno;
    shutdown(socket, SHUT_RDWR);
    close(socket);
    errno = lastError;
}

int waitSocketReadable(SocketHandle socket, int milliseconds)
{
    // poll, not select: a descriptor above FD_SETSIZE must not overrun an fd_set.
    pollfd entry{socket, POLLIN, 0};
    return poll(&entry, 1, milliseconds) > 0 && (entry.revents & (POLLIN | POLLHUP | POLLERR)) != 0 ? 1 : 0;
}

int sendOnSocket(SocketHandle socket, const uint8_t* data, int length)
{
    return static_cast<int>(send(socket, data, static_cast<size_t>(length), MSG_NOSIGNAL));
}

int receiveFromSocket(SocketHandle socket, uint8_t* buffer, int length)
{
    return static_cast<int>(recv(socket, buffer, static_cast<size_t>(length), 0));
}

int receiveDatagram(SocketHandle socket, uint8_t* buffer, int length, sockaddr_in* source)
{
    socklen_t sourceLength = sizeof *source;
    // MSG_TRUNC makes the call return the datagram's real length, so an
    // over-long datagram is seen as the error it is on Winsock.
    ssize_t n = recvfrom(socket, buffer, static_cast<size_t>(length), MSG_TRUNC,
                         reinterpret_cast<sockaddr*>(source), &sourceLength);
    if (n > length)
        return -1;
    return static_cast<int>(n);
}

uint32_t addressFromText(const char* text)
{
    return inet_addr(text);
}
