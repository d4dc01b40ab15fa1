// The device update protocol against the emulated firmware loader, over TCP
// and over a pseudo-terminal: whole writes, what the device ends up holding,
// the progress the window is told, and every way the device can answer wrong.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
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

using namespace std::chrono_literals;

constexpr int kReceiveMs = 300;
constexpr uint8_t kTag = 0x5A;

enum class Transport { Tcp, Pty };

std::string transportName(const ::testing::TestParamInfo<Transport>& info)
{
    return info.param == Transport::Tcp ? "Tcp" : "Pty";
}

// The image's records as the device receives them: each from ":" on, the
// end-of-file record with the CR that follows it.
std::vector<std::string> wireRecords(const std::string& image)
{
    std::vector<std::string> records;
    for (size_t at = image.find(':'); at != std::string::npos; at = image.find(':', at + 1)) {
        const size_t end = image.find('\r', at);
        const bool endOfFile = image.compare(at + 7, 2, "01") == 0;
        records.push_back(image.substr(at, end - at + (endOfFile ? 1 : 0)));
    }
    return records;
}

// Events of the window from the first progress range on.
std::vector<std::string> progressEvents(const RecordingView& view)
{
    std::vector<std::string> progress;
    for (const std::string& event : view.events())
        if (event.rfind("progress", 0) == 0)
            progress.push_back(event);
    return progress;
}

class Protocol : public ::testing::TestWithParam<Transport> {
protected:
    void SetUp() override
    {
        setProtocolWaitsForTests({kReceiveMs, 300});
        descriptorsBefore = openDescriptorCount();
        initUpdateContext(&ctx);
        options.port = 0;
        options.tag = kTag;
        options.minor = 0x03;
        options.major = 0x01;
    }

    void TearDown() override
    {
        if (ctx.linkOpen != 0)
            run([&](WindowHandle window) { closeLink(window, &ctx); });
        if (device)
            device->stop();
        device.reset();
        std::free(ctx.imageData);
        ctx.imageData = nullptr;
        EXPECT_EQ(openDescriptorCount(), descriptorsBefore) << "a socket or descriptor leaked";
    }

    // Starts the device with `options` and opens the link to it.
    void connect()
    {
        device = std::make_unique<DeviceEmulator>(options);
        std::string error;
        if (GetParam() == Transport::Tcp) {
            ASSERT_TRUE(device->startTcp(&error)) << error;
            ctx.method = Network;
            std::snprintf(ctx.ipText, sizeof ctx.ipText, "127.0.0.1");
            ctx.tcpPort = device->port();
        } else {
            ASSERT_TRUE(device->startPty(&error)) << error;
            ctx.method = Serial;
            std::snprintf(ctx.comDevice, sizeof ctx.comDevice, "%s", device->ptyPath().c_str());
        }
        int opened = 0;
        run([&](WindowHandle window) { opened = openLink(window, &ctx); });
        ASSERT_NE(opened, 0);
        ASSERT_EQ(ctx.linkOpen, 1);
    }

    void loadImage(const std::string& text)
    {
        std::free(ctx.imageData);
        ctx.imageData = static_cast<uint8_t*>(std::malloc(text.size() + 1));
        ASSERT_NE(ctx.imageData, nullptr);
        std::memcpy(ctx.imageData, text.data(), text.size());
        ctx.imageSize = static_cast<int32_t>(text.size());
        ctx.imageMinor = static_cast<uint8_t>(std::stoi(text.substr(1, 2), nullptr, 16));
        ctx.imageMajor = static_cast<uint8_t>(std::stoi(text.substr(3, 2), nullptr, 16));
    }

    std::vector<HandledCommand> run(const std::function<void(WindowHandle)>& work)
    {
        return runOnWorker(&ctx, view, work);
    }

    int call(int (*operation)(WindowHandle, UpdateContext*))
    {
        int result = -1;
        run([&](WindowHandle window) { result = operation(window, &ctx); });
        return result;
    }

    std::array<uint8_t, 3> deviceVersion() const
    {
        return {ctx.deviceVersion[kDeviceVersionTag], ctx.deviceVersion[kDeviceVersionMinor],
                ctx.deviceVersion[kDeviceVersionMajor]};
    }

    DeviceEmulatorOptions options;
    std::unique_ptr<DeviceEmulator> device;
    UpdateContext ctx{};
    RecordingView view;
    int descriptorsBefore = -1;
};

