// The XPort setup switch and restore against the XPort emulator on loopback:
// the exchanges on the wire, their order and bytes, and every way the XPort or
// the network can make them fail.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include "command_channel.h"
#include "protocol_waits.h"
#include "texts.h"
#include "udp_channel.h"
#include "update_context.h"
#include "xport_emulator.h"
#include "xport_setup.h"
#include "xport_test_platform.h"

namespace {

using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

constexpr int kReceiveMs = 300;
constexpr int kSettleMs = 50;

const Bytes kQuery{0x00, 0x00, 0x00, 0xF6};
const Bytes kGetSetup{0x00, 0x00, 0x00, 0xF8};

// The put-setup request the system must send for `record` with byte 21 as given.
Bytes putOf(const XportRecord& record, uint8_t byte21)
{
    Bytes put(record.begin(), record.end());
    put[0] = 0x00;
    put[1] = 0x00;
    put[2] = 0x00;
    put[3] = 0xFA;
    put[21] = byte21;
    return put;
}

// The get-setup reply of an XPort holding `record`.
Bytes setupReply(const XportRecord& record, const std::array<uint8_t, 4>& header)
{
    Bytes reply(record.begin(), record.end());
    std::copy(header.begin(), header.end(), reply.begin());
    return reply;
}

Bytes bytesOf(const uint8_t* data, size_t size)
{
    return Bytes(data, data + size);
}

std::string errorLine(ErrorCode code)
{
    UpdateContext errorCtx{};
    errorCtx.errorCode = code;
    return "error:" + loadText(TextErrorCaption) + "|" + errorMessage(errorCtx, 0);
}

// A socket on local port 10001, so that the system's bind fails.
class PortHolder {
public:
    PortHolder()
    {
        fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(kUdpLocalPort);
        if (bind(fd_, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0)
            release();
    }
    ~PortHolder() { release(); }
    bool holding() const { return fd_ != -1; }
    void release()
    {
        if (fd_ != -1)
            close(fd_);
        fd_ = -1;
    }

private:
    int fd_ = -1;
};

class XportSetup : public ::testing::Test {
protected:
    void SetUp() override
    {
        setProtocolWaitsForTests({kReceiveMs, kSettleMs});
        initUpdateContext(&ctx);
        std::strcpy(ctx.ipText, "127.0.0.1");
    }
    void TearDown() override
    {
        if (xport)
            xport->stop();
        setProtocolWaitsForTests(ProtocolWaits{});
    }

    void startXport(XportEmulatorOptions options = {})
    {
        options.address = "127.0.0.1";
        options.port = kXportConfigPort;
        initial = options.record;
        header = options.setupHeader;
        xport = std::make_unique<XportEmulator>(options);
        std::string error;
        ASSERT_TRUE(xport->start(&error)) << error;
    }

    int run(int (*operation)(WindowHandle, UpdateContext*))
    {
        int result = -1;
        auto handled = runOnWorker(&ctx, view, [&](WindowHandle window) { result = operation(window, &ctx); });
        commands.insert(commands.end(), handled.begin(), handled.end());
        return result;
    }

    // Every exchange the XPort served, once all that was sent to it has arrived.
    std::vector<XportExchange> served()
    {
        EXPECT_TRUE(xport->sync(5s));
        return xport->exchanges();
    }

    std::vector<Bytes> requests()
    {
        std::vector<Bytes> all;
        for (const auto& exchange : served())
            all.push_back(exchange.request);
        return all;
    }

