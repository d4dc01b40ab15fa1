#include "console_run.h"

#include "console_messages.h"
#include "console_window.h"
#include "exchange_trace.h"
#include "interrupts.h"
#include "kept_setup.h"
#include "run_hooks.h"
#include "sockets.h"
#include "step_log.h"
#include "terminal.h"
#include "trace_log.h"
#include "xport_setup.h"

namespace {

// What a network run's keeper found for its address, said on the view.
RunStart sayWhatWasFound(const UpdateContext& ctx, const KeptSetup& kept, KeptSetupFound found, ConsoleView& view)
{
    switch (found) {
    case KeptSetupFound::Unreadable:
        view.sayOnError(consoleMessage(TextKeptRecordUnusable, {kept.path(), kept.reason(), kept.address()}));
        return RunStart::KeptUnusable;
    case KeptSetupFound::Locked:
        view.sayOnError(kept.holder() > 0
                            ? consoleMessage(TextAddressBusy, {std::to_string(kept.holder()), kept.address()})
                            : consoleMessage(TextAddressBusyUnknown, {kept.address()}));
        return RunStart::Locked;
    case KeptSetupFound::NoPlace:
        view.sayOnError(consoleMessage(TextKeepFailed, {kept.path().empty() ? kept.folder() : kept.path(),
                                                        kept.reason()}));
        return RunStart::CannotKeep;
    case KeptSetupFound::None:
    case KeptSetupFound::Kept:
        break;
    }
    if (ctx.xportRepair != 0 && found != KeptSetupFound::Kept) {
        view.sayOnError(consoleMessage(TextNoKeptRecord, {kept.address(), kept.folder()}));
        return RunStart::NothingToRestore;
    }
    if (ctx.xportRepair == 0 && found == KeptSetupFound::Kept)
        view.sayOnError(consoleMessage(TextKeptRecordFound, {kept.address(), std::to_string(kept.keptByte())}));
    return RunStart::Ran;
}

// The keeper's words during the run (worker thread).
void sayKeeperNote(void* view, KeptSetupNote note, const std::string& where, const std::string& why)
{
    static_cast<ConsoleView*>(view)->sayOnError(note == KeptSetupNote::KeepFailed
                                                    ? consoleMessage(TextKeepFailed, {where, why})
                                                    : consoleMessage(TextAlreadySwitched, {where}));
}

// The socket library, the interrupts and the window loop; the outcome.
RunOutcome runInWindow(UpdateContext* ctx, const ConsoleOptions& options, ConsoleView& view, const KeptSetup& kept)
{
    if (!startSocketLibrary(&ctx->wsaData)) {
        ctx->errorCode = ErrSocketInit;
        showError(view, *ctx, 0);
        return RunOutcome{};
    }
    // A question or a bar may stand on the terminal's line, where standard error goes too.
    prepareInterruptMessages(*ctx, options.progressBar || (options.interactive && isTerminal(stderr)),
                             kept.remains());
    runInConsoleWindow(ctx, view);
    RunOutcome outcome = outcomeOf(*ctx);
    // A record still kept (by this run or an interrupted one) means the XPort
    // may not hold its true setup.
    outcome.xportNotPutBack = outcome.xportNotPutBack || kept.remains();
    return outcome;
}

} // namespace

RunResult runOne(UpdateContext* ctx, const ConsoleOptions& options, TraceLog* trace)
{
    RunResult result;
    ConsoleView view(options, stdout, stderr, readAnswerLine, ctx);
    const bool network = ctx->method == Network || ctx->xportRepair != 0;
    KeptSetup kept;  // this run's hold on its address, let go when the run ends
    RunHooks hooks;
    if (network) {
        result.start = sayWhatWasFound(*ctx, kept, kept.open(ctx->ipText), view);
        // An unusable record: the XPort may hold the switched setup.
        result.outcome.xportNotPutBack = result.start == RunStart::KeptUnusable;
        result.outcome.repair = ctx->xportRepair != 0;
        if (result.start != RunStart::Ran)
            return result;
        hooks.keeper = kept.keeper();
        hooks.keeperContext = &kept;
        kept.setNotice(sayKeeperNote, &view);
    }
    // The steps see every exchange and settling wait first, then hand them on.
    // Its warnings are not errors: --quiet leaves them out.
    StepLog steps([&view, &options](const std::string& text) { if (!options.quiet) view.sayOnError(text); },
                  options.verbose, trace,
                  [&view](int milliseconds) { view.showSettling(milliseconds); });
    if (!network)
        steps.watchSerialLine(ctx->comDevice);
    hooks.trace = StepLog::traceHook;
    hooks.traceContext = &steps;
    hooks.settle = StepLog::settleHook;
    hooks.settleContext = &steps;
    // Progress steps go straight to the view, which keeps the latest count.
    hooks.progressStep = ConsoleView::progressHook;
    hooks.progressContext = &view;
    ctx->hooks = &hooks;
    result.outcome = runInWindow(ctx, options, view, kept);
    ctx->hooks = nullptr;
    result.outcome.cause = view.cause();
    result.errorShown = view.errorShown();
    result.checkDone = view.checkDone();
    result.deviceVersion = view.deviceVersion();
    return result;
}
