// A fleet's results: each unit's result and exit status, the summary table
// and the JSON lines report.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fleet_hosts.h"

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
    std::string label;          // host, with ":port" when the port is not the default
    std::string host;
    std::string address;        // dotted, as resolved; empty when not resolved
    int tcpPort = kDefaultTcpPort;
    std::string port;           // a KT-58CU unit: its serial port as given; empty for a KT-58NET unit
    int com = 0;                // ... given as --com N
    std::string stableName;     // ... the USB adapter's stable name, when known
    std::string serialNumber;   // ... the adapter's serial number, when known
    std::string versionBefore;  // "1.00"; empty when not known
    std::string versionAfter;
    UnitResult result = UnitResult::NotAttempted;
    double seconds = 0;
    std::string sha256;         // the image's digest
};

std::string unitLabel(const FleetHost& host);
// A KT-58CU unit's label: its port, and the adapter's serial number when known.
std::string serialUnitLabel(const std::string& port, const std::string& serialNumber);
// "1.02": major and minor as the version display shows them.
std::string versionNumber(uint8_t major, uint8_t minor);

// The worst of the units' exit statuses, in the order 4, 3, 1, 0.
int fleetStatus(const std::vector<UnitReport>& units);
// The summary table: a heading, then one row per unit.
std::string summaryTable(const std::vector<UnitReport>& units);
// One unit as one JSON object, without a line end.
std::string reportLine(const UnitReport& unit);
