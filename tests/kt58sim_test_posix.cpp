// The kt58sim program: its exit codes, and a whole update served over TCP
// with its summary line and its memory dump.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "link.h"
#include "protocol.h"
#include "process_run.h"
#include "protocol_waits.h"
#include "test_support.h"
#include "xport_test_platform.h"

namespace {

// A kt58sim run with `arguments`.
Process sim(std::vector<std::string> arguments)
{
    arguments.insert(arguments.begin(), KT58SIM_PATH);
    return Process(arguments);
}

TEST(Kt58sim, ExitCodesAndAWholeUpdateOverTcpWithItsDump)
{
    const ProcessResult help = runProcess({KT58SIM_PATH, "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Usage: kt58sim"), std::string::npos);
    EXPECT_NE(help.out.find("--reply-latency-ms N"), std::string::npos);
    for (const char* bad : {"--port=70000", "--no-such-option", "--baud=0", "--baud=fast", "--program-ms=-1",
                            "--reply-latency-ms=1x"}) {
        const ProcessResult refused = runProcess({KT58SIM_PATH, bad});
        EXPECT_EQ(refused.status, 2) << bad;
        EXPECT_EQ(refused.err.rfind("kt58sim: ", 0), 0u) << refused.all;
    }

    setProtocolWaitsForTests({2000, 300});
    ScratchDir scratch;
    const auto dump = scratch.path() / "memory.bin";
    Process device = sim({"--port", "0", "--version", "1.04", "--tag", "5A", "--dump=" + dump.string()});
    const std::string first = device.line();
    const std::string prefix = "kt58sim: listening on 127.0.0.1:";
    ASSERT_EQ(first.rfind(prefix, 0), 0u) << first;

    UpdateContext ctx;
    initUpdateContext(&ctx);
    ctx.method = Network;
    std::snprintf(ctx.ipText, sizeof ctx.ipText, "127.0.0.1");
    ctx.tcpPort = std::stoi(first.substr(prefix.size()));
    const std::string image = sampleImage("0302", 40, 32);
    std::vector<uint8_t> bytes(image.begin(), image.end());
    ctx.imageData = bytes.data();
    ctx.imageSize = static_cast<int32_t>(bytes.size());
    ctx.imageMinor = 0x03;
    ctx.imageMajor = 0x02;
    RecordingView view;
    std::string identified;
    int written = 0;
    runOnWorker(&ctx, view, [&](WindowHandle window) {
        if (openLink(window, &ctx) == 0)
            return;
        if (identifyDevice(window, &ctx) != 0) {
            identified.assign(reinterpret_cast<const char*>(ctx.deviceVersion), 3);
            written = writeImage(window, &ctx);
        }
        quitUpdateMode(window, &ctx);
        closeLink(window, &ctx);
    });
    ctx.imageData = nullptr;
    EXPECT_EQ(identified, "\x5A\x04\x01") << "tag, minor, major as given";
    EXPECT_EQ(written, 1);

    device.signal(SIGTERM);
    const ProcessResult ended = device.finish();
    const std::string& summary = ended.all;
    EXPECT_EQ(ended.status, 0);
    EXPECT_NE(summary.find("41 records (0 bad)"), std::string::npos) << summary;
    EXPECT_NE(summary.find("1 complete write(s), version 2.03"), std::string::npos) << summary;
    std::ifstream in(dump, std::ios::binary);
    const std::vector<uint8_t> held{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    EXPECT_EQ(held, imageMemory(image)) << "the dump holds other data than the image";
}

// The line's pace and the device's and adapter's holds change when replies
// go out, never what they carry: a whole update still goes through, over
// either transport, and the program says which timing it applies.
TEST(Kt58sim, TimingOptionsKeepEveryReplyIntact)
{
    struct Case {
        std::vector<std::string> arguments;
        std::string timingLines;
    };
    const Case cases[] = {
        {{"--port=0", "--baud", "115200"}, "kt58sim: line paced at 115200 baud, 10 bits a byte\n"},
        {{"--pty", "--baud=9600", "--program-ms=3", "--reply-latency-ms", "2"},
         "kt58sim: line paced at 9600 baud, 10 bits a byte\nkt58sim: each record's reply held 3 ms\n"
         "kt58sim: replies held by a 2 ms latency timer\n"},
        {{"--port=0", "--reply-latency-ms=1", "--split-replies=0", "--baud=57600"},
         "kt58sim: line paced at 57600 baud, 10 bits a byte\nkt58sim: replies held by a 1 ms latency timer\n"},
    };
    setProtocolWaitsForTests({2000, 300});
    const std::string image = sampleImage("0302", 6, 16);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.timingLines);
        Process device = sim(c.arguments);
        const std::string first = device.line();
        std::string timing;
        for (size_t lines = std::count(c.timingLines.begin(), c.timingLines.end(), '\n'); lines > 0; --lines)
            timing += device.line();
        EXPECT_EQ(timing, c.timingLines);

        UpdateContext ctx;
        initUpdateContext(&ctx);
        const std::string tcpPrefix = "kt58sim: listening on 127.0.0.1:";
        const std::string ptyPrefix = "kt58sim: serial port ";
        if (first.rfind(tcpPrefix, 0) == 0) {
            ctx.method = Network;
            std::snprintf(ctx.ipText, sizeof ctx.ipText, "127.0.0.1");
            ctx.tcpPort = std::stoi(first.substr(tcpPrefix.size()));
        } else {
            ASSERT_EQ(first.rfind(ptyPrefix, 0), 0u) << first;
            ctx.method = Serial;
            std::snprintf(ctx.comDevice, sizeof ctx.comDevice, "%s",
                          first.substr(ptyPrefix.size(), first.size() - ptyPrefix.size() - 1).c_str());
        }
        std::vector<uint8_t> bytes(image.begin(), image.end());
        ctx.imageData = bytes.data();
        ctx.imageSize = static_cast<int32_t>(bytes.size());
        ctx.imageMinor = 0x03;
        ctx.imageMajor = 0x02;
        RecordingView view;
        int identified = 0;
        int written = 0;
        int quit = 0;
        runOnWorker(&ctx, view, [&](WindowHandle window) {
            if (openLink(window, &ctx) == 0)
                return;
            identified = identifyDevice(window, &ctx);
            written = identified != 0 ? writeImage(window, &ctx) : 0;
            quit = quitUpdateMode(window, &ctx);
            closeLink(window, &ctx);
        });
        ctx.imageData = nullptr;
        EXPECT_EQ(identified + written + quit, 3) << "identify, write and quit each accepted";

        device.signal(SIGTERM);
        const ProcessResult ended = device.finish();
        EXPECT_EQ(ended.status, 0);
        const std::string& summary = ended.all;
        EXPECT_NE(summary.find("7 records (0 bad), 1 verify, 1 quit, 0 stray bytes; 1 complete write(s)"),
                  std::string::npos)
            << summary;
    }
}

} // namespace
