#include "command_line.h"

#include <CLI/CLI.hpp>

#include "host_address.h"

namespace {

constexpr const char* kUsage =
    "Usage: kt5cufirm [--method serial|network] [--com N] [--device PATH]\n"
    "                 [--ip ADDR] [--tcp-port N] [--image PATH] [-y] [-q]\n"
    "                 [--check] [--trace[=FILE]]\n"
    "       kt5cufirm [--ip ADDR]... [--hosts FILE] [--tcp-port N] [--if-newer]\n"
    "                 [--report FILE] [--keep-going | --stop-on-error] [--image PATH]\n"
    "                 [-y] [-q] [--trace[=FILE]] [--parallel N] [--log-dir DIR]\n"
    "       kt5cufirm --device PATH --device PATH... (or --com N --com N...) [fleet options]\n"
    "       kt5cufirm --retry REPORT [fleet options]\n"
    "       kt5cufirm --restore-xport --ip ADDR\n"
    "       kt5cufirm --discover [RANGE...] [--hosts FILE] [--interface NAME] [-q] [--report FILE]\n"
    "       kt5cufirm --list-ports | --help | --version\n";

constexpr const char* kHelpHead =
    "Replaces the firmware of a KT-58 interface with the image kt58netcu.hex.\n"
    "Options take their value as --opt VALUE or --opt=VALUE.\n"
    "\n";

constexpr const char* kFleetHead = "\nMany KT-58NET units, one after another (a fleet):\n";

constexpr const char* kHelpTail =
    "A fleet asks once for the whole list (unless --yes), prefixes each unit's\n"
    "lines with [ADDR] and ends with a summary table on standard output.\n"
    "\n"
    "The image is checked before any device or XPort is touched. Progress goes to\n"
    "standard error: a bar on a terminal, else a line at every 10 %.\n"
    "Without a terminal and without --yes the answer is No and nothing is erased.\n"
    "Ctrl-C (SIGINT, SIGTERM, SIGHUP) stops after the current record and puts the\n"
    "XPort's setup back first; a third one ends the program at once.\n"
    "\n"
    "Exit status:\n"
    "  0  the update was complete, and a switched XPort was put back (--check: the\n"
    "     image, and the device when given, were checked)\n"
    "  1  the device was not changed: refused, declined, cancelled or failed\n"
    "     before the erase (also a bad image)\n"
    "  2  usage error (nothing was sent)\n"
    "  3  the device was erased but not completely written and verified:\n"
    "     run the update again\n"
    "  4  the XPort's setup could not be put back (before 0, 1 and 3):\n"
    "     run kt5cufirm --restore-xport --ip ADDR\n"
    "A fleet exits with the worst of its units' statuses in the order 4, 3, 1, 0;\n"
    "a unit skipped by --if-newer counts 0, one not attempted 1.\n";

constexpr unsigned kOneDevice = ModeSerial | ModeNetwork | ModeCheck;
constexpr unsigned kRuns = kOneDevice | ModeFleet | ModeRestore;

using Values = std::vector<std::string>;

// A path of at most 259 characters into *path.
std::string takePath(const char* option, const Values& values, std::string* path)
{
    *path = values.front();
    if (path->empty() || path->size() >= 260)
        return std::string(option) + " takes a path of at most 259 characters";
    return {};
}

std::string takeFile(const char* option, const Values& values, std::string* file)
{
    *file = values.front();
    return file->empty() ? std::string(option) + " takes a file name" : std::string();
}

// Every option: its names, how its values are taken, where it applies, its
// help and, where it has one of its own, its warning. One row an option.
const std::vector<OptionSpec> kOptionTable = {
    {"--method", OptionKind::Value,
     [](const Values& v, CommandLine* line) -> std::string {
         if (v.front() != "serial" && v.front() != "network")
             return "--method is serial or network";
         line->network = v.front() == "network";
         return {};
     },
     kRuns, "--method serial\tKT-58CU on a serial port (the default)\n"
            "--method network\tKT-58NET behind its XPort, over TCP", "", ""},
    {"--com", OptionKind::Values,
     [](const Values& v, CommandLine* line) -> std::string {
         for (const std::string& text : v) {
             const auto number = parseNumber(text, 1, 99999999);
             if (!number)
                 return "--com takes a port number from 1";
             line->coms.push_back(*number);
         }
         line->com = line->coms.front();
         line->comGiven = true;
         return {};
     },
     ModeSerial | ModeCheck | ModeFleet, "--com N\tserial port COM N (on Linux /dev/ttyS<N-1>); default 1",
     "--com N, --device PATH\tgiven more than once: one KT-58CU unit on each port", ""},
    {"--device", OptionKind::Values,
     [](const Values& v, CommandLine* line) -> std::string {
         for (const std::string& path : v)
             if (std::string error = takePath("--device", {path}, &line->device); !error.empty())
                 return error;
         line->devices = v;
         line->device = v.front();
         return {};
     },
     ModeSerial | ModeCheck | ModeFleet,
     "--device PATH\tserial device to use instead, e.g. a USB adapter's stable\n"
     "\tname /dev/serial/by-id/usb-...-if00-port0 (see --list-ports)", "", ""},
    {"--ip", OptionKind::Values,
     [](const Values& v, CommandLine* line) -> std::string {
         for (const std::string& ip : v)
             if (const std::string problem = addressProblem(ip); !problem.empty())
                 return problem;
         line->ips = v;
         line->ip = v.front();
         return {};
     },
     ModeNetwork | ModeFleet | ModeRestore | ModeCheck,
     "--ip ADDR\tthe device's IPv4 address or host name (network),\n"
     "\te.g. 192.168.0.50; a name is resolved once, before the run",
     "--ip ADDR\tgiven more than once: one unit each", ""},
    {"--tcp-port", OptionKind::Value,
     [](const Values& v, CommandLine* line) -> std::string {
         const auto number = parseNumber(v.front(), 1, 65535);
         if (!number)
             return "--tcp-port takes a port number from 1 to 65535";
         line->tcpPort = *number;
         return {};
     },
     ModeNetwork | ModeFleet | ModeCheck, "--tcp-port N\tthe XPort's data port (network); default " + std::to_string(kDefaultTcpPort),
     "", ""},
    {"--image", OptionKind::Value,
     [](const Values& v, CommandLine* line) { return takePath("--image", v, &line->image); },
     kOneDevice | ModeFleet, "--image PATH\tthe image file; default kt58netcu.hex beside this program", "", ""},
    {"-y,--yes", OptionKind::Flag,
     [](const Values&, CommandLine* line) { line->yes = true; return std::string(); },
     ModeSerial | ModeNetwork | ModeFleet, "-y, --yes\tanswer Yes to the question before the device is erased", "",
     ""},
    {"-q,--quiet", OptionKind::Flag,
     [](const Values&, CommandLine* line) { line->quiet = true; return std::string(); }, kRuns | ModeDiscover,
     "-q, --quiet\tshow only errors and the final line", "", ""},
    {"--check", OptionKind::Flag,
     [](const Values&, CommandLine* line) { line->check = true; return std::string(); }, kOneDevice,
     "--check\tcheck the image (version, records, bytes, addresses) and\n"
     "\tstop; with --device, --com or --method network --ip\n"
     "\talso identify the device and release it, erasing nothing", "", ""},
    {"--trace", OptionKind::OptionalValue,
     [](const Values& v, CommandLine* line) {
         line->trace = true;
         line->traceFile = v.empty() ? std::string() : v.front();
         return std::string();
     },
     kRuns,
     "--trace[=FILE]\tlog every exchange with the device and the XPort, in hex\n"
     "\twith the milliseconds since the start, to standard error\n"
     "\tor FILE", "", ""},
    {"--list-ports", OptionKind::Flag,
     [](const Values&, CommandLine* line) {
         if (line->action == CommandAction::Update)
             line->action = CommandAction::ListPorts;
         return std::string();
     },
     ModeList, "--list-ports\tlist the serial ports of this machine and stop", "", ""},
    {"--restore-xport", OptionKind::Flag,
     [](const Values&, CommandLine* line) { line->restoreXport = true; return std::string(); }, ModeRestore,
     "--restore-xport\tonly put back the XPort setup kept by an interrupted run", "", ""},
    {"-h,--help", OptionKind::Flag,
     [](const Values&, CommandLine* line) { line->action = CommandAction::Help; return std::string(); },
     ModeInfo, "-h, --help\tthis text", "", ""},
    {"-V,--version", OptionKind::Flag,
     [](const Values&, CommandLine* line) {
         if (line->action != CommandAction::Help)
             line->action = CommandAction::Version;
         return std::string();
     },
     ModeInfo, "-V, --version\tthe program's version", "", ""},
    {"--hosts", OptionKind::Value,
     [](const Values& v, CommandLine* line) { return takeFile("--hosts", v, &line->hostsFile); },
     ModeFleet | ModeDiscover, "",
     "--hosts FILE\tthe units, one ADDR[:TCP-PORT] a line (host names too);\n"
     "\t'#' starts a comment; --tcp-port for those without one", ""},
    {"--if-newer", OptionKind::Flag,
     [](const Values&, CommandLine* line) { line->ifNewer = true; return std::string(); }, ModeFleet, "",
     "--if-newer\tleave alone a unit whose device has the image's version\n"
     "\tor a newer one (after the identify and the quit)", ""},
    {"--report", OptionKind::Value,
     [](const Values& v, CommandLine* line) { return takeFile("--report", v, &line->reportFile); },
     ModeFleet | ModeDiscover, "",
     "--report FILE\tone JSON object a line per unit, written as each ends", ""},
    {"--keep-going", OptionKind::Flag, [](const Values&, CommandLine*) { return std::string(); }, ModeFleet, "",
     "--keep-going\tgo on after a unit that failed (the default)",
     "--keep-going and --stop-on-error apply to a fleet only"},
    {"--stop-on-error", OptionKind::Flag,
     [](const Values&, CommandLine* line) { line->stopOnError = true; return std::string(); }, ModeFleet, "",
     "--stop-on-error\tstop at the first unit not complete or skipped",
     "--keep-going and --stop-on-error apply to a fleet only"},
    {"--parallel", OptionKind::Value,
     [](const Values& v, CommandLine* line) -> std::string {
         const auto number = parseNumber(v.front(), 1, kMostParallel);
         if (!number)
             return "--parallel takes a number of units from 1 to " + std::to_string(kMostParallel);
         line->parallel = *number;
         return {};
     },
     ModeFleet, "", "--parallel N\tupdate up to N units at once (1 to 32; default 1)", ""},
    {"--retry", OptionKind::Value,
     [](const Values& v, CommandLine* line) { return takeFile("--retry", v, &line->retryReport); }, ModeFleet, "",
     "--retry REPORT\trun again the units a --report file shows as not\n"
     "\tcomplete or skipped, reached as they were", ""},
    {"--discover", OptionKind::OptionalValues,
     [](const Values& v, CommandLine* line) -> std::string {
         // Given alone, the option's values hold one empty text.
         for (const std::string& range : v)
             if (!range.empty())
                 line->discoverRanges.push_back(range);
         line->action = CommandAction::Discover;
         return {};
     },
     ModeDiscover,
     "--discover [RANGE...]\tfind the XPorts that answer the query: by broadcast\n"
     "\tand at each address of RANGE (192.168.1.0/24 or one\n"
     "\taddress) or --hosts FILE; shows each one's address, reply\n"
     "\ttime and byte 21 (-q: the addresses only; --report FILE:\n"
     "\tJSON lines); changes nothing", "", ""},
    {"--interface", OptionKind::Value,
     [](const Values& v, CommandLine* line) { return takeFile("--interface", v, &line->interfaceName); },
     ModeDiscover, "--interface NAME\t--discover broadcasts on this interface only", "", ""},
    {"--log-dir", OptionKind::Value,
     [](const Values& v, CommandLine* line) { return takePath("--log-dir", v, &line->logFolder); }, ModeFleet, "",
     "--log-dir DIR\ta log per unit in DIR, its lines timed (and its trace)", ""},
};

// "--yes" of "-y,--yes".
std::string longName(const OptionSpec& option)
{
    return option.names.substr(option.names.rfind(',') + 1);
}

// The lines of a help field, each synopsis padded to the descriptions' column.
std::string helpLines(const std::string& field)
{
    std::string text;
    for (size_t at = 0; at < field.size();) {
        const size_t end = std::min(field.find('\n', at), field.size());
        const std::string line = field.substr(at, end - at);
        const size_t tab = line.find('\t');
        std::string synopsis = line.substr(0, tab);
        synopsis.resize(std::max<size_t>(synopsis.size() + 1, 19), ' ');
        text += "  " + synopsis + line.substr(tab + 1) + "\n";
        at = end + 1;
    }
    return text;
}

CommandLine usage(CommandLine line, std::string error)
{
    line.action = CommandAction::Usage;
    line.error = std::move(error);
    return line;
}

// Where the typed values of one option go: CLI11 fills them.
struct Typed {
    std::string value;
    Values values;
};

void declare(CLI::App& app, const OptionSpec& option, Typed* typed)
{
    switch (option.kind) {
    case OptionKind::Flag:
        app.add_flag(option.names);
        break;
    case OptionKind::Value:
        app.add_option(option.names, typed->value);
        break;
    case OptionKind::OptionalValue:
        app.add_option(option.names, typed->value)->expected(0, 1);
        break;
    case OptionKind::Values:
        app.add_option(option.names, typed->values)->allow_extra_args(false);
        break;
    case OptionKind::OptionalValues:
        app.add_option(option.names, typed->values)->expected(0, -1);
        break;
    }
}

// Each given option's values taken into the record, those of `modes` only;
// empty, else the first usage error.
std::string takeGiven(const CLI::App& app, std::vector<Typed>& typed, unsigned modes, CommandLine* line)
{
    const auto& table = optionTable();
    for (size_t i = 0; i < table.size(); ++i) {
        if ((table[i].modes & modes) == 0 || app.count(longName(table[i])) == 0)
            continue;
        Values values = typed[i].values;
        if (table[i].kind == OptionKind::Value || (table[i].kind == OptionKind::OptionalValue && !typed[i].value.empty()))
            values.push_back(typed[i].value);
        if (std::string error = table[i].take(values, line); !error.empty())
            return error;
    }
    return {};
}

// The run the options ask for: the action, and for a fleet or a restore the
// method; empty, else the usage error.
std::string chooseRun(const CLI::App& app, CommandLine* line)
{
    const auto given = [&app](const char* name) { return app.count(name) > 0; };
    if (line->stopOnError && given("--keep-going"))
        return "--keep-going and --stop-on-error do not go together";
    const bool serialPorts = !line->devices.empty() || !line->coms.empty();
    const bool serialUnits = line->devices.size() > 1 || line->coms.size() > 1 ||
                             (serialPorts && line->ips.empty() && !given("--hosts") &&
                              (given("--report") || line->ifNewer));
    if (line->action == CommandAction::Discover)
        return {};
    if (given("--retry") && (serialPorts || !line->ips.empty() || given("--hosts")))
        return "--retry takes its units from the report: not with --ip, --hosts, --device or --com";
    if (serialUnits || line->ips.size() > 1 || given("--hosts") || given("--report") || line->ifNewer ||
        given("--retry")) {
        if (serialUnits && (!line->ips.empty() || given("--hosts") || line->network))
            return "KT-58CU units (--device, --com) and KT-58NET units (--ip, --hosts) go in fleets of their own";
        if (serialUnits && !line->devices.empty() && !line->coms.empty())
            return "a fleet of KT-58CU units takes --device or --com, not both";
        if (!serialUnits && line->ips.empty() && !given("--hosts") && !given("--retry"))
            return "a fleet needs --ip ADDR or --hosts FILE";
        if (line->restoreXport)
            return "--restore-xport takes one --ip ADDR, not a fleet";
        if (line->check)
            return "--check takes one device, not a fleet";
        if (!serialUnits && given("--method") && !line->network)
            return "the units of a fleet are KT-58NET: --method network";
        line->serialFleet = serialUnits;
        line->action = CommandAction::Fleet;
    } else if (line->restoreXport) {
        if (line->check)
            return "--check and --restore-xport do not go together";
        if (!given("--ip"))
            return "--restore-xport needs --ip ADDR";
        if (given("--method") && !line->network)
            line->warnings.push_back("--method serial does not apply to --restore-xport");
        line->action = CommandAction::Restore;
    } else {
        if (line->network && !given("--ip"))
            return "--method network needs --ip ADDR";
        line->action = line->check ? CommandAction::Check : CommandAction::Update;
    }
    line->network = line->network || (line->action == CommandAction::Fleet && !line->serialFleet) ||
                    line->action == CommandAction::Restore;
    return {};
}

unsigned runModes(const CommandLine& line)
{
    switch (line.action) {
    case CommandAction::Discover:
        return ModeDiscover;
    case CommandAction::Fleet:
        return ModeFleet;
    case CommandAction::Restore:
        return ModeRestore;
    default:
        return (line.network ? ModeNetwork : ModeSerial) | (line.check ? ModeCheck : 0u);
    }
}

// Where an option applies, a fleet's kind of unit taken into account: one
// for a single method only does not apply to a fleet of the other's units.
unsigned fleetModes(const OptionSpec& option, const CommandLine& line)
{
    const bool serialOnly = (option.modes & (ModeSerial | ModeNetwork)) == ModeSerial;
    const bool networkOnly = (option.modes & (ModeSerial | ModeNetwork)) == ModeNetwork;
    if (line.action == CommandAction::Fleet && (line.serialFleet ? networkOnly : serialOnly))
        return option.modes & ~ModeFleet;
    return option.modes;
}

// A warning for each option given where the run does not use it.
void warnWhereNotApplying(const CLI::App& app, CommandLine* line)
{
    const std::pair<OptionMode, const char*> kWhere[] = {
        {ModeSerial, "--method serial"},   {ModeNetwork, "--method network"},
        {ModeFleet, line->serialFleet ? "a fleet of KT-58CU units" : "a fleet of KT-58NET units"},
        {ModeRestore, "--restore-xport"}, {ModeDiscover, "--discover"},
        {ModeCheck, "--check: nothing is erased"},
    };
    const unsigned modes = runModes(*line);
    for (const OptionSpec& option : optionTable()) {
        const unsigned missing = modes & ~fleetModes(option, *line);
        if (missing == 0 || app.count(longName(option)) == 0)
            continue;
        if (!option.elsewhere.empty()) {
            line->warnings.push_back(option.elsewhere);
            continue;
        }
        for (const auto& [mode, where] : kWhere)
            if ((missing & mode) != 0) {
                line->warnings.push_back(longName(option) + " does not apply to " + where);
                break;
            }
    }
}

} // namespace

