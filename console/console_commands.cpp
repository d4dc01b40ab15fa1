#include "console_commands.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "cancel.h"
#include "console_messages.h"
#include "console_run.h"
#include "discover.h"
#include "fleet_retry.h"
#include "fleet_run.h"
#include "host_address.h"
#include "image_diagnosis.h"
#include "image_file.h"
#include "interrupts.h"
#include "image_words.h"
#include "kt_version.h"
#include "port_list.h"
#include "run_words.h"
#include "sha256.h"
#include "protocol_waits.h"
#include "terminal.h"
#include "text_encoding.h"
#include "trace_log.h"
#include "ui_language.h"

namespace {

// What every run of a command shares: the record, the view's options and the trace.
struct RunSetup {
    UpdateContext* ctx = &updateContext;
    ConsoleOptions options;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> traceFile{nullptr, std::fclose};
    std::unique_ptr<TraceLog> trace;
};

// The test suite's hook to shorten the protocol's waits: "receiveMs,settleMs".
// Never silent, so that it cannot shorten a field update unnoticed.
void applyTestWaits()
{
    if (applyTestWaitsFromEnvironment())
        sayLine(stderr, TextTestWaits,
                {std::to_string(protocolWaits().receiveMs), std::to_string(protocolWaits().settleMs)});
}

// Copies the command line into the record and the view's options; a single
// network run's address is resolved once, before anything is sent. 0 to go
// on, else the exit status.
int applyCommandLine(const CommandLine& line, RunSetup* setup)
{
    UpdateContext* ctx = setup->ctx;
    initUpdateContext(ctx);
    ctx->method = line.network ? Network : Serial;
    chooseComPort(ctx, line.com);
    if (!line.device.empty() && !chooseDevice(ctx, line.device))
        return usageError("--device " + line.device + ": a serial port is named COMn, e.g. COM3");
    ctx->tcpPort = line.tcpPort;
    std::snprintf(ctx->imageChoice, sizeof ctx->imageChoice, "%s", line.image.c_str());
    ctx->xportRepair = line.restoreXport ? 1 : 0;
    ctx->checkOnly = line.check ? 1 : 0;
    setup->options.assumeYes = line.yes;
    setup->options.quiet = line.quiet;
    setup->options.verbose = line.verbose;
    setup->options.check = line.check;
    setup->options.xportRepair = line.restoreXport;
    setup->options.expectSha256 = line.expectSha256;
    if (line.network && line.action != CommandAction::Fleet) {
        std::string dotted, why;
        if (!resolveIpv4(line.ip, &dotted, &why))
            return usageError("--ip " + line.ip + ": the host name cannot be resolved to an IPv4 address: " + why);
        std::snprintf(ctx->ipText, sizeof ctx->ipText, "%s", dotted.c_str());
        setup->options.address = addressAsNamed(line.ip, dotted);
    }
    return 0;
}

// The trace's file opened (standard error without one) and what the run
// shows where; 0 to go on, else the exit status.
int prepareOutput(const CommandLine& line, RunSetup* setup)
{
    if (line.trace && !line.traceFile.empty()) {
        setup->traceFile.reset(std::fopen(line.traceFile.c_str(), "w"));
        if (!setup->traceFile) {
            sayLine(stderr, TextTraceNotWritten, {line.traceFile, std::strerror(errno)});
            return kExitUsage;
        }
    }
    const bool traceOnStandardError = line.trace && line.traceFile.empty();
    applyTestWaits();
    clearCancel();  // once, before this program's runs
    for (const std::string& warning : line.warnings)
        sayLine(stderr, TextWarning, {warning});
    setup->options.askOn = questionTerminal();
    setup->options.interactive = setup->options.askOn != nullptr;
    // A trace on the terminal shares its lines with the progress: plain lines then.
    setup->options.progressBar = isTerminal(stderr) && !traceOnStandardError && enableLineRedraw(stderr);
    if (line.trace)
        setup->trace = std::make_unique<TraceLog>(setup->traceFile ? setup->traceFile.get() : stderr,
                                                  traceOnStandardError ? terminalColumns(stderr) : 0);
    if (setup->traceFile)
        setup->trace->writeHeader(line.arguments);
    return 0;
}

// A run that will ask before the erase needs a terminal to ask on, or --yes:
// refused up front (usage, nothing touched) when it has neither.
int refuseWithoutAnAnswer(const CommandLine& line, const ConsoleOptions& options)
{
    if (line.yes || line.check || options.interactive)
        return 0;
    sayLine(stderr, TextNoTerminalToAsk);
    return kExitUsage;
}

// Both steps above, and the answer's source checked; 0 to go on, else the exit status.
int prepareRun(const CommandLine& line, RunSetup* setup)
{
    if (const int status = applyCommandLine(line, setup))
        return status;
    if (const int status = prepareOutput(line, setup))
        return status;
    return line.action == CommandAction::Update ? refuseWithoutAnAnswer(line, setup->options) : 0;
}

// The image the run will load, read and checked before anything is touched:
// true when it is fine (its summary printed for --check), else false with the
// file, line and reason on standard error.
bool checkImageFirst(UpdateContext* ctx, ConsoleOptions* options, bool check)
{
    char path[kPathSize] = "";
    if (ctx->imageChoice[0] != '\0')
        std::snprintf(path, sizeof path, "%s", ctx->imageChoice);
    else
        programImagePath(path);
    std::snprintf(ctx->imagePath, sizeof ctx->imagePath, "%s", path);
    uint8_t* data = nullptr;
    int32_t size = 0;
    std::string reason;
    if (!readImageFile(path, &data, &size, &reason)) {
        std::free(data);
        sayLine(stderr, TextSayError,
                {failureWords(ErrImageRead) + ": " + (path[0] != '\0' ? path : kImageFileName) + ": " + reason});
        if (ctx->imageChoice[0] == '\0' && reason == std::strerror(ENOENT))
            sayLine(stderr, TextNoImageGiven);
        return false;
    }
    ImageProblem problem{};
    ImageSummary summary{};
    const int good = diagnoseImage(data, size, &problem, &summary);
    const std::string digest = sha256Hex(data, static_cast<size_t>(size));
    std::free(data);
    if (!good) {
        sayLine(stderr, TextImageRefused, {path, imageProblemWords(problem)});
        return false;
    }
    if (!options->expectSha256.empty() && options->expectSha256 != digest) {
        sayLine(stderr, TextShaMismatch, {path, digest, options->expectSha256});
        return false;
    }
    options->image.records = summary.records;
    options->image.dataBytes = summary.dataBytes;
    options->image.sha256 = digest;
    options->image.version = versionText(summary.major, summary.minor);
    if (check)
        sayLine(stdout, TextImageChecked,
                {path, imageSummaryWords(summary) + loadText(TextSentenceJoin) + consoleMessage(TextSayDigest, {digest})});
    return true;
}

// The single run of an update, a check with a device or a restore.
int runSingle(const CommandLine& line, RunSetup& setup)
{
    const std::string address = setup.ctx->ipText;
    const RunResult run = runOne(setup.ctx, setup.options, setup.trace.get());
    // A repair that found nothing to do or could not start has said why.
    if (run.start == RunStart::NothingToRestore ||
        (line.restoreXport && (run.start == RunStart::Locked || run.start == RunStart::CannotKeep)))
        return kExitNotChanged;
    // A check is complete only when it got through: one cut short by an
    // interrupt, or failed without an error of its own, is not.
    if (line.check && run.checkDone && interruptsSeen() == 0 && !run.outcome.xportNotPutBack &&
        !run.outcome.erased)
        return kExitComplete;
    return finishRun(run.outcome, address);
}

// What the report file would overwrite: "hosts file", "image" or empty. The
// files are compared by their identity (device and inode), not their names.
std::string reportOverwritesInput(const CommandLine& line, const std::string& imagePath)
{
    const auto same = [&line](const std::string& path) {
        std::error_code failed;
        return !path.empty() &&
               std::filesystem::equivalent(std::filesystem::path(line.reportFile), std::filesystem::path(path), failed) &&
               !failed;
    };
    if (line.reportFile.empty())
        return {};
    if (same(line.hostsFile))
        return "hosts file";
    return same(imagePath) ? "image" : std::string();
}

// A KT-58CU fleet's units: one on each --device, or each --com's port.
std::vector<FleetHost> serialUnits(const CommandLine& line)
{
    std::vector<FleetHost> hosts;
    for (const std::string& device : line.devices) {
        FleetHost host;
        host.serialPort = device;
        hosts.push_back(host);
    }
    for (const int com : line.coms) {
        UpdateContext port{};
        chooseComPort(&port, com);
        FleetHost host;
        host.serialPort = chosenPortName(port);
        host.com = com;
        hosts.push_back(host);
    }
    return hosts;
}

} // namespace

