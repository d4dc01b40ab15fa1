// Many KT-58NET units updated one after another by one command: the list of
// units, each unit's result, the summary table and the JSON lines report.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "update_context.h"

struct ConsoleOptions;

// One unit as it was given.
struct FleetHost {
    std::string host;   // a dotted IPv4 address or a host name, as written
    int tcpPort = 10001;
    int line = 0;       // its line in the hosts file; 0 when given by --ip
};

// The hosts file's text: one `address[:tcp-port]` a line, `#` to the line's
// end a comment, blank lines ignored; `defaultTcpPort` where a line names
// none. false with *error naming the file and the line.
bool parseHostsText(const std::string& text, const std::string& fileName, int defaultTcpPort,
                    std::vector<FleetHost>* hosts, std::string* error);
// The same from the file itself; an unreadable or empty list is an error too.
bool readHostsFile(const std::string& path, int defaultTcpPort, std::vector<FleetHost>* hosts, std::string* error);

enum class UnitResult {
    Complete,
    Unchanged,          // declined or stopped before the erase, without an error
    FailedBeforeErase,
    ErasedIncomplete,
    XportNotRestored,
    Skipped,            // --if-newer: the device had the image's version or a newer one
    NotAttempted,
};

// The result's words in the summary and the report ("complete", "failed before the erase", ...).
const char* resultName(UnitResult result);
// A unit's exit status: 0 complete or skipped, 1 unchanged, failed before the
// erase or not attempted, 3 erased but incomplete, 4 XPort not restored.
int unitStatus(UnitResult result);
// Whether a unit ended as asked (complete or skipped): --stop-on-error stops at any other.
bool unitEndedWell(UnitResult result);

// What the run of one unit left, for its result.
struct UnitRun {
    bool xportNotPutBack = false;
    bool erased = false;
    bool written = false;
    bool leftAlone = false;
    bool errorShown = false;
};
UnitResult unitResult(const UnitRun& run);

// One unit in the summary and the report.
struct UnitReport {
    std::string label;          // host, with ":port" when the port is not 10001
    std::string host;
    std::string address;        // dotted, as resolved; empty when not resolved
    int tcpPort = 10001;
    std::string versionBefore;  // "1.00"; empty when not known
    std::string versionAfter;
    UnitResult result = UnitResult::NotAttempted;
    double seconds = 0;
};

std::string unitLabel(const FleetHost& host);
// "1.02": major and minor as the version display shows them.
std::string versionNumber(uint8_t major, uint8_t minor);

// The worst of the units' exit statuses, in the order 4, 3, 1, 0.
int fleetStatus(const std::vector<UnitReport>& units);
// The summary table: a heading, then one row per unit.
std::string summaryTable(const std::vector<UnitReport>& units);
// One unit as one JSON object, without a line end.
std::string reportLine(const UnitReport& unit);

struct FleetOptions {
    bool assumeYes = false;    // --yes: no question for the whole list
    bool onlyIfNewer = false;  // --if-newer
    bool stopOnError = false;  // --stop-on-error (the default is to keep going)
    std::string reportPath;    // --report FILE; empty for none
};

// Updates the units one after another, each with the whole run (switch and
// restore included) and its lines prefixed by its label, after one question
// for the whole list. `ctx` holds the choices every unit shares (the image);
// each unit starts from a fresh record with them applied, and its console
// view from `view` (quiet, progress bar) with its prefix. Host names are
// looked up before anything is sent. Prints the summary, writes the report
// as each unit ends and returns the exit status.
int runFleet(UpdateContext* ctx, const std::vector<FleetHost>& hosts, const FleetOptions& options,
             const ConsoleOptions& view);
