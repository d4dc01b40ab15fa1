// The TCP link against a scripted peer on loopback: how a reply is gathered
// from pieces, what a closed or silent peer gives, the port's low 16 bits, and
// how failures are reported and cleaned up.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "command_channel.h"
#include "link.h"
#include "protocol_waits.h"
#include "sockets.h"
#include "tcp_link.h"
#include "update_context.h"
#include "xport_test_platform.h"

#ifdef _WIN32
using SocketLength = int;
constexpr int kConnectionRefused = WSAECONNREFUSED;
#else
#include <sys/resource.h>

#include <cerrno>

#include "command_view.h"
#include "command_window_posix.h"
using SocketLength = socklen_t;
constexpr int kConnectionRefused = ECONNREFUSED;
#endif

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

constexpr int kReceiveMs = 300;
constexpr uint8_t kUntouched = 0xEE;

class SocketLibrary : public ::testing::Environment {
public:
    void SetUp() override { ASSERT_EQ(startWinsock(&data_), 1); }
    void TearDown() override { stopSocketLibrary(); }

private:
    SocketLibraryData data_{};
};

const auto* const socketLibrary = ::testing::AddGlobalTestEnvironment(new SocketLibrary);

// A loopback listener that accepts one connection and runs a script on it on
// a thread of its own.
class Peer {
public:
    using Script = std::function<void(SocketHandle)>;

    // Listens on 127.0.0.1:port (0: any free port); false when it cannot.
    bool listenOn(uint16_t port)
    {
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        if (listener_ == kNoSocket)
            return false;
        // An earlier run's connection in TIME_WAIT must not keep a fixed port busy.
        const int reuse = 1;
        setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse), sizeof reuse);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = addressFromText("127.0.0.1");
        address.sin_port = htons(port);
        SocketLength length = sizeof address;
        if (bind(listener_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
            listen(listener_, 1) != 0 ||
            getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            closeSocketHandle(listener_);
            listener_ = kNoSocket;
            return false;
        }
        port_ = ntohs(address.sin_port);
        return true;
    }

    void run(Script script)
    {
        thread_ = std::thread([this, script = std::move(script)] {
            if (waitSocketReadable(listener_, 10000) == 0)
                return;
            const SocketHandle connection = accept(listener_, nullptr, nullptr);
            if (connection == kNoSocket)
                return;
            accepted_ = true;
            script(connection);
            closeSocketHandle(connection);
        });
    }

    // Joins the script and closes the listener.
    void finish()
    {
        if (thread_.joinable())
            thread_.join();
        if (listener_ != kNoSocket)
            closeSocketHandle(listener_);
        listener_ = kNoSocket;
    }

    ~Peer() { finish(); }

    uint16_t port() const { return port_; }
    bool accepted() const { return accepted_; }

private:
    SocketHandle listener_ = kNoSocket;
    uint16_t port_ = 0;
    bool accepted_ = false;
    std::thread thread_;
};

void sendText(SocketHandle connection, const std::string& text)
{
    sendOnSocket(connection, reinterpret_cast<const uint8_t*>(text.data()), static_cast<int>(text.size()));
}

// Reads exactly `count` bytes, or fewer when the link closes or stays silent.
std::string receiveText(SocketHandle connection, int count)
{
    std::string text;
    uint8_t buffer[1024];
    while (static_cast<int>(text.size()) < count && waitSocketReadable(connection, 5000) != 0) {
        const int n = receiveFromSocket(connection, buffer, count - static_cast<int>(text.size()));
        if (n <= 0)
            break;
        text.append(reinterpret_cast<const char*>(buffer), static_cast<size_t>(n));
    }
    return text;
}

class TcpLink : public ::testing::Test {
protected:
    void SetUp() override
    {
        setProtocolWaitsForTests({kReceiveMs, 300});
        initUpdateContext(&ctx);
        ctx.method = Network;
        std::snprintf(ctx.ipText, sizeof ctx.ipText, "127.0.0.1");
        descriptorsBefore = openDescriptorCount();
    }

