// The serial ports of this machine, with what is known of each (--list-ports),
// and the one a run opens.
#pragma once

#include <string>
#include <vector>

#include "update_context.h"

struct SerialPortInfo {
    std::string path;          // what --device (POSIX) or --com (Windows) takes: /dev/ttyUSB0, COM3
    std::vector<std::string> aliases;  // POSIX: /dev/serial/by-id links to it, the stable names
    std::string driver;        // POSIX: the kernel driver; Windows: the SERIALCOMM device name
    std::string description;   // Windows: the friendly name
    std::string vendorId;      // USB: four hex digits, as sysfs or the hardware id gives them
    std::string productId;
    std::string manufacturer;
    std::string product;
    std::string serialNumber;
};

// The ports found, in natural order (ttyS2 before ttyS10, COM2 before COM10).
std::vector<SerialPortInfo> listSerialPorts();
// (POSIX) The same, read from a sysfs tree at `sysRoot` and device nodes at
// `devRoot` ("/sys" and "/dev" for this machine).
std::vector<SerialPortInfo> listSerialPortsUnder(const std::string& sysRoot, const std::string& devRoot);

// The listing as printed: one line per port, its aliases indented below it.
std::string serialPortListText(const std::vector<SerialPortInfo>& ports);
// "a" before "b" with digit runs compared as numbers.
bool naturalLess(const std::string& a, const std::string& b);

// Sets the serial port from --com N: the COM number on Windows, the device
// /dev/ttyS<N-1> on POSIX.
void chooseComPort(UpdateContext* ctx, int number);
// Sets the serial port from --device: the path on POSIX, COMn (or \\.\COMn)
// on Windows; false when Windows cannot take the name.
bool chooseDevice(UpdateContext* ctx, const std::string& device);
// The serial port a run opens, as the user names it: /dev/ttyUSB0, COM3.
std::string chosenPortName(const UpdateContext& ctx);

// Whether two names lead to one port (the same name, or one device node).
bool samePort(const std::string& a, const std::string& b);
// What is known of the port a unit is named by: a stable name (by-id) and
// the adapter's serial number, each empty where the system does not say.
struct NamedPort {
    std::string stableName;
    std::string serialNumber;
};
NamedPort namePort(const std::string& given, const std::vector<SerialPortInfo>& ports);
