#include "port_hint.h"

// Windows keeps no owning group on a COM port, and which program holds one
// is not to be found without a driver's help.
std::string portGroup(const std::string&)
{
    return {};
}

std::string portHolders(const std::string&)
{
    return {};
}