    void TearDown() override
    {
        peer.finish();
        EXPECT_EQ(ctx.tcpSocket, kNoSocket) << "the test left the link open";
        if (descriptorsBefore >= 0) {
            EXPECT_EQ(openDescriptorCount(), descriptorsBefore) << "a descriptor leaked";
        }
    }

    // Opens the link to the peer on a worker; the link's result.
    int open()
    {
        ctx.tcpPort = peer.port();
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

    std::string received(int count) const { return std::string(reinterpret_cast<const char*>(ctx.rxBuffer), count); }

    UpdateContext ctx{};
    RecordingView view;
    Peer peer;
    int descriptorsBefore = -1;
};

TEST_F(TcpLink, ReplyInPiecesOfOneTwoAndOneIsDeliveredAsFourBytes)
{
    ASSERT_TRUE(peer.listenOn(0));
    std::string request;
    peer.run([&](SocketHandle connection) {
        request = receiveText(connection, 7);
        sendText(connection, "M");
        std::this_thread::sleep_for(40ms);
        sendText(connection, "\x01\x02");
        std::this_thread::sleep_for(40ms);
        sendText(connection, "\x03");
    });
    ASSERT_NE(open(), 0);
    EXPECT_EQ(ctx.linkOpen, 1);
    send("KORVANE");
    EXPECT_EQ(receive(4), 4);
    EXPECT_EQ(ctx.rxLength, 4);
    EXPECT_EQ(received(4), std::string("M\x01\x02\x03"));
    EXPECT_EQ(ctx.rxBuffer[4], kUntouched) << "a byte beyond the count was written";
    peer.finish();
    EXPECT_EQ(request, "KORVANE");
    close();
    EXPECT_EQ(ctx.linkOpen, 0);
    EXPECT_TRUE(view.events().empty()) << "nothing is reported on success";
}

TEST_F(TcpLink, LongerReplyIsDeliveredOverTwoReceivesInOrder)
{
    ASSERT_TRUE(peer.listenOn(0));
    peer.run([](SocketHandle connection) {
        sendText(connection, "EFLEFW");
        receiveText(connection, 1);  // hold the connection until the test is done
    });
    ASSERT_NE(open(), 0);
    EXPECT_EQ(receive(3), 3);
    EXPECT_EQ(received(3), "EFL");
    EXPECT_EQ(ctx.rxBuffer[3], kUntouched);
    EXPECT_EQ(receive(4), 3) << "the rest of the reply, then the wait runs out";
    EXPECT_EQ(received(3), "EFW");
    send("Q");
    close();
}

TEST_F(TcpLink, PeerClosingAfterTwoOfFourBytesGivesTwo)
{
    ASSERT_TRUE(peer.listenOn(0));
    peer.run([](SocketHandle connection) { sendText(connection, "MX"); });
    ASSERT_NE(open(), 0);
    EXPECT_EQ(receive(4), 2);
    EXPECT_EQ(ctx.rxLength, 2);
    EXPECT_EQ(received(2), "MX");
    EXPECT_EQ(ctx.rxBuffer[2], kUntouched);
    close();
}

TEST_F(TcpLink, SilenceGivesNothingAndPartOfAReplyEndsAtTheTimeOut)
{
    ASSERT_TRUE(peer.listenOn(0));
    peer.run([](SocketHandle connection) {
        receiveText(connection, 1);  // silent until the test's "go"
        sendText(connection, "EF");
        receiveText(connection, 1);  // and silent again, holding the connection
    });
    ASSERT_NE(open(), 0);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(receive(2), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(kReceiveMs - 10))
        << "the receive did not wait";
    EXPECT_EQ(ctx.rxLength, 0);
    EXPECT_EQ(ctx.rxBuffer[0], kUntouched);

    send("g");
    EXPECT_EQ(receive(3), 2) << "the wait that runs out after part of the reply ends the receive";
    EXPECT_EQ(received(2), "EF");
    send("x");
    close();
    EXPECT_TRUE(view.events().empty());
}

TEST_F(TcpLink, PortTakesItsLowSixteenBits)
{
    if (!peer.listenOn(4464))
        GTEST_SKIP() << "loopback port 4464 is in use";
    peer.run([](SocketHandle connection) {
        sendText(connection, "N");
        receiveText(connection, 1);  // until the link closes
    });
    ctx.tcpPort = 70000;
    int result = 0;
    runOnWorker(&ctx, view, [&](WindowHandle window) { result = openLink(window, &ctx); });
    ASSERT_NE(result, 0) << "70000 must connect to 4464";
    EXPECT_EQ(ntohs(ctx.tcpPeer.sin_port), 4464);
    EXPECT_EQ(receive(1), 1);
    EXPECT_EQ(received(1), "N");
    close();
    EXPECT_TRUE(peer.accepted());
}

TEST_F(TcpLink, RefusedConnectionIsReportedAndLeavesNoSocket)
{
    // A port that nobody listens on: bind one, note it, close it.
    ASSERT_TRUE(peer.listenOn(0));
    const uint16_t port = peer.port();
    peer.finish();

    ctx.tcpPort = port;
    std::vector<HandledCommand> commands;
    int result = -1;
    int errorAfterOpen = 0;
    commands = runOnWorker(&ctx, view, [&](WindowHandle window) {
        result = openLink(window, &ctx);
        // Closing the socket keeps the error that the open step's own report shows next.
        errorAfterOpen = lastSocketError();
        // The quit exchange that follows a failed open: nothing goes out, nothing is reported.
        ctx.txBuffer[0] = 'Q';
        ctx.txLength = 1;
        sendTx(window, &ctx);
        ctx.rxLength = 1;
        EXPECT_EQ(receiveRx(window, &ctx), 0);
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(ctx.linkOpen, 0);
    EXPECT_EQ(ctx.tcpSocket, kNoSocket);
    EXPECT_EQ(ctx.errorCode, ErrConnect);
    ASSERT_EQ(commands.size(), 1u) << "exactly one box: the connect failure";
    EXPECT_EQ(commands[0].code, static_cast<uint32_t>(CmdError));
    EXPECT_EQ(commands[0].argument, kConnectionRefused);
    EXPECT_EQ(errorAfterOpen, kConnectionRefused);
    EXPECT_EQ(view.events().front(),
              "error:Error|Connect failure. (code=" + std::to_string(kConnectionRefused) + ")");
}

TEST_F(TcpLink, MissingAddressOrPortIsRefusedWithoutAReport)
{
    ctx.ipText[0] = '\0';
    ctx.tcpPort = 10001;
    int result = -1;
    auto commands = runOnWorker(&ctx, view, [&](WindowHandle window) { result = openLink(window, &ctx); });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(ctx.errorCode, ErrNoAddress);

    std::snprintf(ctx.ipText, sizeof ctx.ipText, "127.0.0.1");
    ctx.tcpPort = 0;
    auto more = runOnWorker(&ctx, view, [&](WindowHandle window) { result = openLink(window, &ctx); });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(ctx.errorCode, ErrNoPort);
    EXPECT_TRUE(commands.empty());
    EXPECT_TRUE(more.empty());
    EXPECT_EQ(ctx.linkOpen, 0);
    EXPECT_EQ(ctx.tcpSocket, kNoSocket);
}

TEST_F(TcpLink, FullAddressFieldIsReadWithinItsSixteenCharacters)
{
    ASSERT_TRUE(peer.listenOn(0));
    const uint16_t port = peer.port();
    peer.finish();
    // No terminating zero inside the field: the text must be taken as its 16 characters.
    std::memcpy(ctx.ipText, "127.000.000.0001", kIpTextSize);
    ctx.tcpPort = port;
    int result = -1;
    auto commands = runOnWorker(&ctx, view, [&](WindowHandle window) { result = openLink(window, &ctx); });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(ctx.tcpSocket, kNoSocket);
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(ctx.errorCode, ErrConnect);
    EXPECT_EQ(commands[0].argument, kConnectionRefused) << "not the loopback address that the field holds";
}

TEST_F(TcpLink, SendOnAResetConnectionReportsTheSendError)
{
    ASSERT_TRUE(peer.listenOn(0));
    peer.run([](SocketHandle connection) {
        // Close with a reset rather than an orderly end.
        linger reset{};
        reset.l_onoff = 1;
        reset.l_linger = 0;
        setsockopt(connection, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&reset), sizeof reset);
    });
    ASSERT_NE(open(), 0);
    peer.finish();
    ASSERT_NE(waitTcpReadable(&ctx, 5000), 0) << "the reset never arrived";

    std::vector<HandledCommand> commands;
    int result = -1;
    for (int attempt = 0; attempt < 3 && result != 0; ++attempt) {
        ctx.txBuffer[0] = 'S';
        ctx.txLength = 1;
        commands = runOnWorker(&ctx, view, [&](WindowHandle window) { result = sendTcp(window, &ctx); });
    }
    EXPECT_EQ(result, 0);
    EXPECT_EQ(ctx.errorCode, ErrSend);
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0].code, static_cast<uint32_t>(CmdError));
    EXPECT_NE(commands[0].argument, 0) << "the send's own error number";
    EXPECT_EQ(view.events().back(), "error:Error|Send error (code = " + std::to_string(commands[0].argument) + ")");
    close();
}

