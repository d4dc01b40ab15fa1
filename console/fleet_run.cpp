#include "fleet_run.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "console_messages.h"
#include "console_run.h"
#include "console_view.h"
#include "console_window.h"
#include "fleet_report.h"
#include "host_address.h"
#include "image_file.h"
#include "interrupts.h"
#include "sockets.h"
#include "terminal.h"

namespace {

void say(const std::string& text)
{
    std::fflush(stdout);
    sayLine(stderr, text);
}

// Every unit's dotted address, looked up once before anything is sent; false
// (with the error said) when a name does not resolve.
bool resolveUnits(const std::vector<FleetHost>& hosts, std::vector<UnitReport>* units)
{
    for (const FleetHost& host : hosts) {
        UnitReport unit;
        unit.label = unitLabel(host);
        unit.host = host.host;
        unit.tcpPort = host.tcpPort;
        std::string error;
        if (isDottedIpv4(host.host)) {
            unit.address = host.host;
        } else if (!resolveIpv4(host.host, &unit.address, &error)) {
            const std::string where = host.line > 0 ? "line " + std::to_string(host.line) + ": " : "--ip ";
            std::fprintf(stderr, "kt5cufirm: %s%s: the host name cannot be resolved to an IPv4 address: %s\n",
                         where.c_str(), host.host.c_str(), error.c_str());
            return false;
        }
        units->push_back(unit);
    }
    return true;
}

// The image's version, read before anything is sent; false (with the error
// shown) when the image cannot be used.
bool readImage(UpdateContext* ctx, CommandView& view, std::string* version)
{
    if (!loadImage(nullptr, ctx)) {
        ctx->errorCode = ErrImageRead;
        showError(view, *ctx, 0);
        return false;
    }
    const bool good = readImageVersion(nullptr, ctx) > 0 && checkImage(nullptr, ctx);
    std::free(ctx->imageData);
    ctx->imageData = nullptr;
    if (!good) {
        ctx->errorCode = ErrImageFormat;
        showError(view, *ctx, 0);
        return false;
    }
    *version = versionText(ctx->imageMajor, ctx->imageMinor);
    return true;
}

// The one question for the whole list (answered by --yes), after the image.
bool askForAll(UpdateContext* ctx, size_t units, const FleetOptions& options, const ConsoleOptions& view)
{
    ConsoleOptions askOptions;
    askOptions.assumeYes = options.assumeYes;
    askOptions.interactive = view.interactive;
    askOptions.askOn = view.askOn;
    ConsoleView asker(askOptions, stdout, stderr, readAnswerLine);
    std::string imageVersion;
    return readImage(ctx, asker, &imageVersion) &&
           asker.askConfirmation(consoleMessage(TextFleetQuestion, {std::to_string(units), imageVersion}));
}

// The record for one unit: fresh, with the fleet's shared choices applied.
void prepareUnit(UpdateContext* ctx, const UpdateContext& shared, const UnitReport& unit, bool onlyIfNewer)
{
    initUpdateContext(ctx);
    ctx->method = Network;
    std::memcpy(ctx->imageChoice, shared.imageChoice, sizeof ctx->imageChoice);
    std::snprintf(ctx->ipText, sizeof ctx->ipText, "%s", unit.address.c_str());
    ctx->tcpPort = unit.tcpPort;
    ctx->onlyIfNewer = onlyIfNewer ? 1 : 0;
}

// One unit's whole run, its lines prefixed by its label.
void runUnit(UpdateContext* ctx, UnitReport* unit, const ConsoleOptions& viewOptions, TraceLog* trace)
{
    ConsoleOptions options = viewOptions;
    options.assumeYes = true;  // the whole list was asked about
    options.linePrefix = "[" + unit->label + "] ";
    options.address = addressAsNamed(unit->host, unit->address);
    const RunResult run = runOne(ctx, options, trace);
    if (run.start != RunStart::Ran) {
        // Nothing was sent; an unusable kept record leaves the XPort's state unknown.
        unit->result = run.start == RunStart::KeptUnusable ? UnitResult::XportNotRestored : UnitResult::FailedBeforeErase;
        say(options.linePrefix + stateLine(run.outcome, unit->address));
        return;
    }
    unit->result = unitResult(UnitRun{run.outcome.xportNotPutBack, run.outcome.erased, run.outcome.written,
                                      ctx->leftAlone != 0, run.errorShown});
    // The version line "Ver 1.00" as the summary writes it: "1.00".
    unit->versionBefore = run.deviceVersion.substr(run.deviceVersion.find(' ') + 1);
    if (run.outcome.written)
        unit->versionAfter =
            versionNumber(ctx->deviceVersion[kDeviceVersionMajor], ctx->deviceVersion[kDeviceVersionMinor]);
    else if (!run.outcome.erased)
        unit->versionAfter = unit->versionBefore;
    if (unitStatus(unit->result) != 0)
        say(options.linePrefix + stateLine(run.outcome, unit->address));
}

void writeReport(std::FILE* report, const UnitReport& unit)
{
    if (report == nullptr)
        return;
    std::fprintf(report, "%s\n", reportLine(unit).c_str());
    std::fflush(report);
}

// Each unit in turn until an interrupt, or --stop-on-error after a unit that
// did not end well; the units not attempted go into the report too.
void runUnits(UpdateContext* ctx, std::vector<UnitReport>* units, const FleetOptions& options,
              const ConsoleOptions& view, TraceLog* trace, std::FILE* report)
{
    const UpdateContext shared = *ctx;
    size_t next = 0;
    for (; next < units->size(); ++next) {
        deliverHeldInterrupts();
        if (interruptsSeen() > 0)
            break;
        if (next > 0 && options.stopOnError && !unitEndedWell((*units)[next - 1].result))
            break;
        UnitReport& unit = (*units)[next];
        prepareUnit(ctx, shared, unit, options.onlyIfNewer);
        const auto started = std::chrono::steady_clock::now();
        runUnit(ctx, &unit, view, trace);
        unit.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        writeReport(report, unit);
    }
    for (; next < units->size(); ++next)
        writeReport(report, (*units)[next]);  // not attempted
}

// The summary table, and the line that says how many did not end well.
int summarize(const std::vector<UnitReport>& units)
{
    std::fflush(stderr);
    std::fputs(summaryTable(units).c_str(), stdout);
    std::fflush(stdout);
    const int status = fleetStatus(units);
    if (status != kExitComplete) {
        size_t notWell = 0;
        for (const UnitReport& unit : units)
            notWell += unitEndedWell(unit.result) ? 0 : 1;
        say(consoleMessage(TextFleetNotAllWell, {std::to_string(notWell), std::to_string(units.size())}));
    }
    return status;
}

} // namespace

int runFleet(UpdateContext* ctx, const std::vector<FleetHost>& hosts, const FleetOptions& options,
             const ConsoleOptions& view, TraceLog* trace)
{
    startSocketLibrary(&ctx->wsaData);  // for the look-ups; each unit's run starts and ends its own use
    std::vector<UnitReport> units;
    std::FILE* report = nullptr;
    int status = resolveUnits(hosts, &units) ? kExitComplete : kExitUsage;
    for (UnitReport& unit : units)
        unit.sha256 = view.image.sha256;
    if (status == kExitComplete && !options.reportPath.empty()) {
        report = std::fopen(options.reportPath.c_str(), "w");
        if (report == nullptr) {
            std::fprintf(stderr, "kt5cufirm: --report %s: %s\n", options.reportPath.c_str(), std::strerror(errno));
            status = kExitUsage;
        }
    }
    if (status == kExitComplete && !askForAll(ctx, units.size(), options, view)) {
        say(consoleMessage(TextFleetNoneChanged));
        status = kExitNotChanged;
    }
    if (status == kExitComplete)
        runUnits(ctx, &units, options, view, trace, report);
    if (report != nullptr)
        std::fclose(report);
    stopSocketLibrary();
    return status == kExitComplete ? summarize(units) : status;
}
