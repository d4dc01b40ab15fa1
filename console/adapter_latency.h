// A USB serial adapter's latency timer: how long it holds a short reply back
// before handing it on (Linux sysfs; elsewhere nothing is known).
#pragma once

#include <string>

// The timer in ms of the adapter behind `device` (e.g. /dev/ttyUSB0 or a
// /dev/serial/by-id link), read under `sysRoot`; -1 when it has none. `file`
// gets the path of the timer's file as it is under /sys, for the fix.
int adapterLatencyMs(const std::string& device, const std::string& sysRoot, std::string* file);
