// kt5cufirm: the console front end. The same update run as the dialog, for
// scripts and for systems without Windows.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "command_line.h"
#include "console_platform.h"
#include "console_text.h"
#include "console_texts.h"
#include "console_view.h"
#include "exchange_trace.h"
#include "fleet.h"
#include "image_diagnosis.h"
#include "image_file.h"
#include "interrupts.h"
#include "kept_setup.h"
#include "port_list.h"
#include "protocol_waits.h"
#include "sockets.h"
#include "texts.h"
#include "trace_log.h"
#include "ui_language.h"
#include "update_context.h"
#include "xport_setup.h"

namespace {

int usageError(const std::string& message)
{
    std::fprintf(stderr, "kt5cufirm: %s\n%s", message.c_str(), usageText());
    return kExitUsage;
}

// The test suite's hook to shorten the protocol's waits: "receiveMs,settleMs".
// Never silent, so that it cannot shorten a field update unnoticed.
void applyTestWaits()
{
    const char* waits = std::getenv("KT5CUFIRM_TEST_WAITS");
    int receiveMs = 0;
    int settleMs = 0;
    if (waits != nullptr && std::sscanf(waits, "%d,%d", &receiveMs, &settleMs) == 2 && receiveMs > 0 &&
        settleMs >= 0) {
        setProtocolWaitsForTests({receiveMs, settleMs});
        sayLine(stderr, ConsoleText::TestWaits, {std::to_string(receiveMs), std::to_string(settleMs)});
    }
}

// The last line of a run that did not end with 0.
int finish(const RunOutcome& outcome, const std::string& address)
{
    const int status = exitStatus(outcome);
    if (status != kExitComplete) {
        std::fflush(stdout);
        sayLine(stderr, stateLine(outcome, address));
    }
    return status;
}

// The image the run will load, read and checked before anything is touched:
// 1 when it is fine (its summary printed for --check), else 0 with the file,
// line and reason on standard error.
bool checkImageFirst(UpdateContext* ctx, CommandView& view, bool check)
{
    char path[kPathSize] = "";
    if (ctx->imageChoice[0] != '\0')
        std::snprintf(path, sizeof path, "%s", ctx->imageChoice);
    else
        programImagePath(path);
    std::snprintf(ctx->imagePath, sizeof ctx->imagePath, "%s", path);
    std::vector<uint8_t> data;
    int failure = 0;
    std::FILE* file = path[0] != '\0' ? openForReading(path) : nullptr;
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
        ctx->errorCode = 0;
        return false;
    }
    ImageProblem problem{};
    ImageSummary summary{};
    if (!diagnoseImage(data.data(), static_cast<int32_t>(data.size()), &problem, &summary)) {
        sayLine(stderr, ConsoleText::ImageRefused, {path, imageProblemText(problem)});
        return false;
    }
    if (check)
        sayLine(stdout, ConsoleText::ImageChecked, {path, imageSummaryText(summary)});
    return true;
}

// Copies the command line into the record; 0 to go on, else the exit status.
int applyCommandLine(const CommandLine& line, UpdateContext* ctx, ConsoleOptions* options)
{
    ctx->method = line.network ? Network : Serial;
    chooseComPort(ctx, line.com);
    if (!line.device.empty())
        std::snprintf(ctx->comDevice, sizeof ctx->comDevice, "%s", line.device.c_str());
    ctx->tcpPort = line.tcpPort;
    std::snprintf(ctx->imageChoice, sizeof ctx->imageChoice, "%s", line.image.c_str());
    ctx->xportRepair = line.restoreXport ? 1 : 0;
    options->assumeYes = line.yes;
    options->quiet = line.quiet;
    options->xportRepair = line.restoreXport;
    if (line.network && !line.fleet) {
        // Resolved once, before anything is sent: the run uses the address.
        std::string dotted, why;
        if (!resolveIpv4(line.ip, &dotted, &why))
            return usageError("--ip " + line.ip + ": the host name cannot be resolved to an IPv4 address: " + why);
        std::snprintf(ctx->ipText, sizeof ctx->ipText, "%s", dotted.c_str());
        options->address = dotted == line.ip ? dotted : line.ip + " (" + dotted + ")";
    }
    return 0;
}

// The units of a fleet, from --ip and --hosts; 0, else the exit status.
int fleetHostsOf(const CommandLine& line, std::vector<FleetHost>* hosts)
{
    for (const std::string& ip : line.ips)
        hosts->push_back(FleetHost{ip, line.tcpPort, 0});
    if (!line.hostsFile.empty()) {
        std::vector<FleetHost> listed;
        std::string error;
        if (!readHostsFile(line.hostsFile, line.tcpPort, &listed, &error))
            return usageError(error);
        hosts->insert(hosts->end(), listed.begin(), listed.end());
    }
    return 0;
}

// Several units one after another, each looked up once before anything is sent.
int runFleetCommand(const CommandLine& line, const std::vector<FleetHost>& hosts, UpdateContext* ctx,
                    const ConsoleOptions& options, TraceLog* trace)
{
    FleetOptions fleet;
    fleet.assumeYes = line.yes;
    fleet.onlyIfNewer = line.ifNewer;
    fleet.stopOnError = line.stopOnError;
    fleet.reportPath = line.reportFile;
    if (trace != nullptr)
        setTraceHook(TraceLog::hook, trace);
    const int status = runFleet(ctx, hosts, fleet, options);
    setTraceHook(nullptr, nullptr);
    return status;
}

