// The TCP link against a scripted loopback peer: a reply gathered from pieces
// with its surplus left queued, a silent or closing peer, the port's low
// 16 bits, and a failed connection that leaves nothing behind.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "cancel.h"
#include "command_channel.h"
#include "link.h"
#include "protocol_waits.h"
#include "sockets.h"
#include "tcp_link.h"
#include "xport_test_platform.h"

#ifdef _WIN32
#include <ws2tcpip.h>
constexpr int kConnectionRefused = WSAECONNREFUSED;
constexpr int kInterrupted = WSAEINTR;
constexpr int kSendAfterShutdown = WSAESHUTDOWN;
#else
#include <sys/socket.h>

#include <cerrno>
constexpr int kConnectionRefused = ECONNREFUSED;
constexpr int kInterrupted = EINTR;
constexpr int kSendAfterShutdown = EPIPE;
#endif

namespace {

using namespace std::chrono_literals;

constexpr int kReceiveMs = 300;
constexpr uint8_t kUntouched = 0xEE;

class SocketLibrary : public ::testing::Environment {
    void SetUp() override { ASSERT_EQ(startWinsock(&data_), 1); }
    void TearDown() override { stopSocketLibrary(); }
    SocketLibraryData data_{};
};
const auto* const socketLibrary = ::testing::AddGlobalTestEnvironment(new SocketLibrary);

void sendText(SocketHandle connection, const std::string& text)
{
    sendOnSocket(connection, reinterpret_cast<const uint8_t*>(text.data()), static_cast<int>(text.size()));
}

// Up to `count` bytes; fewer when the link closes or stays silent for 5 s.
std::string receiveText(SocketHandle connection, int count)
{
    std::string text;
    uint8_t buffer[64];
    int n = 0;
    while (static_cast<int>(text.size()) < count && waitSocketReadable(connection, 5000) != 0 &&
           (n = receiveFromSocket(connection, buffer, count - static_cast<int>(text.size()))) > 0)
        text.append(reinterpret_cast<const char*>(buffer), static_cast<size_t>(n));
    return text;
}

// A listener on 127.0.0.1 that runs a script on the one connection it accepts.
class Peer {
public:
    // `wanted` 0: any free port. port() is 0 when the port cannot be had.
    explicit Peer(uint16_t wanted = 0)
    {
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        // An earlier run's connection in TIME_WAIT must not keep a fixed port busy.
        const int reuse = 1;
        setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse), sizeof reuse);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = addressFromText("127.0.0.1");
        address.sin_port = htons(wanted);
        socklen_t length = sizeof address;
        if (bind(listener_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
            listen(listener_, 1) == 0 && getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            port_ = ntohs(address.sin_port);
    }
    ~Peer() { finish(); }

    void run(std::function<void(SocketHandle)> script)
    {
        thread_ = std::thread([this, script = std::move(script)] {
            const SocketHandle connection =
                waitSocketReadable(listener_, 10000) != 0 ? accept(listener_, nullptr, nullptr) : kNoSocket;
            if (connection == kNoSocket)
                return;
            script(connection);
            closeSocketHandle(connection);
        });
    }

    // Joins the script and closes the listener; port() stays.
    void finish()
    {
        if (thread_.joinable())
            thread_.join();
        if (listener_ != kNoSocket)
            closeSocketHandle(listener_);
        listener_ = kNoSocket;
    }

    uint16_t port() const { return port_; }

private:
    SocketHandle listener_ = kNoSocket;
    uint16_t port_ = 0;
    std::thread thread_;
};

class TcpLink : public ::testing::Test {
protected:
    void SetUp() override
    {
        setProtocolWaitsForTests({kReceiveMs, 300});
        initUpdateContext(&ctx);
        ctx.method = Network;
        std::snprintf(ctx.ipText, sizeof ctx.ipText, "127.0.0.1");
        ASSERT_NE(peer.port(), 0);
    }

    void TearDown() override
    {
        peer.finish();
        EXPECT_EQ(ctx.tcpSocket, kNoSocket) << "the link was left open";
        EXPECT_EQ(ctx.linkOpen, 0);
        EXPECT_EQ(openDescriptorCount(), descriptors) << "a descriptor leaked";
        EXPECT_EQ(view.events().size(), reports) << "a report where none was due";
    }