    UpdateContext ctx{};
    RecordingView view;
    std::vector<HandledCommand> commands;
    std::unique_ptr<XportEmulator> xport;
    XportRecord initial{};
    std::array<uint8_t, 4> header{};
};

TEST_F(XportSetup, SwitchAndRestoreOnTheWire)
{
    // The XPort takes a while to apply a put; the settling wait covers it.
    setProtocolWaitsForTests({kReceiveMs, 400});
    XportEmulatorOptions options;
    options.setupHeader = {0xDE, 0xAD, 0xBE, 0xEF};
    options.applyDelayMs = 200;
    ASSERT_NO_FATAL_FAILURE(startXport(options));

    ASSERT_EQ(run(switchXport), 1);
    EXPECT_EQ(xport->record()[21], 8);
    ASSERT_EQ(run(restoreXport), 1);
    EXPECT_TRUE(view.events().empty());
    EXPECT_TRUE(commands.empty());
    EXPECT_EQ(ctx.udpSocket, kNoSocket);

    const auto log = served();
    ASSERT_EQ(log.size(), 6u);
    const std::vector<Bytes> expected{kQuery, kGetSetup, putOf(initial, 8), kGetSetup, putOf(initial, initial[21]),
                                      kGetSetup};
    for (size_t i = 0; i < log.size(); ++i) {
        EXPECT_EQ(log[i].request, expected[i]) << "exchange " << i + 1;
        EXPECT_EQ(log[i].clientAddress, "127.0.0.1");
        EXPECT_EQ(log[i].clientPort, kUdpLocalPort) << "exchange " << i + 1;
    }
    // Each read-back follows its put only after the settling wait.
    EXPECT_GE(log[3].received - log[2].received, 400ms);
    EXPECT_GE(log[5].received - log[4].received, 400ms);

    EXPECT_EQ(bytesOf(xportQueryReply, sizeof xportQueryReply), log[0].replies.at(0));
    EXPECT_EQ(bytesOf(savedSetup, sizeof savedSetup), setupReply(initial, header));
    EXPECT_EQ(bytesOf(changedSetup, sizeof changedSetup), putOf(initial, 8));
    EXPECT_EQ(setupAfterChange[21], 8);
    EXPECT_EQ(bytesOf(restoredSetup, sizeof restoredSetup), putOf(initial, initial[21]));
    EXPECT_EQ(bytesOf(setupAfterRestore, sizeof setupAfterRestore), setupReply(initial, header));
    EXPECT_EQ(xport->record(), initial);
}

TEST_F(XportSetup, ReadBackBeforeThePutIsAppliedFailsTheSwitch)
{
    setProtocolWaitsForTests({kReceiveMs, 10});
    XportEmulatorOptions options;
    options.applyDelayMs = 5000;
    ASSERT_NO_FATAL_FAILURE(startXport(options));
    EXPECT_EQ(run(switchXport), 0);
    EXPECT_EQ(served().size(), 4u);
    EXPECT_EQ(setupAfterChange[21], initial[21]);
}

TEST_F(XportSetup, ByteAlreadyEightIsStillWrittenAndRestored)
{
    XportEmulatorOptions options;
    options.record = defaultXportRecord(8);
    ASSERT_NO_FATAL_FAILURE(startXport(options));
    EXPECT_EQ(run(switchXport), 1);
    EXPECT_EQ(run(restoreXport), 1);
    EXPECT_EQ(requests(), (std::vector<Bytes>{kQuery, kGetSetup, putOf(initial, 8), kGetSetup, putOf(initial, 8),
                                              kGetSetup}));
}

TEST_F(XportSetup, QueryReplyOfTheWrongLengthStopsTheSwitchBeforeTheSetup)
{
    // Short, over-long, part of a reply and then silence, an empty datagram.
    for (int length : {29, 32, 10, 0}) {
        SCOPED_TRACE("query reply of " + std::to_string(length) + " bytes");
        XportEmulatorOptions options;
        options.queryReplyLength = length;
        ASSERT_NO_FATAL_FAILURE(startXport(options));
        std::memset(savedSetup, 0x3C, sizeof savedSetup);
        EXPECT_EQ(run(switchXport), 0);
        EXPECT_EQ(requests(), (std::vector<Bytes>{kQuery}));
        EXPECT_EQ(bytesOf(savedSetup, sizeof savedSetup), Bytes(sizeof savedSetup, 0x3C));
        EXPECT_EQ(xport->record(), initial);
        xport->stop();
    }
    EXPECT_TRUE(view.events().empty());
}

TEST_F(XportSetup, SetupReplyInTwoDatagramsIsGathered)
{
    XportEmulatorOptions options;
    options.splitSetupReplyAt = 100;
    ASSERT_NO_FATAL_FAILURE(startXport(options));
    EXPECT_EQ(run(switchXport), 1);
    const auto log = served();
    ASSERT_EQ(log.size(), 4u);
    ASSERT_EQ(log[1].replies.size(), 2u);
    EXPECT_EQ(log[1].replies[0].size(), 100u);
    EXPECT_EQ(log[1].replies[1].size(), 24u);
    EXPECT_EQ(bytesOf(savedSetup, sizeof savedSetup), setupReply(initial, header));
    EXPECT_EQ(run(restoreXport), 1);
    EXPECT_EQ(xport->record(), initial);
}

TEST_F(XportSetup, SetupReplyOfTheWrongLengthFailsTheSwitchBeforeThePut)
{
    for (int length : {123, 125, 0}) {
        SCOPED_TRACE("setup reply of " + std::to_string(length) + " bytes");
        XportEmulatorOptions options;
        options.setupReplyLength = length;
        ASSERT_NO_FATAL_FAILURE(startXport(options));
        EXPECT_EQ(run(switchXport), 0);
        EXPECT_EQ(requests(), (std::vector<Bytes>{kQuery, kGetSetup}));
        xport->stop();
    }
    EXPECT_TRUE(view.events().empty());
}

TEST_F(XportSetup, PutAcknowledgedButNotAppliedFailsTheSwitch)
{
    XportEmulatorOptions options;
    options.unappliedPuts = {1};
    ASSERT_NO_FATAL_FAILURE(startXport(options));
    EXPECT_EQ(run(switchXport), 0);
    EXPECT_EQ(requests(), (std::vector<Bytes>{kQuery, kGetSetup, putOf(initial, 8), kGetSetup}));
    EXPECT_EQ(setupAfterChange[21], initial[21]);
    EXPECT_TRUE(view.events().empty());
}

TEST_F(XportSetup, PutReplyOtherThan000000FBFailsWithoutAReadBack)
{
    const std::vector<Bytes> replies{{0x00, 0x00, 0x00, 0xFC}, {0x01, 0x00, 0x00, 0xFB}, {0x00, 0x00, 0x00},
                                     {0x00, 0x00, 0x00, 0xFB, 0x00}, {}};
    for (const Bytes& reply : replies) {
        SCOPED_TRACE("put reply of " + std::to_string(reply.size()) + " bytes");
        XportEmulatorOptions options;
        options.putReply = reply;
        ASSERT_NO_FATAL_FAILURE(startXport(options));
        EXPECT_EQ(run(switchXport), 0);
        EXPECT_EQ(requests(), (std::vector<Bytes>{kQuery, kGetSetup, putOf(initial, 8)}));
        xport->stop();
    }
    EXPECT_TRUE(view.events().empty());
}

TEST_F(XportSetup, ReadBackDifferingOutsideByte21StillSucceeds)
{
    XportEmulatorOptions options;
    options.driftByte = 50;
    ASSERT_NO_FATAL_FAILURE(startXport(options));
    EXPECT_EQ(run(switchXport), 1);
    EXPECT_NE(setupAfterChange[50], changedSetup[50]);
    EXPECT_EQ(run(restoreXport), 1);
    EXPECT_NE(setupAfterRestore[50], savedSetup[50]);
    EXPECT_EQ(setupAfterRestore[21], savedSetup[21]);
}

TEST_F(XportSetup, RepliesFromAnotherAddressAreTaken)
{
    XportEmulatorOptions options;
    options.otherSource = "127.0.0.2";
    ASSERT_NO_FATAL_FAILURE(startXport(options));
    EXPECT_EQ(run(switchXport), 1);
    EXPECT_EQ(run(restoreXport), 1);
    const auto log = served();
    ASSERT_EQ(log.size(), 6u);
    EXPECT_EQ(log[5].replySource, "127.0.0.2:30718");
    char source[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &ctx.udpPeer.sin_addr, source, sizeof source);
    EXPECT_STREQ(source, "127.0.0.2");
    EXPECT_EQ(ntohs(ctx.udpPeer.sin_port), kXportConfigPort);
}

TEST_F(XportSetup, FailedRestoreIsNotRetried)
{
    {
        SCOPED_TRACE("second put acknowledged but not applied");
        XportEmulatorOptions options;
        options.unappliedPuts = {2};
        ASSERT_NO_FATAL_FAILURE(startXport(options));
        EXPECT_EQ(run(switchXport), 1);
        EXPECT_EQ(run(restoreXport), 0);
        EXPECT_EQ(served().size(), 6u);
        EXPECT_EQ(xport->record()[21], 8);
        xport->stop();
    }
    {
        SCOPED_TRACE("no reply to the second put");
        XportEmulatorOptions options;
        options.silentExchanges = {5};
        ASSERT_NO_FATAL_FAILURE(startXport(options));
        EXPECT_EQ(run(switchXport), 1);
        EXPECT_EQ(run(restoreXport), 0);
        EXPECT_EQ(requests(), (std::vector<Bytes>{kQuery, kGetSetup, putOf(initial, 8), kGetSetup,
                                                  putOf(initial, initial[21])}));
        xport->stop();
    }
    {
        SCOPED_TRACE("no reply to the last read-back");
        XportEmulatorOptions options;
        options.silentExchanges = {6};
        ASSERT_NO_FATAL_FAILURE(startXport(options));
        EXPECT_EQ(run(switchXport), 1);
        EXPECT_EQ(run(restoreXport), 0);
        EXPECT_EQ(served().size(), 6u);
    }
    EXPECT_TRUE(view.events().empty());
}

TEST_F(XportSetup, NoReplyAtAllEndsAfterOneWait)
{
    XportEmulatorOptions options;
    options.silentExchanges = {1};
    ASSERT_NO_FATAL_FAILURE(startXport(options));
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(run(switchXport), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(kReceiveMs));
    EXPECT_EQ(requests(), (std::vector<Bytes>{kQuery}));
    EXPECT_EQ(ctx.udpSocket, kNoSocket);
    EXPECT_TRUE(view.events().empty());
}

TEST_F(XportSetup, FailedBindLeavesNoSocketAndIsReportedInOrder)
{
    ASSERT_NO_FATAL_FAILURE(startXport());
    const int descriptors = openDescriptorCount();
    auto holder = std::make_unique<PortHolder>();
    ASSERT_TRUE(holder->holding()) << "local port 10001 is taken";

    EXPECT_EQ(run(switchXport), 0);
    EXPECT_EQ(ctx.udpSocket, kNoSocket);
    holder.reset();
    EXPECT_EQ(openDescriptorCount(), descriptors);
    EXPECT_TRUE(served().empty());

    // Once the port is free the next exchanges bind it again.
    EXPECT_EQ(run(switchXport), 1);
    EXPECT_EQ(served().size(), 4u);

    holder = std::make_unique<PortHolder>();
    ASSERT_TRUE(holder->holding());
    EXPECT_EQ(run(restoreXport), 0);
    holder.reset();
    ctx.ipText[0] = '\0';
    EXPECT_EQ(run(restoreXport), 0);
    EXPECT_EQ(ctx.udpSocket, kNoSocket);
    EXPECT_EQ(openDescriptorCount(), descriptors);
    EXPECT_EQ(served().size(), 4u);

    EXPECT_EQ(view.events(),
              (std::vector<std::string>{errorLine(ErrUdpBind), errorLine(ErrUdpBind), errorLine(ErrNoAddress)}));
    ASSERT_EQ(commands.size(), 3u);
    EXPECT_EQ(commands[0].argument, addressInUseError());
    EXPECT_EQ(commands[1].argument, addressInUseError());
}

TEST_F(XportSetup, FailedSendLeavesThePortFreeForTheNextExchange)
{
    ASSERT_NO_FATAL_FAILURE(startXport());
    const int descriptors = openDescriptorCount();
    std::strcpy(ctx.ipText, "255.255.255.255");
    EXPECT_EQ(run(switchXport), 0);
    EXPECT_EQ(ctx.udpSocket, kNoSocket);
    EXPECT_EQ(openDescriptorCount(), descriptors);
    std::strcpy(ctx.ipText, "127.0.0.1");
    EXPECT_EQ(run(switchXport), 1);
    EXPECT_EQ(view.events(), (std::vector<std::string>{errorLine(ErrUdpSend)}));
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0].argument, accessDeniedError());
}

