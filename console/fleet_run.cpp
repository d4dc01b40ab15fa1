// The fleet's run: one question for the whole list, then each unit in turn
// with the whole update, its result into the summary and the report.
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "console_platform.h"
#include "console_texts.h"
#include "console_view.h"
#include "fleet.h"
#include "command_line.h"
#include "image_file.h"
#include "interrupts.h"
#include "kept_setup.h"
#include "sockets.h"
#include "texts.h"
#include "xport_setup.h"

namespace {

// Forwards to the unit's console view and notes what the summary needs.
class UnitView : public CommandView {
public:
    UnitView(CommandView& inner, const UpdateContext& ctx) : inner_(inner), ctx_(ctx) {}

    void showStatusText(const std::string& text) override { inner_.showStatusText(text); }
    void showDeviceVersion(const std::string& text) override
    {
        versionBefore = versionNumber(ctx_.deviceVersion[kDeviceVersionMajor], ctx_.deviceVersion[kDeviceVersionMinor]);
        inner_.showDeviceVersion(text);
    }
    void showImageVersion(const std::string& text) override { inner_.showImageVersion(text); }
    bool askConfirmation(const std::string& question) override { return inner_.askConfirmation(question); }
    void showErrorBox(const std::string& caption, const std::string& message) override
    {
        errorShown = true;
        inner_.showErrorBox(caption, message);
    }
    void showErrorFor(const std::string& caption, const std::string& message, const UpdateContext& ctx,
                      int number) override
    {
        errorShown = true;
        inner_.showErrorFor(caption, message, ctx, number);
    }
    void enableControls(bool enable) override { inner_.enableControls(enable); }
    void setProgressRange(uint32_t maximum) override { inner_.setProgressRange(maximum); }
    void stepProgress(uint32_t step) override { inner_.stepProgress(step); }
    void resetProgress() override { inner_.resetProgress(); }
    void showFinalText(const std::string& text, bool succeeded) override
    {
        if (ctx_.leftAlone == 0) {
            inner_.showFinalText(text, succeeded);
            return;
        }
        inner_.showStatusText(consoleText(ConsoleText::FleetLeftAlone,
                                          {versionText(ctx_.deviceVersion[kDeviceVersionMajor],
                                                       ctx_.deviceVersion[kDeviceVersionMinor]),
                                           versionText(ctx_.imageMajor, ctx_.imageMinor)}));
    }

