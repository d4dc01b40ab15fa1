// The XPort configuration channel against a scripted UDP peer on loopback, on
// both platforms: how a reply is gathered and how failed exchanges end.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "protocol_waits.h"
#include "sockets.h"
#include "texts.h"
#include "udp_channel.h"
#include "xport_setup.h"
#include "xport_test_platform.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct SocketLibrary : ::testing::Environment {
    SocketLibraryData data{};
    void SetUp() override { ASSERT_EQ(startSocketLibrary(&data), 1); }
    void TearDown() override { stopSocketLibrary(); }
};
const auto* const socketLibrary = ::testing::AddGlobalTestEnvironment(new SocketLibrary);

// A datagram socket bound to address:port, playing the XPort, a stranger or a port holder.
struct Peer {
    Peer(int port, const char* address = "127.0.0.1")
    {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = addressFromText(address);
        local.sin_port = htons(static_cast<uint16_t>(port));
        bound = bind(socket, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0;
    }
    ~Peer() { close(); }
    void close()
    {
        closeSocketHandle(socket);
        socket = kNoSocket;
    }
    void send(const Bytes& bytes, const sockaddr_in& to) const
    {
        sendto(socket, reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()), 0,
               reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }
    SocketHandle socket = ::socket(AF_INET, SOCK_DGRAM, 0);
    bool bound = false;
};

class UdpChannel : public ::testing::Test {
protected:
    void SetUp() override
    {
        setProtocolWaitsForTests({300, 0});
        initUpdateContext(&ctx);
        std::strcpy(ctx.ipText, "127.0.0.1");
        ASSERT_TRUE(xport.bound) << "127.0.0.1:30718 is taken";
    }
    void TearDown() override { setProtocolWaitsForTests(ProtocolWaits{}); }

    // The XPort's side of one exchange: takes the request, then sends each
    // reply `gapMs` after the one before (the first too), from `from`.
    std::thread answer(std::vector<Bytes> replies, int gapMs = 0, const Peer* from = nullptr)
    {
        return std::thread([this, replies, gapMs, from] {
            uint8_t buffer[kUdpAreaSize];
            const int n = waitSocketReadable(xport.socket, 5000)
                              ? receiveDatagram(xport.socket, buffer, sizeof buffer, &client)
                              : -1;
            request.assign(buffer, buffer + (n > 0 ? n : 0));
            for (const Bytes& reply : replies) {
                std::this_thread::sleep_for(std::chrono::milliseconds(gapMs));
                (from ? *from : xport).send(reply, client);
            }
        });
    }

    UpdateContext ctx{};
    RecordingView view;
    Peer xport{kXportConfigPort};
    Bytes request;
    sockaddr_in client{};
};

TEST_F(UdpChannel, GathersTheReplyFromItsDatagrams)
{
    struct Case {
        const char* what;
        std::vector<Bytes> datagrams;
        int wanted;
        int taken;  // leading bytes of the datagrams that make the reply
        int gapMs = 0;
        int waitMs = 300;
        bool fromStranger = false;
    };
    const Case cases[] = {
        {"one datagram", {Bytes(30, 0x10)}, 30, 30},
        {"100 + 24 bytes", {Bytes(100, 0x01), Bytes(24, 0x80)}, 124, 124},
        {"each wait starts afresh", {Bytes(10, 1), Bytes(10, 50), Bytes(10, 100)}, 30, 30, 500, 1000},
        {"10 bytes, then silence", {Bytes(10, 0x33)}, 30, 10},
        {"longer than the bytes still wanted", {Bytes(10, 0x44), Bytes(21, 0x60), Bytes(20, 0x90)}, 30, 10},
        {"an empty datagram", {Bytes(10, 0x05), {}, Bytes(20, 0x70)}, 30, 10},
        {"from another port", {Bytes(30, 0x09)}, 30, 30, 0, 300, true},
        // Within a second wait, were there one. Last: its reply finds no socket.
        {"nothing within the one wait", {Bytes(30, 0x21)}, 30, 0, 750, 500},
    };
    Peer stranger(kXportConfigPort + 1);
    ASSERT_TRUE(stranger.bound);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        setProtocolWaitsForTests({c.waitMs, 0});
        std::thread xportSide = answer(c.datagrams, c.gapMs, c.fromStranger ? &stranger : nullptr);
        int received = -1;
        sockaddr_in local{};
        const auto commands = runOnWorker(&ctx, view, [&](WindowHandle window) {
            if (!openUdpSocket(window, &ctx) || !bindUdpSocket(window, &ctx))
                return;
            local = localAddress(ctx.udpSocket);
            std::memset(ctx.txBuffer, 0x77, sizeof ctx.txBuffer);  // only txLength bytes may leave
            std::memcpy(ctx.txBuffer, "\x00\x00\x00\xF6", 4);
            ctx.txLength = 4;
            if (sendUdp(window, &ctx)) {
                std::memset(ctx.rxBuffer, 0xEE, sizeof ctx.rxBuffer);
                ctx.rxLength = c.wanted;
                received = receiveUdp(window, &ctx);
            }
            closeUdpSocket(window, &ctx.udpSocket);
        });
        xportSide.join();
        EXPECT_TRUE(commands.empty());
        EXPECT_EQ(request, (Bytes{0x00, 0x00, 0x00, 0xF6}));
        EXPECT_EQ(ntohs(client.sin_port), kUdpLocalPort);
        // Bound to port 10001 on every address: a real XPort's reply comes to the host's own address.
        EXPECT_EQ(ntohl(local.sin_addr.s_addr), INADDR_ANY);
        EXPECT_EQ(ntohs(local.sin_port), kUdpLocalPort);
        EXPECT_EQ(received, c.taken);
        EXPECT_EQ(ctx.rxLength, c.taken);
        Bytes expected;
        for (const Bytes& datagram : c.datagrams)
            expected.insert(expected.end(), datagram.begin(), datagram.end());
        expected.resize(static_cast<size_t>(c.taken));
        expected.resize(expected.size() + 16, 0xEE);  // nothing written behind the reply
        EXPECT_EQ(Bytes(ctx.rxBuffer, ctx.rxBuffer + expected.size()), expected);
        EXPECT_EQ(ntohs(ctx.udpPeer.sin_port), kXportConfigPort + (c.fromStranger ? 1 : 0));  // the last source
    }
}

