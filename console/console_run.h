// One run of the update on the console: a single device, a --check with a
// device, a --restore-xport, or one unit of a fleet.
#pragma once

#include <string>

#include "console_view.h"
#include "run_outcome.h"
#include "update_context.h"

class TraceLog;

enum class RunStart {
    Ran,               // the run took place (a failure to start included)
    KeptUnusable,      // a kept XPort setup cannot be read or used: nothing was sent, the XPort may be switched
    Locked,            // another run works on the address: nothing was sent
    CannotKeep,        // no place to keep the XPort's setup or to lock the address: nothing was sent
    NothingToRestore,  // --restore-xport without a kept setup: nothing was sent
};

// What one run left, for the exit status, the summary and the report.
struct RunResult {
    RunStart start = RunStart::Ran;
    RunOutcome outcome;
    bool errorShown = false;
    bool checkDone = false;     // a --check identified the device and showed both versions, no error
    std::string deviceVersion;  // the device's version line as identified; empty when not
};

// The whole run of the prepared record `ctx` with a console view made from
// `options` (its lines prefixed by options.linePrefix): the kept XPort setup
// looked up and its address locked for a network run, the trace (when `trace` is not null), the
// settling countdown and the keeper hooked in for the run alone, the socket
// library, the interrupt messages, the window loop. A kept setup that
// remains counts as an XPort not put back.
RunResult runOne(UpdateContext* ctx, const ConsoleOptions& options, TraceLog* trace);
