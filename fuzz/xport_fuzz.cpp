// The XPort's datagrams fed to the setup switch and restore through a fake
// configuration channel. Each step of an exchange takes from the input: a
// byte 251, 252 or 253 in front of the socket's open, bind or send makes that
// step fail; a receive takes a length byte n (0: nothing arrived; more than
// wanted: an over-long datagram, taken as an error) and up to n bytes; n = 254
// takes nothing and gives the reply of an XPort that applies every put at once.
// Whatever the XPort sends, every socket is closed after its exchange, requests
// are well formed, and a switch or restore that succeeds has read back the byte
// it wrote; a restore puts back exactly the record saved before the switch;
// with such an XPort and no failed step, both succeed and leave its record as it was.
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_input.h"
#include "protocol_waits.h"
#include "udp_channel.h"
#include "xport_setup.h"

namespace {

constexpr int kOpenFails = 251;
constexpr int kBindFails = 252;
constexpr int kSendFails = 253;
constexpr int kCorrectReply = 254;
constexpr SocketHandle kFakeSocket = 7;

FuzzInput* datagrams = nullptr;
int openSockets = 0;
std::vector<std::vector<uint8_t>> requests;
std::vector<std::vector<uint8_t>> received;  // every reply accepted whole, in order
bool onlyCorrect = true;                     // no failed step, every reply from the XPort below
uint8_t xportRecord[kSetupRecordSize];        // the setup as that XPort holds it

// What an XPort that applies every put at once answers to `request`.
std::vector<uint8_t> correctReply(const std::vector<uint8_t>& request)
{
    if (request == std::vector<uint8_t>{0, 0, 0, 0xF6}) {
        std::vector<uint8_t> reply(kQueryReplySize, 0x20);
        reply[0] = reply[1] = reply[2] = 0;
        reply[3] = 0xF7;
        return reply;
    }
    if (request == std::vector<uint8_t>{0, 0, 0, 0xF8}) {
        std::vector<uint8_t> reply(xportRecord, xportRecord + kSetupRecordSize);
        reply[3] = 0xF9;
        return reply;
    }
    if (request.size() == kSetupRecordSize && request[3] == 0xFA) {
        std::memcpy(xportRecord, request.data(), kSetupRecordSize);
        return {0, 0, 0, 0xFB};
    }
    return {};
}

bool failsHere(int marker)
{
    if (datagrams->peek(-1) != marker)
        return false;
    datagrams->next(0);
    onlyCorrect = false;
    return true;
}

} // namespace

int openUdpSocket(WindowHandle, UpdateContext* ctx)
{
    FUZZ_EXPECT(ctx->udpSocket == kNoSocket && openSockets == 0);
    if (failsHere(kOpenFails))
        return 0;
    ctx->udpSocket = kFakeSocket;
    ++openSockets;
    return 1;
}

int bindUdpSocket(WindowHandle, UpdateContext* ctx)
{
    FUZZ_EXPECT(ctx->udpSocket == kFakeSocket);
    return failsHere(kBindFails) ? 0 : 1;
}

int sendUdp(WindowHandle, UpdateContext* ctx)
{
    FUZZ_EXPECT(ctx->udpSocket == kFakeSocket);
    FUZZ_EXPECT(ctx->txLength == 4 || ctx->txLength == kSetupRecordSize);
    requests.emplace_back(ctx->txBuffer, ctx->txBuffer + ctx->txLength);
    return failsHere(kSendFails) ? 0 : 1;
}

int waitUdpReadable(WindowHandle, UpdateContext*, int)
{
    return datagrams->empty() ? 0 : 1;
}

int receiveUdp(WindowHandle, UpdateContext* ctx)
{
    FUZZ_EXPECT(ctx->udpSocket == kFakeSocket);
    FUZZ_EXPECT(ctx->rxLength > 0 && ctx->rxLength <= kBufferSize);
    const int marker = datagrams->next(0);
    const size_t wanted = static_cast<size_t>(ctx->rxLength);
    size_t n = 0;
    if (marker == kCorrectReply) {
        const std::vector<uint8_t> reply = correctReply(requests.back());
        if (reply.size() <= wanted) {
            std::memcpy(ctx->rxBuffer, reply.data(), reply.size());
            n = reply.size();
        }
    } else {
        onlyCorrect = false;
        const size_t offered = static_cast<size_t>(marker);
        if (offered > wanted)
            datagrams->skip(offered);
        else
            n = datagrams->take(ctx->rxBuffer, offered);
    }
    ctx->rxLength = static_cast<int32_t>(n);
    if (n == wanted)
        received.emplace_back(ctx->rxBuffer, ctx->rxBuffer + n);
    return static_cast<int>(n);
}

void closeUdpSocket(WindowHandle, SocketHandle* socket)
{
    if (*socket != kNoSocket)
        --openSockets;
    *socket = kNoSocket;
}

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    setProtocolWaitsForTests({1, 0});  // no settling wait between put and read-back
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput input(data, size);
    datagrams = &input;
    requests.clear();
    received.clear();
    onlyCorrect = true;
    for (int i = 0; i < kSetupRecordSize; ++i)
        xportRecord[i] = static_cast<uint8_t>(i * 7 + 3);
    const uint8_t original = xportRecord[kSwitchedByte];
    static UpdateContext ctx;
    initUpdateContext(&ctx);
    std::memcpy(ctx.ipText, "127.0.0.1", 10);

    const int switched = switchXport(nullptr, &ctx);
    FUZZ_EXPECT(openSockets == 0 && ctx.udpSocket == kNoSocket);
    FUZZ_EXPECT(switched || !onlyCorrect);
    if (!switched)
        return 0;
    // Query, get, put with byte 21 set to 8, get: the last record read holds 8.
    FUZZ_EXPECT(requests.size() == 4 && received.size() == 4);
    const std::vector<uint8_t> saved = received[1];
    const std::vector<uint8_t> put = requests[2];
    FUZZ_EXPECT(put[3] == 0xFA && put[kSwitchedByte] == kSwitchedValue);
    FUZZ_EXPECT(received[3][kSwitchedByte] == kSwitchedValue);

    const int restored = restoreXport(nullptr, &ctx);
    FUZZ_EXPECT(openSockets == 0 && ctx.udpSocket == kNoSocket);
    FUZZ_EXPECT((restored && xportRecord[kSwitchedByte] == original) || !onlyCorrect);
    if (restored) {
        // The saved record goes back as it was read, under the put-setup header.
        const std::vector<uint8_t>& back = requests[4];
        FUZZ_EXPECT(back.size() == kSetupRecordSize && back[0] == 0 && back[1] == 0 && back[2] == 0 && back[3] == 0xFA);
        FUZZ_EXPECT(std::memcmp(back.data() + 4, saved.data() + 4, kSetupRecordSize - 4) == 0);
        FUZZ_EXPECT(received.back()[kSwitchedByte] == saved[kSwitchedByte]);
    }
    return 0;
}
