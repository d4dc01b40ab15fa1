// kt5cufirm: the console front end. The same update run as the dialog, for
// scripts and for systems without Windows.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "console_platform.h"
#include "console_texts.h"
#include "console_view.h"
#include "fleet.h"
#include "interrupts.h"
#include "kept_setup.h"
#include "protocol_waits.h"
#include "sockets.h"
#include "update_context.h"

namespace {

constexpr const char* kUsage =
    "Usage: kt5cufirm [--method serial|network] [--com N] [--device PATH]\n"
    "                 [--ip ADDR] [--tcp-port N] [--image PATH] [--yes]\n"
    "       kt5cufirm [--ip ADDR]... [--hosts FILE] [--if-newer] [--report FILE]\n"
    "                 [--keep-going | --stop-on-error] [--image PATH] [--yes]\n"
    "       kt5cufirm --restore-xport --ip ADDR\n"
    "       kt5cufirm --help | --version\n";

constexpr const char* kHelp =
    "Replaces the firmware of a KT-58 interface with the image kt58netcu.hex.\n"
    "\n"
    "  --method serial    KT-58CU on a serial port (the default)\n"
    "  --method network   KT-58NET behind its XPort, over TCP\n"
    "  --com N            serial port COM N (on Linux /dev/ttyS<N-1>); default 1\n"
    "  --device PATH      serial device to use instead, e.g. /dev/ttyUSB0\n"
    "  --ip ADDR          the device's IPv4 address (network), e.g. 192.168.0.50\n"
    "  --tcp-port N       the XPort's data port (network); default 10001\n"
    "  --image PATH       the image file; default kt58netcu.hex beside this program\n"
    "  --yes              answer Yes to the question before the device is erased\n"
    "  --restore-xport    only put back the XPort setup kept by an interrupted run\n"
    "\n"
    "Many KT-58NET units, one after another (a fleet):\n"
    "  --ip ADDR          given more than once: one unit each\n"
    "  --hosts FILE       the units, one ADDR[:TCP-PORT] a line (host names too);\n"
    "                     '#' starts a comment\n"
    "  --if-newer         leave alone a unit that has the image's version or newer\n"
    "  --report FILE      one JSON object a line per unit, written as each ends\n"
    "  --keep-going       go on after a unit that failed (the default)\n"
    "  --stop-on-error    stop at the first unit not complete or skipped\n"
    "One question for the whole list (unless --yes), then a summary table.\n"
    "\n"
    "  --help, --version  this text; the program's version\n"
    "\n"
    "Without a terminal and without --yes the answer is No and nothing is erased.\n"
    "Ctrl-C (SIGINT, SIGTERM, SIGHUP) stops after the current record and puts the\n"
    "XPort's setup back first; a third one ends the program at once.\n"
    "\n"
    "Exit status:\n"
    "  0  the update was complete, and a switched XPort was put back\n"
    "  1  the device was not changed: refused, declined, cancelled or failed\n"
    "     before the erase\n"
    "  2  usage error (nothing was sent)\n"
    "  3  the device was erased but not completely written and verified:\n"
    "     run the update again\n"
    "  4  the XPort's setup could not be put back (before 0, 1 and 3):\n"
    "     run kt5cufirm --restore-xport --ip ADDR\n"
    "A fleet exits with the worst of its units' statuses (4, 3, 1, 0); a unit\n"
    "skipped by --if-newer counts 0, a unit not attempted 1.\n";

int usageError(const std::string& message)
{
    std::fprintf(stderr, "kt5cufirm: %s\n%s", message.c_str(), kUsage);
    return kExitUsage;
}

std::optional<int> parseNumber(std::string_view text, int lowest, int highest)
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

// The test suite's hook to shorten the protocol's waits: "receiveMs,settleMs".
// Never silent, so that it cannot shorten a field update unnoticed.
void applyTestWaits()
{
    const char* waits = std::getenv("KT5CUFIRM_TEST_WAITS");
    int receiveMs = 0;
    int settleMs = 0;
    if (waits != nullptr && std::sscanf(waits, "%d,%d", &receiveMs, &settleMs) == 2 && receiveMs > 0 &&
        settleMs >= 0) {
        setProtocolWaitsForTests({receiveMs, settleMs});
        std::fprintf(stderr, "%s\n",
                     consoleText(ConsoleText::TestWaits, {std::to_string(receiveMs), std::to_string(settleMs)})
                         .c_str());
    }
}

// The last line of a run that did not end with 0.
int finish(const RunOutcome& outcome, const std::string& address)
{
    const int status = exitStatus(outcome);
    if (status != kExitComplete) {
        std::fflush(stdout);
        std::fprintf(stderr, "%s\n", stateLine(outcome, address).c_str());
    }
    return status;
}

} // namespace

