// A hint after a serial port that could not be opened: what to do about the
// system's reason (a missing port, no permission, a port another program holds).
#pragma once

#include <string>

// The hint's line for `path` and the open's error number; empty when none applies.
std::string portOpenHint(const std::string& path, int error);
// What the system's error number says of a port that would not open.
enum class PortProblem { Other, Missing, NoPermission, Busy };
PortProblem portProblem(int error);
// The group that owns `path` ("dialout"); empty when unknown.
std::string portGroup(const std::string& path);
// The processes that hold `path` open, "name (pid N)", comma-separated; empty when none is found.
std::string portHolders(const std::string& path);
