// kt5cu_bench: figures for the update core, each beside a reference measured
// in the same run. The whole write (the update core with its command channel)
// against the bare request/reply loop over the same emulator; the write on a
// line paced at 115200 baud against the line's own limit, also behind a USB
// serial adapter's latency timer; the peak memory of a whole update by the
// console program against the image's size; a fleet of emulated KT-58NET
// units with the real settling waits, one after another and side by side.
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "command_channel.h"
#include "command_view.h"
#include "command_window_posix.h"
#include "device_emulator.h"
#include "hex_record.h"
#include "image_file.h"
#include "link.h"
#include "process_run.h"
#include "protocol.h"
#include "run_hooks.h"
#include "xport_emulator.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kLineBaud = 115200;
constexpr int kRounds = 3;  // each side-by-side figure is the median of this many runs

// A window that carries out every command and shows nothing.
class SilentView : public CommandView {
public:
    void showStatusText(const std::string&) override {}
    void showDeviceVersion(const std::string&) override {}
    void showImageVersion(const std::string&) override {}
    bool askConfirmation(const std::string&) override { return true; }
    void showErrorBox(const std::string&, const std::string& message) override
    {
        std::fprintf(stderr, "error: %s\n", message.c_str());
    }
    void enableControls(bool) override {}
    void setProgressRange(uint32_t) override {}
    void stepProgress(uint32_t) override {}
    void resetProgress() override {}
};

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// An image file of about `fileBytes` bytes, `perRecord` data bytes a record.
std::string imageOfSize(size_t fileBytes, size_t perRecord)
{
    const size_t lineBytes = 13 + 2 * perRecord;
    return imageOfData(1, 2, std::vector<uint8_t>(fileBytes / lineBytes * perRecord, 0x5A), perRecord);
}

std::string sizeText(size_t bytes)
{
    char text[32];
    if (bytes >= (1u << 20))
        std::snprintf(text, sizeof text, "%.1f MiB", bytes / 1048576.0);
    else
        std::snprintf(text, sizeof text, "%.0f KiB", bytes / 1024.0);
    return text;
}

// What one run of the emulator took and carried.
struct Run {
    double seconds = 0;
    bool ok = false;
    int records = 0;
    long long lineBytes = 0;  // every byte of every request and reply
};

Run finish(Clock::time_point start, bool ok, DeviceEmulator& device)
{
    Run run;
    run.seconds = secondsSince(start);
    device.stop();
    const DeviceCounters c = device.counters();
    run.ok = ok && c.completeWrites == 1;
    run.records = c.records;
    run.lineBytes = c.bytesReceived + c.bytesSent;
    return run;
}

// The emulator on the given transport; the caller checks it started.
bool startDevice(DeviceEmulator& device, bool tcp)
{
    std::string error;
    if (!(tcp ? device.startTcp(&error) : device.startPty(&error))) {
        std::fprintf(stderr, "kt5cu_bench: emulator: %s\n", error.c_str());
        return false;
    }
    return true;
}

// The whole write by the update core: open, enter, every record, verify,
// quit, close, with the command channel handled on this thread.
// `stepsUnwaited`: progress steps go by the run's hook, as in the console.
Run coreWrite(bool tcp, const std::string& image, DeviceEmulatorOptions options, bool stepsUnwaited = false)
{
    DeviceEmulator device(options);
    if (!startDevice(device, tcp))
        return {};
    UpdateContext ctx{};
    initUpdateContext(&ctx);
    ctx.imageMinor = 0x02;
    ctx.imageMajor = 0x01;
    std::vector<uint8_t> bytes(image.begin(), image.end());
    ctx.imageData = bytes.data();
    ctx.imageSize = static_cast<int32_t>(bytes.size());
    if (tcp) {
        ctx.method = Network;
        std::snprintf(ctx.ipText, sizeof ctx.ipText, "127.0.0.1");
        ctx.tcpPort = device.port();
    } else {
        ctx.method = Serial;
        std::snprintf(ctx.comDevice, sizeof ctx.comDevice, "%s", device.ptyPath().c_str());
    }
    CommandWindow window;
    SilentView view;
    RunHooks hooks;
    hooks.progressStep = [](void* silent, uint32_t step) { static_cast<SilentView*>(silent)->stepProgress(step); };
    hooks.progressContext = &view;
    ctx.hooks = stepsUnwaited ? &hooks : nullptr;
    bool ok = false;
    const auto start = Clock::now();
    std::thread worker([&] {
        ok = openLink(&window, &ctx) && writeImage(&window, &ctx);
        quitUpdateMode(&window, &ctx);
        closeLink(&window, &ctx);
        window.close();
    });
    while (auto command = window.nextCommand(std::chrono::seconds(60)))
        handleUpdateCommand(&window, view, &ctx, command->code, command->argument);
    worker.join();
    ctx.imageData = nullptr;
    return finish(start, ok, device);
}

