#include "fleet_run.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "console_messages.h"
#include "console_run.h"
#include "console_view.h"
#include "console_window.h"
#include "fleet_board.h"
#include "fleet_report.h"
#include "host_address.h"
#include "image_file.h"
#include "interrupts.h"
#include "output_gate.h"
#include "port_list.h"
#include "serial_link.h"
#include "sockets.h"
#include "terminal.h"
#include "text_encoding.h"
#include "trace_log.h"
#include "unit_log.h"

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
    std::vector<SerialPortInfo> ports;
    if (!hosts.empty() && !hosts.front().serialPort.empty())
        ports = listSerialPorts();
    for (const FleetHost& host : hosts) {
        UnitReport unit;
        if (!host.serialPort.empty()) {
            const NamedPort named = namePort(host.serialPort, ports);
            unit.port = host.serialPort;
            unit.com = host.com;
            unit.stableName = named.stableName;
            unit.serialNumber = named.serialNumber;
            unit.label = serialUnitLabel(unit.port, unit.serialNumber);
            units->push_back(unit);
            continue;
        }
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

// Where a unit was given, for a message: "--ip NAME", "line N (NAME)", "--device PATH".
std::string placeOf(const FleetHost& host)
{
    if (!host.serialPort.empty())
        return (host.com > 0 ? "--com " + std::to_string(host.com) : "--device " + host.serialPort);
    return host.line > 0 ? "line " + std::to_string(host.line) + " (" + host.host + ")" : "--ip " + host.host;
}

// No unit twice: one resolved address and TCP port, or one serial port, is
// one unit however it is spelled. False (said as a usage error) otherwise.
bool eachUnitOnce(const std::vector<FleetHost>& hosts, const std::vector<UnitReport>& units)
{
    for (size_t later = 1; later < units.size(); ++later) {
        for (size_t first = 0; first < later; ++first) {
            const UnitReport& a = units[first];
            const UnitReport& b = units[later];
            const bool same = a.port.empty() ? b.port.empty() && a.address == b.address && a.tcpPort == b.tcpPort
                                             : !b.port.empty() && samePort(a.port, b.port);
            if (!same)
                continue;
            const std::string unit = a.port.empty() ? a.address + ":" + std::to_string(a.tcpPort) : a.port;
            std::fprintf(stderr, "kt5cufirm: %s and %s are one unit, %s: name each unit once\n",
                         placeOf(hosts[first]).c_str(), placeOf(hosts[later]).c_str(), unit.c_str());
            return false;
        }
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
bool askForAll(UpdateContext* ctx, size_t units, bool serial, const FleetOptions& options,
               const ConsoleOptions& view)
{
    ConsoleOptions askOptions;
    askOptions.assumeYes = options.assumeYes;
    askOptions.interactive = view.interactive;
    askOptions.askOn = view.askOn;
    ConsoleView asker(askOptions, stdout, stderr, readAnswerLine);
    std::string imageVersion;
    return readImage(ctx, asker, &imageVersion) &&
           asker.askConfirmation(consoleMessage(serial ? TextSerialFleetQuestion : TextFleetQuestion,
                                                {std::to_string(units), imageVersion}));
}

// The record for one unit: fresh, with the fleet's shared choices applied.
void prepareUnit(UpdateContext* ctx, const UpdateContext& shared, const UnitReport& unit, bool onlyIfNewer)
{
    initUpdateContext(ctx);
    std::memcpy(ctx->imageChoice, shared.imageChoice, sizeof ctx->imageChoice);
    std::memcpy(ctx->imagePath, shared.imagePath, sizeof ctx->imagePath);  // the header names it
    if (!unit.port.empty()) {
        ctx->method = Serial;
        chooseComPort(ctx, unit.com > 0 ? unit.com : 1);
        if (unit.com == 0)
            std::snprintf(ctx->comDevice, sizeof ctx->comDevice, "%s", unit.port.c_str());
    } else {
        ctx->method = Network;
        std::snprintf(ctx->ipText, sizeof ctx->ipText, "%s", unit.address.c_str());
        ctx->tcpPort = unit.tcpPort;
    }
    ctx->onlyIfNewer = onlyIfNewer ? 1 : 0;
}

// One unit's whole run with its view's options.
void runUnitWith(UpdateContext* ctx, UnitReport* unit, ConsoleOptions options, TraceLog* trace)
{
    if (unit->port.empty())
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
    if (unitStatus(unit->result) != 0) {
        say(options.linePrefix + stateLine(run.outcome, unit->address));
        if (options.log != nullptr)
            options.log->write(stateLine(run.outcome, unit->address));
    }
}

// One unit's whole run, its lines prefixed by its label; on a fleet's board
// its row stands while it runs; with --log-dir its lines (and its trace)
// go to a log of its own too.
void runUnit(UpdateContext* ctx, UnitReport* unit, const ConsoleOptions& viewOptions, TraceLog* trace,
             const std::string& logFolder)
{
    ConsoleOptions options = viewOptions;
    options.assumeYes = true;  // the whole list was asked about
    options.linePrefix = "[" + unit->label + "] ";
    std::unique_ptr<UnitLog> log;
    std::unique_ptr<TraceLog> unitTrace;
    if (!logFolder.empty()) {
        std::string error;
        log = std::make_unique<UnitLog>(logFolder, unit->label, &error);
        if (log->file() == nullptr)
            say(options.linePrefix + consoleMessage(TextUnitLogNotWritten, {log->path(), error}));
        options.log = log.get();
        // The unit's trace goes into its log, beside its lines.
        if (trace != nullptr && log->file() != nullptr) {
            unitTrace = std::make_unique<TraceLog>(log->file());
            trace = unitTrace.get();
        }
    }
    if (options.board != nullptr)
        options.boardRow = options.board->add(unit->label);
    runUnitWith(ctx, unit, options, trace);
    if (options.board != nullptr)
        options.board->remove(options.boardRow);
}

void writeReport(std::FILE* report, const UnitReport& unit)
{
    if (report == nullptr)
        return;
    std::fprintf(report, "%s\n", reportLine(unit).c_str());
    std::fflush(report);
}

// What the unit threads share. `lock` guards every member below it, the
// report file and each unit's record once its thread has handed it back.
struct FleetRun {
    FleetRun(std::vector<UnitReport>* unitList, const FleetOptions& fleetOptions, const ConsoleOptions& viewOptions,
             TraceLog* traceLog, std::FILE* reportFile, const UpdateContext& sharedRecord)
        : units(unitList), options(&fleetOptions), view(viewOptions), trace(traceLog), report(reportFile),
          shared(sharedRecord), states(unitList->size()), started(unitList->size(), 0), ended(unitList->size(), 0)
    {
    }
    std::vector<UnitReport>* units;
    const FleetOptions* options;
    ConsoleOptions view;
    TraceLog* trace;
    std::FILE* report;
    UpdateContext shared;
    std::vector<std::atomic<int>> states;  // each unit's state as its window noted it
    std::mutex lock;
    std::condition_variable changed;
    std::vector<char> started, ended;
    size_t next = 0;
    size_t threads = 0;     // unit threads still going
    bool stopping = false;  // --stop-on-error met a unit that did not end well
};

// The next unit to start, or none: all started, an interrupt came, or
// --stop-on-error stops.
bool takeNextUnit(FleetRun* fleet, size_t* index)
{
    std::lock_guard<std::mutex> held(fleet->lock);
    if (fleet->next >= fleet->units->size() || fleet->stopping || interruptsSeen() > 0)
        return false;
    *index = fleet->next++;
    fleet->started[*index] = 1;
    return true;
}

// Runs units, each with its own record, window and worker, until none is left.
void unitThread(FleetRun* fleet)
{
    auto ctx = std::make_unique<UpdateContext>();
    for (size_t index = 0; takeNextUnit(fleet, &index);) {
        UnitReport& unit = (*fleet->units)[index];
        prepareUnit(ctx.get(), fleet->shared, unit, fleet->options->onlyIfNewer);
        noteUnitStateIn(&fleet->states[index]);
        const auto began = std::chrono::steady_clock::now();
        runUnit(ctx.get(), &unit, fleet->view, fleet->trace, fleet->options->logFolder);
        unit.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
        noteUnitStateIn(nullptr);
        std::lock_guard<std::mutex> held(fleet->lock);
        fleet->ended[index] = 1;
        writeReport(fleet->report, unit);
        fleet->stopping = fleet->stopping || (fleet->options->stopOnError && !unitEndedWell(unit.result));
    }
    std::lock_guard<std::mutex> held(fleet->lock);
    --fleet->threads;
    fleet->changed.notify_all();
}

int summarize(const std::vector<UnitReport>& units);

// A third interrupt: the units still running are taken as they stand, the
// rest as not attempted; the report gets them, the summary shows all, and
// the program ends with the worst status. Holds fleet->lock.
[[noreturn]] void endAtOnce(FleetRun* fleet)
{
    // The serial ports still open get their own settings back, as a single run's does.
    putBackSerialSettingsAtOnce();
    setOutputOverlay(nullptr);
    std::vector<UnitReport> units;
    for (size_t i = 0; i < fleet->units->size(); ++i) {
        const UnitReport& given = (*fleet->units)[i];
        if (fleet->ended[i]) {
            units.push_back(given);
            continue;
        }
        // Named as given (address or port), its result from the state noted so far.
        UnitReport unit = given;
        unit.result = UnitResult::NotAttempted;
        if (fleet->started[i]) {
            const RunOutcome noted = outcomeOfNotedState(fleet->states[i].load());
            unit.result = unitResult(UnitRun{noted.xportNotPutBack, noted.erased, noted.written, false, true});
        }
        writeReport(fleet->report, unit);
        units.push_back(unit);
    }
    if (fleet->report != nullptr)
        std::fclose(fleet->report);
    std::_Exit(summarize(units));
}

// Up to --parallel units at once until an interrupt, or --stop-on-error
// after a unit that did not end well; the units not attempted go into the
// report too.
void runUnits(UpdateContext* ctx, std::vector<UnitReport>* units, const FleetOptions& options,
              const ConsoleOptions& view, TraceLog* trace, std::FILE* report)
{
    FleetRun fleet(units, options, view, trace, report, *ctx);
    // Units side by side on a terminal: one row each on a board.
    std::unique_ptr<FleetBoard> board;
    if (view.progressBar && options.parallel > 1 && !view.quiet) {
        board = std::make_unique<FleetBoard>(stderr);
        fleet.view.board = board.get();
        setOutputOverlay(board.get());
    }
    prepareFleetInterrupts(view.interactive || view.progressBar, units->empty() || units->front().port.empty());
    fleet.threads = std::min<size_t>(static_cast<size_t>(std::max(1, options.parallel)), units->size());
    std::vector<std::thread> threads;
    for (size_t i = fleet.threads; i > 0; --i)
        threads.emplace_back(unitThread, &fleet);
    {
        std::unique_lock<std::mutex> held(fleet.lock);
        while (fleet.threads > 0) {
            fleet.changed.wait_for(held, std::chrono::milliseconds(50));
            if (interruptsSeen() >= 3)
                endAtOnce(&fleet);
        }
    }
    for (std::thread& thread : threads)
        thread.join();
    setOutputOverlay(nullptr);
    for (size_t i = 0; i < units->size(); ++i)
        if (!fleet.started[i])
            writeReport(report, (*units)[i]);  // not attempted
}

// The summary table, and the line that says how many did not end well.
int summarize(const std::vector<UnitReport>& units)
{
    std::fflush(stderr);
    writeThroughGate(stdout, summaryTable(units), writeConsoleText);
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
    ignoreBrokenPipes();
    std::vector<UnitReport> units;
    std::FILE* report = nullptr;
    int status = resolveUnits(hosts, &units) && eachUnitOnce(hosts, units) ? kExitComplete : kExitUsage;
    for (UnitReport& unit : units)
        unit.sha256 = view.image.sha256;
    const bool serial = !hosts.empty() && !hosts.front().serialPort.empty();
    if (status == kExitComplete && !askForAll(ctx, units.size(), serial, options, view)) {
        say(consoleMessage(TextFleetNoneChanged));
        status = kExitNotChanged;
    }
    // Only now, after the Yes: a declined fleet keeps an old report as it was.
    if (status == kExitComplete && !options.reportPath.empty()) {
        report = std::fopen(options.reportPath.c_str(), "w");
        if (report == nullptr) {
            std::fprintf(stderr, "kt5cufirm: --report %s: %s\n", options.reportPath.c_str(), std::strerror(errno));
            say(consoleMessage(TextFleetNoneChanged));
            status = kExitUsage;
        }
    }
    if (status == kExitComplete)
        runUnits(ctx, &units, options, view, trace, report);
    if (report != nullptr)
        std::fclose(report);
    stopSocketLibrary();
    return status == kExitComplete ? summarize(units) : status;
}
