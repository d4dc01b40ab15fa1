#include <chrono>
#include <cstdio>

#include "cancel.h"
#include "protocol_waits.h"
#include "serial_link.h"

namespace {

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

// The port's time-outs: a read returns at once with what is waiting, else
// waits for the rest up to `readMs`; a write gives up after 2 ms a byte.
void setTimeouts(HANDLE port, int readMs)
{
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = static_cast<DWORD>(readMs);
    timeouts.WriteTotalTimeoutMultiplier = 2;
    timeouts.WriteTotalTimeoutConstant = 0;
    SetCommTimeouts(port, &timeouts);
}

// A read that waits for its bytes in slices, so that a cancel can cut it.
struct SlicedRead {
    HANDLE port;
    uint8_t* buffer;
    DWORD wanted;
    DWORD count;
    bool failed;
    DWORD error;  // the system's reason when the read failed
};

// One slice: the missing bytes, or as many as come within `sliceMs`. 1 once all are in.
int readSlice(void* arg, int sliceMs)
{
    auto* read = static_cast<SlicedRead*>(arg);
    if (sliceMs <= 0)
        return 0;
    setTimeouts(read->port, sliceMs);
    DWORD n = 0;
    if (!ReadFile(read->port, read->buffer + read->count, read->wanted - read->count, &n, nullptr)) {
        read->failed = true;
        read->error = GetLastError();
        return 0;
    }
    read->count += n;
    return read->count >= read->wanted ? 1 : 0;
}

} // namespace

int32_t comNumberFromName(const char* name)
{
    if (CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, name, 3, "COM", 3) != CSTR_EQUAL || name[3] == '0')
        return 0;
    int32_t number = 0;
    for (const char* digit = name + 3; *digit != '\0'; ++digit) {
        if (*digit < '0' || *digit > '9' || number > kLargestPort / 10)
            return 0;
        number = number * 10 + (*digit - '0');
    }
    return number;
}

int openSerial(UpdateContext* ctx)
{
    ctx->comHandle = INVALID_HANDLE_VALUE;
    // A device named "COM<n>" is COM n; another name (\\.\CNCA0) is opened as given.
    const int32_t named = ctx->comDevice[0] != '\0' ? comNumberFromName(ctx->comDevice) : ctx->comPort;
    // A number that does not fit the name opens nothing.
    if (named < 0 || named > kLargestPort)
        return 0;
    char name[kPathSize];
    if (named == 0 && ctx->comDevice[0] != '\0')
        std::snprintf(name, sizeof name, "%s", ctx->comDevice);
    else
        std::snprintf(name, sizeof name, "\\\\.\\COM%d", static_cast<int>(named));

    const HANDLE port = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    ctx->comHandle = port;
    if (port == INVALID_HANDLE_VALUE)
        return 0;

    SetCommMask(port, EV_RXCHAR);
    SetupComm(port, kQueueSize, kQueueSize);
    PurgeComm(port, kPurgeAll);
    setTimeouts(port, protocolWaits().receiveMs);

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
    const HANDLE port = ctx->comHandle;
    const DWORD wanted = clampedLength(ctx->rxLength);
    COMSTAT queue{};
    DWORD errors = 0;
    if (!isOpen(port)) {
        // nothing to read from
    } else if (wanted == 0 || (ClearCommError(port, &errors, &queue) && queue.cbInQue > 0)) {
        // Bytes already waiting are returned at once.
        if (!ReadFile(port, ctx->rxBuffer, wanted, &count, nullptr))
            count = 0;
    } else {
        // Cut short by a cancel while nothing has been changed, as the TCP link's wait.
        const int receiveMs = protocolWaits().receiveMs;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(receiveMs);
        SlicedRead read{port, ctx->rxBuffer, wanted, 0, false, 0};
        while (read.count < wanted && !read.failed) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0 || waitUnlessCancelled(ctx, static_cast<int>(left.count()), readSlice, &read) != 0)
                break;
            // A slice can end early without all bytes (some were waiting):
            // go on, unless a cancel ended it.
            if (cancelRequested())
                break;
        }
        count = read.failed ? 0 : read.count;
        if (read.failed) {
            ctx->run.facts.linkClosed = 1;
            ctx->run.facts.linkError = static_cast<int32_t>(read.error);
        }
        setTimeouts(port, receiveMs);
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

void putBackSerialSettingsAtOnce()
{
}
