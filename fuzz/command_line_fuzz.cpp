// kt5cufirm's command line: the input split at its NUL bytes is the argument
// list. Whatever it holds, the parser returns (no exception escapes), a usage
// error says why, and a run it lets through has values the run can use.
#include <arpa/inet.h>

#include <cstdint>
#include <string>
#include <vector>

#include "command_line.h"
#include "fuzz_input.h"
#include "host_address.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<std::string> args{"kt5cufirm"};
    std::string arg;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            args.push_back(arg);
            arg.clear();
        } else {
            arg += static_cast<char>(data[i]);
        }
    }
    if (size > 0)
        args.push_back(arg);
    std::vector<const char*> argv;
    for (const std::string& a : args)
        argv.push_back(a.c_str());
    argv.push_back(nullptr);

    const CommandLine line = parseCommandLine(static_cast<int>(args.size()), argv.data());
    if (line.action == CommandAction::Usage) {
        FUZZ_EXPECT(!line.error.empty());
        return 0;
    }
    const bool fleet = line.action == CommandAction::Fleet;
    if (line.action != CommandAction::Update && line.action != CommandAction::Check &&
        line.action != CommandAction::Restore && !fleet)
        return 0;
    FUZZ_EXPECT(line.com >= 1);
    FUZZ_EXPECT(line.parallel >= 1 && line.parallel <= kMostParallel);
    FUZZ_EXPECT(line.tcpPort >= 1 && line.tcpPort <= 65535);
    FUZZ_EXPECT(line.device.size() < 260 && line.image.size() < 260);
    FUZZ_EXPECT(!(line.check && line.restoreXport));
    // What reaches the resolver is a dotted address (as the system's own
    // conversion reads one) or a host name that the resolver would never
    // read as a number ("10.0.0.0x1" is 10.0.0.1 to inet_aton).
    const auto usable = [](const std::string& ip) {
        in_addr address{};
        const bool numeric = inet_aton(ip.c_str(), &address) != 0;
        return numeric ? inet_pton(AF_INET, ip.c_str(), &address) == 1 : isHostName(ip);
    };
    if (fleet && line.serialFleet) {
        // KT-58CU units: serial ports only, never a network unit beside them.
        FUZZ_EXPECT(!line.network && line.ips.empty() && line.hostsFile.empty() && line.retryReport.empty());
        FUZZ_EXPECT(!line.devices.empty() || !line.coms.empty());
        FUZZ_EXPECT(line.devices.empty() || line.coms.empty());
    } else if (fleet) {
        // A fleet's units: every --ip usable, a hosts file or a report to retry named, not empty.
        FUZZ_EXPECT(line.network && !line.restoreXport && !line.check);
        FUZZ_EXPECT(!line.ips.empty() || !line.hostsFile.empty() || !line.retryReport.empty());
        FUZZ_EXPECT(line.retryReport.empty() || (line.ips.empty() && line.hostsFile.empty()));
        for (const std::string& ip : line.ips)
            FUZZ_EXPECT(usable(ip));
    } else if (line.network) {
        FUZZ_EXPECT(usable(line.ip));
    }
    return 0;
}
