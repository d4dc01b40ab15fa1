#include "console_run.h"

#include "console_messages.h"
#include "console_window.h"
#include "exchange_trace.h"
#include "interrupts.h"
#include "kept_setup.h"
#include "run_hooks.h"
#include "sockets.h"
#include "terminal.h"
#include "trace_log.h"
#include "xport_setup.h"

namespace {

// The kept XPort setup of a network run's address, said on the view.
RunStart lookForKeptSetup(const UpdateContext& ctx, const std::string& address, ConsoleView& view)
{
    const KeptSetupState kept = prepareKeptSetup(address);
    if (kept == KeptSetupState::Unreadable) {
        view.sayOnError(consoleMessage(TextKeptRecordUnreadable, {keptSetupPath(address)}));
        return RunStart::KeptUnreadable;
    }
    if (ctx.xportRepair != 0 && kept != KeptSetupState::Kept) {
        view.sayOnError(consoleMessage(TextNoKeptRecord, {address, keptSetupFolder(address)}));
        return RunStart::NothingToRestore;
    }
    if (ctx.xportRepair == 0 && kept == KeptSetupState::Kept)
        view.sayOnError(consoleMessage(TextKeptRecordFound, {address, std::to_string(keptSetupByte(address))}));
    return RunStart::Ran;
}

// The socket library, the interrupts and the window loop; the outcome.
RunOutcome runInWindow(UpdateContext* ctx, const ConsoleOptions& options, ConsoleView& view)
{
    if (!startSocketLibrary(&ctx->wsaData)) {
        ctx->errorCode = ErrSocketInit;
        showError(view, *ctx, 0);
        return RunOutcome{};
    }
    prepareInterruptMessages(*ctx, options.interactive || options.progressBar, keptSetupRemains(ctx->ipText));
    runInConsoleWindow(ctx, view);
    RunOutcome outcome = outcomeOf(*ctx);
    // A record still kept (by this run or an interrupted one) means the XPort
    // may not hold its true setup.
    outcome.xportNotPutBack = outcome.xportNotPutBack || keptSetupRemains(ctx->ipText);
    return outcome;
}

} // namespace

RunResult runOne(UpdateContext* ctx, const ConsoleOptions& options, TraceLog* trace)
{
    RunResult result;
    ConsoleView view(options, stdout, stderr, readAnswerLine, ctx);
    const bool network = ctx->method == Network || ctx->xportRepair != 0;
    RunHooks hooks;
    if (network) {
        result.start = lookForKeptSetup(*ctx, ctx->ipText, view);
        if (result.start != RunStart::Ran)
            return result;
        hooks.keeper = keptSetupKeeper();
    }
    if (trace != nullptr) {
        hooks.trace = TraceLog::hook;
        hooks.traceContext = trace;
    }
    hooks.settle = ConsoleView::settleHook;
    hooks.settleContext = &view;
    // Progress steps go straight to the view, which keeps the latest count.
    hooks.progressStep = ConsoleView::progressHook;
    hooks.progressContext = &view;
    ctx->hooks = &hooks;
    result.outcome = runInWindow(ctx, options, view);
    ctx->hooks = nullptr;
    result.errorShown = view.errorShown();
    result.deviceVersion = view.deviceVersion();
    return result;
}
