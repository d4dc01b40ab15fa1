#include "run_outcome.h"

#include <cstdio>

#include "console_messages.h"

RunOutcome outcomeOf(const UpdateContext& ctx)
{
    RunOutcome outcome;
    outcome.xportNotPutBack = ctx.xportChanged != 0;
    outcome.erased = ctx.eraseSent != 0;
    outcome.written = ctx.succeeded != 0;
    outcome.repair = ctx.xportRepair != 0;
    return outcome;
}

int exitStatus(const RunOutcome& outcome)
{
    if (outcome.xportNotPutBack)
        return kExitXportNotPutBack;
    if (outcome.written)
        return kExitComplete;
    if (outcome.repair)
        return kExitComplete;
    return outcome.erased ? kExitErased : kExitNotChanged;
}

std::string stateLine(const RunOutcome& outcome, const std::string& address)
{
    const std::string xport = outcome.xportNotPutBack ? consoleMessage(TextXportNotPutBack, {address})
                              : outcome.repair          ? consoleMessage(TextXportPutBack)
                                                        : std::string();
    if (outcome.repair)
        return "kt5cufirm: " + sentence({xport});
    const TextId device = outcome.written  ? TextDeviceUpdated
                          : outcome.erased ? TextDeviceErased
                                           : TextDeviceUnchanged;
    const std::string cause = outcome.cause.empty() ? std::string() : consoleMessage(TextStateCause, {outcome.cause});
    return "kt5cufirm: " + sentence({consoleMessage(device), xport, cause});
}

int finishRun(const RunOutcome& outcome, const std::string& address)
{
    const int status = exitStatus(outcome);
    if (status != kExitComplete) {
        std::fflush(stdout);
        sayLine(stderr, stateLine(outcome, address));
    }
    return status;
}
