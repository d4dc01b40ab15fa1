// The XPort setup switch and restore against the XPort emulator on loopback:
// the requests on the wire, and where each bad reply ends the run.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "protocol_waits.h"
#include "udp_channel.h"
#include "xport_emulator.h"
#include "xport_setup.h"
#include "xport_test_platform.h"

namespace {

using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

// The six requests of a switch and a restore for an XPort holding `record`.
std::vector<Bytes> sixRequests(XportRecord record)
{
    const Bytes query{0x00, 0x00, 0x00, 0xF6}, get{0x00, 0x00, 0x00, 0xF8};
    std::memcpy(record.data(), "\x00\x00\x00\xFA", 4);
    const Bytes restore(record.begin(), record.end());
    record[21] = 8;
    return {query, get, Bytes(record.begin(), record.end()), get, restore, get};
}

class XportSetup : public ::testing::Test {
protected:
    void SetUp() override
    {
        initUpdateContext(&ctx);
        std::strcpy(ctx.ipText, "127.0.0.1");
    }
    void TearDown() override { setProtocolWaitsForTests(ProtocolWaits{}); }

    // A switch, and a restore after a successful one, against an XPort set up
    // by `options`; what the XPort served.
    std::vector<XportExchange> run(XportEmulatorOptions options, int* switched, int* restored)
    {
        XportEmulator xport(options);
        std::string error;
        EXPECT_TRUE(xport.start(&error)) << error;
        *restored = -1;
        commands = runOnWorker(&ctx, view, [&](WindowHandle window) {
            if ((*switched = switchXport(window, &ctx)) == 1)
                *restored = restoreXport(window, &ctx);
        });
        EXPECT_TRUE(xport.sync(5s));
        return xport.exchanges();
    }

