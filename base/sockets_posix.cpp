#include <arpa/inet.h>
#include <poll.h>
#include <cerrno>
#include <fcntl.h>
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

int startConnect(SocketHandle socket, const sockaddr_in* peer)
{
    const int flags = fcntl(socket, F_GETFL);
    if (flags == -1 || fcntl(socket, F_SETFL, flags | O_NONBLOCK) == -1)
        return -1;
    if (connect(socket, reinterpret_cast<const sockaddr*>(peer), sizeof *peer) == 0)
        return 1;
    return errno == EINPROGRESS || errno == EINTR ? 0 : -1;
}

int waitConnected(SocketHandle socket, int milliseconds)
{
    pollfd entry{socket, POLLOUT, 0};
    const int ready = poll(&entry, 1, milliseconds);
    if (ready == 0 || (ready < 0 && errno == EINTR))
        return 0;
    int error = 0;
    socklen_t length = sizeof error;
    if (ready < 0 || getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
        return -1;
    if (error == 0)
        return 1;
    errno = error;
    return -1;
}

void endConnect(SocketHandle socket)
{
    const int lastError = errno;
    const int flags = fcntl(socket, F_GETFL);
    if (flags != -1)
        fcntl(socket, F_SETFL, flags & ~O_NONBLOCK);
    errno = lastError;
}

void setInterruptedError()
{
    errno = EINTR;
}

int addressWasInUse()
{
    return errno == EADDRINUSE ? 1 : 0;
}

int connectionWasReset()
{
    return errno == ECONNRESET ? 1 : 0;
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