int main(int argc, char** argv)
{
    UpdateContext* ctx = &updateContext;
    initUpdateContext(ctx);
    chooseComPort(ctx, 1);
    ConsoleOptions options;
    bool ipGiven = false;
    bool methodGiven = false;
    std::vector<FleetHost> fleet;
    std::string hostsFile;
    FleetOptions fleetOptions;

    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help") {
            std::fputs(kUsage, stdout);
            std::fputs(kHelp, stdout);
            return kExitComplete;
        }
        if (arg == "--version") {
            std::puts("kt5cufirm Ver1.00");
            return kExitComplete;
        }
        if (arg == "--yes") {
            options.assumeYes = true;
            continue;
        }
        if (arg == "--restore-xport") {
            options.xportRepair = true;
            continue;
        }
        if (arg == "--if-newer" || arg == "--keep-going" || arg == "--stop-on-error") {
            if (arg == "--if-newer")
                fleetOptions.onlyIfNewer = true;
            else
                fleetOptions.stopOnError = arg == "--stop-on-error";
            continue;
        }
        const bool takesValue = arg == "--method" || arg == "--com" || arg == "--device" || arg == "--ip" ||
                                arg == "--tcp-port" || arg == "--image" || arg == "--hosts" || arg == "--report";
        if (!takesValue)
            return usageError("unknown option '" + std::string(arg) + "'");
        if (i + 1 >= argc)
            return usageError(std::string(arg) + " needs a value");
        const std::string value = argv[++i];
        if (arg == "--hosts") {
            hostsFile = value;
        } else if (arg == "--report") {
            if (value.empty())
                return usageError("--report takes a file name");
            fleetOptions.reportPath = value;
        } else if (arg == "--method") {
            methodGiven = true;
            if (value == "serial")
                ctx->method = Serial;
            else if (value == "network")
                ctx->method = Network;
            else
                return usageError("--method is serial or network");
        } else if (arg == "--com") {
            auto number = parseNumber(value, 1, 99999999);
            if (!number)
                return usageError("--com takes a port number from 1");
            chooseComPort(ctx, *number);
        } else if (arg == "--device") {
            if (value.empty() || value.size() >= sizeof ctx->comDevice)
                return usageError("--device takes a path of at most 259 characters");
            std::snprintf(ctx->comDevice, sizeof ctx->comDevice, "%s", value.c_str());
        } else if (arg == "--ip") {
            if (value.size() >= sizeof ctx->ipText || !isDottedIpv4(value))
                return usageError("--ip takes a dotted IPv4 address such as 192.168.0.50");
            std::snprintf(ctx->ipText, sizeof ctx->ipText, "%s", value.c_str());
            ipGiven = true;
            fleet.push_back(FleetHost{value, 0, 0});
        } else if (arg == "--tcp-port") {
            auto number = parseNumber(value, 1, 65535);
            if (!number)
                return usageError("--tcp-port takes a port number from 1 to 65535");
            ctx->tcpPort = *number;
        } else {  // --image
            if (value.empty() || value.size() >= sizeof ctx->imageChoice)
                return usageError("--image takes a path of at most 259 characters");
            std::snprintf(ctx->imageChoice, sizeof ctx->imageChoice, "%s", value.c_str());
        }
    }
    const bool isFleet = fleet.size() > 1 || !hostsFile.empty() || !fleetOptions.reportPath.empty() ||
                         fleetOptions.onlyIfNewer;
    if (isFleet) {
        if (options.xportRepair)
            return usageError("--restore-xport takes one --ip ADDR");
        if (methodGiven && ctx->method != Network)
            return usageError("the units of a fleet are KT-58NET: --method network");
        for (FleetHost& host : fleet)
            host.tcpPort = ctx->tcpPort;
        if (!hostsFile.empty()) {
            std::vector<FleetHost> listed;
            std::string error;
            if (!readHostsFile(hostsFile, ctx->tcpPort, &listed, &error))
                return usageError(error);
            fleet.insert(fleet.end(), listed.begin(), listed.end());
        }
        if (fleet.empty())
            return usageError("a fleet needs --ip ADDR or --hosts FILE");
        applyTestWaits();
        fleetOptions.assumeYes = options.assumeYes;
        return runFleet(ctx, fleet, fleetOptions);
    }
    if (options.xportRepair) {
        if (!ipGiven)
            return usageError("--restore-xport needs --ip ADDR");
        ctx->method = Network;
        ctx->xportRepair = 1;
    } else if (ctx->method == Network && !ipGiven) {
        return usageError("--method network needs --ip ADDR");
    }

    applyTestWaits();
    const std::string address = ctx->ipText;
    if (ctx->method == Network) {
        const KeptSetupState kept = prepareKeptSetup(address);
        if (kept == KeptSetupState::Unreadable) {
            std::fprintf(stderr, "%s\n", consoleText(ConsoleText::KeptRecordUnreadable, {keptSetupPath()}).c_str());
            return finish(RunOutcome{}, address);
        }
        if (options.xportRepair && kept != KeptSetupState::Kept) {
            std::fprintf(stderr, "%s\n",
                         consoleText(ConsoleText::NoKeptRecord, {address, keptSetupFolder()}).c_str());
            return kExitNotChanged;
        }
        if (!options.xportRepair && kept == KeptSetupState::Kept)
            std::fprintf(stderr, "%s\n",
                         consoleText(ConsoleText::KeptRecordFound, {address, std::to_string(keptSetupByte())})
                             .c_str());
    }

    options.interactive = isTerminal(stdin);
    options.progressBar = isTerminal(stdout);
    ConsoleView view(options, stdout, stderr, readAnswerLine);

    if (!startSocketLibrary(&ctx->wsaData)) {
        ctx->errorCode = ErrSocketInit;
        showError(view, *ctx, 0);
        return finish(RunOutcome{}, address);
    }
    prepareInterruptMessages(*ctx, options.interactive || options.progressBar, keptSetupRemains());
    runInConsoleWindow(ctx, view);
    RunOutcome outcome = outcomeOf(*ctx);
    // A record still kept (by this run or an interrupted one) means the XPort
    // may not hold its true setup.
    outcome.xportNotPutBack = outcome.xportNotPutBack || keptSetupRemains();
    return finish(outcome, address);
}