void prepareConsoleTexts()
{
    initConsoleEncoding();
    if (japaneseInterface() && !consoleShowsJapanese())
        preferEnglishTexts();
}

int usageError(const std::string& message)
{
    std::fprintf(stderr, "kt5cufirm: %s\nsee kt5cufirm --help\n", message.c_str());
    return kExitUsage;
}

int updateCommand(const CommandLine& line)
{
    RunSetup setup;
    if (const int status = prepareRun(line, &setup))
        return status;
    // The image first: a bad one touches no device and no XPort.
    if (!checkImageFirst(setup.ctx, &setup.options, false))
        return finishRun(RunOutcome{}, setup.ctx->ipText);
    return runSingle(line, setup);
}

int checkCommand(const CommandLine& line)
{
    RunSetup setup;
    if (const int status = prepareRun(line, &setup))
        return status;
    if (!checkImageFirst(setup.ctx, &setup.options, true))
        return finishRun(RunOutcome{}, setup.ctx->ipText);
    // --check alone stops at the image; with a device it identifies that too.
    if (!line.network && line.device.empty() && !line.comGiven)
        return kExitComplete;
    return runSingle(line, setup);
}

int restoreCommand(const CommandLine& line)
{
    RunSetup setup;
    if (const int status = prepareRun(line, &setup))
        return status;
    return runSingle(line, setup);
}

