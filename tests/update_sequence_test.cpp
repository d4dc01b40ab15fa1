// Whole update runs, from Start to the final line, against the device
// emulator (over a pseudo-terminal for KT-58CU, over TCP for KT-58NET) and the
// XPort emulator: what the window is told, in order, and what the device and
// the XPort received, for a good run and for every way a run can fail.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "command_channel.h"
#include "command_window_posix.h"
#include "device_emulator.h"
#include "protocol_waits.h"
#include "test_support.h"
#include "texts.h"
#include "update_sequence.h"
#include "worker_thread.h"
#include "xport_emulator.h"

namespace {

using namespace std::chrono_literals;
using Events = std::vector<std::string>;

const std::string kImage = sampleImage("0201", 40, 16);  // version 1.02

std::string status(const char* text) { return std::string("status:") + text; }
const std::string kConnecting = status("Connectinng...\r\n");
const std::string kDisconnecting = status("Disconnecting...\r\n");
const std::string kReading = status("Read processing...\r\n");
const std::string kWriting = status("Write processing...\r\n");
const std::string kErasing = status("Data erasing... \r\n");
const std::string kXportChanging = status("XPort setting is changed temporarily.\r\n");
const std::string kXportRestoring = status("Restore XPort setting.\r\n");
const std::string kQuitting = status("Quit firmware mode.\r\n");
const std::string kResultOk = status("Firmware upgrade was completed.\r\n");
const std::string kResultFailed = status("Failed to firmware upgrade!\r\n");
const std::string kFinalOk = status("Firmware update was complete.");
const std::string kFinalFailed = status("Firmware update was not able to be completed normally.");
const std::string kDeviceVersion = "device-version:Ver 1.00";
const std::string kImageVersion = "image-version:Ver 1.02";
const std::string kConfirm = "confirm:Ver 1.00 -> Ver 1.02\r\nIs the firmware updated?";

std::string error(const std::string& message) { return "error:Error|" + message; }
const std::string kErrXportChange = error("Failed to change XPort setting.\r\n");
const std::string kErrXportRestore = error("Failed to restore the XPort setting.\r\n");
const std::string kErrWrite = error("Failed in writing the firmware.\r\n");
const std::string kErrUpdateMode = error("Can not enters firmware updated mode.");
const std::string kErrImageRead = error("Read error loading firmware file.");
const std::string kErrImageFormat = error("Firmware file error.");

// The steps of a run from the erase to the result line, progress left out.
const Events kWriteSteps = {kErasing, kWriting, kResultOk};

class UpdateRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        setProtocolWaitsForTests({300, 20});
        initUpdateContext(&ctx);
        imageFile = scratch.write("kt58netcu.hex", kImage);
        choose(imageFile.string());
    }

    void TearDown() override
    {
        device->stop();
        if (xport)
            xport->stop();
        std::free(ctx.imageData);
        setProtocolWaitsForTests({});
    }

    void choose(const std::string& image)
    {
        std::snprintf(ctx.imageChoice, sizeof ctx.imageChoice, "%s", image.c_str());
    }

    void useSerial()
    {
        ASSERT_TRUE(device->startPty());
        ctx.method = Serial;
        std::snprintf(ctx.comDevice, sizeof ctx.comDevice, "%s", device->ptyPath().c_str());
    }

    void useNetwork(XportEmulatorOptions xportOptions = {})
    {
        ASSERT_TRUE(device->startTcp());
        xportOptions.address = "127.0.0.1";
        xport = std::make_unique<XportEmulator>(std::move(xportOptions));
        std::string why;
        ASSERT_TRUE(xport->start(&why)) << why;
        ctx.method = Network;
        std::snprintf(ctx.ipText, sizeof ctx.ipText, "127.0.0.1");
        ctx.tcpPort = device->port();
    }

    // Presses Start and plays the window until the final line; the events the
    // window was given, with the progress steps summed up in `position`.
    Events run()
    {
        CommandWindow window;
        window.attachView(&view);
        started = startUpdate(&window, &ctx);
        Events events;
        while (started) {
            auto command = window.nextCommand(30s);
            if (!command) {
                ADD_FAILURE() << "the run stalled";
                break;
            }
            handleUpdateCommand(&window, view, &ctx, command->code, command->argument);
            if (command->code == CmdFinished)
                break;
        }
        releaseWorkerThread();
        for (const std::string& event : view.events())
            if (event.rfind("progress-step:", 0) != 0)
                events.push_back(event);
        return events;
    }

    // The events between the confirmation and the result line, with the
    // progress range taken out.
    static Events writeSteps(const Events& events)
    {
        Events steps;
        auto from = std::find(events.begin(), events.end(), kConfirm);
        for (auto it = from == events.end() ? from : from + 1; it != events.end(); ++it) {
            if (it->rfind("progress-range:", 0) == 0)
                continue;
            steps.push_back(*it);
            if (*it == kResultOk || *it == kResultFailed)
                break;
        }
        return steps;
    }

    void expectCleanEnd()
    {
        EXPECT_EQ(ctx.imageData, nullptr);
        EXPECT_EQ(ctx.linkOpen, 0);
        EXPECT_EQ(view.position, 0u) << "the bar is reset at the end of every run";
        EXPECT_EQ(workerRunning(), 0);
        const Events events = view.events();
        ASSERT_GE(events.size(), 3u);
        EXPECT_EQ(events[events.size() - 3], "progress-reset");
        EXPECT_EQ(events[events.size() - 2], "enable");
    }

    ScratchDir scratch;
    std::filesystem::path imageFile;
    UpdateContext ctx;
    RecordingView view;
    std::unique_ptr<DeviceEmulator> device = std::make_unique<DeviceEmulator>();
    std::unique_ptr<XportEmulator> xport;
    int started = 0;
};

