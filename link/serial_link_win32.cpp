#include <cstdio>

#include "protocol_waits.h"
#include "serial_link.h"

namespace {

// "\\.\COM" + 8 digits + the terminating zero.
constexpr int kPortNameSize = 16;
constexpr int32_t kLargestPort = 99999999;

constexpr DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;  // 0x0F
constexpr DWORD kQueueSize = 4096;

static_assert(sizeof(DCB) == 28, "the line settings assume the 28-byte DCB");

bool isOpen(PortHandle port)
{
    return port != INVALID_HANDLE_VALUE && port != nullptr;
}

DWORD clampedLength(int32_t length)
{
    if (length < 0)
        return 0;
    return static_cast<DWORD>(length > kBufferSize ? kBufferSize : length);
}

} // namespace

int openSerial(UpdateContext* ctx)
{
    ctx->comHandle = INVALID_HANDLE_VALUE;
    // A number that does not fit the name opens nothing.
    if (ctx->comPort < 0 || ctx->comPort > kLargestPort)
        return 0;
    char name[kPortNameSize];
    std::snprintf(name, sizeof name, "\\\\.\\COM%d", static_cast<int>(ctx->comPort));

    const HANDLE port = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    ctx->comHandle = port;
    if (port == INVALID_HANDLE_VALUE)
        return 0;

    SetCommMask(port, EV_RXCHAR);
    SetupComm(port, kQueueSize, kQueueSize);
    PurgeComm(port, kPurgeAll);
    // A read returns at once with what is waiting, else waits for the rest
    // up to the receive time-out; a write gives up after 2 ms a byte.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = static_cast<DWORD>(protocolWaits().receiveMs);
    timeouts.WriteTotalTimeoutMultiplier = 2;
    timeouts.WriteTotalTimeoutConstant = 0;
    SetCommTimeouts(port, &timeouts);

    const int result = configureSerial(port);
    if (result != 0) {
        ctx->linkOpen = 1;
        EscapeCommFunction(port, SETRTS);
        return result;
    }
    ctx->linkOpen = 0;
    CloseHandle(port);
    ctx->comHandle = INVALID_HANDLE_VALUE;
    return 0;
}

int configureSerial(PortHandle port)
{
    DCB state{};
    state.DCBlength = sizeof state;
    GetCommState(port, &state);
    state.BaudRate = CBR_115200;
    state.ByteSize = 8;
    state.Parity = NOPARITY;
    state.StopBits = ONESTOPBIT;
    // In the flags word: AND 0xFFFFECC5, then OR 0x2005.
    state.fBinary = 1;
    state.fParity = 0;
    state.fOutxCtsFlow = 1;
    state.fOutxDsrFlow = 0;
    state.fDtrControl = DTR_CONTROL_DISABLE;
    state.fOutX = 0;
    state.fInX = 0;
    state.fRtsControl = RTS_CONTROL_HANDSHAKE;
    return SetCommState(port, &state) ? 1 : 0;
}

void writeSerial(UpdateContext* ctx)
{
    if (!isOpen(ctx->comHandle))
        return;
    DWORD written = 0;
    WriteFile(ctx->comHandle, ctx->txBuffer, clampedLength(ctx->txLength), &written, nullptr);
}

int readSerial(UpdateContext* ctx)
{
    DWORD count = 0;
    if (isOpen(ctx->comHandle)) {
        if (!ReadFile(ctx->comHandle, ctx->rxBuffer, clampedLength(ctx->rxLength), &count, nullptr))
            count = 0;
    }
    ctx->rxLength = static_cast<int32_t>(count);
    return static_cast<int>(count);
}

void closeSerial(UpdateContext* ctx)
{
    ctx->linkOpen = 0;
    const HANDLE port = ctx->comHandle;
    if (!isOpen(port))
        return;
    SetCommMask(port, 0);
    EscapeCommFunction(port, CLRRTS);
    PurgeComm(port, kPurgeAll);
    CloseHandle(port);
    ctx->comHandle = INVALID_HANDLE_VALUE;
}