int runConsole(int argc, char** argv)
{
    const CommandLine line = parseCommandLine(argc, argv);
    initConsoleText();
    if (japaneseInterface() && !consoleShowsJapanese())
        preferEnglishTexts();
    switch (line.action) {
    case CommandAction::Help:
        std::fputs(usageText(), stdout);
        std::fputs(helpText(), stdout);
        return kExitComplete;
    case CommandAction::Version:
        std::puts("kt5cufirm Ver1.00");
        return kExitComplete;
    case CommandAction::Usage:
        return usageError(line.error);
    case CommandAction::ListPorts: {
        const std::vector<SerialPortInfo> ports = listSerialPorts();
        if (ports.empty())
            sayLine(stderr, ConsoleText::NoPorts);
        std::fputs(serialPortListText(ports).c_str(), stdout);
        return kExitComplete;
    }
    case CommandAction::Run:
        break;
    }

    UpdateContext* ctx = &updateContext;
    initUpdateContext(ctx);
    ConsoleOptions options;
    if (const int status = applyCommandLine(line, ctx, &options))
        return status;
    std::vector<FleetHost> fleetHosts;
    if (line.fleet) {
        if (const int status = fleetHostsOf(line, &fleetHosts))
            return status;
    }

    std::unique_ptr<std::FILE, int (*)(std::FILE*)> traceFile(nullptr, std::fclose);
    if (line.trace && !line.traceFile.empty()) {
        traceFile.reset(std::fopen(line.traceFile.c_str(), "w"));
        if (!traceFile) {
            sayLine(stderr, ConsoleText::TraceNotWritten, {line.traceFile, std::strerror(errno)});
            return kExitUsage;
        }
    }
    const bool traceOnStandardError = line.trace && line.traceFile.empty();

    applyTestWaits();
    for (const std::string& warning : line.warnings)
        sayLine(stderr, ConsoleText::Warning, {warning});
    const std::string address = ctx->ipText;
    options.interactive = isTerminal(stdin);
    // A trace on the terminal shares its lines with the progress: plain lines then.
    options.progressBar = isTerminal(stderr) && !traceOnStandardError;
    ConsoleView view(options, stdout, stderr, readAnswerLine);

    // The image first: a bad one touches no device and no XPort.
    if (!line.restoreXport && !checkImageFirst(ctx, view, line.check))
        return finish(RunOutcome{}, address);
    if (line.fleet) {
        std::unique_ptr<TraceLog> fleetTrace;
        if (line.trace)
            fleetTrace = std::make_unique<TraceLog>(traceFile ? traceFile.get() : stderr,
                                                    traceOnStandardError ? terminalColumns(stderr) : 0);
        return runFleetCommand(line, fleetHosts, ctx, options, fleetTrace.get());
    }
    // --check alone stops at the image; with a device it identifies that too.
    if (line.check && !line.network && line.device.empty() && !line.comGiven)
        return kExitComplete;
    ctx->checkOnly = line.check ? 1 : 0;
    options.check = line.check;

    if (ctx->method == Network) {
        const KeptSetupState kept = prepareKeptSetup(address);
        if (kept == KeptSetupState::Unreadable) {
            sayLine(stderr, ConsoleText::KeptRecordUnreadable, {keptSetupPath()});
            return finish(RunOutcome{}, address);
        }
        if (line.restoreXport && kept != KeptSetupState::Kept) {
            sayLine(stderr, ConsoleText::NoKeptRecord, {address, keptSetupFolder()});
            return kExitNotChanged;
        }
        if (!line.restoreXport && kept == KeptSetupState::Kept)
            sayLine(stderr, ConsoleText::KeptRecordFound, {address, std::to_string(keptSetupByte())});
    }

    ConsoleView runView(options, stdout, stderr, readAnswerLine);
    std::unique_ptr<TraceLog> trace;
    if (line.trace) {
        trace = std::make_unique<TraceLog>(traceFile ? traceFile.get() : stderr,
                                           traceOnStandardError ? terminalColumns(stderr) : 0);
        setTraceHook(TraceLog::hook, trace.get());
    }
    setXportSettleHook(ConsoleView::settleHook, &runView);

    if (!startSocketLibrary(&ctx->wsaData)) {
        ctx->errorCode = ErrSocketInit;
        showError(runView, *ctx, 0);
        return finish(RunOutcome{}, address);
    }
    prepareInterruptMessages(*ctx, options.interactive || options.progressBar, keptSetupRemains());
    runInConsoleWindow(ctx, runView);
    setXportSettleHook(nullptr, nullptr);
    setTraceHook(nullptr, nullptr);
    RunOutcome outcome = outcomeOf(*ctx);
    // A record still kept (by this run or an interrupted one) means the XPort
    // may not hold its true setup.
    outcome.xportNotPutBack = outcome.xportNotPutBack || keptSetupRemains();
    if (line.check && !runView.errorShown() && !outcome.xportNotPutBack && !outcome.erased)
        return kExitComplete;
    return finish(outcome, address);
}

} // namespace

// KT5CUFIRM_DEBUG_FDS=1, a debugging aid: the last line on standard error
// names the descriptors open at the end and at the start (POSIX).
int main(int argc, char** argv)
{
    const bool listDescriptors = std::getenv("KT5CUFIRM_DEBUG_FDS") != nullptr;
    const std::string before = listDescriptors ? openDescriptors() : std::string();
    const int status = runConsole(argc, argv);
    if (listDescriptors) {
        std::fflush(stdout);
        std::fprintf(stderr, "kt5cufirm: descriptors open at the end: %s (at the start: %s)\n",
                     openDescriptors().c_str(), before.c_str());
    }
    return status;
}
