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