TEST_P(Protocol, AWholeUpdateLeavesTheImageInTheDevice)
{
    connect();
    const std::string image = sampleImage("0702", 24, 16);
    loadImage(image);

    ASSERT_EQ(call(identifyDevice), 1);
    EXPECT_EQ(deviceVersion(), (std::array<uint8_t, 3>{kTag, 0x03, 0x01}));

    ASSERT_EQ(call(writeImage), 1);
    EXPECT_EQ(deviceVersion(), (std::array<uint8_t, 3>{kTag, 0x07, 0x02}));
    EXPECT_EQ(call(quitUpdateMode), 1);

    const DeviceMemory memory = device->memory();
    EXPECT_EQ(memory.base, 0u);
    EXPECT_EQ(memory.bytes, imageMemory(image)) << "the device holds other data than the image";
    EXPECT_EQ(device->records(), wireRecords(image));
    const DeviceCounters counters = device->counters();
    EXPECT_EQ(counters.badRecords, 0);
    EXPECT_EQ(counters.strayBytes, 0) << "something beyond the requests went out";
    EXPECT_EQ(counters.completeWrites, 1);
    EXPECT_EQ(device->version(), (std::array<uint8_t, 3>{kTag, 0x07, 0x02}));

    const std::vector<std::string> events = view.events();
    ASSERT_GE(events.size(), 3u);
    EXPECT_EQ(events[0], "status:Data erasing... \r\n");
    EXPECT_EQ(events[1], "progress-range:" + std::to_string(image.size() + 3));
    EXPECT_EQ(events[2], "status:Write processing...\r\n");
    EXPECT_EQ(view.position, image.size() - 3);

    // The device now identifies with the new version.
    ASSERT_EQ(call(identifyDevice), 1);
    EXPECT_EQ(deviceVersion(), (std::array<uint8_t, 3>{kTag, 0x07, 0x02}));
}

TEST_P(Protocol, ProgressOfTheSixtyFiveByteImage)
{
    connect();
    const std::vector<uint8_t> data{0x10, 0x21, 0x32, 0x43, 0x54, 0x65, 0x76, 0x87,
                                    0x98, 0xA9, 0xBA, 0xCB, 0xDC, 0xED, 0xFE, 0x0F};
    const std::string image = imageText("0102", {hexRecord(0x0100, 0, data), endOfFileRecord()});
    ASSERT_EQ(image.size(), 65u);
    loadImage(image);
    ASSERT_EQ(call(writeImage), 1);
    EXPECT_EQ(progressEvents(view), (std::vector<std::string>{"progress-range:68", "progress-step:45",
                                                               "progress-step:13", "progress-step:4"}));
    EXPECT_EQ(view.position, 62u);
    const DeviceMemory memory = device->memory();
    EXPECT_EQ(memory.base, 0x0100u);
    EXPECT_EQ(memory.bytes, data);
}

TEST_P(Protocol, ExtendedAddressesPlaceTheDataHigh)
{
    connect();
    const std::vector<uint8_t> low{1, 2, 3, 4};
    const std::vector<uint8_t> high{5, 6};
    const std::vector<uint8_t> segment{7};
    const std::string image = imageText(
        "0001", {hexRecord(0x0010, 0, low), hexRecord(0, 4, {0x00, 0x01}), hexRecord(0x0002, 0, high),
                 hexRecord(0, 2, {0x10, 0x00}), hexRecord(0x0003, 0, segment), endOfFileRecord()});
    loadImage(image);
    ASSERT_EQ(call(writeImage), 1);
    // Linear base 0x10000 for the second record, segment base 0x10000 for the third.
    const DeviceMemory memory = device->memory();
    EXPECT_EQ(memory.base, 0x10u);
    ASSERT_EQ(memory.bytes.size(), 0x10004u - 0x10u);
    EXPECT_EQ(memory.bytes[0], 1);
    EXPECT_EQ(memory.bytes[3], 4);
    EXPECT_EQ(memory.bytes[4], 0xFF);
    EXPECT_EQ(memory.bytes[0x10002 - 0x10], 5);
    EXPECT_EQ(memory.bytes[0x10003 - 0x10], 7) << "the segment record's data overwrote the linear one";
}

TEST_P(Protocol, OneRecordImageIsOneExchangeThenTheVerify)
{
    connect();
    loadImage(imageText("0403", {endOfFileRecord()}));
    ASSERT_EQ(call(writeImage), 1);
    EXPECT_EQ(device->records(), (std::vector<std::string>{":00000001FF\r"}));
    EXPECT_EQ(device->counters().verifies, 1);
    EXPECT_EQ(deviceVersion(), (std::array<uint8_t, 3>{kTag, 0x04, 0x03}));
    EXPECT_EQ(progressEvents(view),
              (std::vector<std::string>{"progress-range:23", "progress-step:13", "progress-step:4"}));
}