TEST_F(UpdateRun, SerialUpdateWritesTheWholeImage)
{
    useSerial();
    const Events events = run();
    EXPECT_EQ(started, 1);
    EXPECT_EQ(events, (Events{"disable", kConnecting, kDeviceVersion, kReading, kImageVersion, kConfirm,
                              kErasing, "progress-range:" + std::to_string(kImage.size() + 3), kWriting,
                              kResultOk, kQuitting, kDisconnecting, "progress-reset", "enable", kFinalOk}));
    EXPECT_EQ(ctx.succeeded, 1);
    DeviceMemory memory = device->memory();
    EXPECT_EQ(memory.bytes, imageMemory(kImage));
    EXPECT_EQ(device->counters().quits, 1);
    EXPECT_EQ(device->counters().completeWrites, 1);
    expectCleanEnd();
}

TEST_F(UpdateRun, NetworkUpdateSwitchesAndRestoresTheXport)
{
    XportEmulatorOptions options;
    options.record = defaultXportRecord(2);
    useNetwork(options);
    const Events events = run();
    EXPECT_EQ(events, (Events{"disable", kXportChanging, kConnecting, kDeviceVersion, kReading, kImageVersion,
                              kConfirm, kErasing, "progress-range:" + std::to_string(kImage.size() + 3),
                              kWriting, kResultOk, kQuitting, kDisconnecting, kXportRestoring, "progress-reset",
                              "enable", kFinalOk}));
    EXPECT_EQ(device->memory().bytes, imageMemory(kImage));
    ASSERT_TRUE(xport->waitForExchanges(6, 2s));
    EXPECT_EQ(xport->exchanges().size(), 6u);
    EXPECT_EQ(xport->record()[21], 2) << "the XPort holds its own setting again";
    expectCleanEnd();
}

