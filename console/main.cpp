// kt5cufirm: the console front end. The same update run as the dialog, for
// scripts and for systems without Windows.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "command_line.h"
#include "console_commands.h"
#include "open_descriptors.h"
#include "standard_streams.h"

namespace {

int runCommand(const CommandLine& line)
{
    switch (line.action) {
    case CommandAction::Update:
        return updateCommand(line);
    case CommandAction::Check:
        return checkCommand(line);
    case CommandAction::Restore:
        return restoreCommand(line);
    case CommandAction::Fleet:
        return fleetCommand(line);
    case CommandAction::Discover:
        return discoverCommand(line);
    case CommandAction::ListPorts:
        return listPortsCommand();
    case CommandAction::Help:
        return helpCommand();
    case CommandAction::Version:
        return versionCommand();
    case CommandAction::Usage:
        break;
    }
    return usageError(line.error);
}

} // namespace

// KT5CUFIRM_DEBUG_FDS=1, a debugging aid: the last line on standard error
// names the descriptors open at the end and at the start (POSIX).
int main(int argc, char** argv)
{
    openMissingStandardStreams();
    const bool listDescriptors = std::getenv("KT5CUFIRM_DEBUG_FDS") != nullptr;
    const std::string before = listDescriptors ? openDescriptors() : std::string();
    const CommandLine line = parseCommandLine(argc, argv);
    prepareConsoleTexts();
    const int status = runCommand(line);
    if (listDescriptors) {
        std::fflush(stdout);
        std::fprintf(stderr, "kt5cufirm: descriptors open at the end: %s (at the start: %s)\n",
                     openDescriptors().c_str(), before.c_str());
    }
    return status;
}