const std::vector<OptionSpec>& optionTable()
{
    return kOptionTable;
}

const char* usageText()
{
    return kUsage;
}

std::string helpText()
{
    std::string text = kHelpHead;
    for (const OptionSpec& option : optionTable())
        text += helpLines(option.help);
    text += kFleetHead;
    for (const OptionSpec& option : optionTable())
        text += helpLines(option.fleetHelp);
    return text + kHelpTail;
}

CommandLine parseCommandLine(int argc, const char* const* argv)
{
    CommandLine line;
    CLI::App app("", "kt5cufirm");
    // The texts are the program's own (usageText, helpText), in step with the man page.
    app.set_help_flag();
    std::vector<Typed> typed(optionTable().size());
    for (size_t i = 0; i < typed.size(); ++i)
        declare(app, optionTable()[i], &typed[i]);
    try {
        app.parse(argc, argv);
    } catch (const std::exception& error) {
        return usage(line, error.what());
    }
    takeGiven(app, typed, ModeInfo | ModeList, &line);
    if (line.action != CommandAction::Update)
        return line;
    std::string error = takeGiven(app, typed, ~(ModeInfo | ModeList), &line);
    if (error.empty())
        error = chooseRun(app, &line);
    if (!error.empty())
        return usage(line, error);
    warnWhereNotApplying(app, &line);
    return line;
}
