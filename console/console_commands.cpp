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
#include "kt_version.h"
#include "port_list.h"
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
    if (!line.device.empty())
        std::snprintf(ctx->comDevice, sizeof ctx->comDevice, "%s", line.device.c_str());
    ctx->tcpPort = line.tcpPort;
    std::snprintf(ctx->imageChoice, sizeof ctx->imageChoice, "%s", line.image.c_str());
    ctx->xportRepair = line.restoreXport ? 1 : 0;
    ctx->checkOnly = line.check ? 1 : 0;
    setup->options.assumeYes = line.yes;
    setup->options.quiet = line.quiet;
    setup->options.check = line.check;
    setup->options.xportRepair = line.restoreXport;
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
    setup->options.interactive = isTerminal(stdin);
    // A trace on the terminal shares its lines with the progress: plain lines then.
    setup->options.progressBar = isTerminal(stderr) && !traceOnStandardError;
    if (line.trace)
        setup->trace = std::make_unique<TraceLog>(setup->traceFile ? setup->traceFile.get() : stderr,
                                                  traceOnStandardError ? terminalColumns(stderr) : 0);
    return 0;
}

// Both steps above; 0 to go on, else the exit status.
int prepareRun(const CommandLine& line, RunSetup* setup)
{
    if (const int status = applyCommandLine(line, setup))
        return status;
    return prepareOutput(line, setup);
}

// The image the run will load, read and checked before anything is touched:
// true when it is fine (its summary printed for --check), else false with the
// file, line and reason on standard error.
bool checkImageFirst(UpdateContext* ctx, const ConsoleOptions& options, bool check)
{
    ConsoleView view(options, stdout, stderr, readAnswerLine);
    char path[kPathSize] = "";
    if (ctx->imageChoice[0] != '\0')
        std::snprintf(path, sizeof path, "%s", ctx->imageChoice);
    else
        programImagePath(path);
    std::snprintf(ctx->imagePath, sizeof ctx->imagePath, "%s", path);
    std::vector<uint8_t> data;
    int failure = 0;
    std::FILE* file = path[0] != '\0' ? std::fopen(path, "rb") : nullptr;
    if (file == nullptr) {
        failure = path[0] != '\0' ? errno : ENAMETOOLONG;
    } else {
        uint8_t block[65536];
        for (size_t n; (n = std::fread(block, 1, sizeof block, file)) > 0 && data.size() < 0x7FFF0000u;)
            data.insert(data.end(), block, block + n);
        if (std::ferror(file))
            failure = errno != 0 ? errno : EIO;
        std::fclose(file);
    }
    if (failure != 0) {
        ctx->errorCode = ErrImageRead;
        view.showErrorBox(loadText(TextErrorCaption), withoutLineEnd(errorMessage(*ctx, 0)) + ": " +
                                                          (path[0] != '\0' ? path : kImageFileName) + ": " +
                                                          std::strerror(failure));
        if (ctx->imageChoice[0] == '\0' && failure == ENOENT)
            sayLine(stderr, TextNoImageGiven);
        ctx->errorCode = 0;
        return false;
    }
    ImageProblem problem{};
    ImageSummary summary{};
    if (!diagnoseImage(data.data(), static_cast<int32_t>(data.size()), &problem, &summary)) {
        sayLine(stderr, TextImageRefused, {path, imageProblemText(problem)});
        return false;
    }
    if (check)
        sayLine(stdout, TextImageChecked, {path, imageSummaryText(summary)});
    return true;
}

// The single run of an update, a check with a device or a restore.
int runSingle(const CommandLine& line, RunSetup& setup)
{
    const std::string address = setup.ctx->ipText;
    const RunResult run = runOne(setup.ctx, setup.options, setup.trace.get());
    if (run.start == RunStart::NothingToRestore)
        return kExitNotChanged;
    if (line.check && !run.errorShown && !run.outcome.xportNotPutBack && !run.outcome.erased)
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
    std::fprintf(stderr, "kt5cufirm: %s\n%s", message.c_str(), usageText());
    return kExitUsage;
}

int updateCommand(const CommandLine& line)
{
    RunSetup setup;
    if (const int status = prepareRun(line, &setup))
        return status;
    // The image first: a bad one touches no device and no XPort.
    if (!checkImageFirst(setup.ctx, setup.options, false))
        return finishRun(RunOutcome{}, setup.ctx->ipText);
    return runSingle(line, setup);
}

int checkCommand(const CommandLine& line)
{
    RunSetup setup;
    if (const int status = prepareRun(line, &setup))
        return status;
    if (!checkImageFirst(setup.ctx, setup.options, true))
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
    if (!checkImageFirst(setup.ctx, setup.options, false))
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
    std::fputs(helpText().c_str(), stdout);
    return kExitComplete;
}

int versionCommand()
{
    std::puts("kt5cufirm " KT_VERSION_TEXT);
    return kExitComplete;
}
