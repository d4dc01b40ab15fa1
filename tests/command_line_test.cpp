// kt5cufirm's command line in-process: each row's arguments through the
// parser, the action, usage error and warnings it gives; the values taken;
// and the README's and the man page's option lists against the option table.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "command_line.h"

namespace {

using Strings = std::vector<std::string>;

CommandLine parse(Strings args)
{
    args.insert(args.begin(), "kt5cufirm");
    std::vector<const char*> argv;
    for (const std::string& arg : args)
        argv.push_back(arg.c_str());
    return parseCommandLine(static_cast<int>(argv.size()), argv.data());
}

TEST(CommandLine, ActionsUsageErrorsAndWarnings)
{
    using A = CommandAction;
    const struct {
        Strings args;
        CommandAction action;
        std::string error;  // the usage error's start
        Strings warnings;
    } rows[] = {
        {{}, A::Update, "", {}},
        {{"--bogus"}, A::Usage, "The following argument was not expected: --bogus", {}},
        {{"--com"}, A::Usage, "--com: 1 required", {}},
        {{"--method", "usb"}, A::Usage, "--method is serial or network", {}},
        {{"--com", "0"}, A::Usage, "--com takes a port number from 1", {}},
        {{"--com", "x1"}, A::Usage, "--com takes a port number from 1", {}},
        {{"--tcp-port", "65536"}, A::Usage, "--tcp-port takes a port number from 1 to 65535", {}},
        {{"--tcp-port", "-1"}, A::Usage, "--tcp-port takes", {}},
        {{"--method", "network", "--ip", "127.0.0.1", "--tcp-port", "0"}, A::Usage, "--tcp-port takes", {}},
        {{"--device", ""}, A::Usage, "--device takes a path of at most 259 characters", {}},
        {{"--image", std::string(260, 'i')}, A::Usage, "--image takes a path of at most 259 characters", {}},
        {{"--ip", "1234567890.12345"}, A::Usage, "--ip 1234567890.12345 is not an IPv4 address", {}},
        {{"--method", "network", "--ip", ""}, A::Usage, "--ip takes an IPv4 address such as", {}},
        {{"--ip", "1.2.3"}, A::Usage, "--ip 1.2.3 is not an IPv4 address: it has 3 numbers, not 4", {}},
        {{"--ip", "1.2.3.4.5"}, A::Usage, "--ip 1.2.3.4.5 is not an IPv4 address: it has more than 4 numbers", {}},
        {{"--ip=999.1.1.1"}, A::Usage, "--ip 999.1.1.1 is not an IPv4 address: 999 is not a number from 0 to 255", {}},
        {{"--ip", "010.0.0.1"}, A::Usage, "--ip 010.0.0.1 is not an IPv4 address: 010 has a leading zero", {}},
        {{"--method", "network", "--ip", "a_b"}, A::Usage, "--ip a_b is neither a dotted IPv4 address nor a host name", {}},
        {{"--method", "network"}, A::Usage, "--method network needs --ip ADDR", {}},
        {{"--hosts", ""}, A::Usage, "--hosts takes a file name", {}},
        {{"--ip", "10.0.0.1", "--report", ""}, A::Usage, "--report takes a file name", {}},
        {{"--restore-xport"}, A::Usage, "--restore-xport needs --ip ADDR", {}},
        {{"--restore-xport", "--check", "--ip", "10.0.0.1"}, A::Usage, "--check and --restore-xport do not go together", {}},
        {{"--restore-xport", "--ip", "10.0.0.1", "--ip", "10.0.0.2"}, A::Usage, "--restore-xport takes one --ip ADDR, not a fleet", {}},
        {{"--method", "serial", "--ip", "10.0.0.1", "--ip", "10.0.0.2"}, A::Usage, "the units of a fleet are KT-58NET: --method network", {}},
        {{"--ip", "10.0.0.1", "--ip", "10.0.0.2", "--keep-going", "--stop-on-error"}, A::Usage, "--keep-going and --stop-on-error do not go together", {}},
        {{"--if-newer", "--yes"}, A::Usage, "a fleet needs --ip ADDR or --hosts FILE", {}},
        {{"--hosts", "h", "--check"}, A::Usage, "--check takes one device, not a fleet", {}},
        {{"--help", "--com", "0"}, A::Help, "", {}},
        {{"-V", "--list-ports", "-h"}, A::Help, "", {}},
        {{"--list-ports", "--version"}, A::Version, "", {}},
        {{"--list-ports", "--ip", "10.0.0.1"}, A::ListPorts, "", {}},
        {{"--device", "/dev/x", "--ip", "127.0.0.1", "--tcp-port", "2", "-y"}, A::Update, "",
         {"--ip does not apply to --method serial", "--tcp-port does not apply to --method serial"}},
        {{"--method", "network", "--ip", "unit-7", "--com", "2", "--device", "d", "--quiet"}, A::Update, "",
         {"--com does not apply to --method network", "--device does not apply to --method network"}},
        {{"--check", "--yes", "--keep-going"}, A::Check, "",
         {"--yes does not apply to --check: nothing is erased", "--keep-going and --stop-on-error apply to a fleet only"}},
        {{"--method=network", "--ip", "10.0.0.1", "--check", "--com", "1", "--image", "i.hex"}, A::Check, "",
         {"--com does not apply to --method network"}},
        {{"--ip", "10.0.0.1", "--ip", "unit-7", "--com", "2", "--device", "d", "-y", "--tcp-port", "3", "--method", "network"},
         A::Fleet, "", {"--com does not apply to a fleet of KT-58NET units", "--device does not apply to a fleet of KT-58NET units"}},
        {{"--hosts", "plant.hosts", "--stop-on-error", "--if-newer", "--report", "r.json", "--trace"}, A::Fleet, "", {}},
        {{"--device", "a", "--device", "b", "--parallel", "2", "--tcp-port", "3"}, A::Fleet, "",
         {"--tcp-port does not apply to a fleet of KT-58CU units"}},
        {{"--com", "3", "--report", "r.json"}, A::Fleet, "", {}},
        {{"--discover", "10.0.0.0/24", "10.0.1.5", "-q", "--report", "d.json", "--hosts", "h", "--yes"}, A::Discover, "",
         {"--yes does not apply to --discover"}},
        {{"--discover", "--interface", "eth0"}, A::Discover, "", {}},
        {{"--device", "a", "--device", "b", "--ip", "10.0.0.1"}, A::Usage,
         "KT-58CU units (--device, --com) and KT-58NET units (--ip, --hosts) go in fleets of their own", {}},
        {{"--device", "a", "--com", "2", "--com", "3"}, A::Usage,
         "a fleet of KT-58CU units takes --device or --com, not both", {}},
        {{"--ip", "a", "--ip", "b", "--parallel", "33"}, A::Usage, "--parallel takes a number of units from 1 to 32", {}},
        {{"--restore-xport", "--ip", "10.0.0.1", "--method", "serial", "--image", "i", "--yes", "--tcp-port", "5", "-q",
          "--stop-on-error"},
         A::Restore, "",
         {"--method serial does not apply to --restore-xport", "--tcp-port does not apply to --restore-xport",
          "--image does not apply to --restore-xport", "--yes does not apply to --restore-xport",
          "--keep-going and --stop-on-error apply to a fleet only"}},
        {{"--restore-xport", "--ip", "10.0.0.1", "--method", "network", "--trace=t"}, A::Restore, "", {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(::testing::PrintToString(row.args));
        const CommandLine line = parse(row.args);
        EXPECT_EQ(line.action, row.action) << line.error;
        EXPECT_THAT(line.error, ::testing::StartsWith(row.error));
        EXPECT_EQ(line.error.empty(), row.error.empty()) << line.error;
        EXPECT_EQ(line.warnings, row.warnings);
    }
}

TEST(CommandLine, ValuesAsTaken)
{
    CommandLine line = parse({"--com=3", "--image", "new.hex", "-q", "--trace=run.trace"});
    EXPECT_EQ(line.com, 3);
    EXPECT_TRUE(line.comGiven);
    EXPECT_FALSE(line.network);
    EXPECT_EQ(line.image, "new.hex");
    EXPECT_TRUE(line.quiet);
    EXPECT_TRUE(line.trace);
    EXPECT_EQ(line.traceFile, "run.trace");

    line = parse({"--method", "network", "--ip", "unit-7", "--tcp-port", "10002", "--trace", "-y"});
    EXPECT_TRUE(line.network);
    EXPECT_EQ(line.ip, "unit-7");
    EXPECT_EQ(line.tcpPort, 10002);
    EXPECT_TRUE(line.trace);
    EXPECT_EQ(line.traceFile, "");
    EXPECT_TRUE(line.yes);

    line = parse({"--ip", "10.0.0.1", "--ip=10.0.0.2", "--report", "r.json", "--stop-on-error", "--if-newer"});
    EXPECT_EQ(line.action, CommandAction::Fleet);
    EXPECT_TRUE(line.network);
    EXPECT_EQ(line.ips, (Strings{"10.0.0.1", "10.0.0.2"}));
    EXPECT_EQ(line.reportFile, "r.json");
    EXPECT_TRUE(line.stopOnError);
    EXPECT_TRUE(line.ifNewer);
    EXPECT_EQ(line.tcpPort, kDefaultTcpPort);

    line = parse({"--restore-xport", "--ip", "10.0.0.1"});
    EXPECT_TRUE(line.network) << "a restore speaks to the XPort";
    EXPECT_TRUE(line.restoreXport);
}

std::string readText(const char* path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Every option name ("--com", "-y") in `text`.
std::set<std::string> optionNames(const std::string& text)
{
    static const std::regex name(R"((?:^|[^\w-])(--[a-z][a-z-]*[a-z]|-[a-zA-Z])(?![\w-]))");
    std::set<std::string> names;
    for (std::sregex_iterator at(text.begin(), text.end(), name), end; at != end; ++at)
        names.insert((*at)[1]);
    return names;
}

std::set<std::string> tableNames()
{
    std::set<std::string> names;
    for (const OptionSpec& option : optionTable())
        for (size_t at = 0; at <= option.names.size();) {
            const size_t comma = std::min(option.names.find(',', at), option.names.size());
            names.insert(option.names.substr(at, comma - at));
            at = comma + 1;
        }
    return names;
}

TEST(CommandLine, TheReadmeAndTheManPageListEveryOptionOfTheTable)
{
    // The README: the first column of the console section's option table.
    const std::string readme = readText(KT_README);
    const size_t section = readme.find("## The console front end");
    ASSERT_NE(section, std::string::npos);
    const std::string console = readme.substr(section, readme.find("\n## ", section + 1) - section);
    std::string listed;
    for (size_t at = console.find("\n| `-"); at != std::string::npos; at = console.find("\n| `-", at + 1))
        listed += console.substr(at + 1, console.find(" | ", at + 3) - at - 1) + "\n";
    EXPECT_EQ(optionNames(listed), tableNames()) << listed;

    // The man page: the tag line of each entry under OPTIONS.
    std::string man = readText(KT_MAN_PAGE);
    for (size_t at; (at = man.find("\\-")) != std::string::npos;)
        man.replace(at, 2, "-");
    const size_t options = man.find(".SH OPTIONS");
    ASSERT_NE(options, std::string::npos);
    const std::string entries = man.substr(options, man.find("\n.SH ", options + 1) - options);
    std::string tags;
    for (size_t at = entries.find("\n.TP\n"); at != std::string::npos; at = entries.find("\n.TP\n", at + 1))
        tags += entries.substr(at + 5, entries.find('\n', at + 5) - at - 5) + "\n";
    EXPECT_EQ(optionNames(tags), tableNames()) << tags;
}

} // namespace