TEST_F(UpdateRun, NetworkStartNeedsAnAddressAndAPort)
{
    ctx.method = Network;
    ctx.ipText[0] = '\0';
    EXPECT_EQ(run(), (Events{error("In the specified connection method, inputting in the IPaddress item is "
                                   "necessary.\nPlease input a IP address into the item.")}));
    EXPECT_EQ(started, 0);

    view.clear();
    std::snprintf(ctx.ipText, sizeof ctx.ipText, "127.0.0.1");
    ctx.tcpPort = 0;
    EXPECT_EQ(run(), (Events{error("In the specified connection method, inputting in the Port item is "
                                   "necessary.\nPlease input a port number into the item.")}));
    EXPECT_EQ(started, 0);
}

TEST_F(UpdateRun, SerialRunIgnoresTheNetworkFields)
{
    useSerial();
    ctx.ipText[0] = '\0';
    ctx.tcpPort = 0;
    run();
    EXPECT_EQ(started, 1);
    EXPECT_EQ(ctx.succeeded, 1);
}

TEST_F(UpdateRun, FailedXportSwitchOpensNoLinkAndRestoresNothing)
{
    XportEmulatorOptions options;
    options.queryReplyLength = 29;
    useNetwork(options);
    const Events events = run();
    EXPECT_EQ(events, (Events{"disable", kXportChanging, kErrXportChange, "progress-reset", "enable",
                              kFinalFailed}));
    EXPECT_EQ(device->counters().connections, 0);
    EXPECT_EQ(xport->exchanges().size(), 1u) << "only the query went out";
    expectCleanEnd();
}

TEST_F(UpdateRun, SerialPortThatCannotBeOpenedStillSendsTheQuitAndNothingElse)
{
    ctx.method = Serial;
    std::snprintf(ctx.comDevice, sizeof ctx.comDevice, "%s", (scratch.path() / "no-such-port").c_str());
    const Events events = run();
    EXPECT_EQ(events, (Events{"disable", kConnecting, error("Connect failure. (code=" + std::to_string(ENOENT) + ")"),
                              kQuitting, "progress-reset", "enable", kFinalFailed}));
    expectCleanEnd();
}

TEST_F(UpdateRun, RefusedConnectionIsReportedOnceAndTheXportRestored)
{
    useNetwork();
    ctx.tcpPort = device->port();
    device->stop();  // nothing listens there any more
    const Events events = run();
    const std::string refused = "Connect failure. (code=" + std::to_string(ECONNREFUSED) + ")";
    EXPECT_EQ(events, (Events{"disable", kXportChanging, kConnecting, error(refused), error(refused), kQuitting,
                              kXportRestoring, "progress-reset", "enable", kFinalFailed}))
        << "no send error: the failed connection left no socket to send on";
    EXPECT_EQ(ctx.tcpSocket, kNoSocket);
    EXPECT_EQ(xport->record()[21], defaultXportRecord(2)[21]);
    expectCleanEnd();
}

TEST_F(UpdateRun, SilentDeviceGetsNoQuitRequest)
{
    DeviceEmulatorOptions options;
    options.silentFrom = 1;
    device = std::make_unique<DeviceEmulator>(options);
    useNetwork();
    const Events events = run();
    EXPECT_EQ(events, (Events{"disable", kXportChanging, kConnecting, kErrUpdateMode, kDisconnecting,
                              kXportRestoring, "progress-reset", "enable", kFinalFailed}));
    EXPECT_EQ(device->counters().quits, 0);
    EXPECT_EQ(device->counters().requests, 1);
    expectCleanEnd();
}

TEST_F(UpdateRun, MissingImageShowsTheFailedResultAndReleasesTheDevice)
{
    useSerial();
    choose((scratch.path() / "missing.hex").string());
    const Events events = run();
    EXPECT_EQ(events, (Events{"disable", kConnecting, kDeviceVersion, kReading, kErrImageRead, kResultFailed,
                              kQuitting, kDisconnecting, "progress-reset", "enable", kFinalFailed}));
    EXPECT_EQ(device->counters().quits, 1);
    EXPECT_EQ(device->counters().erases, 0);
    expectCleanEnd();
}

