// --retry REPORT: the units a fleet's report shows as not complete, to be
// run again as they were reached (address and TCP port, or serial port).
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "fleet_hosts.h"

// One report line's fields: a string, or nothing for null; numbers as written.
using ReportFields = std::map<std::string, std::optional<std::string>>;
// A flat JSON object as the report writes it; nothing when it is not one.
std::optional<ReportFields> parseReportFields(const std::string& line);

// The units of the report's text that did not end complete or skipped, in
// its order; false with *error naming the file and the line that cannot be read.
bool retryUnitsOf(const std::string& text, const std::string& fileName, std::vector<FleetHost>* hosts,
                  std::string* error);
// The same from the file; an unreadable file is an error too.
bool readRetryUnits(const std::string& path, std::vector<FleetHost>* hosts, std::string* error);
