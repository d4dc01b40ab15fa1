#include "port_hint.h"

#include <windows.h>

PortProblem portProblem(int error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return PortProblem::Missing;
    // A COM port another program has open is refused as access denied.
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return PortProblem::Busy;
    default:
        return PortProblem::Other;
    }
}

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
