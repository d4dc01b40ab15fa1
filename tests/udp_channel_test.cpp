// The XPort configuration channel against a scripted UDP peer on loopback:
// what goes on the wire, how a reply is gathered, and how failures are reported.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "command_channel.h"
#include "protocol_waits.h"
#include "sockets.h"
#include "texts.h"
#include "udp_channel.h"
#include "update_context.h"
#include "xport_setup.h"
#include "xport_test_platform.h"

namespace {

using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

constexpr int kReceiveMs = 300;
constexpr uint8_t kUntouched = 0xEE;

class SocketLibrary : public ::testing::Environment {
public:
    void SetUp() override { ASSERT_EQ(startSocketLibrary(&data_), 1); }
    void TearDown() override { stopSocketLibrary(); }

private:
    SocketLibraryData data_{};
};

const auto* const socketLibrary = ::testing::AddGlobalTestEnvironment(new SocketLibrary);

sockaddr_in ipv4(const char* address, int port)
{
    sockaddr_in result{};
    result.sin_family = AF_INET;
    result.sin_addr.s_addr = addressFromText(address);
    result.sin_port = htons(static_cast<uint16_t>(port));
    return result;
}

Bytes pattern(size_t size, uint8_t first)
{
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(first + i * 3);
    return bytes;
}

Bytes concat(const Bytes& a, const Bytes& b)
{
    Bytes all = a;
    all.insert(all.end(), b.begin(), b.end());
    return all;
}

struct Datagram {
    Bytes bytes;
    sockaddr_in source;
};

// A datagram socket bound to a loopback address, playing the XPort or a stranger.
class UdpPeer {
public:
    UdpPeer(const char* address, int port)
    {
        socket_ = socket(AF_INET, SOCK_DGRAM, 0);
        const sockaddr_in local = ipv4(address, port);
        if (socket_ != kNoSocket && bind(socket_, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
            closeSocketHandle(socket_);
            socket_ = kNoSocket;
        }
    }
    ~UdpPeer() { release(); }
    UdpPeer(const UdpPeer&) = delete;
    UdpPeer& operator=(const UdpPeer&) = delete;

    bool bound() const { return socket_ != kNoSocket; }
    void release()
    {
        if (socket_ != kNoSocket)
            closeSocketHandle(socket_);
        socket_ = kNoSocket;
    }

    std::optional<Datagram> receive(int milliseconds)
    {
        if (!waitSocketReadable(socket_, milliseconds))
            return std::nullopt;
        uint8_t buffer[kUdpAreaSize];
        Datagram datagram{};
        int n = receiveDatagram(socket_, buffer, sizeof buffer, &datagram.source);
        if (n < 0)
            return std::nullopt;
        datagram.bytes.assign(buffer, buffer + n);
        return datagram;
    }

    void send(const Bytes& bytes, const sockaddr_in& to)
    {
        sendto(socket_, reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()), 0,
               reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }

private:
    SocketHandle socket_ = kNoSocket;
};

std::string errorLine(ErrorCode code)
{
    UpdateContext errorCtx{};
    errorCtx.errorCode = code;
    return "error:" + loadText(TextErrorCaption) + "|" + errorMessage(errorCtx, 0);
}

class UdpChannel : public ::testing::Test {
protected:
    void SetUp() override
    {
        setProtocolWaitsForTests({kReceiveMs, 0});
        initUpdateContext(&ctx);
        std::strcpy(ctx.ipText, "127.0.0.1");
        ASSERT_TRUE(xport.bound()) << "127.0.0.1:30718 is taken";
    }
    void TearDown() override { setProtocolWaitsForTests(ProtocolWaits{}); }

    // One exchange through the channel on a worker thread, the XPort side
    // played by `answer` once the request has arrived. Returns receiveUdp's count.
    int exchange(const Bytes& request, int wanted, const std::function<void(const sockaddr_in& client)>& answer)
    {
        int received = -1;
        std::thread xportSide([&] {
            auto datagram = xport.receive(5000);
            if (!datagram)
                return;
            seenRequest = datagram->bytes;
            seenClient = datagram->source;
            answer(datagram->source);
        });
        commands = runOnWorker(&ctx, view, [&](WindowHandle window) {
            if (!openUdpSocket(window, &ctx) || !bindUdpSocket(window, &ctx))
                return;
            // Junk behind the request: only txLength bytes may leave.
            std::memset(ctx.txBuffer, 0x77, sizeof ctx.txBuffer);
            std::memcpy(ctx.txBuffer, request.data(), request.size());
            ctx.txLength = static_cast<int32_t>(request.size());
            if (!sendUdp(window, &ctx))
                return;
            std::memset(ctx.rxBuffer, kUntouched, sizeof ctx.rxBuffer);
            ctx.rxLength = wanted;
            received = receiveUdp(window, &ctx);
            closeUdpSocket(window, &ctx.udpSocket);
        });
        xportSide.join();
        return received;
    }

