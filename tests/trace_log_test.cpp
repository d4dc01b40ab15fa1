// The exchange trace: the hook in the device link and the UDP channel with the
// console's trace writer behind it, over the real TCP link against the device
// emulator and over the UDP channel against the XPort emulator; and how the
// writer lays out a line.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "device_emulator.h"
#include "exchange_trace.h"
#include "link.h"
#include "protocol.h"
#include "protocol_waits.h"
#include "test_support.h"
#include "run_hooks.h"
#include "trace_log.h"
#include "xport_emulator.h"
#include "xport_setup.h"
#include "xport_test_platform.h"

namespace {

using Bytes = std::vector<uint8_t>;

// One traced exchange as read back from its line: "link out", "udp in", ...,
// the peer (UDP), and the bytes.
struct Traced {
    std::string direction;
    std::string peer;
    Bytes bytes;
    bool operator==(const Traced& other) const
    {
        return direction == other.direction && peer == other.peer && bytes == other.bytes;
    }
};

std::ostream& operator<<(std::ostream& out, const Traced& t)
{
    out << t.direction << t.peer << ":";
    for (uint8_t b : t.bytes)
        out << ' ' << std::hex << int{b} << std::dec;
    return out;
}

Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

// Runs `work` with a trace log writing to a scratch file; the lines read back,
// each checked for the layout: time, direction, counts, hex, the ASCII beside.
std::vector<Traced> traced(UpdateContext* ctx, const std::function<void(WindowHandle)>& work)
{
    std::FILE* file = std::tmpfile();
    TraceLog log(file);
    RunHooks hooks;
    hooks.trace = TraceLog::hook;
    hooks.traceContext = &log;
    ctx->hooks = &hooks;
    RecordingView view;
    runOnWorker(ctx, view, work);
    ctx->hooks = nullptr;

    std::rewind(file);
    std::vector<Traced> exchanges;
    const std::regex layout(R"(^ *(\d+) ms (link|udp) (out|in)( [0-9.]+:\d+)? (\d+)( of \d+)?:((?: [0-9A-F]{2})*)  \|(.*)\|$)");
    long long previousMs = 0;
    char buffer[8192];
    while (std::fgets(buffer, sizeof buffer, file) != nullptr) {
        std::string line(buffer);
        EXPECT_EQ(line.back(), '\n');
        line.pop_back();
        std::smatch match;
        if (!std::regex_match(line, match, layout)) {
            ADD_FAILURE() << "not a trace line: " << line;
            continue;
        }
        const long long ms = std::stoll(match[1]);
        EXPECT_GE(ms, previousMs) << line;
        previousMs = ms;
        Traced t{match[2].str() + " " + match[3].str(), match[4], {}};
        const std::string hex = match[7];
        for (size_t at = 1; at < hex.size(); at += 3)
            t.bytes.push_back(static_cast<uint8_t>(std::stoi(hex.substr(at, 2), nullptr, 16)));
        EXPECT_EQ(std::stoul(match[5]), t.bytes.size()) << line;
        std::string ascii;
        for (uint8_t b : t.bytes)
            ascii += b >= 0x20 && b < 0x7F ? static_cast<char>(b) : '.';
        EXPECT_EQ(match[8].str(), ascii) << line;
        exchanges.push_back(std::move(t));
    }
    std::fclose(file);
    return exchanges;
}

TEST(TraceLog, HoldsEveryRequestAndReplyOfAnUpdateInOrder)
{
    setProtocolWaitsForTests({300, 300});
    DeviceEmulatorOptions options;
    options.tag = 0x5A;
    DeviceEmulator device(options);
    ASSERT_TRUE(device.startTcp());
    const std::string image = sampleImage("0702", 3, 16);
    std::vector<uint8_t> data(image.begin(), image.end());
    UpdateContext ctx;
    initUpdateContext(&ctx);
    ctx.method = Network;
    std::snprintf(ctx.ipText, sizeof ctx.ipText, "127.0.0.1");
    ctx.tcpPort = device.port();
    ctx.imageData = data.data();
    ctx.imageSize = static_cast<int32_t>(data.size());
    ctx.imageMinor = 0x07;
    ctx.imageMajor = 0x02;
    int written = 0;
    const auto exchanges = traced(&ctx, [&](WindowHandle window) {
        if (openLink(window, &ctx) == 0)
            return;
        identifyDevice(window, &ctx);
        written = writeImage(window, &ctx);
        quitUpdateMode(window, &ctx);
        closeLink(window, &ctx);
    });
    ctx.imageData = nullptr;
    device.stop();
    ASSERT_EQ(written, 1);

    const auto out = [](Bytes bytes) { return Traced{"link out", "", std::move(bytes)}; };
    const auto in = [](Bytes bytes) { return Traced{"link in", "", std::move(bytes)}; };
    std::vector<Traced> expected{out(bytesOf("KORVANE")), in({'M', 0x5A, 0x00, 0x01}), out(bytesOf("S")),
                                 in(bytesOf("FE"))};
    const std::vector<std::string> records = device.records();
    ASSERT_EQ(records.size(), 4u);
    for (size_t r = 0; r < records.size(); ++r) {
        expected.push_back(out(bytesOf(records[r])));
        expected.push_back(in(bytesOf(r + 1 < records.size() ? "EFL" : "EFW")));
    }
    for (const Traced& t : {out({0x07, 0x02}), in({'V', 0x5A, 0x07, 0x02}), out(bytesOf("Q")), in(bytesOf("N"))})
        expected.push_back(t);
    EXPECT_EQ(exchanges, expected);
}

TEST(TraceLog, HoldsEveryXportRequestAndReplyWithItsPeer)
{
    setProtocolWaitsForTests({300, 300});
    XportEmulatorOptions options;
    options.splitSetupReplyAt = 100;
    XportEmulator xport(options);
    ASSERT_TRUE(xport.start());
    UpdateContext ctx;
    initUpdateContext(&ctx);
    ctx.method = Network;
    std::snprintf(ctx.ipText, sizeof ctx.ipText, "127.0.0.1");
    int answered = 0;
    const auto exchanges = traced(&ctx, [&](WindowHandle window) {
        uint8_t reply[kBufferSize] = {};
        answered = queryXport(window, &ctx, reply) + getXportSetup(window, &ctx, reply);
    });
    const auto served = xport.exchanges();
    ASSERT_EQ(answered, 2);
    ASSERT_EQ(served.size(), 2u);

    // The setup reply came in two datagrams and is traced as one receive.
    std::vector<Traced> expected;
    for (const XportExchange& exchange : served) {
        expected.push_back({"udp out", " 127.0.0.1:30718", exchange.request});
        Bytes reply;
        for (const Bytes& datagram : exchange.replies)
            reply.insert(reply.end(), datagram.begin(), datagram.end());
        expected.push_back({"udp in", " 127.0.0.1:30718", reply});
    }
    EXPECT_EQ(exchanges, expected);
}

TEST(TraceLog, LaysOutOneLinePerExchange)
{
    const uint8_t request[] = {'K', 'O', 'R', 'V', 'A', 'N', 'E'};
    const uint8_t reply[] = {'M', 0x01, 0x00, 0x7F};
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(30718);
    const uint8_t loopback[4] = {127, 0, 0, 1};
    std::memcpy(&peer.sin_addr, loopback, 4);
    uint8_t record[40];
    for (int i = 0; i < 40; ++i)
        record[i] = static_cast<uint8_t>('0' + i % 10);
    struct Case {
        TraceRecord record;
        long long ms;
        int columns;
        const char* line;
    };
    const Case cases[] = {
        {{TraceLinkSend, request, 7, 7, nullptr, 0}, 152, 0, "    152 ms link out 7: 4B 4F 52 56 41 4E 45  |KORVANE|"},
        {{TraceLinkReceive, reply, 4, 4, nullptr, 0}, 1234567, 0, "1234567 ms link in 4 of 4: 4D 01 00 7F  |M...|"},
        {{TraceLinkReceive, reply, 0, 2, nullptr, 0}, 5000, 0, "   5000 ms link in 0 of 2: (nothing)"},
        {{TraceLinkSend, request, 1, 1, nullptr, 1}, 3, 0, "      3 ms link out 1 (not sent): 4B  |K|"},
        {{TraceUdpSend, reply, 2, 2, &peer, 0}, 0, 0, "      0 ms udp out 127.0.0.1:30718 2: 4D 01  |M.|"},
        {{TraceUdpReceive, record, 5, 30, &peer, 0}, 9, 0,
         "      9 ms udp in 127.0.0.1:30718 5 of 30: 30 31 32 33 34  |01234|"},
        // Shortened in the middle to fit a terminal, and not when it fits.
        {{TraceLinkSend, record, 40, 40, nullptr, 0}, 1, 80,
         "      1 ms link out 40: 30 31 32 33 34 ...(31)... 36 37 38 39  |01234...6789|"},
        {{TraceLinkSend, record, 5, 5, nullptr, 0}, 1, 50, "      1 ms link out 5: 30 31 32 33 34  |01234|"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TraceLog::line(c.record, c.ms, c.columns), c.line);

    // The longest records fit every usual width, and a file gets them whole.
    uint8_t longest[kBufferSize] = {};
    for (int columns : {80, 100, 132}) {
        for (const TraceRecord& r : {TraceRecord{TraceLinkSend, longest, 522, 522, nullptr, 1},
                                     TraceRecord{TraceUdpReceive, longest, 1024, 1024, &peer, 0}})
            EXPECT_LE(TraceLog::line(r, 9999999, columns).size(), static_cast<size_t>(columns));
    }
    EXPECT_EQ(TraceLog::line({TraceLinkSend, longest, 522, 522, nullptr, 0}, 1, 0).size(), 24u + 4 * 522 + 4);
}

} // namespace
