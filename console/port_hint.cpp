#include "port_hint.h"

#include "console_messages.h"

std::string portOpenHint(const std::string& path, int error)
{
    const PortProblem problem = portProblem(error);
    if (problem == PortProblem::Missing)
        return consoleMessage(TextHintListPorts);
    if (problem == PortProblem::NoPermission) {
        const std::string group = portGroup(path);
        return group.empty() ? std::string() : consoleMessage(TextHintGroup, {group, group});
    }
    if (problem == PortProblem::Busy) {
        const std::string holders = portHolders(path);
        return holders.empty() ? consoleMessage(TextHintBusy) : consoleMessage(TextHintBusyBy, {holders});
    }
    return {};
}
