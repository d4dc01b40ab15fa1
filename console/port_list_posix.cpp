// Serial ports from sysfs: the tty class entries named ttyS*, ttyUSB* and
// ttyACM* that have a device node, with the USB device's ids and strings, and
// the /dev/serial/by-id links that name them.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "port_list.h"

namespace fs = std::filesystem;

namespace {

// The first line of a sysfs attribute, without its line end; empty when absent.
std::string attribute(const fs::path& file)
{
    std::ifstream in(file);
    std::string value;
    std::getline(in, value);
    while (!value.empty() && (value.back() == '\n' || value.back() == '\r' || value.back() == ' '))
        value.pop_back();
    return value;
}

bool serialPortName(const std::string& name)
{
    for (const char* prefix : {"ttyS", "ttyUSB", "ttyACM"}) {
        const size_t length = std::char_traits<char>::length(prefix);
        if (name.size() > length && name.compare(0, length, prefix) == 0 &&
            name.find_first_not_of("0123456789", length) == std::string::npos)
            return true;
    }
    return false;
}

// The driver of a tty's device. Kernels from 6.5 on put the serial core's own
// "port" and "ctrl" devices (bus serial-base) between the tty and its
// controller; the controller's driver is the one that says something.
std::string driverOf(const fs::path& device)
{
    std::error_code error;
    fs::path at = fs::canonical(device, error);
    std::string found;
    for (int depth = 0; depth < 4 && !error && !at.empty(); ++depth) {
        std::error_code none;
        const fs::path driver = fs::read_symlink(at / "driver", none);
        if (driver.empty())
            return found;
        found = driver.filename().string();
        if (driver.parent_path().parent_path().filename() != "serial-base")
            return found;
        at = at.parent_path();
    }
    return found;
}

// A ttyS is listed only with a UART behind it. The kernel registers ttyS0 and
// up for the legacy ISA addresses on the platform device "serial8250" whether
// or not a UART answers there; the serial core reports those it found nothing
// at as port type 0 (unknown) in the tty's "type". So a ttyS counts when its
// device has a driver and its type, where the tty has one, is not 0.
bool hasUart(const fs::path& ttyEntry, const std::string& driver)
{
    if (driver.empty())
        return false;
    std::error_code error;
    return !fs::exists(ttyEntry / "type", error) || attribute(ttyEntry / "type") != "0";
}

// The USB device above the tty's device (the one with idVendor), if any.
void addUsbDetails(const fs::path& device, const fs::path& sysRoot, SerialPortInfo& port)
{
    std::error_code error;
    fs::path at = fs::canonical(device, error);
    if (error)
        return;
    const fs::path top = fs::canonical(sysRoot, error);
    for (int depth = 0; depth < 16 && !at.empty() && at != top && at != at.root_path(); ++depth) {
        if (fs::exists(at / "idVendor", error)) {
            port.vendorId = attribute(at / "idVendor");
            port.productId = attribute(at / "idProduct");
            port.manufacturer = attribute(at / "manufacturer");
            port.product = attribute(at / "product");
            port.serialNumber = attribute(at / "serial");
            return;
        }
        at = at.parent_path();
    }
}

// The entries of a directory; none when it cannot be read.
std::vector<fs::path> entries(const fs::path& directory)
{
    std::vector<fs::path> found;
    std::error_code error;
    for (fs::directory_iterator it(directory, error), end; !error && it != end; it.increment(error))
        found.push_back(it->path());
    return found;
}

} // namespace

std::vector<SerialPortInfo> listSerialPortsUnder(const std::string& sysRoot, const std::string& devRoot)
{
    std::vector<SerialPortInfo> ports;
    for (const fs::path& entry : entries(fs::path(sysRoot) / "class" / "tty")) {
        const std::string name = entry.filename().string();
        std::error_code missing;
        if (!serialPortName(name) || !fs::exists(fs::path(devRoot) / name, missing))
            continue;
        const fs::path device = entry / "device";
        if (!fs::exists(device, missing))
            continue;  // a virtual terminal without hardware
        SerialPortInfo port;
        port.path = (fs::path(devRoot) / name).string();
        port.driver = driverOf(device);
        if (name.compare(0, 4, "ttyS") == 0 && !hasUart(entry, port.driver))
            continue;
        addUsbDetails(device, sysRoot, port);
        ports.push_back(std::move(port));
    }

    // The stable names: each by-id link under the port it leads to.
    for (const fs::path& link : entries(fs::path(devRoot) / "serial" / "by-id")) {
        std::error_code broken;
        const fs::path target = fs::canonical(link, broken);
        if (broken)
            continue;
        for (SerialPortInfo& port : ports)
            if (fs::path(port.path).filename() == target.filename())
                port.aliases.push_back(link.string());
    }
    for (SerialPortInfo& port : ports)
        std::sort(port.aliases.begin(), port.aliases.end());
    std::sort(ports.begin(), ports.end(),
              [](const SerialPortInfo& a, const SerialPortInfo& b) { return naturalLess(a.path, b.path); });
    return ports;
}

std::vector<SerialPortInfo> listSerialPorts()
{
    return listSerialPortsUnder("/sys", "/dev");
}

void chooseComPort(UpdateContext* ctx, int number)
{
    ctx->comPort = number;
    std::snprintf(ctx->comDevice, sizeof ctx->comDevice, "/dev/ttyS%d", number - 1);
}

bool chooseDevice(UpdateContext* ctx, const std::string& device)
{
    std::snprintf(ctx->comDevice, sizeof ctx->comDevice, "%s", device.c_str());
    return true;
}

std::string chosenPortName(const UpdateContext& ctx)
{
    return ctx.comDevice;
}