TEST_F(UpdateRun, ImagesThatWouldBeWrittenWronglyAreRefusedBeforeTheErase)
{
    std::string lfOnly = kImage;
    for (size_t at; (at = lfOnly.find("\r\n")) != std::string::npos;)
        lfOnly.erase(at, 1);
    for (const std::string& image : {std::string(), std::string(":00000001FF\r\n"), lfOnly}) {
        view.clear();
        device = std::make_unique<DeviceEmulator>();
        useSerial();
        choose(scratch.write("bad.hex", image).string());
        const Events events = run();
        EXPECT_EQ(events, (Events{"disable", kConnecting, kDeviceVersion, kReading, kErrImageFormat, kQuitting,
                                  kDisconnecting, "progress-reset", "enable", kFinalFailed}))
            << image.substr(0, 20);
        EXPECT_EQ(device->counters().erases, 0);
        EXPECT_EQ(device->counters().quits, 1);
        expectCleanEnd();
    }
}

TEST_F(UpdateRun, DecliningErasesNothingButReleasesEverything)
{
    useNetwork();
    view.answerYes = false;
    const Events events = run();
    EXPECT_EQ(events, (Events{"disable", kXportChanging, kConnecting, kDeviceVersion, kReading, kImageVersion,
                              kConfirm, kQuitting, kDisconnecting, kXportRestoring, "progress-reset", "enable",
                              kFinalFailed}));
    EXPECT_EQ(device->counters().erases, 0);
    EXPECT_EQ(device->counters().quits, 1);
    EXPECT_EQ(xport->exchanges().size(), 6u);
    expectCleanEnd();
}

TEST_F(UpdateRun, FailedWriteShowsTheWriteErrorAndTheFailedResult)
{
    DeviceEmulatorOptions options;
    options.wrongVersion = true;
    device = std::make_unique<DeviceEmulator>(options);
    useSerial();
    const Events events = run();
    EXPECT_EQ(writeSteps(events), (Events{kErasing, kWriting, kErrWrite, kResultFailed}));
    EXPECT_EQ(events.back(), kFinalFailed);
    EXPECT_EQ(ctx.succeeded, 0);
    EXPECT_EQ(device->counters().quits, 1);
    expectCleanEnd();
}

TEST_F(UpdateRun, FailedRestoreKeepsTheSuccessfulResult)
{
    XportEmulatorOptions options;
    options.unappliedPuts = {2};
    useNetwork(options);
    const Events events = run();
    EXPECT_EQ(writeSteps(events), kWriteSteps);
    const Events tail(events.end() - 7, events.end());
    EXPECT_EQ(tail, (Events{kQuitting, kDisconnecting, kXportRestoring, kErrXportRestore, "progress-reset",
                            "enable", kFinalOk}));
    EXPECT_EQ(ctx.succeeded, 1);
    expectCleanEnd();
}

TEST_F(UpdateRun, SecondStartWhileARunIsActiveStartsNothing)
{
    DeviceEmulatorOptions options;
    options.eraseDelayMs = 100;
    device = std::make_unique<DeviceEmulator>(options);
    useSerial();
    CommandWindow window;
    window.attachView(&view);
    ASSERT_EQ(startUpdate(&window, &ctx), 1);
    EXPECT_EQ(startUpdate(&window, &ctx), 0) << "a second worker must not start";
    EXPECT_EQ(shutdownApp(&window, &ctx), 0) << "nothing is torn down under a running worker";
    while (auto command = window.nextCommand(30s)) {
        handleUpdateCommand(&window, view, &ctx, command->code, command->argument);
        if (command->code == CmdFinished)
            break;
    }
    releaseWorkerThread();
    EXPECT_EQ(ctx.succeeded, 1);
    EXPECT_EQ(device->counters().identifies, 1);
}

TEST_F(UpdateRun, ConsecutiveRunsEachStartAfresh)
{
    useSerial();
    for (int i = 0; i < 3; ++i) {
        view.clear();
        run();
        EXPECT_EQ(ctx.succeeded, 1) << "run " << i;
        expectCleanEnd();
    }
    EXPECT_EQ(device->counters().completeWrites, 3);
}

} // namespace