#ifndef _WIN32
TEST_F(TcpLink, FailedSocketCreationIsReportedAndTheQuitSendsNothing)
{
    ctx.tcpPort = 10001;
    // No descriptor left for a socket: socket() fails with EMFILE. The window
    // side lifts the limit again as soon as the first command arrives.
    rlimit original{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &original), 0);
    CommandWindow window;
    int result = -1;
    int quitReceived = -1;
    std::thread worker([&] {
        rlimit none = original;
        none.rlim_cur = 0;
        setrlimit(RLIMIT_NOFILE, &none);
        result = openLink(&window, &ctx);
        setrlimit(RLIMIT_NOFILE, &original);
        ctx.txBuffer[0] = 'Q';
        ctx.txLength = 1;
        sendTx(&window, &ctx);
        ctx.rxLength = 1;
        quitReceived = receiveRx(&window, &ctx);
        window.close();
    });
    std::vector<PostedCommand> commands;
    while (auto command = window.nextCommand(std::chrono::seconds(30))) {
        setrlimit(RLIMIT_NOFILE, &original);
        commands.push_back(*command);
        handleUpdateCommand(&window, view, &ctx, command->code, command->argument);
    }
    worker.join();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(quitReceived, 0);
    EXPECT_EQ(ctx.linkOpen, 0);
    EXPECT_EQ(ctx.tcpSocket, kNoSocket);
    EXPECT_EQ(ctx.errorCode, ErrSocketCreate);
    ASSERT_EQ(commands.size(), 1u) << "the socket failure alone";
    EXPECT_EQ(commands[0].code, static_cast<uint32_t>(CmdError));
    EXPECT_EQ(commands[0].argument, EMFILE);
}
#endif

