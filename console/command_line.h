// kt5cufirm's command line: the options as a plain record, the one table
// that declares every option, and the parser that fills the record from it.
// The parser only reads its arguments: it touches no file, device or
// network, so it can be run on any input.
#pragma once

#include <string>
#include <vector>

#include "update_context.h"

// The most units a fleet runs at once.
inline constexpr int kMostParallel = 32;

enum class CommandAction {
    Update,     // one device, serial or network
    Check,      // --check: the image, and the device when one is named
    Restore,    // --restore-xport
    Fleet,      // several --ip, --device or --com, --hosts, --if-newer or --report: many units
    Discover,   // --discover: the XPorts that answer the query
    ListPorts,  // --list-ports
    Help,       // --help, -h
    Version,    // --version, -V
    Usage,      // a usage error: `error` says what, exit status 2
};

struct CommandLine {
    CommandAction action = CommandAction::Update;
    bool network = false;         // --method network
    int com = 1;                  // --com N
    bool comGiven = false;
    std::vector<int> coms;        // every --com, in order: more than one makes a fleet
    std::string device;           // --device PATH (POSIX)
    std::vector<std::string> devices; // every --device, in order: more than one makes a fleet
    bool serialFleet = false;     // a fleet of KT-58CU units, one on each --device or --com
    std::string ip;               // --ip ADDR: a dotted IPv4 address or a host name, as typed
    std::vector<std::string> ips; // every --ip, in order: more than one makes a fleet
    std::string hostsFile;        // --hosts FILE: a fleet's units
    bool ifNewer = false;         // --if-newer
    std::string reportFile;       // --report FILE
    bool stopOnError = false;     // --stop-on-error (--keep-going is the default)
    int parallel = 1;             // --parallel N: a fleet's units at once
    std::string logFolder;        // --log-dir DIR: a log per unit
    std::string retryReport;      // --retry REPORT: the units it shows not complete
    std::vector<std::string> discoverRanges; // --discover [RANGE...]
    std::string interfaceName;    // --interface NAME
    int tcpPort = kDefaultTcpPort; // --tcp-port N
    std::string image;            // --image PATH; empty: the one beside the program
    std::string expectSha256;     // --expect-sha256 HEX, lowercase; empty: any image
    bool yes = false;             // --yes, -y
    bool quiet = false;           // --quiet, -q
    bool check = false;           // --check
    bool restoreXport = false;    // --restore-xport
    bool trace = false;           // --trace[=FILE]
    std::string traceFile;        // empty: standard error
    bool verbose = false;         // --verbose, -v: each step with its time
    std::vector<std::string> arguments;  // as typed, without the program's name (a trace file's header)
    std::string error;            // Usage: why
    std::vector<std::string> warnings;  // options that do not apply to the chosen run
};

// Where an option applies. A run is one of serial, network, fleet and
// restore, and a check besides; an option given where it does not apply is
// ignored with a warning.
enum OptionMode : unsigned {
    ModeSerial = 1u << 0,   // one KT-58CU over a serial port
    ModeNetwork = 1u << 1,  // one KT-58NET
    ModeFleet = 1u << 2,    // KT-58NET units one after another
    ModeRestore = 1u << 3,  // --restore-xport
    ModeCheck = 1u << 4,    // --check (with either method)
    ModeList = 1u << 5,     // --list-ports
    ModeInfo = 1u << 6,     // --help, --version
    ModeDiscover = 1u << 7, // --discover
};

enum class OptionKind {
    Flag,           // no value
    Value,          // one value
    OptionalValue,  // --opt or --opt=VALUE
    OptionalValues, // --opt alone, or with the values that follow it
    Values,         // one value, given any number of times
};

struct OptionSpec {
    std::string names;  // as CLI11 takes them: "-y,--yes"
    OptionKind kind;
    // Checks the values typed and sets them in the record: empty, else the
    // usage error. A flag gets no values.
    std::string (*take)(const std::vector<std::string>& values, CommandLine* line);
    unsigned modes;     // OptionMode bits
    // --help's lines: "SYNOPSIS\tdescription", a line on its own "\tmore";
    // `fleetHelp` the same in the fleet's part.
    std::string help, fleetHelp;
    // The warning where it does not apply; empty: "NAME does not apply to ...".
    std::string elsewhere;
    // --help's lines in Japanese (UTF-8), as `help` and `fleetHelp`; empty: the English.
    std::string helpJapanese = {}, fleetHelpJapanese = {};
    // The model the option names: ModeSerial (a port) or ModeNetwork (an
    // address); 0: either. Both at once, or against --method, is a usage error.
    unsigned model = 0;
};

// Whether a serial run must name its port (--device or --com): on POSIX
// there is no port to assume; on Windows COM1 is the default. Platform code.
bool serialRunNeedsAPort();

// Every option of kt5cufirm, in --help's order.
const std::vector<OptionSpec>& optionTable();

// Parses argv[1..argc-1]. Never throws; a usage error comes back as Usage.
CommandLine parseCommandLine(int argc, const char* const* argv);

// The usage lines (short) and the whole --help text, in English or (UTF-8) Japanese.
const char* usageText();
std::string helpText(bool japanese = false);

// The option of the table nearest to `typed` (an unknown option, without a
// value) by edit distance; empty when none is near.
std::string nearestOption(const std::string& typed);
