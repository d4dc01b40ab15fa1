// kt58sim: a KT-58 firmware loader on this machine, over TCP or a
// pseudo-terminal, for running the updater without a device.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include <pthread.h>

#include "device_emulator.h"
#include "xport_emulator.h"

namespace {

constexpr const char* kHelp =
    "Usage: kt58sim [options]\n"
    "Answers the KT-58 firmware loader's update protocol: over TCP (the XPort's data\n"
    "port) by default, or over a pseudo-terminal (the COM port) with --pty. Every\n"
    "record is checked (Intel HEX layout and checksum) and kept; after a whole write\n"
    "the device reports the version it was given. Ends on SIGINT or SIGTERM with a\n"
    "one-line summary of what it received.\n"
    "\n"
    "Connection:\n"
    "  --address A            TCP address to listen on (default 127.0.0.1)\n"
    "  --port N               TCP port (default 10001; 0 picks a free one, printed)\n"
    "  --pty                  serve a pseudo-terminal instead; its path is printed\n"
    "Device:\n"
    "  --version MAJOR.MINOR  firmware version before any write, hex (default 1.00)\n"
    "  --tag T                tag byte of the \"M\" and \"V\" replies, hex (default 01)\n"
    "  --dump FILE            at the end, write the programmed memory to FILE (binary,\n"
    "                         from the lowest programmed address; gaps are FF)\n"
    "Timing (the emulator answers as fast as the host allows without these):\n"
    "  --baud N               pace both directions as a serial line of N baud would,\n"
    "                         10 bits a byte: a reply starts once the request's bytes\n"
    "                         are through and goes out no faster than the line\n"
    "  --program-ms N         hold each record's reply N ms (the device programming it)\n"
    "  --reply-latency-ms N   hold each reply as a USB serial adapter's latency timer of\n"
    "                         N ms would: bytes reach the host at its next tick\n"
    "Faults (requests and records count from 1):\n"
    "  --silent-from N        no reply to request N and every later one\n"
    "  --short-reply N:LEN    only the first LEN bytes of request N's reply\n"
    "  --wrong-letter N       request N's reply starts with \"X\"\n"
    "  --wrong-version        the verify reply carries the given minor version + 1\n"
    "  --early-efw R          record R is acknowledged with \"EFW\" although more follow\n"
    "  --efl-at-end           the end-of-file record is acknowledged with \"EFL\"\n"
    "  --erase-delay MS       pause before \"FE\"\n"
    "  --split-replies MS     replies go out one byte at a time, MS apart\n"
    "  --close-after-records N  close the connection after answering record N\n"
    "  --late-reply N:MS      request N's reply waits MS first\n"
    "  --double-reply N       request N's reply goes out twice in one piece\n"
    "XPort (KT-58NET): with --xport, or any --xport-... option, it also answers the\n"
    "XPort's UDP configuration port, as the updater switches and restores its setup.\n"
    "  --xport                answer the configuration port with the defaults below\n"
    "Options that take a value accept --name VALUE and --name=VALUE; those marked\n"
    "N: may be repeated.\n"
    "  --help                 this text\n";

bool parseNumber(std::string_view text, long low, long high, int base, long* value)
{
    if (text.empty())
        return false;
    const std::string copy(text);
    char* end = nullptr;
    const long number = std::strtol(copy.c_str(), &end, base);
    if (*end != '\0' || number < low || number > high)
        return false;
    *value = number;
    return true;
}

bool parsePair(std::string_view text, long secondHigh, int* first, int* second)
{
    const size_t colon = text.find(':');
    long a = 0;
    long b = 0;
    if (colon == std::string_view::npos || !parseNumber(text.substr(0, colon), 1, 1000000000, 10, &a) ||
        !parseNumber(text.substr(colon + 1), 0, secondHigh, 10, &b))
        return false;
    *first = static_cast<int>(a);
    *second = static_cast<int>(b);
    return true;
}

struct Settings {
    Settings() { device.port = kDefaultTcpPort; }  // the XPort's data port, as the updater proposes it

    DeviceEmulatorOptions device;
    XportEmulatorOptions xport;
    bool withXport = false;
    bool pty = false;
    std::string dumpPath;
};

// Applies one option; false when it is unknown or its value does not fit.
bool applyOption(std::string_view name, std::string_view value, Settings& settings)
{
    DeviceEmulatorOptions& d = settings.device;
    long number = 0;
    int first = 0;
    int second = 0;
    if (name == "address") {
        d.address = std::string(value);
        return !value.empty();
    }
    if (name == "port") {
        if (!parseNumber(value, 0, 65535, 10, &number))
            return false;
        d.port = static_cast<uint16_t>(number);
        return true;
    }
    if (name == "version") {
        const size_t dot = value.find('.');
        long major = 0;
        long minor = 0;
        if (dot == std::string_view::npos || !parseNumber(value.substr(0, dot), 0, 255, 16, &major) ||
            !parseNumber(value.substr(dot + 1), 0, 255, 16, &minor))
            return false;
        d.major = static_cast<uint8_t>(major);
        d.minor = static_cast<uint8_t>(minor);
        return true;
    }
    if (name == "tag") {
        if (!parseNumber(value, 0, 255, 16, &number))
            return false;
        d.tag = static_cast<uint8_t>(number);
        return true;
    }
    if (name == "dump") {
        settings.dumpPath = std::string(value);
        return !value.empty();
    }
    if (name == "silent-from" || name == "wrong-letter" || name == "early-efw" ||
        name == "close-after-records" || name == "double-reply") {
        if (!parseNumber(value, 1, 1000000000, 10, &number))
            return false;
        const int n = static_cast<int>(number);
        if (name == "silent-from")
            d.silentFrom = n;
        else if (name == "wrong-letter")
            d.wrongLetter.insert(n);
        else if (name == "early-efw")
            d.earlyLastRecord = n;
        else if (name == "close-after-records")
            d.closeAfterRecords = n;
        else
            d.doubledReplies.insert(n);
        return true;
    }
    if (name == "baud") {
        if (!parseNumber(value, 50, 10000000, 10, &number))
            return false;
        d.baud = static_cast<int>(number);
        return true;
    }
    if (name == "program-ms" || name == "reply-latency-ms") {
        if (!parseNumber(value, 0, 600000, 10, &number))
            return false;
        (name == "program-ms" ? d.programMs : d.replyLatencyMs) = static_cast<int>(number);
        return true;
    }
    if (name == "erase-delay" || name == "split-replies") {
        if (!parseNumber(value, 0, 600000, 10, &number))
            return false;
        (name == "erase-delay" ? d.eraseDelayMs : d.pieceDelayMs) = static_cast<int>(number);
        return true;
    }
    if (name == "short-reply") {
        if (!parsePair(value, 8, &first, &second))
            return false;
        d.shortReplies[first] = second;
        return true;
    }
    if (name == "late-reply") {
        if (!parsePair(value, 600000, &first, &second))
            return false;
        d.lateReplies[first] = second;
        return true;
    }
    return false;
}

bool isFlag(std::string_view name)
{
    return name == "pty" || name == "wrong-version" || name == "efl-at-end" || name == "help" || name == "xport";
}

} // namespace

