// What kt5cufirm does for each command line: an update, a check, a restore
// of the XPort's setup, a fleet, the port list, or the texts. Each returns
// the exit status.
#pragma once

#include "command_line.h"

// Chooses the texts' language and character set for the terminal.
void prepareConsoleTexts();

int updateCommand(const CommandLine& line);
int checkCommand(const CommandLine& line);
int restoreCommand(const CommandLine& line);
int fleetCommand(const CommandLine& line);
int discoverCommand(const CommandLine& line);
int listPortsCommand();
int helpCommand();
int versionCommand();
int usageError(const std::string& message);