    Bytes received(int count) const { return Bytes(ctx.rxBuffer, ctx.rxBuffer + count); }
    bool restUntouched(int from) const
    {
        for (int i = from; i < kBufferSize; ++i)
            if (ctx.rxBuffer[i] != kUntouched)
                return false;
        return true;
    }

    UpdateContext ctx{};
    RecordingView view;
    UdpPeer xport{"127.0.0.1", kXportConfigPort};
    Bytes seenRequest;
    sockaddr_in seenClient{};
    std::vector<HandledCommand> commands;
};

TEST_F(UdpChannel, OneExchangeFromPort10001ToTheXportAndBack)
{
    const Bytes reply = pattern(30, 0x10);
    int n = exchange({0x00, 0x00, 0x00, 0xF6}, 30, [&](const sockaddr_in& client) { xport.send(reply, client); });

    EXPECT_EQ(seenRequest, (Bytes{0x00, 0x00, 0x00, 0xF6}));
    EXPECT_EQ(ntohs(seenClient.sin_port), kUdpLocalPort);
    EXPECT_EQ(n, 30);
    EXPECT_EQ(ctx.rxLength, 30);
    EXPECT_EQ(received(30), reply);
    EXPECT_TRUE(restUntouched(30));
    EXPECT_EQ(ctx.udpSocket, kNoSocket);
    EXPECT_TRUE(commands.empty());

    const sockaddr_in local = ipv4("0.0.0.0", kUdpLocalPort);
    EXPECT_EQ(std::memcmp(&ctx.udpLocal, &local, sizeof local), 0);
    const sockaddr_in peer = ipv4("127.0.0.1", kXportConfigPort);
    EXPECT_EQ(std::memcmp(&ctx.udpPeer, &peer, sizeof peer), 0);
}

TEST_F(UdpChannel, ReplyInSeveralDatagramsIsGatheredInOrder)
{
    const Bytes head = pattern(100, 0x01);
    const Bytes tail = pattern(24, 0x80);
    int n = exchange({0x00, 0x00, 0x00, 0xF8}, 124, [&](const sockaddr_in& client) {
        xport.send(head, client);
        xport.send(tail, client);
    });
    EXPECT_EQ(n, 124);
    EXPECT_EQ(received(124), concat(head, tail));
    EXPECT_TRUE(restUntouched(124));
}

TEST_F(UdpChannel, EachWaitStartsAfresh)
{
    // Three pieces, each well within one wait of the last, together longer than one wait.
    setProtocolWaitsForTests({1000, 0});
    const Bytes a = pattern(10, 1), b = pattern(10, 50), c = pattern(10, 100);
    int n = exchange({0x00, 0x00, 0x00, 0xF6}, 30, [&](const sockaddr_in& client) {
        xport.send(a, client);
        std::this_thread::sleep_for(600ms);
        xport.send(b, client);
        std::this_thread::sleep_for(600ms);
        xport.send(c, client);
    });
    EXPECT_EQ(n, 30);
    EXPECT_EQ(received(30), concat(concat(a, b), c));
}

TEST_F(UdpChannel, PartOfAReplyThenSilenceDeliversWhatArrived)
{
    const Bytes part = pattern(10, 0x33);
    int n = exchange({0x00, 0x00, 0x00, 0xF6}, 30, [&](const sockaddr_in& client) { xport.send(part, client); });
    EXPECT_EQ(n, 10);
    EXPECT_EQ(ctx.rxLength, 10);
    EXPECT_EQ(received(10), part);
    EXPECT_TRUE(restUntouched(10));
}

TEST_F(UdpChannel, DatagramLongerThanTheBytesStillWantedEndsTheGathering)
{
    int n = exchange({0x00, 0x00, 0x00, 0xF6}, 30,
                     [&](const sockaddr_in& client) { xport.send(pattern(40, 0x20), client); });
    EXPECT_EQ(n, 0);
    EXPECT_EQ(ctx.rxLength, 0);
    EXPECT_TRUE(restUntouched(0));

    // 10 gathered, 20 still wanted: a datagram of 21 ends it, and what follows is not taken.
    const Bytes first = pattern(10, 0x44);
    n = exchange({0x00, 0x00, 0x00, 0xF6}, 30, [&](const sockaddr_in& client) {
        xport.send(first, client);
        xport.send(pattern(21, 0x60), client);
        xport.send(pattern(20, 0x90), client);
    });
    EXPECT_EQ(n, 10);
    EXPECT_EQ(ctx.rxLength, 10);
    EXPECT_EQ(received(10), first);
    EXPECT_TRUE(restUntouched(10));

    // Exactly the bytes still wanted is no fault.
    n = exchange({0x00, 0x00, 0x00, 0xF6}, 30, [&](const sockaddr_in& client) {
        xport.send(pattern(10, 0x44), client);
        xport.send(pattern(20, 0x90), client);
    });
    EXPECT_EQ(n, 30);
}

TEST_F(UdpChannel, EmptyDatagramEndsTheGathering)
{
    const Bytes first = pattern(10, 0x05);
    int n = exchange({0x00, 0x00, 0x00, 0xF6}, 30, [&](const sockaddr_in& client) {
        xport.send(first, client);
        xport.send({}, client);
        xport.send(pattern(20, 0x70), client);
    });
    EXPECT_EQ(n, 10);
    EXPECT_EQ(received(10), first);
    EXPECT_TRUE(restUntouched(10));

    n = exchange({0x00, 0x00, 0x00, 0xF6}, 30, [&](const sockaddr_in& client) { xport.send({}, client); });
    EXPECT_EQ(n, 0);
    EXPECT_EQ(ctx.rxLength, 0);
}

TEST_F(UdpChannel, ReplyFromAnotherAddressIsTakenAndBecomesThePeer)
{
    UdpPeer stranger("127.0.0.2", 30719);
    if (!stranger.bound())
        GTEST_SKIP() << "127.0.0.2 cannot be bound here";
    // Where the stranger's datagrams really come from (Wine sends a UDP socket
    // bound to 127.0.0.2 from 127.0.0.1), as a third socket sees it.
    UdpPeer witness("127.0.0.1", 30720);
    ASSERT_TRUE(witness.bound());
    stranger.send({0x01}, ipv4("127.0.0.1", 30720));
    auto probe = witness.receive(5000);
    ASSERT_TRUE(probe.has_value());
    const sockaddr_in source = probe->source;
    EXPECT_EQ(ntohs(source.sin_port), 30719);

    const Bytes reply = pattern(30, 0x09);
    int n = exchange({0x00, 0x00, 0x00, 0xF6}, 30, [&](const sockaddr_in& client) { stranger.send(reply, client); });
    EXPECT_EQ(n, 30);
    EXPECT_EQ(received(30), reply);
    EXPECT_EQ(ctx.udpPeer.sin_family, AF_INET);
    EXPECT_EQ(ctx.udpPeer.sin_addr.s_addr, source.sin_addr.s_addr);
    EXPECT_EQ(ctx.udpPeer.sin_port, source.sin_port);
}

TEST_F(UdpChannel, NoReplyEndsAfterTheWaitWithNothing)
{
    const auto started = std::chrono::steady_clock::now();
    int n = exchange({0x00, 0x00, 0x00, 0xF6}, 30, [](const sockaddr_in&) {});
    EXPECT_EQ(n, 0);
    EXPECT_EQ(ctx.rxLength, 0);
    EXPECT_TRUE(restUntouched(0));
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(kReceiveMs));
    EXPECT_EQ(seenRequest, (Bytes{0x00, 0x00, 0x00, 0xF6}));
}

TEST_F(UdpChannel, ReceiveWithoutASocketChangesNothing)
{
    ctx.udpSocket = kNoSocket;
    ctx.rxLength = 30;
    std::memset(ctx.rxBuffer, 0x5A, sizeof ctx.rxBuffer);
    EXPECT_EQ(receiveUdp(nullptr, &ctx), 0);
    EXPECT_EQ(ctx.rxLength, 30);
    for (uint8_t byte : ctx.rxBuffer)
        ASSERT_EQ(byte, 0x5A);
}

TEST_F(UdpChannel, ChannelFailuresAreReportedInTheOrderTheyHappen)
{
    UdpPeer holder("0.0.0.0", kUdpLocalPort);
    ASSERT_TRUE(holder.bound()) << "local port 10001 is taken";
    int results[3] = {-1, -1, -1};
    sockaddr_in peerAfterBindFailure{};
    sockaddr_in peerOfBadText{};
    commands = runOnWorker(&ctx, view, [&](WindowHandle window) {
        // No address: nothing is bound.
        ctx.ipText[0] = '\0';
        if (openUdpSocket(window, &ctx)) {
            results[0] = bindUdpSocket(window, &ctx);
            closeUdpSocket(window, &ctx.udpSocket);
        }
        // Port 10001 held elsewhere.
        std::strcpy(ctx.ipText, "127.0.0.1");
        if (openUdpSocket(window, &ctx)) {
            results[1] = bindUdpSocket(window, &ctx);
            peerAfterBindFailure = ctx.udpPeer;
            closeUdpSocket(window, &ctx.udpSocket);
        }
        // A text that is no address becomes the all-ones address, to which nothing may be sent.
        holder.release();
        std::strcpy(ctx.ipText, "no address");
        if (openUdpSocket(window, &ctx) && bindUdpSocket(window, &ctx)) {
            peerOfBadText = ctx.udpPeer;
            ctx.txLength = 4;
            results[2] = sendUdp(window, &ctx);
            closeUdpSocket(window, &ctx.udpSocket);
        }
    });
    EXPECT_EQ(results[0], 0);
    EXPECT_EQ(results[1], 0);
    EXPECT_EQ(results[2], 0);
    const sockaddr_in cleared{};
    EXPECT_EQ(std::memcmp(&peerAfterBindFailure, &cleared, sizeof cleared), 0);
    EXPECT_EQ(peerOfBadText.sin_addr.s_addr, 0xFFFFFFFFu);
    EXPECT_EQ(ntohs(peerOfBadText.sin_port), kXportConfigPort);

    EXPECT_EQ(view.events(), (std::vector<std::string>{errorLine(ErrNoAddress), errorLine(ErrUdpBind),
                                                       errorLine(ErrUdpSend)}));
    ASSERT_EQ(commands.size(), 3u);
    for (const auto& command : commands)
        EXPECT_EQ(command.code, static_cast<uint32_t>(CmdError));
    // Each report carries the error of the call that failed.
    EXPECT_EQ(commands[1].argument, addressInUseError());
    EXPECT_EQ(commands[2].argument, accessDeniedError());
}

TEST_F(UdpChannel, AFailedExchangeLeavesNoSocketAndThePortFree)
{
    const int descriptors = openDescriptorCount();
    std::strcpy(ctx.ipText, "255.255.255.255");
    int first = -1;
    commands = runOnWorker(&ctx, view, [&](WindowHandle window) { first = queryXport(window, &ctx, xportQueryReply); });
    EXPECT_EQ(first, 0);
    EXPECT_EQ(ctx.udpSocket, kNoSocket);
    EXPECT_EQ(openDescriptorCount(), descriptors);
    EXPECT_EQ(view.events(), (std::vector<std::string>{errorLine(ErrUdpSend)}));

    // The send failed after the bind: the next exchange must get port 10001 again.
    std::strcpy(ctx.ipText, "127.0.0.1");
    const Bytes reply = pattern(30, 0x21);
    std::thread xportSide([&] {
        if (auto datagram = xport.receive(5000))
            xport.send(reply, datagram->source);
    });
    uint8_t queryReply[30] = {};
    int second = -1;
    commands = runOnWorker(&ctx, view, [&](WindowHandle window) { second = queryXport(window, &ctx, queryReply); });
    xportSide.join();
    EXPECT_EQ(second, 1);
    EXPECT_EQ(Bytes(queryReply, queryReply + 30), reply);
    EXPECT_EQ(view.events().size(), 1u);
    EXPECT_EQ(ctx.udpSocket, kNoSocket);
}

} // namespace