TEST_P(Protocol, BytesAfterTheEndOfFileRecord)
{
    // One byte after it: the cursor is exactly at the end, "EFW" is right.
    connect();
    loadImage(sampleImage("0101", 2, 8) + "\x1A");
    EXPECT_EQ(call(writeImage), 1);

    // Two: the end-of-file record must be answered "EFL"; this device says "EFW".
    view.clear();
    loadImage(sampleImage("0101", 2, 8) + "\r\n");
    EXPECT_EQ(call(writeImage), 0);
    EXPECT_EQ(device->counters().verifies, 1) << "no verify after the refused acknowledgement";
}

TEST_P(Protocol, NothingLeftBeforeTheEndStillAwaitsAnAcknowledgement)
{
    // The device answers the end-of-file record "EFL" twice in one piece: the
    // second answer meets the pass that finds no record and sends nothing.
    options.eflAtEnd = true;
    const std::string image = sampleImage("0201", 2, 8) + "\r\n";
    options.doubledReplies.insert(1 + 3);  // "S", two data records, then the end-of-file record
    connect();
    loadImage(image);
    ASSERT_EQ(call(writeImage), 1);
    EXPECT_EQ(device->records(), wireRecords(image));
    EXPECT_EQ(device->counters().strayBytes, 0) << "the empty pass sent something";
    const auto progress = progressEvents(view);
    ASSERT_EQ(progress.size(), 6u);
    EXPECT_EQ(progress[3], "progress-step:14") << "end-of-file record: its length + 2";
    EXPECT_EQ(progress[4], "progress-step:2") << "the empty pass: nothing sent";
}

TEST_P(Protocol, IdentifyRepliesThatAreTooShortOrWrongFail)
{
    for (int length = 1; length <= 3; ++length)
        options.shortReplies[length] = length;
    options.wrongLetter.insert(4);
    connect();
    const uint8_t untouched[3] = {0xAA, 0xBB, 0xCC};
    std::memcpy(ctx.deviceVersion, untouched, 3);
    for (int request = 1; request <= 4; ++request) {
        EXPECT_EQ(call(identifyDevice), 0) << "request " << request;
        EXPECT_EQ(std::memcmp(ctx.deviceVersion, untouched, 3), 0) << "a failed identify changed the version";
    }
    EXPECT_EQ(ctx.rxBuffer[0], 'X');
    EXPECT_EQ(call(identifyDevice), 1);
    EXPECT_EQ(deviceVersion(), (std::array<uint8_t, 3>{kTag, 0x03, 0x01}));
    EXPECT_TRUE(view.events().empty()) << "the protocol reports nothing itself";
}

TEST_P(Protocol, EnterReplyOfOnlyFFails)
{
    options.shortReplies[1] = 1;
    connect();
    loadImage(sampleImage("0101", 2, 8));
    EXPECT_EQ(call(writeImage), 0);
    EXPECT_EQ(ctx.rxLength, 1);
    EXPECT_EQ(view.events(), (std::vector<std::string>{"status:Data erasing... \r\n"}))
        << "no progress and no writing status after a failed erase";
    EXPECT_EQ(device->counters().records, 0);
}

TEST_P(Protocol, VerifyWithOtherVersionBytesFailsKeepingThem)
{
    options.wrongVersion = true;
    connect();
    loadImage(sampleImage("0906", 2, 8));
    EXPECT_EQ(call(writeImage), 0);
    EXPECT_EQ(deviceVersion(), (std::array<uint8_t, 3>{kTag, 0x0A, 0x06})) << "the bytes the device sent";
    EXPECT_EQ(view.position, 2 * 29u + 13u) << "no step after a failed verify";
}

TEST_P(Protocol, WrongAcknowledgementsStopTheWrite)
{
    options.earlyLastRecord = 2;
    connect();
    loadImage(sampleImage("0101", 5, 8));
    EXPECT_EQ(call(writeImage), 0);
    EXPECT_EQ(device->counters().records, 2) << "no record after the early \"EFW\"";
    EXPECT_EQ(device->counters().verifies, 0);
    EXPECT_EQ(call(quitUpdateMode), 1);
}

TEST_P(Protocol, EflForTheEndOfFileRecordFails)
{
    options.eflAtEnd = true;
    connect();
    loadImage(sampleImage("0101", 3, 8));
    EXPECT_EQ(call(writeImage), 0);
    EXPECT_EQ(device->counters().records, 4);
    EXPECT_EQ(device->counters().verifies, 0);
}

TEST_P(Protocol, ARecordTheDeviceRefusesStopsTheWrite)
{
    connect();
    std::string bad = hexRecord(0x0008, 0, {1, 2, 3, 4});
    bad[bad.size() - 1] = bad[bad.size() - 1] == '0' ? '1' : '0';  // a wrong checksum
    loadImage(imageText("0101", {hexRecord(0, 0, {9, 9}), bad, hexRecord(0x10, 0, {8}), endOfFileRecord()}));
    EXPECT_EQ(call(writeImage), 0);
    EXPECT_EQ(device->counters().badRecords, 1);
    EXPECT_EQ(device->counters().records, 2);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(ctx.rxBuffer), 3), "EFE");
}