    UpdateContext ctx{};
    RecordingView view;
    std::vector<HandledCommand> commands;
};

TEST_F(XportSetup, SwitchAndRestoreOnTheWire)
{
    // Puts take effect 200 ms after their acknowledgement: the settling wait covers it.
    setProtocolWaitsForTests({300, 400});
    XportEmulatorOptions options;
    options.setupHeader = {0xDE, 0xAD, 0xBE, 0xEF};
    options.applyDelayMs = 200;
    options.splitSetupReplyAt = 100;
    options.otherSource = "127.0.0.2";
    int switched = 0, restored = 0;
    const auto log = run(options, &switched, &restored);
    EXPECT_EQ(switched, 1);
    EXPECT_EQ(restored, 1);
    EXPECT_TRUE(commands.empty());
    ASSERT_EQ(log.size(), 6u);
    const auto expected = sixRequests(options.record);
    for (size_t i = 0; i < log.size(); ++i) {
        EXPECT_EQ(log[i].request, expected[i]) << "exchange " << i + 1;
        EXPECT_EQ(log[i].clientPort, kUdpLocalPort) << "exchange " << i + 1;
    }
    EXPECT_GE(log[3].received - log[2].received, 400ms);
    EXPECT_GE(log[5].received - log[4].received, 400ms);
    // The replies came from elsewhere, and the last one's source is the peer now.
    EXPECT_EQ(ctx.udpPeer.sin_addr.s_addr, inet_addr("127.0.0.2"));
    EXPECT_EQ(ntohs(ctx.udpPeer.sin_port), kXportConfigPort);
}

TEST_F(XportSetup, EachBadReplyEndsTheRunWhereItHappens)
{
    setProtocolWaitsForTests({300, 20});
    struct Case {
        const char* what;
        void (*set)(XportEmulatorOptions&);
        int switched, restored;
        size_t requests;
    };
    const Case cases[] = {
        {"29-byte query reply", [](auto& o) { o.queryReplyLength = 29; }, 0, -1, 1},
        {"32-byte query reply", [](auto& o) { o.queryReplyLength = 32; }, 0, -1, 1},
        {"no reply at all", [](auto& o) { o.silentExchanges = {1}; }, 0, -1, 1},
        {"123-byte setup reply", [](auto& o) { o.setupReplyLength = 123; }, 0, -1, 2},
        {"put reply 00 00 00 FC", [](auto& o) { o.putReply = {0x00, 0x00, 0x00, 0xFC}; }, 0, -1, 3},
        {"put reply 00 00 00", [](auto& o) { o.putReply = {0x00, 0x00, 0x00}; }, 0, -1, 3},
        {"put acknowledged, read-back not 8", [](auto& o) { o.unappliedPuts = {1}; }, 0, -1, 4},
        {"byte 21 already 8", [](auto& o) { o.record = defaultXportRecord(8); }, 1, 1, 6},
        {"read-back differs elsewhere", [](auto& o) { o.driftByte = 50; }, 1, 1, 6},
        {"restore acknowledged, not applied", [](auto& o) { o.unappliedPuts = {2}; }, 1, 0, 6},
        {"no reply to the restore", [](auto& o) { o.silentExchanges = {5}; }, 1, 0, 5},
        {"no reply to the last read-back", [](auto& o) { o.silentExchanges = {6}; }, 1, 0, 6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        XportEmulatorOptions options;
        c.set(options);
        int switched = -1, restored = -1;
        std::vector<Bytes> requests;
        for (const auto& exchange : run(options, &switched, &restored))
            requests.push_back(exchange.request);
        EXPECT_EQ(switched, c.switched);
        EXPECT_EQ(restored, c.restored);
        auto expected = sixRequests(options.record);
        expected.resize(c.requests);
        EXPECT_EQ(requests, expected);
    }
    EXPECT_TRUE(view.events().empty());
}

// The emulator's own options, as kt58sim takes them.
TEST(XportEmulatorOptions, ParsesEveryOptionAndRefusesBadValues)
{
    XportEmulatorOptions options;
    for (auto [name, value] : std::vector<std::pair<const char*, const char*>>{
             {"--xport-address", "127.0.0.5"}, {"xport-port", "40000"}, {"--xport-byte21", "8"},
             {"--xport-setup-header", "de ad be ef"}, {"--xport-apply-delay", "1500"},
             {"--xport-query-length", "29"}, {"--xport-setup-length", "123"}, {"--xport-put-reply", "000000FC"},
             {"--xport-unapplied-put", "2"}, {"--xport-silent", "5"}, {"--xport-silent", "6"},
             {"--xport-split", "100"}, {"--xport-other-source", "127.0.0.2"}, {"--xport-drift", "50"}})
        EXPECT_EQ(parseXportOption(name, value, options), XportOptionResult::Accepted) << name;
    EXPECT_EQ(options.address, "127.0.0.5");
    EXPECT_EQ(options.otherSource, "127.0.0.2");
    EXPECT_EQ(std::vector<int>({options.port, options.record[21], options.applyDelayMs, options.queryReplyLength,
                                options.setupReplyLength, options.splitSetupReplyAt, options.driftByte}),
              std::vector<int>({40000, 8, 1500, 29, 123, 100, 50}));
    EXPECT_EQ(options.setupHeader, (std::array<uint8_t, 4>{0xDE, 0xAD, 0xBE, 0xEF}));
    EXPECT_EQ(options.putReply, (Bytes{0x00, 0x00, 0x00, 0xFC}));
    EXPECT_EQ(options.unappliedPuts, (std::set<int>{2}));
    EXPECT_EQ(options.silentExchanges, (std::set<int>{5, 6}));

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
}

TEST(XportEmulatorLifetime, TakenPortFailsCleanlyAndStopReleasesEverything)
{
    const int descriptors = openDescriptorCount();
    XportEmulatorOptions options;
    options.port = 30719;
    options.otherSource = "127.0.0.2";
    XportEmulator first(options), second(options);
    std::string error;
    ASSERT_TRUE(first.start(&error)) << error;
    EXPECT_FALSE(second.start(&error));
    EXPECT_NE(error.find("bind"), std::string::npos) << error;
    EXPECT_TRUE(first.sync(5s)) << "the first still serves";
    first.stop();
    first.stop();
    EXPECT_EQ(openDescriptorCount(), descriptors);
}

} // namespace