int fleetCommand(const CommandLine& line)
{
    RunSetup setup;
    if (const int status = applyCommandLine(line, &setup))
        return status;
    std::vector<FleetHost> hosts;
    std::string error;
    if (line.serialFleet) {
        hosts = serialUnits(line);
    } else if (!line.retryReport.empty()) {
        if (!readRetryUnits(line.retryReport, &hosts, &error))
            return usageError(error);
        if (hosts.empty()) {
            sayLine(stderr, TextNothingToRetry, {line.retryReport});
            return kExitComplete;
        }
    } else if (!gatherFleetHosts(line.ips, line.hostsFile, line.tcpPort, &hosts, &error)) {
        return usageError(error);
    }
    if (const int status = prepareOutput(line, &setup))
        return status;
    if (const int status = refuseWithoutAnAnswer(line, setup.options))
        return status;
    if (!checkImageFirst(setup.ctx, &setup.options, false))
        return finishRun(RunOutcome{}, setup.ctx->ipText);
    if (const std::string input = reportOverwritesInput(line, setup.ctx->imagePath); !input.empty())
        return usageError("--report " + line.reportFile + " is the " + input + ": the report would overwrite it");
    FleetOptions fleet;
    fleet.assumeYes = line.yes;
    fleet.onlyIfNewer = line.ifNewer;
    fleet.stopOnError = line.stopOnError;
    fleet.reportPath = line.reportFile;
    fleet.parallel = line.parallel;
    fleet.logFolder = line.logFolder;
    if (!line.logFolder.empty()) {
        std::error_code made;
        std::filesystem::create_directories(std::filesystem::path(line.logFolder), made);
        if (made)
            return usageError("--log-dir " + line.logFolder + ": " + made.message());
    }
    return runFleet(setup.ctx, hosts, fleet, setup.options, setup.trace.get());
}

int discoverCommand(const CommandLine& line)
{
    applyTestWaits();
    for (const std::string& warning : line.warnings)
        sayLine(stderr, TextWarning, {warning});
    DiscoverOptions options;
    options.ranges = line.discoverRanges;
    options.hostsFile = line.hostsFile;
    options.interfaceName = line.interfaceName;
    options.quiet = line.quiet;
    options.reportPath = line.reportFile;
    return runDiscovery(options);
}

int listPortsCommand()
{
    const std::vector<SerialPortInfo> ports = listSerialPorts();
    if (ports.empty())
        sayLine(stderr, TextNoPorts);
    std::fputs(serialPortListText(ports).c_str(), stdout);
    return kExitComplete;
}

int helpCommand()
{
    std::fputs(usageText(), stdout);
    writeConsoleText(stdout, fromUtf8(helpText(japaneseInterface())));
    return kExitComplete;
}

int versionCommand()
{
    std::puts("kt5cufirm " KT_VERSION_TEXT);
    return kExitComplete;
}
