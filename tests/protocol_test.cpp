// The device update protocol against the emulated firmware loader: one
// identify, write and quit per case, a table of emulator faults and images
// against what each step must return, what the device received and holds,
// and the progress the window is told.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "command_channel.h"
#include "device_emulator.h"
#include "link.h"
#include "protocol.h"
#include "protocol_waits.h"
#include "test_support.h"
#include "update_context.h"
#include "xport_test_platform.h"

namespace {

using Options = DeviceEmulatorOptions;
constexpr uint8_t kTag = 0x5A;
enum Link { Tcp, Pty };

// 65 bytes: the version line (minor 01, major 02), one 16-byte record, the end-of-file record.
const std::string kSmall = imageText("0102", {hexRecord(0, 0, {0x10, 0x21, 0x32, 0x43, 0x54, 0x65, 0x76, 0x87,
                                                             0x98, 0xA9, 0xBA, 0xCB, 0xDC, 0xED, 0xFE, 0x0F}),
                                              endOfFileRecord()});
// 155 bytes: version 2.07, three 16-byte records, the end-of-file record.
const std::string kThreeRecords = sampleImage("0702", 3, 16);

struct Case {
    const char* name;
    Link link;
    std::string image;
    void (*fault)(Options&);         // requests count from 1: identify, "S", then the records
    int identified, written, quit;   // what identifyDevice, writeImage and quitUpdateMode return
    int records;                     // records the device received
    uint16_t version;                // major << 8 | minor, as the device last reported it (1.00 before a write)
    const char* progress;            // the progress range and steps
};

const Case kCases[] = {
    {"WholeImageTcp", Tcp, kThreeRecords, nullptr, 1, 1, 1, 4, 0x0207, "158 45 45 45 13 4"},
    {"WholeImagePty", Pty, kThreeRecords, nullptr, 1, 1, 1, 4, 0x0207, "158 45 45 45 13 4"},
    {"SixtyFiveBytes", Tcp, kSmall, nullptr, 1, 1, 1, 2, 0x0201, "68 45 13 4"},
    {"RepliesInPieces", Tcp, kSmall, [](Options& o) { o.pieceDelayMs = 15; }, 1, 1, 1, 2, 0x0201, "68 45 13 4"},
    {"IdentifyReplyOf1", Tcp, kSmall, [](Options& o) { o.shortReplies[1] = 1; }, 0, 1, 1, 2, 0x0201, "68 45 13 4"},
    {"IdentifyReplyOf2", Tcp, kSmall, [](Options& o) { o.shortReplies[1] = 2; }, 0, 1, 1, 2, 0x0201, "68 45 13 4"},
    {"IdentifyReplyOf3", Tcp, kSmall, [](Options& o) { o.shortReplies[1] = 3; }, 0, 1, 1, 2, 0x0201, "68 45 13 4"},
    {"IdentifyWrongLetter", Tcp, kSmall, [](Options& o) { o.wrongLetter = {1}; }, 0, 1, 1, 2, 0x0201, "68 45 13 4"},
    {"EnterReplyOnlyF", Tcp, kSmall, [](Options& o) { o.shortReplies[2] = 1; }, 1, 0, 1, 0, 0x0100, ""},
    {"VerifyOtherVersion", Tcp, kSmall, [](Options& o) { o.wrongVersion = true; }, 1, 0, 1, 2, 0x0202, "68 45 13"},
    {"OneRecordImage", Tcp, imageText("0403", {endOfFileRecord()}), nullptr, 1, 1, 1, 1, 0x0304, "23 13 4"},
    // One byte after the end-of-file record ends the image with it; two leave
    // an empty pass, so the record must be answered "EFL" and the pass "EFW"
    // (without that, the quit meets a device awaiting the verify).
    {"OneByteAfterTheEnd", Tcp, kSmall + "\x1A", nullptr, 1, 1, 1, 2, 0x0201, "69 45 13 4"},
    {"TwoBytesAfterTheEnd", Tcp, kSmall + "\r\n", nullptr, 1, 0, 0, 2, 0x0100, "70 45"},
    {"EmptyPassAfterTheEnd", Tcp, kSmall + "\r\n", [](Options& o) { o.eflAtEnd = true, o.doubledReplies = {4}; },
     1, 1, 1, 2, 0x0201, "70 45 14 2 4"},
    {"EarlyEfw", Tcp, kSmall, [](Options& o) { o.earlyLastRecord = 1; }, 1, 0, 1, 1, 0x0100, "68"},
    // The device then awaits the verify's two bytes and takes "Q" as one of them.
    {"EflAtTheEnd", Tcp, kSmall, [](Options& o) { o.eflAtEnd = true; }, 1, 0, 0, 2, 0x0100, "68 45"},
    // A reply that comes a second time, or too late, meets the next exchange
    // and must not carry it to success.
    {"DoubledReply", Tcp, kSmall, [](Options& o) { o.doubledReplies = {3}; }, 1, 0, 0, 2, 0x0100, "68 45"},
    {"LateReplyTcp", Tcp, kSmall, [](Options& o) { o.lateReplies[3] = 450; }, 1, 0, 0, 1, 0x0100, "68"},
    {"LateReplyPty", Pty, kSmall, [](Options& o) { o.lateReplies[3] = 450; }, 1, 0, 0, 1, 0x0100, "68"},
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

// The image's records as the device receives them: each from ":" on, the
// end-of-file record with the CR that follows it.
std::vector<std::string> wireRecords(const std::string& image)
{
    std::vector<std::string> records;
    for (size_t at = image.find(':'); at != std::string::npos; at = image.find(':', at + 1)) {
        const bool endOfFile = image.compare(at + 7, 2, "01") == 0;
        records.push_back(image.substr(at, image.find('\r', at) - at + (endOfFile ? 1 : 0)));
    }
    return records;
}

// Each case runs as a process of its own, so this one sees what the program sees.
TEST(ProtocolWaits, TheProgramWaitsFiveSecondsForAReplyAndSevenForTheXport)
{
    EXPECT_EQ(protocolWaits().receiveMs, 5000);
    EXPECT_EQ(protocolWaits().settleMs, 7000);
}

class Protocol : public ::testing::TestWithParam<Case> {};

TEST_P(Protocol, IdentifyWriteAndQuit)
{
    const Case& c = GetParam();
    setProtocolWaitsForTests({300, 300});
    const int descriptors = openDescriptorCount();
    Options options;
    options.tag = kTag;
    if (c.fault != nullptr)
        c.fault(options);
    DeviceEmulator device(options);
    UpdateContext ctx;
    initUpdateContext(&ctx);
    if (c.link == Tcp) {
        ASSERT_TRUE(device.startTcp());
        ctx.method = Network;
        std::snprintf(ctx.ipText, sizeof ctx.ipText, "127.0.0.1");
        ctx.tcpPort = device.port();
    } else {
        ASSERT_TRUE(device.startPty());
        ctx.method = Serial;
        std::snprintf(ctx.comDevice, sizeof ctx.comDevice, "%s", device.ptyPath().c_str());
    }
    std::vector<uint8_t> image(c.image.begin(), c.image.end());
    ctx.imageData = image.data();
    ctx.imageSize = static_cast<int32_t>(image.size());
    ctx.imageMinor = static_cast<uint8_t>(std::stoi(c.image.substr(1, 2), nullptr, 16));
    ctx.imageMajor = static_cast<uint8_t>(std::stoi(c.image.substr(3, 2), nullptr, 16));
    using Version = std::vector<uint8_t>;  // tag, minor, major
    const Version unread{0xAA, 0xBB, 0xCC};
    std::memcpy(ctx.deviceVersion, unread.data(), 3);
    const auto versionOf = [&ctx] { return Version(ctx.deviceVersion, ctx.deviceVersion + 3); };

    RecordingView view;
    int opened = 0, identified = -1, written = -1, quit = -1;
    Version identifiedVersion;
    const auto reports = runOnWorker(&ctx, view, [&](WindowHandle window) {
        if ((opened = openLink(window, &ctx)) == 0)
            return;
        identified = identifyDevice(window, &ctx);
        identifiedVersion = versionOf();
        written = writeImage(window, &ctx);
        quit = quitUpdateMode(window, &ctx);
        closeLink(window, &ctx);
    });
    ctx.imageData = nullptr;
    device.stop();
    ASSERT_NE(opened, 0);
    EXPECT_EQ(identified, c.identified);
    EXPECT_EQ(identifiedVersion, (identified ? Version{kTag, 0x00, 0x01} : unread)) << "a failed identify changed it";
    EXPECT_EQ(written, c.written);
    EXPECT_EQ(quit, c.quit);
    const Version version{kTag, static_cast<uint8_t>(c.version), static_cast<uint8_t>(c.version >> 8)};
    EXPECT_EQ(versionOf(), version);
    for (const HandledCommand& command : reports)
        EXPECT_NE(command.code, static_cast<uint32_t>(CmdError)) << "the protocol reports no error itself";

    const DeviceCounters counters = device.counters();
    EXPECT_EQ(counters.records, c.records);
    EXPECT_EQ(counters.badRecords, 0);
    EXPECT_EQ(counters.strayBytes, 0) << "something beyond the requests went out";
    if (c.written != 0) {
        EXPECT_EQ(device.records(), wireRecords(c.image));
        EXPECT_EQ(device.memory().bytes, imageMemory(c.image)) << "the device holds other data than the image";
        const auto held = device.version();
        EXPECT_EQ(Version(held.begin(), held.end()), version);
    }

    std::string progress;
    bool writing = false;
    for (const std::string& event : view.events()) {
        if (event.rfind("progress-", 0) == 0)
            progress += (progress.empty() ? "" : " ") + event.substr(event.find(':') + 1);
        writing = writing || event == "status:Write processing...\r\n";
    }
    EXPECT_EQ(progress, c.progress);
    EXPECT_EQ(writing, !progress.empty()) << "the writing status goes with the progress range";
    EXPECT_EQ(openDescriptorCount(), descriptors) << "a socket or descriptor leaked";
}

std::string caseName(const ::testing::TestParamInfo<Case>& param) { return param.param.name; }
INSTANTIATE_TEST_SUITE_P(Cases, Protocol, ::testing::ValuesIn(kCases), caseName);

} // namespace
