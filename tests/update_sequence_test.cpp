// Whole update runs, from Start to the final line, on both models: KT-58CU
// against the device emulator over a pseudo-terminal, KT-58NET over TCP with
// the XPort emulator. For a good run and every way a run can fail: what the
// window is told, in order, what the device and the XPort received, and what
// is left afterwards. One context serves every run, as in the program.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <fcntl.h>

#include "cancel.h"
#include "command_channel.h"
#include "command_window_posix.h"
#include "device_emulator.h"
#include "link.h"
#include "protocol.h"
#include "protocol_waits.h"
#include "run_hooks.h"
#include "sockets.h"
#include "test_support.h"
#include "update_sequence.h"
#include "worker_thread.h"
#include "xport_emulator.h"

namespace {

using namespace std::chrono_literals;
using Events = std::vector<std::string>;

const std::string kImage = sampleImage("0201", 40, 16);  // version 1.02
const std::string kRange = "progress-range:" + std::to_string(kImage.size() + 3);

std::string status(const std::string& text) { return "status:" + text; }
std::string error(const std::string& text) { return "error:Error|" + text; }
const std::string kXportChanging = status("XPort setting is changed temporarily.\r\n"),
                  kConnecting = status("Connectinng...\r\n"), kDeviceVersion = "device-version:Ver 1.00",
                  kReading = status("Read processing...\r\n"), kImageVersion = "image-version:Ver 1.02",
                  kConfirm = "confirm:Ver 1.00 -> Ver 1.02\r\nIs the firmware updated?",
                  kErasing = status("Data erasing... \r\n"), kWriting = status("Write processing...\r\n"),
                  kResultOk = status("Firmware upgrade was completed.\r\n"),
                  kResultFailed = status("Failed to firmware upgrade!\r\n"),
                  kQuitting = status("Quit firmware mode.\r\n"), kDisconnecting = status("Disconnecting...\r\n"),
                  kXportRestoring = status("Restore XPort setting.\r\n"), kReset = "progress-reset",
                  kFinalOk = status("Firmware update was complete."),
                  kFinalFailed = status("Firmware update was not able to be completed normally.");
const std::string kErrImageFormat = error("Firmware file error."),
                  kErrXportRestore = error("Failed to restore the XPort setting.\r\n");
std::string connectFailure(int code) { return error("Connect failure. (code=" + std::to_string(code) + ")"); }

// What one run meets: emulator faults, the image, the user's answer, the fields.
struct Conditions {
    DeviceEmulatorOptions device;
    XportEmulatorOptions xport;
    std::optional<std::string> image = kImage;  // none: the file is missing
    bool answer = true;
    bool noDevice = false;  // the serial port does not exist; nothing listens on the TCP port
    const char* ip = "127.0.0.1";
    bool zeroPort = false;
    bool onlyIfNewer = false;
};

struct Case {
    const char* name;
    std::optional<LinkMethod> only;    // the one model it applies to
    std::function<void(Conditions&)> setUp;
    Events events;                     // as the KT-58NET run shows them; KT-58CU has no XPort lines
    int quits, erases;                 // what the device received
};

const Case kCases[] = {
    {"good run", {}, {},
     {"disable", kXportChanging, kConnecting, kDeviceVersion, kReading, kImageVersion, kConfirm, kErasing, kRange,
      kWriting, kResultOk, kQuitting, kDisconnecting, kXportRestoring, kReset, "enable", kFinalOk}, 1, 1},
    // After a good run, to show that each run starts afresh.
    {"declined", {}, [](Conditions& s) { s.answer = false; },
     {"disable", kXportChanging, kConnecting, kDeviceVersion, kReading, kImageVersion, kConfirm, kQuitting,
      kDisconnecting, kXportRestoring, kReset, "enable", kFinalFailed}, 1, 0},
    {"no reply to the identify request: no quit", {}, [](Conditions& s) { s.device.silentFrom = 1; },
     {"disable", kXportChanging, kConnecting, error("Can not enters firmware updated mode."), kDisconnecting,
      kXportRestoring, kReset, "enable", kFinalFailed}, 0, 0},
    {"missing image", {}, [](Conditions& s) { s.image.reset(); },
     {"disable", kXportChanging, kConnecting, kDeviceVersion, kReading, error("Read error loading firmware file."),
      kResultFailed, kQuitting, kDisconnecting, kXportRestoring, kReset, "enable", kFinalFailed}, 1, 0},
    {"empty image", {}, [](Conditions& s) { s.image = ""; },
     {"disable", kXportChanging, kConnecting, kDeviceVersion, kReading, kErrImageFormat, kQuitting, kDisconnecting,
      kXportRestoring, kReset, "enable", kFinalFailed}, 1, 0},
    {"image without a version", {}, [](Conditions& s) { s.image = endOfFileRecord() + "\r\n"; },
     {"disable", kXportChanging, kConnecting, kDeviceVersion, kReading, kErrImageFormat, kQuitting, kDisconnecting,
      kXportRestoring, kReset, "enable", kFinalFailed}, 1, 0},
    {"image with LF line ends", {},
     [](Conditions& s) {
         s.image->erase(std::remove(s.image->begin(), s.image->end(), '\r'), s.image->end());
     },
     {"disable", kXportChanging, kConnecting, kDeviceVersion, kReading, kErrImageFormat, kQuitting, kDisconnecting,
      kXportRestoring, kReset, "enable", kFinalFailed}, 1, 0},
    {"image with two records at one address", {}, 
     [](Conditions& s) {
         const std::string twoRecords = sampleImage("0201", 2, 16);  // its end record cut off below
         s.image = twoRecords.substr(0, twoRecords.size() - endOfFileRecord().size() - 2) + s.image->substr(7);
     },
     {"disable", kXportChanging, kConnecting, kDeviceVersion, kReading, kErrImageFormat, kQuitting, kDisconnecting,
      kXportRestoring, kReset, "enable", kFinalFailed}, 1, 0},
    {"device reports another version", {}, [](Conditions& s) { s.device.wrongVersion = true; },
     {"disable", kXportChanging, kConnecting, kDeviceVersion, kReading, kImageVersion, kConfirm, kErasing, kRange,
      kWriting, error("Failed in writing the firmware.\r\n"), kResultFailed, kQuitting, kDisconnecting,
      kXportRestoring, kReset, "enable", kFinalFailed}, 1, 1},
    {"serial port cannot be opened", Serial, [](Conditions& s) { s.noDevice = true; },
     {"disable", kConnecting, connectFailure(ENOENT), kQuitting, kReset, "enable", kFinalFailed}, 0, 0},
    // The failed connection leaves no socket, so the quit adds no send error.
    {"connection refused", Network, [](Conditions& s) { s.noDevice = true; },
     {"disable", kXportChanging, kConnecting, connectFailure(ECONNREFUSED), connectFailure(ECONNREFUSED), kQuitting,
      kXportRestoring, kReset, "enable", kFinalFailed}, 0, 0},
    {"XPort switch fails: no link, no restore", Network, [](Conditions& s) { s.xport.queryReplyLength = 29; },
     {"disable", kXportChanging, error("Failed to change XPort setting.\r\n"), kReset, "enable", kFinalFailed}, 0, 0},
    {"failed restore keeps the success", Network, [](Conditions& s) { s.xport.unappliedPuts = {2}; },
     {"disable", kXportChanging, kConnecting, kDeviceVersion, kReading, kImageVersion, kConfirm, kErasing, kRange,
      kWriting, kResultOk, kQuitting, kDisconnecting, kXportRestoring, kErrXportRestore, kReset, "enable", kFinalOk},
     1, 1},
    {"only if newer: a device at the image's version is left alone without a question", {},
     [](Conditions& s) {
         s.onlyIfNewer = true;
         s.device.minor = 0x02;
     },
     {"disable", kXportChanging, kConnecting, "device-version:Ver 1.02", kReading, kImageVersion, kQuitting,
      kDisconnecting, kXportRestoring, kReset, "enable", kFinalFailed}, 1, 0},
    {"only if newer: an older device is updated", {}, [](Conditions& s) { s.onlyIfNewer = true; },
     {"disable", kXportChanging, kConnecting, kDeviceVersion, kReading, kImageVersion, kConfirm, kErasing, kRange,
      kWriting, kResultOk, kQuitting, kDisconnecting, kXportRestoring, kReset, "enable", kFinalOk}, 1, 1},
    {"no address: nothing starts", Network, [](Conditions& s) { s.ip = ""; },
     {error("In the specified connection method, inputting in the IPaddress item is necessary.\n"
            "Please input a IP address into the item.")}, 0, 0},
    {"no port: nothing starts", Network, [](Conditions& s) { s.zeroPort = true; },
     {error("In the specified connection method, inputting in the Port item is necessary.\n"
            "Please input a port number into the item.")}, 0, 0},
};

bool has(const Events& events, const std::string& event)
{
    return std::find(events.begin(), events.end(), event) != events.end();
}

// Presses Start and plays the window until the final line; what the window
// was told, progress steps left out.
Events run(UpdateContext* ctx, RecordingView& view, int* started)
{
    CommandWindow window;
    window.attachView(&view);
    *started = startUpdate(&window, ctx);
    if (*started == kStartRefused) {  // the front end shows why
        showError(view, *ctx, 0);
        *started = 0;
    }
    while (*started) {
        const auto command = window.nextCommand(30s);
        if (!command) {
            ADD_FAILURE() << "the run stalled";
            break;
        }
        handleUpdateCommand(&window, view, ctx, command->code, command->argument);
        if (command->code == CmdFinished)
            break;
    }
    releaseWorkerThread(ctx);
    Events events = view.events();
    events.erase(std::remove_if(events.begin(), events.end(),
                                [](const std::string& e) { return e.rfind("progress-step:", 0) == 0; }),
                 events.end());
    return events;
}

class UpdateRun : public ::testing::TestWithParam<LinkMethod> {
protected:
    void SetUp() override { setProtocolWaitsForTests({300, 20}); }
    void TearDown() override { setProtocolWaitsForTests({}); }
};

TEST_P(UpdateRun, EveryOutcomeEndToEnd)
{
    const bool network = GetParam() == Network;
    ScratchDir scratch;
    UpdateContext ctx;
    initUpdateContext(&ctx);
    for (const Case& c : kCases) {
        if (c.only && *c.only != GetParam())
            continue;
        SCOPED_TRACE(c.name);
        Conditions given;
        if (c.setUp)
            c.setUp(given);
        DeviceEmulator device(given.device);
        std::optional<XportEmulator> xport;
        const std::string image = given.image ? scratch.write("image.hex", *given.image).string()
                                              : (scratch.path() / "missing.hex").string();
        std::snprintf(ctx.imageChoice, sizeof ctx.imageChoice, "%s", image.c_str());
        ctx.method = GetParam();
        ctx.onlyIfNewer = given.onlyIfNewer ? 1 : 0;
        if (network) {
            ASSERT_TRUE(device.startTcp());
            xport.emplace(given.xport);
            ASSERT_TRUE(xport->start());
            std::snprintf(ctx.ipText, sizeof ctx.ipText, "%s", given.ip);
            ctx.tcpPort = given.zeroPort ? 0 : device.port();
        } else {
            ASSERT_TRUE(device.startPty());
            const std::string port = given.noDevice ? (scratch.path() / "no-such-port").string() : device.ptyPath();
            std::snprintf(ctx.comDevice, sizeof ctx.comDevice, "%s", port.c_str());
            ctx.ipText[0] = '\0';  // the network fields play no part
            ctx.tcpPort = 0;
        }
        if (given.noDevice)
            device.stop();
        RecordingView view;
        view.answerYes = given.answer;
        int started = -1;
        const Events events = run(&ctx, view, &started);

        Events expected = c.events;
        if (!network)
            expected.erase(std::remove_if(expected.begin(), expected.end(),
                                          [](const std::string& e) { return e == kXportChanging || e == kXportRestoring; }),
                           expected.end());
        EXPECT_EQ(events, expected);
        EXPECT_EQ(started, has(expected, "disable") ? 1 : 0);
        const DeviceCounters counters = device.counters();
        EXPECT_EQ(counters.quits, c.quits);
        EXPECT_EQ(counters.erases, c.erases);
        if (started) {  // a refused Start leaves the last run's result
            EXPECT_EQ(ctx.succeeded, has(expected, kFinalOk) ? 1 : 0);
            EXPECT_EQ(ctx.leftAlone, given.onlyIfNewer && !has(expected, kConfirm) ? 1 : 0);
        }
        if (has(expected, kFinalOk)) {
            EXPECT_EQ(device.memory().bytes, imageMemory(kImage));
        }
        EXPECT_EQ(ctx.imageData, nullptr);
        EXPECT_EQ(ctx.linkOpen, 0);
        EXPECT_EQ(std::make_tuple(ctx.comHandle, ctx.tcpSocket, ctx.udpSocket),
                  std::make_tuple(kNoPort, kNoSocket, kNoSocket));
        EXPECT_EQ(view.position, 0u);
        EXPECT_EQ(workerRunning(&ctx), 0);
        if (xport) {
            ASSERT_TRUE(xport->sync(2s));
            EXPECT_EQ(xport->exchanges().size(), !started ? 0u : has(expected, kXportRestoring) ? 6u : 1u);
            EXPECT_EQ(xport->record()[21], has(expected, kErrXportRestore) ? 8 : 2) << "the XPort's own setting";
        }
        device.stop();
    }
}

INSTANTIATE_TEST_SUITE_P(Models, UpdateRun, ::testing::Values(Serial, Network),
                         [](const auto& model) { return model.param == Serial ? "KT58CU" : "KT58NET"; });

TEST(UpdateStart, StaleImagePointerIsNeitherFreedNorUsed)
{
    // A run that ends before any image is loaded, with a pointer left in the
    // record that was never allocated: freeing it would abort the program.
    static uint8_t notAllocated[16];
    ScratchDir scratch;
    UpdateContext ctx;
    initUpdateContext(&ctx);
    std::snprintf(ctx.comDevice, sizeof ctx.comDevice, "%s", (scratch.path() / "no-such-port").c_str());
    ctx.imageData = notAllocated;
    RecordingView view;
    int started = 0;
    run(&ctx, view, &started);
    EXPECT_EQ(started, 1);
    EXPECT_EQ(ctx.imageData, nullptr);
}

TEST(UpdateShutdown, ReleasesAnOpenLinkAndALoadedImage)
{
    for (const LinkMethod method : {Serial, Network}) {
        SCOPED_TRACE(method == Serial ? "KT-58CU" : "KT-58NET");
        DeviceEmulator device;
        ASSERT_TRUE(method == Serial ? device.startPty() : device.startTcp());
        UpdateContext ctx;
        initUpdateContext(&ctx);
        ctx.method = method;
        std::snprintf(ctx.comDevice, sizeof ctx.comDevice, "%s", device.ptyPath().c_str());
        std::snprintf(ctx.ipText, sizeof ctx.ipText, "127.0.0.1");
        ctx.tcpPort = device.port();
        CommandWindow window;
        RecordingView view;
        window.attachView(&view);
        ASSERT_EQ(startSocketLibrary(&ctx.wsaData), 1);
        ASSERT_EQ(openLink(&window, &ctx), 1);
        ASSERT_EQ(identifyDevice(&window, &ctx), 1);  // the device has taken the connection
        const int descriptor = method == Serial ? ctx.comHandle : ctx.tcpSocket;
        ctx.imageData = static_cast<uint8_t*>(std::malloc(64));
        ctx.imageSize = 64;

        EXPECT_EQ(shutdownApp(&window, &ctx), 1);
        EXPECT_EQ(ctx.linkOpen, 0);
        EXPECT_EQ(std::make_tuple(ctx.comHandle, ctx.tcpSocket), std::make_tuple(kNoPort, kNoSocket));
        EXPECT_EQ(fcntl(descriptor, F_GETFD), -1) << "the link's descriptor is closed";
        EXPECT_EQ(ctx.imageData, nullptr);
        std::free(ctx.imageData);  // a block shutdownApp kept would not leak from here
        device.stop();
    }
}

namespace {

// A serial run of the sample image against `device`'s pseudo-terminal.
void serialRunOf(UpdateContext* ctx, const ScratchDir& scratch, const DeviceEmulator& device)
{
    initUpdateContext(ctx);
    std::snprintf(ctx->imageChoice, sizeof ctx->imageChoice, "%s", scratch.write("i.hex", kImage).c_str());
    std::snprintf(ctx->comDevice, sizeof ctx->comDevice, "%s", device.ptyPath().c_str());
}

} // namespace

TEST(UpdateStart, OneRunAtATimeAndACloseAfterItsFinalLineEndsTheProgram)
{
    DeviceEmulatorOptions options;
    options.eraseDelayMs = 100;
    DeviceEmulator device(options);
    ASSERT_TRUE(device.startPty());
    ScratchDir scratch;
    UpdateContext ctx;
    serialRunOf(&ctx, scratch, device);
    CommandWindow window;
    RecordingView view;
    window.attachView(&view);
    ASSERT_EQ(startUpdate(&window, &ctx), 1);
    EXPECT_EQ(startUpdate(&window, &ctx), 0) << "a second worker must not start";
    EXPECT_EQ(shutdownApp(&window, &ctx), 0) << "nothing is torn down under a running worker";
    while (auto command = window.nextCommand(30s)) {
        handleUpdateCommand(&window, view, &ctx, command->code, command->argument);
        if (command->code == CmdFinished)
            break;
    }
    // A close right after the final line ends the program, worker or not.
    EXPECT_EQ(shutdownApp(&window, &ctx), 1);
    EXPECT_EQ(workerRunning(&ctx), 0);
    EXPECT_EQ(ctx.succeeded, 1);
    EXPECT_EQ(device.counters().identifies, 1);
}

TEST(UpdateStart, LeavesACancelRequestAsItIs)
{
    // The request is the process's, perhaps made for another run: starting
    // a run must not clear it, and this run then touches nothing.
    DeviceEmulator device;
    ASSERT_TRUE(device.startPty());
    ScratchDir scratch;
    UpdateContext ctx;
    serialRunOf(&ctx, scratch, device);
    RecordingView view;
    requestCancel();
    int started = 0;
    run(&ctx, view, &started);
    EXPECT_EQ(started, 1);
    EXPECT_EQ(cancelRequested(), 1);
    clearCancel();
    EXPECT_EQ(device.counters().identifies, 0);
    EXPECT_EQ(view.events().back(), kFinalFailed);
}

TEST(UpdateStart, AQuestionReleasedWithoutAnAnswerErasesNothing)
{
    DeviceEmulator device;
    ASSERT_TRUE(device.startPty());
    ScratchDir scratch;
    UpdateContext ctx;
    serialRunOf(&ctx, scratch, device);
    CommandWindow window;
    RecordingView view;
    window.attachView(&view);
    ASSERT_EQ(startUpdate(&window, &ctx), 1);
    while (auto command = window.nextCommand(30s)) {
        if (command->code == CmdConfirm)
            signalCommandDone(&window, &ctx);  // a stray release: nobody wrote an answer
        else
            handleUpdateCommand(&window, view, &ctx, command->code, command->argument);
        if (command->code == CmdFinished)
            break;
    }
    releaseWorkerThread(&ctx);
    EXPECT_EQ(device.counters().erases, 0);
    EXPECT_EQ(device.counters().quits, 1);
    EXPECT_EQ(ctx.succeeded, 0);
}

} // namespace

