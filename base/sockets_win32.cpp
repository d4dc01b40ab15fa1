#include "sockets.h"

int startSocketLibrary(SocketLibraryData* data)
{
    if (WSAStartup(0x0002, data) == 0)
        return 1;
    WSACleanup();
    return 0;
}

void stopSocketLibrary()
{
    WSACleanup();
}

void closeSocketHandle(SocketHandle socket)
{
    // Closing after a failure must not overwrite the error that is reported.
    const int lastError = WSAGetLastError();
    shutdown(socket, SD_BOTH);
    closesocket(socket);
    WSASetLastError(lastError);
}

int startConnect(SocketHandle socket, const sockaddr_in* peer)
{
    u_long nonBlocking = 1;
    if (ioctlsocket(socket, FIONBIO, &nonBlocking) != 0)
        return -1;
    if (connect(socket, reinterpret_cast<const sockaddr*>(peer), sizeof *peer) == 0)
        return 1;
    return WSAGetLastError() == WSAEWOULDBLOCK ? 0 : -1;
}

int waitConnected(SocketHandle socket, int milliseconds)
{
    // Winsock signals a connect that succeeded as writable, one that failed
    // in the exception set.
    fd_set writeSet;
    fd_set failSet;
    FD_ZERO(&writeSet);
    FD_ZERO(&failSet);
    FD_SET(socket, &writeSet);
    FD_SET(socket, &failSet);
    timeval timeout{milliseconds / 1000, (milliseconds % 1000) * 1000};
    const int ready = select(64, nullptr, &writeSet, &failSet, &timeout);
    if (ready == 0)
        return 0;
    if (ready == SOCKET_ERROR)
        return -1;
    if (!FD_ISSET(socket, &failSet))
        return 1;
    int error = 0;
    int length = sizeof error;
    getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length);
    WSASetLastError(error != 0 ? error : WSAECONNREFUSED);
    return -1;
}

void endConnect(SocketHandle socket)
{
    const int lastError = WSAGetLastError();
    u_long nonBlocking = 0;
    ioctlsocket(socket, FIONBIO, &nonBlocking);
    WSASetLastError(lastError);
}

void setInterruptedError()
{
    WSASetLastError(WSAEINTR);
}

int addressWasInUse()
{
    return WSAGetLastError() == WSAEADDRINUSE ? 1 : 0;
}

int connectionWasReset()
{
    return WSAGetLastError() == WSAECONNRESET ? 1 : 0;
}

int waitSocketReadable(SocketHandle socket, int milliseconds)
{
    fd_set readSet;
    FD_ZERO(&readSet);
    FD_SET(socket, &readSet);
    timeval timeout{milliseconds / 1000, (milliseconds % 1000) * 1000};
    int result = select(64, &readSet, nullptr, nullptr, &timeout);
    if (result == SOCKET_ERROR || result == 0)
        return 0;
    return FD_ISSET(socket, &readSet) ? 1 : 0;
}

int sendOnSocket(SocketHandle socket, const uint8_t* data, int length)
{
    return send(socket, reinterpret_cast<const char*>(data), length, 0);
}

int receiveFromSocket(SocketHandle socket, uint8_t* buffer, int length)
{
    return recv(socket, reinterpret_cast<char*>(buffer), length, 0);
}

int receiveDatagram(SocketHandle socket, uint8_t* buffer, int length, sockaddr_in* source)
{
    int sourceLength = sizeof *source;
    // Winsock fails a datagram longer than the buffer with WSAEMSGSIZE.
    return recvfrom(socket, reinterpret_cast<char*>(buffer), length, 0, reinterpret_cast<sockaddr*>(source),
                    &sourceLength);
}

uint32_t addressFromText(const char* text)
{
    return inet_addr(text);
}
