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
#include "completions.h"

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
        {{"--com", "1"}, A::Update, "", {}},
        {{"--yes"}, serialRunNeedsAPort() ? A::Usage : A::Update,
         serialRunNeedsAPort() ? "a KT-58CU run needs its serial port: --device PATH or --com N (kt5cufirm --list-ports" : "",
         {}},
        {{"--bogus"}, A::Usage, "unknown option --bogus", {}},
        {{"stray"}, A::Usage, "The following argument was not expected: stray", {}},
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
        {{"--ip", "10.0.0.0x1"}, A::Usage, "--ip 10.0.0.0x1 is not an IPv4 address: 0x1 has a leading zero", {}},
        {{"--ip", "0x7f000001"}, A::Usage, "--ip 0x7f000001 is not an IPv4 address", {}},
        {{"--ip", "10.0.0.1e"}, A::Usage, "--ip 10.0.0.1e is not an IPv4 address: 1e is not a number", {}},
        {{"--ip", "3com.example", "--ip", "x.y.3d"}, A::Usage, "--ip x.y.3d is not an IPv4 address", {}},
        {{"--method", "network", "--ip", "a_b"}, A::Usage, "--ip a_b is neither a dotted IPv4 address nor a host name", {}},
        {{"--method", "network"}, A::Usage, "--method network needs --ip ADDR", {}},
        {{"--hosts", ""}, A::Usage, "--hosts takes a file name", {}},
        {{"--ip", "10.0.0.1", "--report", ""}, A::Usage, "--report takes a file name", {}},
        {{"--restore-xport"}, A::Usage, "--restore-xport needs --ip ADDR", {}},
        {{"--restore-xport", "--check", "--ip", "10.0.0.1"}, A::Usage, "--check and --restore-xport do not go together", {}},
        {{"--restore-xport", "--ip", "10.0.0.1", "--ip", "10.0.0.2"}, A::Usage, "--restore-xport takes one --ip ADDR, not a fleet", {}},
        {{"--method", "serial", "--ip", "10.0.0.1", "--ip", "10.0.0.2"}, A::Usage, "--method serial does not go with --ip (a KT-58NET)", {}},
        {{"--method", "network", "--device", "d"}, A::Usage, "--method network does not go with --device (a KT-58CU)", {}},
        {{"--method", "serial", "--hosts", "h"}, A::Usage, "--method serial does not go with --hosts (a KT-58NET)", {}},
        {{"--hosts", "h", "--com", "2"}, A::Usage, "--com (a KT-58CU) and --hosts (a KT-58NET) do not go together", {}},
        {{"--restore-xport", "--ip", "10.0.0.1", "--method", "serial"}, A::Usage, "--method serial does not go with --ip", {}},
        {{"--ip", "10.0.0.1", "--ip", "10.0.0.2", "--keep-going", "--stop-on-error"}, A::Usage, "--keep-going and --stop-on-error do not go together", {}},
        {{"--if-newer", "--yes"}, A::Usage, "a fleet needs --ip ADDR or --hosts FILE", {}},
        {{"--hosts", "h", "--check"}, A::Usage, "--check takes one device, not a fleet", {}},
        {{"--help", "--com", "0"}, A::Help, "", {}},
        {{"-V", "--list-ports", "-h"}, A::Help, "", {}},
        {{"--list-ports", "--version"}, A::Version, "", {}},
        {{"--list-ports", "--ip", "10.0.0.1"}, A::ListPorts, "", {}},
        {{"--device", "/dev/x", "--ip", "127.0.0.1", "--tcp-port", "2", "-y"}, A::Usage,
         "--device (a KT-58CU) and --ip (a KT-58NET) do not go together", {}},
        {{"--method", "network", "--ip", "unit-7", "--com", "2", "--device", "d", "--quiet"}, A::Usage,
         "--com (a KT-58CU) and --ip (a KT-58NET) do not go together", {}},
        {{"--device", "/dev/x", "--tcp-port", "2", "-y"}, A::Update, "", {"--tcp-port does not apply to --method serial"}},
        {{"--ip", "unit-7", "--quiet"}, A::Update, "", {}},
        {{"--check", "--yes", "--keep-going"}, A::Check, "",
         {"--yes does not apply to --check: nothing is erased", "--keep-going and --stop-on-error apply to a fleet only"}},
        {{"--method=network", "--ip", "10.0.0.1", "--check", "--image", "i.hex", "--yes"}, A::Check, "",
         {"--yes does not apply to --check: nothing is erased"}},
        {{"--ip", "10.0.0.1", "--ip", "unit-7", "-y", "--tcp-port", "3", "--method", "network", "--check"}, A::Usage,
         "--check takes one device, not a fleet", {}},
        {{"--hosts", "plant.hosts", "--stop-on-error", "--if-newer", "--report", "r.json", "--trace"}, A::Fleet, "", {}},
        {{"--device", "a", "--device", "b", "--parallel", "2", "--tcp-port", "3"}, A::Fleet, "",
         {"--tcp-port does not apply to a fleet of KT-58CU units"}},
        {{"--com", "3", "--report", "r.json"}, A::Fleet, "", {}},
        {{"--discover", "10.0.0.0/24", "10.0.1.5", "-q", "--report", "d.json", "--hosts", "h", "--yes"}, A::Discover, "",
         {"--yes does not apply to --discover"}},
        {{"--discover", "--interface", "eth0"}, A::Discover, "", {}},
        {{"--device", "a", "--device", "b", "--ip", "10.0.0.1"}, A::Usage,
         "--device (a KT-58CU) and --ip (a KT-58NET) do not go together", {}},
        {{"--device", "a", "--com", "2", "--com", "3"}, A::Usage,
         "a fleet of KT-58CU units takes --device or --com, not both", {}},
        {{"--ip", "a", "--ip", "b", "--parallel", "33"}, A::Usage, "--parallel takes a number of units from 1 to 32", {}},
        {{"--restore-xport", "--ip", "10.0.0.1", "--image", "i", "--yes", "--tcp-port", "5", "-q", "--stop-on-error"},
         A::Restore, "",
         {"--tcp-port does not apply to --restore-xport",
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

// An unknown option is named with the table's option nearest to it, when one is near.
TEST(CommandLine, AnUnknownOptionGetsTheNearestOne)
{
    const struct {
        Strings args;
        std::string error;
    } rows[] = {
        {{"--devcie", "/dev/ttyUSB0"}, "unknown option --devcie; did you mean --device?"},
        {{"--verbos"}, "unknown option --verbos; did you mean --verbose?"},
        {{"-y", "--restor-xport", "--ip", "10.0.0.1"}, "unknown option --restor-xport; did you mean --restore-xport?"},
        {{"--trace-file=t"}, "unknown option --trace-file"},
        {{"--bogus"}, "unknown option --bogus"},
        {{"-x"}, "unknown option -x"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(::testing::PrintToString(row.args));
        const CommandLine line = parse(row.args);
        EXPECT_EQ(line.action, CommandAction::Usage);
        EXPECT_EQ(line.error, row.error);
    }
}

TEST(CommandLine, ValuesAsTaken)
{
    EXPECT_FALSE(parse({}).verbose);
    EXPECT_TRUE(parse({"-v"}).verbose);
    EXPECT_EQ(parse({"--verbose", "--com", "2"}).arguments, (Strings{"--verbose", "--com", "2"}));

    CommandLine line = parse({"--com=3", "--image", "new.hex", "-q", "--trace=run.trace"});
    EXPECT_EQ(line.com, 3);
    EXPECT_TRUE(line.comGiven);
    EXPECT_FALSE(line.network);
    EXPECT_EQ(line.image, "new.hex");
    EXPECT_TRUE(line.quiet);
    EXPECT_TRUE(line.trace);
    EXPECT_EQ(line.traceFile, "run.trace");

    line = parse({"--ip", "unit-7", "--tcp-port", "10002", "--trace", "-y"});  // --ip: a KT-58NET
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
    static const std::regex name(R"((?:^|[^\w-])(--[a-z][a-z0-9-]*[a-z0-9]|-[a-zA-Z])(?![\w-]))");
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

TEST(CommandLine, TheCompletionsOfferEveryOptionOfTheTable)
{
    // bash: the words offered where an option is expected.
    const std::string bash = bashCompletion();
    const size_t words = bash.rfind("compgen -W \"");
    ASSERT_NE(words, std::string::npos);
    const std::string offered = bash.substr(words + 12, bash.find('"', words + 12) - words - 12);
    EXPECT_EQ(optionNames(offered), tableNames()) << offered;
    EXPECT_THAT(bash, ::testing::HasSubstr("    --method)\n        COMPREPLY=($(compgen -W \"serial network\""));
    EXPECT_THAT(bash, ::testing::HasSubstr("    --image)\n        COMPREPLY=($(compgen -f"));

    // zsh: one spec a line, each naming its option (a pair in braces).
    const std::string zsh = zshCompletion();
    std::string specs;
    std::regex spec(R"(\n  (?:'\*?(--[a-z0-9-]+)[=\[]|'\([^)]*\)'\{(-[a-zA-Z]),(--[a-z0-9-]+)\}'\[))");
    for (std::sregex_iterator at(zsh.begin(), zsh.end(), spec, std::regex_constants::match_not_null), end; at != end; ++at)
        for (size_t group = 1; group <= 3; ++group)
            specs += (*at)[group].str() + " ";
    EXPECT_EQ(optionNames(specs), tableNames()) << zsh;
}

// The synopses of a help field ("--com N"); continued lines have none.
std::vector<std::string> synopses(const std::string& field)
{
    std::vector<std::string> found;
    for (size_t at = 0; at < field.size();) {
        const size_t end = std::min(field.find('\n', at), field.size());
        if (field[at] != '\t')
            found.push_back(field.substr(at, field.find('\t', at) - at));
        at = end + 1;
    }
    return found;
}

// Every help line of the table has its Japanese line, for the same synopsis.
TEST(CommandLine, EveryHelpLineIsInBothLanguages)
{
    for (const OptionSpec& option : optionTable()) {
        SCOPED_TRACE(option.names);
        EXPECT_EQ(synopses(option.help), synopses(option.helpJapanese));
        EXPECT_EQ(synopses(option.fleetHelp), synopses(option.fleetHelpJapanese));
    }
    EXPECT_NE(helpText(true), helpText(false));
}

} // namespace
