#include "port_hint.h"

#include <cerrno>

#include "console_messages.h"

std::string portOpenHint(const std::string& path, int error)
{
    if (error == ENOENT || error == ENODEV || error == ENXIO)
        return consoleMessage(TextHintListPorts);
    if (error == EACCES || error == EPERM) {
        const std::string group = portGroup(path);
        return group.empty() ? std::string() : consoleMessage(TextHintGroup, {group, group});
    }
    if (error == EBUSY || error == EWOULDBLOCK || error == EAGAIN) {
        const std::string holders = portHolders(path);
        return holders.empty() ? consoleMessage(TextHintBusy) : consoleMessage(TextHintBusyBy, {holders});
    }
    return {};
}