    // The link's operations run on a worker while this thread plays the window.
    int open(int32_t port)
    {
        ctx.tcpPort = port;
        int result = 0;
        runOnWorker(&ctx, view, [&](WindowHandle window) { result = openLink(window, &ctx); });
        return result;
    }

    // One receive of `wanted` bytes into an rxBuffer that holds kUntouched.
    int receive(int wanted)
    {
        std::memset(ctx.rxBuffer, kUntouched, sizeof ctx.rxBuffer);
        ctx.rxLength = wanted;
        int result = -1;
        runOnWorker(&ctx, view, [&](WindowHandle window) { result = receiveRx(window, &ctx); });
        return result;
    }

    void send(const std::string& text)
    {
        std::memcpy(ctx.txBuffer, text.data(), text.size());
        ctx.txLength = static_cast<int32_t>(text.size());
        runOnWorker(&ctx, view, [&](WindowHandle window) { sendTx(window, &ctx); });
    }

    void close()
    {
        runOnWorker(&ctx, view, [&](WindowHandle window) { closeLink(window, &ctx); });
    }

    std::string received() const
    {
        return std::string(reinterpret_cast<const char*>(ctx.rxBuffer), static_cast<size_t>(ctx.rxLength));
    }

    const int descriptors = openDescriptorCount();  // before the peer's listener
    UpdateContext ctx{};
    RecordingView view;
    Peer peer;
    size_t reports = 0;
};

TEST_F(TcpLink, ReplyIsGatheredFromPiecesAndItsSurplusStaysQueued)
{
    peer.run([](SocketHandle connection) {
        receiveText(connection, 7);  // the request
        sendText(connection, "M");
        std::this_thread::sleep_for(40ms);
        sendText(connection, "\x01\x02");
        std::this_thread::sleep_for(40ms);
        sendText(connection, "\x03" "EFLEFW");
        receiveText(connection, 1);  // holds the connection until the link closes
    });
    ASSERT_NE(open(peer.port()), 0);
    EXPECT_EQ(ctx.linkOpen, 1);
    send("KORVANE");
    EXPECT_EQ(receive(4), 4);
    EXPECT_EQ(received(), std::string("M\x01\x02\x03"));
    EXPECT_EQ(ctx.rxBuffer[4], kUntouched) << "a byte beyond the count was written";
    EXPECT_EQ(receive(3), 3);
    EXPECT_EQ(received(), "EFL");
    EXPECT_EQ(receive(4), 3) << "the rest, once the wait runs out";
    EXPECT_EQ(received(), "EFW");
    EXPECT_EQ(ctx.rxBuffer[3], kUntouched);
    close();
}

TEST_F(TcpLink, FailedSendIsReportedWithItsError)
{
    peer.run([](SocketHandle connection) { receiveText(connection, 1); });
    ASSERT_NE(open(peer.port()), 0);
    shutdown(ctx.tcpSocket, 1);  // no more sends (SHUT_WR, SD_SEND): the next send fails
    send("Q");
    EXPECT_EQ(ctx.errorCode, ErrSend);
    EXPECT_EQ(view.events(), std::vector<std::string>{"error:Error|Send error (code = " +
                                                      std::to_string(kSendAfterShutdown) + ")"});
    reports = 1;
    close();
}

TEST_F(TcpLink, SilenceGivesNothingAndAClosingPeerWhatItSent)
{
    peer.run([](SocketHandle connection) {
        receiveText(connection, 1);  // silent until the test's "go"
        sendText(connection, "MX");  // then two of four bytes, and it closes
    });
    ASSERT_NE(open(peer.port()), 0);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(receive(2), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(kReceiveMs - 10))
        << "the receive did not wait";
    EXPECT_EQ(ctx.rxBuffer[0], kUntouched);
    send("g");
    EXPECT_EQ(receive(4), 2);
    EXPECT_EQ(received(), "MX");
    EXPECT_EQ(ctx.rxBuffer[2], kUntouched);
    close();
}

TEST_F(TcpLink, Port70000ConnectsTo4464)
{
    Peer fixed(4464);
    if (fixed.port() == 0)
        GTEST_SKIP() << "loopback port 4464 is in use";
    fixed.run([](SocketHandle connection) {
        sendText(connection, "N");
        receiveText(connection, 1);  // until the link closes
    });
    ASSERT_NE(open(70000), 0);
    EXPECT_EQ(receive(1), 1);
    EXPECT_EQ(received(), "N");
    close();
}

TEST_F(TcpLink, FailedConnectionIsReportedOnceAndLeavesNothingForTheQuit)
{
    peer.finish();  // nobody listens on its port now
    // A full address field has no terminating zero: only its 16 characters count.
    std::memcpy(ctx.ipText, "127.000.000.0001", kIpTextSize);
    ctx.tcpPort = peer.port();
    int opened = -1;
    int errorAfterOpen = 0;
    int quitReceived = -1;
    const auto commands = runOnWorker(&ctx, view, [&](WindowHandle window) {
        opened = openLink(window, &ctx);
        errorAfterOpen = lastSocketError();
        // The quit exchange that follows: nothing goes out, nothing is reported.
        ctx.txBuffer[0] = 'Q';
        ctx.txLength = 1;
        sendTx(window, &ctx);
        ctx.rxLength = 1;
        quitReceived = receiveRx(window, &ctx);
    });
    EXPECT_EQ(opened, 0);
    EXPECT_EQ(quitReceived, 0);
    EXPECT_EQ(ctx.errorCode, ErrConnect);
    EXPECT_EQ(errorAfterOpen, kConnectionRefused) << "closing the socket lost the error the next report shows";
    EXPECT_EQ(commands.size(), 1u) << "one report, of the connect failure";
    EXPECT_EQ(view.events().front(), "error:Error|Connect failure. (code=" + std::to_string(kConnectionRefused) + ")");
    reports = 1;
}

// A listener on 127.0.0.1 that never accepts, its backlog of 0 filled by two
// connections: the system drops every further SYN, so a connect to it gets
// no answer and goes on trying, as one to a unit that is switched off.
class UnansweredListener {
public:
    UnansweredListener()
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = addressFromText("127.0.0.1");
        socklen_t length = sizeof address;
        if (bind(listener_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
            listen(listener_, 0) != 0 || getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return;
        for (SocketHandle& filler : fillers_) {
            filler = socket(AF_INET, SOCK_STREAM, 0);
            startConnect(filler, &address);
        }
        std::this_thread::sleep_for(100ms);  // the first filler's handshake fills the backlog
        port_ = ntohs(address.sin_port);
    }
    ~UnansweredListener()
    {
        for (SocketHandle filler : fillers_)
            closeSocketHandle(filler);
        closeSocketHandle(listener_);
    }
    uint16_t port() const { return port_; }

private:
    SocketHandle listener_ = socket(AF_INET, SOCK_STREAM, 0);
    SocketHandle fillers_[2] = {kNoSocket, kNoSocket};
    uint16_t port_ = 0;
};

TEST_F(TcpLink, ACancelCutsAConnectThatGetsNoAnswer)
{
    int opened = -1;
    long long took = 0;  // milliseconds
    {
        const UnansweredListener unanswered;
        ASSERT_NE(unanswered.port(), 0);
        clearCancel();
        std::thread canceller([] {
            std::this_thread::sleep_for(200ms);
            requestCancel();
        });
        const auto started = std::chrono::steady_clock::now();
        opened = open(unanswered.port());
        took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started)
                   .count();
        canceller.join();
        clearCancel();
    }
    EXPECT_EQ(opened, 0);
    EXPECT_GE(took, 190) << "the connect did not wait for an answer";
    // Uncut, the system would try for over a minute; a loaded machine may take seconds.
    EXPECT_LT(took, 10000) << "the cancel did not cut the connect";
    EXPECT_EQ(ctx.errorCode, ErrConnect);
    EXPECT_EQ(view.events(), std::vector<std::string>{"error:Error|Connect failure. (code=" +
                                                      std::to_string(kInterrupted) + ")"});
    reports = 1;
}

TEST_F(TcpLink, TheConnectedSocketBlocksAgain)
{
    peer.run([](SocketHandle connection) {
        std::this_thread::sleep_for(200ms);
        sendText(connection, "N");
        receiveText(connection, 1);  // until the link closes
    });
    ASSERT_NE(open(peer.port()), 0);
    uint8_t byte = 0;
    EXPECT_EQ(receiveFromSocket(ctx.tcpSocket, &byte, 1), 1) << "a receive without data did not wait";
    EXPECT_EQ(byte, 'N');
    close();
}

} // namespace
