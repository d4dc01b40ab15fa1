#include "command_line.h"

#include <CLI/CLI.hpp>

#include <optional>

namespace {

constexpr const char* kUsage =
    "Usage: kt5cufirm [--method serial|network] [--com N] [--device PATH]\n"
    "                 [--ip ADDR] [--tcp-port N] [--image PATH] [-y] [-q]\n"
    "                 [--check] [--trace[=FILE]]\n"
    "       kt5cufirm [--ip ADDR]... [--hosts FILE] [--tcp-port N] [--if-newer]\n"
    "                 [--report FILE] [--keep-going | --stop-on-error] [--image PATH]\n"
    "                 [-y] [-q] [--trace[=FILE]]\n"
    "       kt5cufirm --restore-xport --ip ADDR\n"
    "       kt5cufirm --list-ports | --help | --version\n";

constexpr const char* kHelp =
    "Replaces the firmware of a KT-58 interface with the image kt58netcu.hex.\n"
    "Options take their value as --opt VALUE or --opt=VALUE.\n"
    "\n"
    "  --method serial    KT-58CU on a serial port (the default)\n"
    "  --method network   KT-58NET behind its XPort, over TCP\n"
    "  --com N            serial port COM N (on Linux /dev/ttyS<N-1>); default 1\n"
    "  --device PATH      serial device to use instead, e.g. a USB adapter's stable\n"
    "                     name /dev/serial/by-id/usb-...-if00-port0 (see --list-ports)\n"
    "  --ip ADDR          the device's IPv4 address or host name (network),\n"
    "                     e.g. 192.168.0.50; a name is resolved once, before the run\n"
    "  --tcp-port N       the XPort's data port (network); default 10001\n"
    "  --image PATH       the image file; default kt58netcu.hex beside this program\n"
    "  -y, --yes          answer Yes to the question before the device is erased\n"
    "  -q, --quiet        show only errors and the final line\n"
    "  --check            check the image (version, records, bytes, addresses) and\n"
    "                     stop; with --device, --com or --method network --ip\n"
    "                     also identify the device and release it, erasing nothing\n"
    "  --trace[=FILE]     log every exchange with the device and the XPort, in hex\n"
    "                     with the milliseconds since the start, to standard error\n"
    "                     or FILE\n"
    "  --list-ports       list the serial ports of this machine and stop\n"
    "  --restore-xport    only put back the XPort setup kept by an interrupted run\n"
    "  -h, --help         this text\n"
    "  -V, --version      the program's version\n"
    "\n"
    "Many KT-58NET units, one after another (a fleet):\n"
    "  --ip ADDR          given more than once: one unit each\n"
    "  --hosts FILE       the units, one ADDR[:TCP-PORT] a line (host names too);\n"
    "                     '#' starts a comment; --tcp-port for those without one\n"
    "  --if-newer         leave alone a unit whose device has the image's version\n"
    "                     or a newer one (after the identify and the quit)\n"
    "  --report FILE      one JSON object a line per unit, written as each ends\n"
    "  --keep-going       go on after a unit that failed (the default)\n"
    "  --stop-on-error    stop at the first unit not complete or skipped\n"
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

bool onlyDigitsAndDots(const std::string& text)
{
    return text.find_first_not_of("0123456789.") == std::string::npos;
}

CommandLine usage(CommandLine line, std::string error)
{
    line.action = CommandAction::Usage;
    line.error = std::move(error);
    return line;
}

// The values as typed, checked after CLI11 has split them.
struct Typed {
    std::string method, com, tcpPort;
};

CommandLine validate(CommandLine line, const Typed& typed, const CLI::App& app)
{
    const auto given = [&app](const char* name) { return app.count(name) > 0; };
    if (given("--method")) {
        if (typed.method != "serial" && typed.method != "network")
            return usage(line, "--method is serial or network");
        line.network = typed.method == "network";
    }
    if (given("--com")) {
        const auto number = parseNumber(typed.com, 1, 99999999);
        if (!number)
            return usage(line, "--com takes a port number from 1");
        line.com = *number;
        line.comGiven = true;
    }
    if (given("--device") && (line.device.empty() || line.device.size() >= 260))
        return usage(line, "--device takes a path of at most 259 characters");
    if (given("--tcp-port")) {
        const auto number = parseNumber(typed.tcpPort, 1, 65535);
        if (!number)
            return usage(line, "--tcp-port takes a port number from 1 to 65535");
        line.tcpPort = *number;
    }
    if (given("--image") && (line.image.empty() || line.image.size() >= 260))
        return usage(line, "--image takes a path of at most 259 characters");
    for (const std::string& ip : line.ips) {
        std::string why;
        if (ip.empty())
            return usage(line, "--ip takes an IPv4 address such as 192.168.0.50 or a host name; it is empty");
        if (onlyDigitsAndDots(ip) && !isDottedIpv4(ip, &why))
            return usage(line, "--ip " + ip + " is not an IPv4 address: " + why);
        if (!onlyDigitsAndDots(ip) && !isHostName(ip))
            return usage(line, "--ip " + ip +
                                   " is neither a dotted IPv4 address nor a host name (letters, digits, "
                                   "hyphens and dots)");
    }
    if (!line.ips.empty())
        line.ip = line.ips.front();
    if (given("--hosts") && line.hostsFile.empty())
        return usage(line, "--hosts takes a file name");
    if (given("--report") && line.reportFile.empty())
        return usage(line, "--report takes a file name");
    if (line.stopOnError && given("--keep-going"))
        return usage(line, "--keep-going and --stop-on-error do not go together");
    line.fleet = line.ips.size() > 1 || given("--hosts") || given("--report") || line.ifNewer;
    if (line.fleet) {
        if (line.ips.empty() && !given("--hosts"))
            return usage(line, "a fleet needs --ip ADDR or --hosts FILE");
        if (line.restoreXport)
            return usage(line, "--restore-xport takes one --ip ADDR, not a fleet");
        if (line.check)
            return usage(line, "--check takes one device, not a fleet");
        if (given("--method") && !line.network)
            return usage(line, "the units of a fleet are KT-58NET: --method network");
        for (const char* name : {"--com", "--device"})
            if (given(name))
                line.warnings.push_back(std::string(name) + " does not apply to a fleet of KT-58NET units");
        line.network = true;
        return line;
    }
    if (given("--keep-going") || given("--stop-on-error"))
        line.warnings.push_back("--keep-going and --stop-on-error apply to a fleet only");
    if (line.restoreXport) {
        if (line.check)
            return usage(line, "--check and --restore-xport do not go together");
        if (!given("--ip"))
            return usage(line, "--restore-xport needs --ip ADDR");
        if (given("--method") && !line.network)
            line.warnings.push_back("--method serial does not apply to --restore-xport");
        for (const char* name : {"--com", "--device", "--tcp-port", "--image", "--yes"})
            if (given(name))
                line.warnings.push_back(std::string(name) + " does not apply to --restore-xport");
        line.network = true;
        return line;
    }
    if (line.network && !given("--ip"))
        return usage(line, "--method network needs --ip ADDR");
    static const char* const kSerialOnly[] = {"--com", "--device"};
    static const char* const kNetworkOnly[] = {"--ip", "--tcp-port"};
    for (const char* name : line.network ? kSerialOnly : kNetworkOnly)
        if (given(name))
            line.warnings.push_back(std::string(name) + " does not apply to --method " +
                                    (line.network ? "network" : "serial"));
    if (line.check && line.yes)
        line.warnings.push_back("--yes does not apply to --check: nothing is erased");
    return line;
}

} // namespace