    std::string versionBefore;
    bool errorShown = false;

private:
    CommandView& inner_;
    const UpdateContext& ctx_;
};

void say(std::FILE* stream, const std::string& prefix, const std::string& text)
{
    std::fflush(stdout);
    sayLine(stream, prefix + text);
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
    ctx->hooks = shared.hooks;
}

// One unit's whole run, its lines prefixed by its label.
void runUnit(UpdateContext* ctx, UnitReport* unit, const ConsoleOptions& viewOptions)
{
    const std::string prefix = "[" + unit->label + "] ";
    const KeptSetupState kept = prepareKeptSetup(unit->address);
    if (kept == KeptSetupState::Unreadable) {
        say(stderr, prefix, consoleText(ConsoleText::KeptRecordUnreadable, {keptSetupPath()}));
        unit->result = UnitResult::FailedBeforeErase;
        return;
    }
    if (kept == KeptSetupState::Kept)
        say(stderr, prefix,
            consoleText(ConsoleText::KeptRecordFound, {unit->address, std::to_string(keptSetupByte())}));

    ConsoleOptions options = viewOptions;
    options.assumeYes = true;  // the whole list was asked about
    options.linePrefix = prefix;
    options.address = unit->host == unit->address ? unit->address : unit->host + " (" + unit->address + ")";
    ConsoleView console(options, stdout, stderr, readAnswerLine);
    UnitView view(console, *ctx);
    RunHooks hooks = ctx->hooks != nullptr ? *ctx->hooks : RunHooks{};
    hooks.settle = ConsoleView::settleHook;
    hooks.settleContext = &console;
    hooks.keeper = keptSetupKeeper();
    const RunHooks* fleetHooks = ctx->hooks;
    ctx->hooks = &hooks;
    RunOutcome outcome;
    if (!startSocketLibrary(&ctx->wsaData)) {
        ctx->errorCode = ErrSocketInit;
        showError(view, *ctx, 0);
    } else {
        prepareInterruptMessages(*ctx, options.interactive || options.progressBar, keptSetupRemains());
        runInConsoleWindow(ctx, view);
        outcome = outcomeOf(*ctx);
        outcome.xportNotPutBack = outcome.xportNotPutBack || keptSetupRemains();
    }
    ctx->hooks = fleetHooks;
    UnitRun run;
    run.xportNotPutBack = outcome.xportNotPutBack;
    run.erased = outcome.erased;
    run.written = outcome.written;
    run.leftAlone = ctx->leftAlone != 0;
    run.errorShown = view.errorShown;
    unit->result = unitResult(run);
    unit->versionBefore = view.versionBefore;
    if (run.written)
        unit->versionAfter =
            versionNumber(ctx->deviceVersion[kDeviceVersionMajor], ctx->deviceVersion[kDeviceVersionMinor]);
    else if (!run.erased)
        unit->versionAfter = unit->versionBefore;
    if (unitStatus(unit->result) != 0)
        say(stderr, prefix, stateLine(outcome, unit->address));
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

void writeReport(std::FILE* report, const UnitReport& unit)
{
    if (report == nullptr)
        return;
    std::fprintf(report, "%s\n", reportLine(unit).c_str());
    std::fflush(report);
}

} // namespace

int runFleet(UpdateContext* ctx, const std::vector<FleetHost>& hosts, const FleetOptions& options,
             const ConsoleOptions& view)
{
    const UpdateContext shared = *ctx;
    startSocketLibrary(&ctx->wsaData);  // for the look-ups; each unit's run starts and ends its own use
    std::vector<UnitReport> units;
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
            stopSocketLibrary();
            return kExitUsage;
        }
        units.push_back(unit);
    }
    std::FILE* report = nullptr;
    if (!options.reportPath.empty()) {
        report = std::fopen(options.reportPath.c_str(), "w");
        if (report == nullptr) {
            std::fprintf(stderr, "kt5cufirm: --report %s: %s\n", options.reportPath.c_str(), std::strerror(errno));
            stopSocketLibrary();
            return kExitUsage;
        }
    }

    ConsoleOptions askOptions;
    askOptions.assumeYes = options.assumeYes;
    askOptions.interactive = view.interactive;
    ConsoleView asker(askOptions, stdout, stderr, readAnswerLine);
    std::string imageVersion;
    const bool go = readImage(ctx, asker, &imageVersion) &&
                    asker.askConfirmation(consoleText(ConsoleText::FleetQuestion,
                                                      {std::to_string(units.size()), imageVersion}));
    if (!go) {
        if (report != nullptr)
            std::fclose(report);
        stopSocketLibrary();
        say(stderr, "", consoleText(ConsoleText::FleetNoneChanged));
        return kExitNotChanged;
    }

    size_t next = 0;
    for (; next < units.size(); ++next) {
        deliverHeldInterrupts();
        if (interruptsSeen() > 0)
            break;
        if (next > 0 && options.stopOnError && !unitEndedWell(units[next - 1].result))
            break;
        prepareUnit(ctx, shared, units[next], options.onlyIfNewer);
        const auto started = std::chrono::steady_clock::now();
        runUnit(ctx, &units[next], view);
        units[next].seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        writeReport(report, units[next]);
    }
    for (; next < units.size(); ++next)
        writeReport(report, units[next]);  // not attempted
    if (report != nullptr)
        std::fclose(report);
    stopSocketLibrary();

    std::fflush(stderr);
    std::fputs(summaryTable(units).c_str(), stdout);
    std::fflush(stdout);
    const int status = fleetStatus(units);
    if (status != kExitComplete) {
        size_t notWell = 0;
        for (const UnitReport& unit : units)
            notWell += unitEndedWell(unit.result) ? 0 : 1;
        say(stderr, "", consoleText(ConsoleText::FleetNotAllWell, {std::to_string(notWell), std::to_string(units.size())}));
    }
    return status;
}