TEST_F(TcpLink, WithoutASocketNothingIsSentOrReceivedOrReported)
{
    ctx.tcpSocket = kNoSocket;
    ctx.txLength = 1;
    ctx.rxLength = 3;
    std::memset(ctx.rxBuffer, kUntouched, sizeof ctx.rxBuffer);
    int sent = -1;
    int received = -1;
    auto commands = runOnWorker(&ctx, view, [&](WindowHandle window) {
        sent = sendTcp(window, &ctx);
        received = receiveTcp(window, &ctx);
        closeTcp(window, &ctx);
    });
    EXPECT_EQ(sent, 0);
    EXPECT_EQ(received, 0);
    EXPECT_EQ(ctx.rxLength, 3) << "untouched without a socket";
    EXPECT_EQ(ctx.rxBuffer[0], kUntouched);
    EXPECT_TRUE(commands.empty());
}

TEST_F(TcpLink, AskingForMoreThanTheBufferHoldsStopsAtTheBuffer)
{
    ASSERT_TRUE(peer.listenOn(0));
    const std::string reply(kBufferSize + 100, 'A');
    peer.run([reply](SocketHandle connection) {
        sendText(connection, reply);
        receiveText(connection, 1);
    });
    ASSERT_NE(open(), 0);
    EXPECT_EQ(receive(kBufferSize + 500), kBufferSize);
    EXPECT_EQ(ctx.rxLength, kBufferSize);
    EXPECT_EQ(receive(1000), 100);
    send("x");
    close();
}

} // namespace