TEST_P(Protocol, SilenceFromARequestOnFailsEachExchange)
{
    options.silentFrom = 4;  // "S", record 1, record 2, then nothing
    connect();
    loadImage(sampleImage("0101", 5, 8));
    EXPECT_EQ(call(writeImage), 0);
    EXPECT_EQ(ctx.rxLength, 0);
    EXPECT_EQ(device->counters().records, 3);
    EXPECT_EQ(call(quitUpdateMode), 0);
}

TEST_P(Protocol, ASlowEraseWithinTheTimeOutSucceeds)
{
    options.eraseDelayMs = kReceiveMs / 2;
    connect();
    const std::string image = sampleImage("0101", 3, 8);
    loadImage(image);
    EXPECT_EQ(call(writeImage), 1);
    EXPECT_EQ(device->memory().bytes, imageMemory(image));
}

TEST_P(Protocol, AClosedConnectionEndsTheWrite)
{
    options.closeAfterRecords = 2;
    connect();
    loadImage(sampleImage("0101", 5, 8));
    EXPECT_EQ(call(writeImage), 0);
    EXPECT_EQ(ctx.rxLength, 0);
    EXPECT_EQ(device->counters().records, 2);
    // The quit after it fails; over TCP its send may be refused and reported.
    auto commands = run([&](WindowHandle window) { EXPECT_EQ(quitUpdateMode(window, &ctx), 0); });
    for (const HandledCommand& command : commands)
        EXPECT_EQ(command.code, static_cast<uint32_t>(CmdError));
    EXPECT_LE(commands.size(), 1u);
}

TEST_P(Protocol, DoubledReplyLeavesTheLinkOneAnswerAheadAndTheWriteFails)
{
    options.doubledReplies.insert(2);  // the first record's "EFL"
    connect();
    loadImage(sampleImage("0101", 4, 8));
    EXPECT_EQ(call(writeImage), 0) << "the stale answers must not carry the write to success";
    EXPECT_EQ(device->counters().verifies, 0);
}

TEST_P(Protocol, AReplyAfterTheTimeOutMeetsTheNextExchange)
{
    options.lateReplies[3] = kReceiveMs + kReceiveMs / 2;  // the second record's "EFL"
    connect();
    loadImage(sampleImage("0101", 4, 8));
    EXPECT_EQ(call(writeImage), 0);
    EXPECT_EQ(device->counters().records, 2);
    // The late "EFL" arrives during the quit's wait and fails it.
    EXPECT_EQ(call(quitUpdateMode), 0);
    EXPECT_EQ(ctx.rxLength, 1);
    EXPECT_EQ(ctx.rxBuffer[0], 'E');
}

INSTANTIATE_TEST_SUITE_P(Links, Protocol, ::testing::Values(Transport::Tcp, Transport::Pty), transportName);

// Replies in pieces with pauses: the TCP link gathers them. (A serial read
// returns at once with whatever is waiting, so there pieces are not gathered
// once the first has arrived.)
TEST(ProtocolOverTcp, RepliesInPiecesAreGathered)
{
    setProtocolWaitsForTests({kReceiveMs, 300});
    DeviceEmulatorOptions options;
    options.port = 0;
    options.pieceDelayMs = 15;
    DeviceEmulator device(options);
    ASSERT_TRUE(device.startTcp());
    UpdateContext ctx;
    initUpdateContext(&ctx);
    ctx.method = Network;
    std::snprintf(ctx.ipText, sizeof ctx.ipText, "127.0.0.1");
    ctx.tcpPort = device.port();
    const std::string image = sampleImage("0302", 6, 16);
    std::vector<uint8_t> bytes(image.begin(), image.end());
    ctx.imageData = bytes.data();
    ctx.imageSize = static_cast<int32_t>(bytes.size());
    ctx.imageMinor = 0x03;
    ctx.imageMajor = 0x02;
    RecordingView view;
    int identified = 0;
    int written = 0;
    runOnWorker(&ctx, view, [&](WindowHandle window) {
        if (openLink(window, &ctx) == 0)
            return;
        identified = identifyDevice(window, &ctx);
        written = writeImage(window, &ctx);
        quitUpdateMode(window, &ctx);
        closeLink(window, &ctx);
    });
    ctx.imageData = nullptr;
    EXPECT_EQ(identified, 1);
    EXPECT_EQ(written, 1);
    EXPECT_EQ(device.memory().bytes, imageMemory(image));
    EXPECT_EQ(device.counters().quits, 1);
}

} // namespace
