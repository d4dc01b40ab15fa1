// kt5cufirm: the console front end. The same update run as the dialog, for
// scripts and for systems without Windows.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>

#include "console_platform.h"
#include "console_view.h"
#include "protocol_waits.h"
#include "sockets.h"
#include "update_context.h"

namespace {

constexpr const char* kUsage =
    "Usage: kt5cufirm [--method serial|network] [--com N] [--device PATH]\n"
    "                 [--ip ADDR] [--tcp-port N] [--image PATH] [--yes]\n"
    "       kt5cufirm --help | --version\n";

constexpr const char* kHelp =
    "Replaces the firmware of a KT-58 interface with the image kt58netcu.hex.\n"
    "\n"
    "  --method serial    KT-58CU on a serial port (the default)\n"
    "  --method network   KT-58NET behind its XPort, over TCP\n"
    "  --com N            serial port COM N (on Linux /dev/ttyS<N-1>); default 1\n"
    "  --device PATH      serial device to use instead, e.g. /dev/ttyUSB0\n"
    "  --ip ADDR          the device's IPv4 address (network)\n"
    "  --tcp-port N       the XPort's data port (network); default 10001\n"
    "  --image PATH       the image file; default kt58netcu.hex beside this program\n"
    "  --yes              answer Yes to the question before the device is erased\n"
    "  --help, --version  this text; the program's version\n"
    "\n"
    "Without a terminal and without --yes the answer is No and nothing is erased.\n"
    "Exit status: 0 when the update was complete, 1 when it was not or could not\n"
    "start, 2 for a usage error.\n";

constexpr int kExitComplete = 0;
constexpr int kExitNotComplete = 1;
constexpr int kExitUsage = 2;

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
void applyTestWaits()
{
    const char* waits = std::getenv("KT5CUFIRM_TEST_WAITS");
    int receiveMs = 0;
    int settleMs = 0;
    if (waits != nullptr && std::sscanf(waits, "%d,%d", &receiveMs, &settleMs) == 2 && receiveMs > 0 &&
        settleMs >= 0)
        setProtocolWaitsForTests({receiveMs, settleMs});
}

} // namespace

int main(int argc, char** argv)
{
    UpdateContext* ctx = &updateContext;
    initUpdateContext(ctx);
    chooseComPort(ctx, 1);
    ConsoleOptions options;

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
        const bool takesValue = arg == "--method" || arg == "--com" || arg == "--device" || arg == "--ip" ||
                                arg == "--tcp-port" || arg == "--image";
        if (!takesValue)
            return usageError("unknown option '" + std::string(arg) + "'");
        if (i + 1 >= argc)
            return usageError(std::string(arg) + " needs a value");
        const std::string value = argv[++i];
        if (arg == "--method") {
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
            if (value.size() >= sizeof ctx->ipText)
                return usageError("--ip takes an IPv4 address of at most 15 characters");
            std::snprintf(ctx->ipText, sizeof ctx->ipText, "%s", value.c_str());
        } else if (arg == "--tcp-port") {
            auto number = parseNumber(value, 0, 65535);
            if (!number)
                return usageError("--tcp-port takes a port number up to 65535");
            ctx->tcpPort = *number;
        } else {  // --image
            if (value.empty() || value.size() >= sizeof ctx->imageChoice)
                return usageError("--image takes a path of at most 259 characters");
            std::snprintf(ctx->imageChoice, sizeof ctx->imageChoice, "%s", value.c_str());
        }
    }

    applyTestWaits();
    options.interactive = isTerminal(stdin);
    options.progressBar = isTerminal(stdout);
    ConsoleView view(options, stdout, stderr, [] {
        std::string answer;
        std::getline(std::cin, answer);
        return answer;
    });

    if (!startSocketLibrary(&ctx->wsaData)) {
        ctx->errorCode = ErrSocketInit;
        showError(view, *ctx, 0);
        return kExitNotComplete;
    }
    if (!runInConsoleWindow(ctx, view))
        return kExitNotComplete;
    return ctx->succeeded ? kExitComplete : kExitNotComplete;
}