// The same exchanges as the whole write, cut by the same code.
struct Exchange {
    std::string request;
    size_t replyLength;
};

std::vector<Exchange> exchangesOf(const std::string& image)
{
    std::vector<Exchange> exchanges{{"S", 2}};
    const auto* data = reinterpret_cast<const uint8_t*>(image.data());
    uint8_t record[kBufferSize];
    for (size_t cursor = kVersionLineSize; cursor < image.size();) {
        const int length = cutRecord(data + cursor, data + image.size(), record);
        if (length == 0)
            break;
        exchanges.push_back({std::string(reinterpret_cast<const char*>(record), static_cast<size_t>(length)), 3});
        cursor += static_cast<size_t>(length) + 2;
    }
    exchanges.push_back({std::string{'\x02', '\x01'}, 4});
    exchanges.push_back({"Q", 1});
    return exchanges;
}

// The bare loop: one thread, a blocking descriptor, write the request, read
// until the reply is complete, and on to the next.
Run bareLoop(bool tcp, const std::string& image, DeviceEmulatorOptions options)
{
    const std::vector<Exchange> exchanges = exchangesOf(image);
    DeviceEmulator device(options);
    if (!startDevice(device, tcp))
        return {};
    const auto start = Clock::now();
    int fd = -1;
    if (tcp) {
        fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in peer{};
        peer.sin_family = AF_INET;
        peer.sin_port = htons(device.port());
        peer.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (fd >= 0 && connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0) {
            close(fd);
            fd = -1;
        }
    } else {
        fd = open(device.ptyPath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios settings{};
        if (fd >= 0 && tcgetattr(fd, &settings) == 0) {
            cfmakeraw(&settings);
            settings.c_cc[VMIN] = 1;
            settings.c_cc[VTIME] = 0;
            tcsetattr(fd, TCSANOW, &settings);
        }
    }
    bool ok = fd >= 0;
    char reply[16];
    for (size_t i = 0; ok && i < exchanges.size(); ++i) {
        const Exchange& exchange = exchanges[i];
        ok = write(fd, exchange.request.data(), exchange.request.size()) ==
             static_cast<ssize_t>(exchange.request.size());
        for (size_t got = 0; ok && got < exchange.replyLength;) {
            const ssize_t n = read(fd, reply + got, exchange.replyLength - got);
            ok = n > 0;
            got += ok ? static_cast<size_t>(n) : 0;
        }
    }
    if (fd >= 0)
        close(fd);
    return finish(start, ok, device);
}

using Runner = std::function<Run(bool, const std::string&, DeviceEmulatorOptions)>;

// Medians of the whole write and of the bare loop, their runs interleaved so
// that a busy moment on the machine falls on both alike.
std::pair<Run, Run> sideBySide(bool tcp, const std::string& image, const DeviceEmulatorOptions& options)
{
    std::vector<double> core;
    std::vector<double> bare;
    std::pair<Run, Run> result;
    for (int i = 0; i < kRounds; ++i) {
        result.first = coreWrite(tcp, image, options);
        result.second = bareLoop(tcp, image, options);
        core.push_back(result.first.seconds);
        bare.push_back(result.second.seconds);
        if (!result.first.ok || !result.second.ok)
            break;
    }
    result.first.seconds = median(core);
    result.second.seconds = median(bare);
    return result;
}

// The console program's whole update over a pseudo-terminal: its time and the
// peak of its resident memory (VmHWM, read from /proc while it runs: the
// rusage of a child also counts this process).
struct ConsoleRun {
    bool ok = false;
    double seconds = 0;
    long peakKiB = 0;
};

long highWaterKiB(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return 0;
}

ConsoleRun consoleUpdate(const std::filesystem::path& imagePath)
{
    ConsoleRun result;
    DeviceEmulator device;
    if (!startDevice(device, false))
        return result;
    const auto start = Clock::now();
    Process console({KT5CUFIRM_PATH, "--device", device.ptyPath(), "--image", imagePath.string(), "--yes"});
    if (!console.started())
        return result;
    while (console.running()) {
        result.peakKiB = std::max(result.peakKiB, highWaterKiB(console.pid()));
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    const ProcessResult run = console.finish();
    result.seconds = secondsSince(start);
    device.stop();
    result.ok = run.status == 0 && device.counters().completeWrites == 1;
    return result;
}

void row(const std::string& figure, const std::string& measured, const std::string& reference,
         const std::string& result, const std::string& target)
{
    std::printf("| %s | %s | %s | %s | %s |\n", figure.c_str(), measured.c_str(), reference.c_str(), result.c_str(),
                target.c_str());
    std::fflush(stdout);
}

__attribute__((format(printf, 1, 2))) std::string format(const char* pattern, ...)
{
    char text[128];
    va_list arguments;
    va_start(arguments, pattern);
    std::vsnprintf(text, sizeof text, pattern, arguments);
    va_end(arguments);
    return text;
}

std::string failed(const Run& run)
{
    return run.ok ? "" : " (FAILED)";
}

void benchImageCheck()
{
    const std::string image = imageOfData(1, 2, std::vector<uint8_t>(1 << 20, 0x5A), 32);
    UpdateContext ctx{};
    std::vector<uint8_t> bytes(image.begin(), image.end());
    ctx.imageData = bytes.data();
    ctx.imageSize = static_cast<int32_t>(bytes.size());
    const int rounds = 20;
    const auto start = Clock::now();
    int records = 0;
    for (int i = 0; i < rounds; ++i) {
        if (!checkImage(nullptr, &ctx))
            std::fprintf(stderr, "the image was refused\n");
        uint8_t destination[kBufferSize];
        for (int32_t cursor = kVersionLineSize; cursor < ctx.imageSize;) {
            const int length = cutRecord(ctx.imageData + cursor, ctx.imageData + ctx.imageSize, destination);
            if (length == 0)
                break;
            cursor += length + 2;
            ++records;
        }
    }
    const double seconds = secondsSince(start);
    std::printf("image check and cut: %d x %s image, %.0f MiB/s, %.0f records/ms\n\n", rounds,
                sizeText(bytes.size()).c_str(), rounds * ctx.imageSize / seconds / (1 << 20),
                records / seconds / 1000);
    ctx.imageData = nullptr;
}

// One emulated KT-58NET unit: its device on TCP and its XPort, both on `address`.
struct NetUnit {
    explicit NetUnit(const std::string& at) : address(at)
    {
        DeviceEmulatorOptions options;
        options.address = at;
        device = std::make_unique<DeviceEmulator>(options);
        XportEmulatorOptions xportOptions;
        xportOptions.address = at;
        xport = std::make_unique<XportEmulator>(xportOptions);
    }
    std::string address;
    std::unique_ptr<DeviceEmulator> device;
    std::unique_ptr<XportEmulator> xport;
};

struct FleetRun {
    bool ok = false;
    double seconds = 0;
    size_t exchanges = 0;
    bool oneAtATime = true;  // every exchange from local port 10001, none begun before the one before was answered
};

// kt5cufirm updating `count` fresh units at --parallel `parallel`, with the
// protocol's own waits; what the emulators logged.
FleetRun fleetUpdate(const std::filesystem::path& folder, int count, int parallel)
{
    FleetRun result;
    std::vector<std::unique_ptr<NetUnit>> units;
    std::string hosts;
    for (int i = 0; i < count; ++i) {
        units.push_back(std::make_unique<NetUnit>("127.0.0." + std::to_string(2 + i)));
        if (!units.back()->device->startTcp() || !units.back()->xport->start())
            return result;
        hosts += units.back()->address + ":" + std::to_string(units.back()->device->port()) + "\n";
    }
    std::ofstream(folder / "hosts") << hosts;
    const auto start = Clock::now();
    const ProcessResult run =
        runProcess({KT5CUFIRM_PATH, "--hosts", (folder / "hosts").string(), "--image", (folder / "image.hex").string(),
                    "--parallel", std::to_string(parallel), "--yes", "--quiet"},
                   {"KT5CUFIRM_TEST_WAITS"}, {}, std::chrono::milliseconds(900000));
    result.seconds = secondsSince(start);
    result.ok = run.status == 0;
    std::vector<std::pair<Clock::time_point, int>> served;
    for (const auto& unit : units) {
        result.ok = result.ok && unit->device->counters().completeWrites == 1 && unit->xport->record()[21] == 2;
        for (const XportExchange& exchange : unit->xport->exchanges()) {
            served.emplace_back(exchange.received, exchange.clientPort);
            result.oneAtATime = result.oneAtATime && exchange.clientPort == 10001;
        }
    }
    result.exchanges = served.size();
    return result;
}

// kt5cufirm updating `count` KT-58CU units over pseudo-terminals paced at
// the line rate, `parallel` at once; the seconds, or a negative on failure.
double serialFleetSeconds(const std::filesystem::path& image, int count, int parallel)
{
    std::vector<std::unique_ptr<DeviceEmulator>> devices;
    Process::Strings argv{KT5CUFIRM_PATH, "--image", image.string(), "--parallel", std::to_string(parallel), "--yes",
                          "--quiet", "--report", (image.parent_path() / "serial.jsonl").string()};
    for (int i = 0; i < count; ++i) {
        DeviceEmulatorOptions options;
        options.baud = kLineBaud;
        devices.push_back(std::make_unique<DeviceEmulator>(options));
        if (!startDevice(*devices.back(), false))
            return -1;
        argv.insert(argv.end(), {"--device", devices.back()->ptyPath()});
    }
    const auto start = Clock::now();
    const ProcessResult run = runProcess(argv, {"KT5CUFIRM_TEST_WAITS"}, {}, std::chrono::milliseconds(600000));
    const double seconds = secondsSince(start);
    for (const auto& device : devices)
        if (device->counters().completeWrites != 1)
            return -1;
    return run.status == 0 ? seconds : -1;
}

void benchSerialFleet(const std::filesystem::path& image)
{
    const double one = serialFleetSeconds(image, 1, 1);
    const double four = serialFleetSeconds(image, 4, 4);
    row("4 KT-58CU units over pseudo-terminals at 115200 baud, --parallel 4",
        format("%.1f s", four) + (four < 0 ? " (FAILED)" : ""), format("one unit %.1f s", one),
        format("%.2f x one unit", four / one), "");
}

void benchFleet(bool network)
{
    const std::filesystem::path folder = std::filesystem::temp_directory_path() /
                                         ("kt5cu_bench_fleet." + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    const std::string image = imageOfSize(32u << 10, 32);
    std::ofstream(folder / "image.hex", std::ios::binary).write(image.data(), static_cast<std::streamsize>(image.size()));
    if (network) {
        const FleetRun one = fleetUpdate(folder, 1, 1);
        row("one KT-58NET unit alone (the real settling waits), " + sizeText(image.size()) + " image",
            format("%.1f s", one.seconds) + (one.ok ? "" : " (FAILED)"), "", "", "");
        for (const int parallel : {1, 4, 8, 16}) {
            const FleetRun run = fleetUpdate(folder, 16, parallel);
            row("16 units at --parallel " + std::to_string(parallel),
                format("%.1f s", run.seconds) + (run.ok ? "" : " (FAILED)"), format("one unit %.1f s", one.seconds),
                format("%.2f x one unit; %zu XPort exchanges, %s", run.seconds / one.seconds, run.exchanges,
                       run.oneAtATime ? "all from local port 10001" : "NOT all from port 10001"),
                parallel == 16 ? "<= 1.5 x" : "");
        }
    }
    benchSerialFleet(folder / "image.hex");
    std::filesystem::remove_all(folder);
}

} // namespace

int main(int argc, char** argv)
{
    // One part only, when named: loop, line, memory or fleet (never by default).
    const std::string part = argc > 1 ? argv[1] : "";
    const auto wanted = [&part](const char* name) { return part.empty() || part == name; };
    if (argc > 2 || !(part.empty() || part == "loop" || part == "line" || part == "memory" || part == "fleet" ||
                      part == "serial-fleet")) {
        std::fprintf(stderr, "Usage: kt5cu_bench [loop|line|memory|fleet|serial-fleet]\n");
        return 2;
    }
    if (part.empty())
        benchImageCheck();
    row("Figure", "Measured", "Reference", "Result", "Target");
    row("---", "---", "---", "---", "---");

    // The update core against the bare loop, unpaced: what the core adds.
    const std::string large = imageOfSize(1u << 20, 32);
    for (const bool tcp : {true, false}) {
        if (!wanted("loop"))
            break;
        const auto [core, bare] = sideBySide(tcp, large, {});
        row(std::string("whole write, ") + (tcp ? "TCP loopback" : "pseudo-terminal") + ", " +
                sizeText(large.size()) + ", " + std::to_string(core.records) + " records",
            format("%.2f s", core.seconds) + failed(core), format("bare loop %.2f s", bare.seconds) + failed(bare),
            format("%.2f x", core.seconds / bare.seconds), "");
        // The console's channel: progress steps not waited for.
        std::vector<double> unwaited, bareAgain;
        for (int round = 0; round < kRounds; ++round) {
            unwaited.push_back(coreWrite(tcp, large, {}, true).seconds);
            bareAgain.push_back(bareLoop(tcp, large, {}).seconds);
        }
        row(std::string("whole write, ") + (tcp ? "TCP loopback" : "pseudo-terminal") +
                ", progress steps not waited for (the console)",
            format("%.2f s", median(unwaited)), format("bare loop %.2f s", median(bareAgain)),
            format("%.2f x", median(unwaited) / median(bareAgain)), tcp ? "<= 1.2 x" : "");
    }

    // At the field's line rate: against the time the line itself needs.
    const std::string small = imageOfSize(32u << 10, 32);
    DeviceEmulatorOptions paced;
    paced.baud = kLineBaud;
    double unheld = 0;
    for (const int latency : {0, 16, 1}) {
        for (const bool tcp : {false, true}) {
            if ((latency != 0 && tcp) || !wanted("line"))
                continue;
            DeviceEmulatorOptions options = paced;
            options.replyLatencyMs = latency;
            Run run;
            Run bare;
            if (latency == 0)
                std::tie(run, bare) = sideBySide(tcp, small, options);
            else
                run = coreWrite(tcp, small, options);
            const double limit = static_cast<double>(run.lineBytes) * 10 / kLineBaud;
            std::string figure = std::string("whole write at 115200 baud, ") + (tcp ? "TCP" : "pseudo-terminal") +
                                 ", " + sizeText(small.size()) + ", " + std::to_string(run.records) + " records";
            std::string reference = format("line's limit %.2f s", limit);
            std::string result = format("%.1f %% of the line's limit", 100 * limit / run.seconds);
            if (latency == 0) {
                // The bare loop on the same paced line: what the emulator and the host add.
                reference += format(", bare loop %.2f s", bare.seconds) + failed(bare);
                result += format(" (bare loop %.1f %%)", 100 * limit / bare.seconds);
                if (!tcp)
                    unheld = run.seconds;
            } else {
                figure += ", replies held by a " + std::to_string(latency) + " ms latency timer";
                result += format(", %.2f x unheld (%.1f ms a record)", run.seconds / unheld,
                                 1000 * run.seconds / std::max(run.records, 1));
            }
            row(figure, format("%.2f s", run.seconds) + failed(run), reference, result,
                latency == 0 ? ">= 98 %" : "");
        }
    }

    if (part == "fleet" || part == "serial-fleet") {
        benchFleet(part == "fleet");  // minutes of settling waits: only when asked for
        return 0;
    }
    if (!wanted("memory"))
        return 0;
    const std::filesystem::path folder = std::filesystem::temp_directory_path() /
                                         ("kt5cu_bench." + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    for (const size_t size : {size_t{32} << 10, size_t{4} << 20}) {
        const std::string image = imageOfSize(size, size > (1u << 20) ? 128 : 32);
        const auto path = folder / "kt58netcu.hex";
        std::ofstream(path, std::ios::binary).write(image.data(), static_cast<std::streamsize>(image.size()));
        const ConsoleRun run = consoleUpdate(path);
        const double imageMiB = image.size() / 1048576.0;
        row("peak memory of a whole update (kt5cufirm, pseudo-terminal), " + sizeText(image.size()) + " image",
            format("%.1f MiB", run.peakKiB / 1024.0) + (run.ok ? "" : " (FAILED)"),
            format("image %.2f MiB", imageMiB), format("image + %.1f MiB (update %.1f s)",
                                                       run.peakKiB / 1024.0 - imageMiB, run.seconds),
            "<= image + 4 MiB");
    }
    std::filesystem::remove_all(folder);
    return 0;
}