std::optional<int> parseNumber(const std::string& text, int lowest, int highest)
{
    if (text.empty() || text.size() > 9)
        return std::nullopt;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (value < lowest || value > highest)
        return std::nullopt;
    return value;
}

bool isDottedIpv4(const std::string& text, std::string* why)
{
    const auto fail = [why](std::string reason) {
        if (why != nullptr)
            *why = std::move(reason);
        return false;
    };
    int parts = 0;
    for (size_t at = 0;;) {
        const size_t end = std::min(text.find('.', at), text.size());
        const std::string part = text.substr(at, end - at);
        if (part.empty())
            return fail("a number is missing");
        if (part.size() > 1 && part[0] == '0')
            return fail(part + " has a leading zero");
        if (!parseNumber(part, 0, 255))
            return fail(part + " is not a number from 0 to 255");
        ++parts;
        if (end == text.size())
            return parts == 4 || fail("it has " + std::to_string(parts) + " numbers, not 4");
        if (parts == 4)
            return fail("it has more than 4 numbers");
        at = end + 1;
    }
}

bool isHostName(const std::string& text)
{
    if (text.empty() || text.size() > 253)
        return false;
    size_t at = 0;
    for (;;) {
        const size_t end = std::min(text.find('.', at), text.size());
        const std::string label = text.substr(at, end - at);
        if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-')
            return false;
        for (char c : label)
            if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-'))
                return false;
        if (end == text.size())
            return true;
        at = end + 1;
    }
}

const char* usageText()
{
    return kUsage;
}

const char* helpText()
{
    return kHelp;
}

CommandLine parseCommandLine(int argc, const char* const* argv)
{
    CommandLine line;
    Typed typed;
    bool help = false, version = false, listPorts = false;
    CLI::App app("", "kt5cufirm");
    // The texts are the program's own (usageText, helpText), in step with the man page.
    app.set_help_flag();
    app.add_flag("-h,--help", help);
    app.add_flag("-V,--version", version);
    app.add_flag("--list-ports", listPorts);
    app.add_option("--method", typed.method);
    app.add_option("--com", typed.com);
    app.add_option("--device", line.device);
    app.add_option("--ip", line.ips)->allow_extra_args(false);
    app.add_option("--hosts", line.hostsFile);
    app.add_flag("--if-newer", line.ifNewer);
    app.add_option("--report", line.reportFile);
    app.add_flag("--keep-going");
    app.add_flag("--stop-on-error", line.stopOnError);
    app.add_option("--tcp-port", typed.tcpPort);
    app.add_option("--image", line.image);
    app.add_flag("-y,--yes", line.yes);
    app.add_flag("-q,--quiet", line.quiet);
    app.add_flag("--check", line.check);
    app.add_flag("--restore-xport", line.restoreXport);
    app.add_option("--trace", line.traceFile)->expected(0, 1);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        return usage(line, error.what());
    } catch (const std::exception& error) {
        return usage(line, error.what());
    }
    if (help)
        line.action = CommandAction::Help;
    else if (version)
        line.action = CommandAction::Version;
    else if (listPorts)
        line.action = CommandAction::ListPorts;
    if (line.action != CommandAction::Run)
        return line;
    line.trace = app.count("--trace") > 0;
    return validate(line, typed, app);
}