namespace {

// One run of several in the process: its own record, window, view and hooks.
struct RunSide {
    UpdateContext ctx;
    CommandWindow window;
    RecordingView view;
    RunHooks hooks;
    int settles = 0;  // counted by this run's worker alone

    RunSide(const std::string& image, LinkMethod method)
    {
        initUpdateContext(&ctx);
        ctx.method = method;
        std::snprintf(ctx.imageChoice, sizeof ctx.imageChoice, "%s", image.c_str());
        hooks.settle = [](void* count, int) { ++*static_cast<int*>(count); };
        hooks.settleContext = &settles;
        ctx.hooks = &hooks;
        window.attachView(&view);
    }
    // Plays the window until `code` arrives; handles it too unless it is held back.
    std::optional<PostedCommand> playUntil(uint32_t code, bool hold = false)
    {
        while (auto command = window.nextCommand(30s)) {
            if (command->code == code && hold)
                return command;
            handleUpdateCommand(&window, view, &ctx, command->code, command->argument);
            if (command->code == code)
                return command;
        }
        return std::nullopt;
    }
};

} // namespace

// Three runs at once in one process, each with its own record and window:
// two KT-58NET runs against XPorts on two loopback addresses, the first held
// at its question while the second switches and restores its XPort, and a
// KT-58CU run beside them. Each device ends with the image, each XPort with
// its own setting.
TEST(UpdateRuns, SeveralAtOnceEachWithItsOwnRecord)
{
    setProtocolWaitsForTests({300, 20});
    ScratchDir scratch;
    const std::string image = scratch.write("i.hex", kImage).string();
    const std::pair<const char*, uint8_t> xports[2] = {{"127.0.0.1", 2}, {"127.0.0.2", 5}};
    struct NetworkUnit {
        std::optional<DeviceEmulator> device;
        std::optional<XportEmulator> xport;
    } nets[2];
    std::vector<std::unique_ptr<RunSide>> sides;
    for (int i = 0; i < 2; ++i) {
        DeviceEmulatorOptions device;
        device.address = xports[i].first;
        nets[i].device.emplace(device);
        ASSERT_TRUE(nets[i].device->startTcp());
        XportEmulatorOptions options;
        options.address = xports[i].first;
        options.record = defaultXportRecord(xports[i].second);
        nets[i].xport.emplace(options);
        ASSERT_TRUE(nets[i].xport->start());
        sides.push_back(std::make_unique<RunSide>(image, Network));
        std::snprintf(sides[i]->ctx.ipText, sizeof sides[i]->ctx.ipText, "%s", xports[i].first);
        sides[i]->ctx.tcpPort = nets[i].device->port();
    }
    DeviceEmulator serialDevice;
    ASSERT_TRUE(serialDevice.startPty());
    sides.push_back(std::make_unique<RunSide>(image, Serial));
    std::snprintf(sides[2]->ctx.comDevice, sizeof sides[2]->ctx.comDevice, "%s", serialDevice.ptyPath().c_str());

    RunSide& held = *sides[0];
    ASSERT_EQ(startUpdate(&held.window, &held.ctx), 1);
    const auto question = held.playUntil(CmdConfirm, true);
    ASSERT_TRUE(question.has_value());
    std::vector<std::thread> windows;
    for (int i = 1; i < 3; ++i) {
        ASSERT_EQ(startUpdate(&sides[i]->window, &sides[i]->ctx), 1) << "run " << i;
        windows.emplace_back([&side = *sides[i]] { side.playUntil(CmdFinished); });
    }
    for (std::thread& window : windows)
        window.join();
    handleUpdateCommand(&held.window, held.view, &held.ctx, question->code, question->argument);
    ASSERT_TRUE(held.playUntil(CmdFinished).has_value());

    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE("run " + std::to_string(i));
        RunSide& side = *sides[i];
        releaseWorkerThread(&side.ctx);
        EXPECT_EQ(side.ctx.succeeded, 1);
        EXPECT_EQ(side.view.events().back(), kFinalOk);
        EXPECT_EQ(side.settles, i < 2 ? 2 : 0) << "each run's hooks see its own settling waits";
        EXPECT_EQ((i < 2 ? *nets[i].device : serialDevice).memory().bytes, imageMemory(kImage));
        if (i < 2) {
            ASSERT_TRUE(nets[i].xport->sync(2s));
            EXPECT_EQ(nets[i].xport->record()[21], xports[i].second) << "each XPort gets its own setting back";
            EXPECT_EQ(nets[i].xport->exchanges().size(), 6u);
        }
    }
    setProtocolWaitsForTests({});
}