int main(int argc, char** argv)
{
    Settings settings;
    for (int i = 1; i < argc; ++i) {
        std::string_view argument = argv[i];
        if (argument.substr(0, 2) != "--") {
            std::fprintf(stderr, "kt58sim: unexpected argument %s (see --help)\n", argv[i]);
            return 2;
        }
        std::string_view name = argument.substr(2);
        std::string_view value;
        bool hasValue = false;
        if (const size_t equals = name.find('='); equals != std::string_view::npos) {
            value = name.substr(equals + 1);
            name = name.substr(0, equals);
            hasValue = true;
        }
        if (name == "help") {
            std::fputs(kHelp, stdout);
            std::fputs(xportOptionsHelp(), stdout);
            return 0;
        }
        if (isFlag(name)) {
            if (hasValue) {
                std::fprintf(stderr, "kt58sim: --%.*s takes no value\n", static_cast<int>(name.size()), name.data());
                return 2;
            }
            if (name == "pty")
                settings.pty = true;
            else if (name == "xport")
                settings.withXport = true;
            else if (name == "wrong-version")
                settings.device.wrongVersion = true;
            else
                settings.device.eflAtEnd = true;
            continue;
        }
        if (!hasValue) {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "kt58sim: --%.*s needs a value\n", static_cast<int>(name.size()), name.data());
                return 2;
            }
            value = argv[++i];
        }
        if (name.substr(0, 6) == "xport-") {
            settings.withXport = true;
            if (parseXportOption(name, value, settings.xport) == XportOptionResult::Accepted)
                continue;
        } else if (applyOption(name, value, settings)) {
            continue;
        }
        std::fprintf(stderr, "kt58sim: bad option --%.*s %.*s (see --help)\n", static_cast<int>(name.size()),
                     name.data(), static_cast<int>(value.size()), value.data());
        return 2;
    }

    // The signals that end the program are taken by sigwait below, never by
    // the serving thread, which inherits this mask.
    sigset_t endSignals;
    sigemptyset(&endSignals);
    sigaddset(&endSignals, SIGINT);
    sigaddset(&endSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &endSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    DeviceEmulator device(settings.device);
    std::string error;
    if (!(settings.pty ? device.startPty(&error) : device.startTcp(&error))) {
        std::fprintf(stderr, "kt58sim: %s\n", error.c_str());
        return 1;
    }
    if (settings.pty)
        std::printf("kt58sim: serial port %s\n", device.ptyPath().c_str());
    else
        std::printf("kt58sim: listening on %s:%u\n", settings.device.address.c_str(), unsigned{device.port()});

    const DeviceEmulatorOptions& timing = settings.device;
    if (timing.baud > 0)
        std::printf("kt58sim: line paced at %d baud, 10 bits a byte\n", timing.baud);
    if (timing.programMs > 0)
        std::printf("kt58sim: each record's reply held %d ms\n", timing.programMs);
    if (timing.replyLatencyMs > 0)
        std::printf("kt58sim: replies held by a %d ms latency timer\n", timing.replyLatencyMs);

    int exchanges = 0;
    settings.xport.onExchange = [&exchanges](const XportExchange& exchange) {
        ++exchanges;
        std::printf("kt58sim: XPort %s\n", describeExchange(exchange).c_str());
        std::fflush(stdout);
    };
    XportEmulator xport(settings.xport);
    if (settings.withXport) {
        if (!xport.start(&error)) {
            std::fprintf(stderr, "kt58sim: XPort: %s\n", error.c_str());
            device.stop();
            return 1;
        }
        std::printf("kt58sim: XPort configuration port on %s:%u\n", settings.xport.address.c_str(),
                    unsigned{settings.xport.port});
    }
    std::fflush(stdout);

    int received = 0;
    sigwait(&endSignals, &received);
    device.stop();
    xport.stop();

    int status = 0;
    if (!settings.dumpPath.empty() && !device.writeMemoryFile(settings.dumpPath, &error)) {
        std::fprintf(stderr, "kt58sim: %s\n", error.c_str());
        status = 1;
    }
    std::printf("kt58sim: %s\n", device.summary().c_str());
    if (settings.withXport)
        std::printf("kt58sim: XPort: %d exchanges, setup byte 21 now %u\n", exchanges, unsigned{xport.record()[21]});
    std::fflush(stdout);
    return status;
}