// The emulator itself: its options and its lifetime.
TEST(XportEmulatorOptions, ParsesEveryOptionAndRefusesBadValues)
{
    XportEmulatorOptions options;
    EXPECT_EQ(parseXportOption("--xport-address", "127.0.0.5", options), XportOptionResult::Accepted);
    EXPECT_EQ(parseXportOption("xport-port", "40000", options), XportOptionResult::Accepted);
    EXPECT_EQ(parseXportOption("--xport-byte21", "8", options), XportOptionResult::Accepted);
    EXPECT_EQ(parseXportOption("--xport-setup-header", "de ad be ef", options), XportOptionResult::Accepted);
    EXPECT_EQ(parseXportOption("--xport-apply-delay", "1500", options), XportOptionResult::Accepted);
    EXPECT_EQ(parseXportOption("--xport-query-length", "29", options), XportOptionResult::Accepted);
    EXPECT_EQ(parseXportOption("--xport-put-reply", "000000FC", options), XportOptionResult::Accepted);
    EXPECT_EQ(parseXportOption("--xport-unapplied-put", "2", options), XportOptionResult::Accepted);
    EXPECT_EQ(parseXportOption("--xport-silent", "5", options), XportOptionResult::Accepted);
    EXPECT_EQ(parseXportOption("--xport-silent", "6", options), XportOptionResult::Accepted);
    EXPECT_EQ(parseXportOption("--xport-split", "100", options), XportOptionResult::Accepted);
    EXPECT_EQ(parseXportOption("--xport-other-source", "127.0.0.2", options), XportOptionResult::Accepted);
    EXPECT_EQ(parseXportOption("--xport-drift", "50", options), XportOptionResult::Accepted);
    EXPECT_EQ(options.address, "127.0.0.5");
    EXPECT_EQ(options.port, 40000);
    EXPECT_EQ(options.record[21], 8);
    EXPECT_EQ(options.setupHeader, (std::array<uint8_t, 4>{0xDE, 0xAD, 0xBE, 0xEF}));
    EXPECT_EQ(options.applyDelayMs, 1500);
    EXPECT_EQ(options.queryReplyLength, 29);
    EXPECT_EQ(options.putReply, (Bytes{0x00, 0x00, 0x00, 0xFC}));
    EXPECT_EQ(options.unappliedPuts, (std::set<int>{2}));
    EXPECT_EQ(options.silentExchanges, (std::set<int>{5, 6}));
    EXPECT_EQ(options.splitSetupReplyAt, 100);
    EXPECT_EQ(options.otherSource, "127.0.0.2");
    EXPECT_EQ(options.driftByte, 50);

    const XportEmulatorOptions before = options;
    for (auto [name, value] : std::vector<std::pair<const char*, const char*>>{
             {"--xport-address", "localhost"}, {"--xport-port", "0"}, {"--xport-port", "65536"},
             {"--xport-byte21", "256"}, {"--xport-setup-header", "0000FA"}, {"--xport-put-reply", "0g"},
             {"--xport-query-length", "-1"}, {"--xport-split", "124"}, {"--xport-drift", "124"},
             {"--xport-silent", "x"}, {"--xport-apply-delay", "12ms"}})
        EXPECT_EQ(parseXportOption(name, value, options), XportOptionResult::BadValue) << name << "=" << value;
    EXPECT_EQ(options.port, before.port);
    EXPECT_EQ(options.record, before.record);
    EXPECT_EQ(parseXportOption("--device-port", "1", options), XportOptionResult::NotMine);
    EXPECT_NE(std::string(xportOptionsHelp()).find("--xport-silent=N"), std::string::npos);
}

TEST(XportEmulatorLifetime, TakenPortFailsCleanlyAndStopReleasesEverything)
{
    const int descriptors = openDescriptorCount();
    XportEmulatorOptions options;
    options.address = "127.0.0.1";
    options.port = 30719;
    options.otherSource = "127.0.0.2";
    {
        XportEmulator first(options);
        std::string error;
        ASSERT_TRUE(first.start(&error)) << error;
        XportEmulator second(options);
        EXPECT_FALSE(second.start(&error));
        EXPECT_NE(error.find("bind"), std::string::npos) << error;
        EXPECT_TRUE(first.sync(5s)) << "the first still serves";
        first.stop();
        first.stop();
        EXPECT_EQ(openDescriptorCount(), descriptors);
    }
    EXPECT_EQ(openDescriptorCount(), descriptors);
}

} // namespace
