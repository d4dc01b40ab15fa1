// The fleet's run: many KT-58NET units updated by one command, one after
// another or up to --parallel at once.
#pragma once

#include <string>
#include <vector>

#include "fleet_hosts.h"
#include "update_context.h"

struct ConsoleOptions;
class TraceLog;

struct FleetOptions {
    bool assumeYes = false;    // --yes: no question for the whole list
    bool onlyIfNewer = false;  // --if-newer
    bool stopOnError = false;  // --stop-on-error (the default is to keep going)
    std::string reportPath;    // --report FILE; empty for none
    int parallel = 1;          // --parallel N: units at once
    std::string logFolder;     // --log-dir DIR: a log per unit; empty for none
};

// Updates the units, up to options.parallel at once (each on a thread of
// its own with its own record, window side and worker), each with the whole run (switch and
// restore included) and its lines prefixed by its label, after one question
// for the whole list. `ctx` holds the choices every unit shares (the image);
// each unit starts from a fresh record with them applied, and its console
// view from `view` (quiet, progress bar) with its prefix; `trace`, when not
// null, logs every unit's exchanges. Host names are looked up before
// anything is sent. Prints the summary, writes the report as each unit ends
// and returns the exit status.
int runFleet(UpdateContext* ctx, const std::vector<FleetHost>& hosts, const FleetOptions& options,
             const ConsoleOptions& view, TraceLog* trace);