std::string errorLine(ErrorCode code)
{
    UpdateContext errorCtx{};
    errorCtx.errorCode = code;
    return "error:" + loadText(TextErrorCaption) + "|" + errorMessage(errorCtx, 0);
}

TEST_F(UdpChannel, FailedExchangesAreReportedInOrderAndLeaveNoSocket)
{
    if (broadcastSendError() == 0)
        GTEST_SKIP() << "this host lets any socket send to the broadcast address";
    const int descriptors = openDescriptorCount();
    Peer holder(kUdpLocalPort, "0.0.0.0");
    ASSERT_TRUE(holder.bound) << "local port 10001 is taken";
    std::thread xportSide = answer({Bytes(30, 0x21)});
    uint8_t reply[kQueryReplySize] = {};
    std::vector<int> results;
    const auto commands = runOnWorker(&ctx, view, [&](WindowHandle window) {
        results.push_back(queryXport(window, &ctx, reply));  // the bind fails: port 10001 is held
        holder.close();
        ctx.ipText[0] = '\0';
        results.push_back(queryXport(window, &ctx, reply));
        std::strcpy(ctx.ipText, "255.255.255.255");  // bound, but the send is refused
        results.push_back(queryXport(window, &ctx, reply));
        std::strcpy(ctx.ipText, "127.0.0.1");
        results.push_back(queryXport(window, &ctx, reply));
    });
    xportSide.join();
    EXPECT_EQ(results, (std::vector<int>{0, 0, 0, 1}));
    EXPECT_EQ(Bytes(reply, reply + sizeof reply), Bytes(30, 0x21));
    EXPECT_EQ(ctx.udpSocket, kNoSocket);
    EXPECT_EQ(openDescriptorCount(), descriptors);
    EXPECT_EQ(view.events(), (std::vector<std::string>{errorLine(ErrUdpBind), errorLine(ErrNoAddress),
                                                       errorLine(ErrUdpSend)}));
    ASSERT_EQ(commands.size(), 3u);
    EXPECT_EQ(commands[0].argument, addressInUseError());
    EXPECT_EQ(commands[2].argument, broadcastSendError());
}

TEST_F(UdpChannel, ABusyLocalPortIsTriedAgainForABoundedTime)
{
    using namespace std::chrono;
    struct Case {
        const char* what;
        int heldMs;  // from the exchange's start
        int result;
    };
    const int boundMs = udpBindRetryMs();  // a reply wait and a margin: 1300 ms here
    const Case cases[] = {{"let go after 500 ms", 500, 1}, {"held past the bound", boundMs + 700, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RecordingView caseView;
        Peer holder(kUdpLocalPort, "0.0.0.0");
        ASSERT_TRUE(holder.bound) << "local port 10001 is taken";
        std::thread letGo([&] {
            std::this_thread::sleep_for(milliseconds(c.heldMs));
            holder.close();
        });
        std::thread xportSide = c.result == 1 ? answer({Bytes(30, 0x21)}) : std::thread();
        uint8_t reply[kQueryReplySize] = {};
        int result = -1;
        const auto started = steady_clock::now();
        const auto commands =
            runOnWorker(&ctx, caseView, [&](WindowHandle window) { result = queryXport(window, &ctx, reply); });
        const auto took = duration_cast<milliseconds>(steady_clock::now() - started).count();
        letGo.join();
        if (xportSide.joinable())
            xportSide.join();
        EXPECT_EQ(result, c.result);
        if (c.result == 1) {
            EXPECT_TRUE(commands.empty());
            EXPECT_GE(took, c.heldMs - 50);
            EXPECT_EQ(Bytes(reply, reply + sizeof reply), Bytes(30, 0x21));
        } else {
            EXPECT_EQ(caseView.events(), std::vector<std::string>{errorLine(ErrUdpBind)});
            ASSERT_EQ(commands.size(), 1u);
            EXPECT_EQ(commands[0].argument, addressInUseError());
            EXPECT_GE(took, boundMs);
            EXPECT_LT(took, boundMs + 500);
        }
        EXPECT_EQ(ctx.udpSocket, kNoSocket);
    }
}

} // namespace
