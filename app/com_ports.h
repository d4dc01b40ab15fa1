// The COM ports the COM panel lists after COM1 to COM9.
#pragma once

#include <cstdint>
#include <vector>

// The numbers above 9 of the ports in the registry's serial map
// (HARDWARE\DEVICEMAP\SERIALCOMM), ascending, each once.
std::vector<int32_t> comPortsAboveNine();
