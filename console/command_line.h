// kt5cufirm's command line: the options as a plain record, and the parser
// that fills it. The parser only reads its arguments: it touches no file,
// device or network, so it can be run on any input.
#pragma once

#include <optional>
#include <string>
#include <vector>

enum class CommandAction {
    Run,        // an update, a --check or a --restore-xport
    Help,       // --help, -h
    Version,    // --version, -V
    ListPorts,  // --list-ports
    Usage,      // a usage error: `error` says what, exit status 2
};

struct CommandLine {
    CommandAction action = CommandAction::Run;
    bool network = false;         // --method network
    int com = 1;                  // --com N
    bool comGiven = false;
    std::string device;           // --device PATH (POSIX)
    std::string ip;               // --ip ADDR: a dotted IPv4 address or a host name, as typed
    std::vector<std::string> ips; // every --ip, in order: more than one makes a fleet
    std::string hostsFile;        // --hosts FILE: a fleet's units
    bool ifNewer = false;         // --if-newer
    std::string reportFile;       // --report FILE
    bool stopOnError = false;     // --stop-on-error (--keep-going is the default)
    bool fleet = false;           // several --ip, --hosts, --if-newer or --report: units one after another
    int tcpPort = 10001;          // --tcp-port N
    std::string image;            // --image PATH; empty: the one beside the program
    bool yes = false;             // --yes, -y
    bool quiet = false;           // --quiet, -q
    bool check = false;           // --check
    bool restoreXport = false;    // --restore-xport
    bool trace = false;           // --trace[=FILE]
    std::string traceFile;        // empty: standard error
    std::string error;            // Usage: why
    std::vector<std::string> warnings;  // options that do not apply to the chosen method
};

// Parses argv[1..argc-1]. Never throws; a usage error comes back as Usage.
CommandLine parseCommandLine(int argc, const char* const* argv);

// The usage lines (short) and the whole --help text.
const char* usageText();
const char* helpText();

// A whole decimal number from `lowest` to `highest`, digits only (at most 9).
std::optional<int> parseNumber(const std::string& text, int lowest, int highest);

// Whether `text` is four decimal numbers 0-255 joined by dots, without
// leading zeros; `why` (when not null) says what is wrong otherwise.
bool isDottedIpv4(const std::string& text, std::string* why = nullptr);
// Whether `text` is a host name as DNS writes one: labels of letters, digits
// and hyphens, 1 to 63 characters, not starting or ending with a hyphen,
// 253 characters at most.
bool isHostName(const std::string& text);
