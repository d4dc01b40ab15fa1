#include "adapter_latency.h"

#include <climits>
#include <cstdlib>
#include <fstream>

int adapterLatencyMs(const std::string& device, const std::string& sysRoot, std::string* file)
{
    // The tty's name once links such as /dev/serial/by-id are followed.
    char resolved[PATH_MAX];
    const std::string path = realpath(device.c_str(), resolved) != nullptr ? resolved : device;
    const std::string name = path.substr(path.rfind('/') + 1);
    if (name.empty())
        return -1;
    // The tty's node leads to the usb-serial port, which holds the timer.
    std::ifstream timer(sysRoot + "/class/tty/" + name + "/device/latency_timer");
    int milliseconds = -1;
    if (!(timer >> milliseconds))
        return -1;
    *file = "/sys/bus/usb-serial/devices/" + name + "/latency_timer";
    return milliseconds;
}
