// The port list read from a small sysfs and /dev tree built like the kernel's.
#include <gtest/gtest.h>

#include <filesystem>

#include "port_list.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

class FakeTree {
public:
    fs::path sys() const { return dir_.path() / "sys"; }
    fs::path dev() const { return dir_.path() / "dev"; }

    void file(const fs::path& path, const std::string& content = "")
    {
        fs::create_directories(path.parent_path());
        dir_.write(fs::relative(path, dir_.path()).string(), content);
    }
    // A tty whose class entry leads to `ttyDir` (under sys/devices) and whose
    // device is `device` (relative to sys/devices), with a driver when given.
    void tty(const std::string& name, const std::string& device, const std::string& driver, const char* type,
             bool node = true)
    {
        const fs::path deviceDir = sys() / "devices" / device;
        const fs::path ttyDir = deviceDir / "tty" / name;
        fs::create_directories(ttyDir);
        fs::create_directories(sys() / "class" / "tty");
        fs::create_directory_symlink(ttyDir, sys() / "class" / "tty" / name);
        fs::create_directory_symlink("../../../" + deviceDir.filename().string(), ttyDir / "device");
        if (!driver.empty())
            bind(device, driver);
        if (type != nullptr)
            file(ttyDir / "type", std::string(type) + "\n");
        if (node)
            file(dev() / name);
    }
    void bind(const std::string& device, const std::string& driver)
    {
        const fs::path link = sys() / "devices" / device / "driver";
        if (fs::exists(link))
            return;
        // The serial core's own devices sit on bus serial-base.
        const std::string bus = driver == "port" || driver == "ctrl" ? "serial-base" : "platform";
        fs::create_directories(sys() / "bus" / bus / "drivers" / driver);
        fs::create_directory_symlink(sys() / "bus" / bus / "drivers" / driver, link);
    }
    void usbDevice(const std::string& device, const std::vector<std::pair<std::string, std::string>>& attributes)
    {
        for (const auto& [name, value] : attributes)
            file(sys() / "devices" / device / name, value + "\n");
    }

private:
    ScratchDir dir_;
};

TEST(PortList, ReadsPortsFromSysfsWithUsbDetailsAndByIdLinks)
{
    FakeTree tree;
    const std::string usb = "pci0000:00/0000:00:14.0/usb1/";
    tree.tty("ttyS0", "pnp0/00:05", "serial", "4");
    tree.tty("ttyS1", "platform/serial8250", "serial8250", "0");  // no UART at the legacy address
    tree.tty("ttyS2", "platform/serial8250", "serial8250", "4");
    tree.tty("ttyS3", "platform/nodriver", "", "4");
    // Newer kernels: a serial core port device between the tty and its controller.
    tree.tty("ttyS4", "pnp0/00:06/00:06:0/00:06:0.0", "port", "4");
    tree.bind("pnp0/00:06/00:06:0", "ctrl");
    tree.bind("pnp0/00:06", "serial");
    tree.tty("ttyS5", "platform/serial8250/serial8250:0/serial8250:0.5", "port", "0");
    tree.bind("platform/serial8250/serial8250:0", "ctrl");
    tree.tty("ttyS10", "pci0000:00/0000:00:16.3", "serial", "4");
    tree.tty("ttyUSB0", usb + "1-2/1-2:1.0/ttyUSB0", "ftdi_sio", nullptr);
    tree.usbDevice(usb + "1-2", {{"idVendor", "0403"}, {"idProduct", "6001"}, {"manufacturer", "FTDI"},
                                 {"product", "FT232R USB UART"}, {"serial", "A12345"}});
    tree.tty("ttyACM0", usb + "1-3/1-3:1.0", "cdc_acm", nullptr);
    tree.usbDevice(usb + "1-3", {{"idVendor", "2341"}, {"idProduct", "0043"}, {"product", "Uno"}});
    tree.tty("ttyUSB1", usb + "1-4/1-4:1.0/ttyUSB1", "pl2303", nullptr, false);  // no device node
    tree.tty("tty0", "virtual/tty0", "", nullptr);
    const fs::path byId = tree.dev() / "serial" / "by-id";
    fs::create_directories(byId);
    fs::create_symlink("../../ttyUSB0", byId / "usb-FTDI_FT232R_USB_UART_A12345-if00-port0");
    fs::create_symlink("../../ttyUSB7", byId / "usb-gone-if00-port0");  // leads nowhere

    const auto ports = listSerialPortsUnder(tree.sys().string(), tree.dev().string());
    const std::string dev = tree.dev().string();
    std::vector<std::string> listed;
    for (const SerialPortInfo& port : ports)
        listed.push_back(port.path.substr(dev.size()) + " " + port.driver + " " + port.vendorId + ":" +
                         port.productId + " " + port.manufacturer + "|" + port.product + "|" + port.serialNumber);
    const std::vector<std::string> expected{
        "/ttyACM0 cdc_acm 2341:0043 |Uno|",
        "/ttyS0 serial : ||",
        "/ttyS2 serial8250 : ||",
        "/ttyS4 serial : ||",
        "/ttyS10 serial : ||",
        "/ttyUSB0 ftdi_sio 0403:6001 FTDI|FT232R USB UART|A12345",
    };
    EXPECT_EQ(listed, expected);
    ASSERT_EQ(ports.size(), expected.size());
    EXPECT_EQ(ports.back().aliases,
              std::vector<std::string>{(byId / "usb-FTDI_FT232R_USB_UART_A12345-if00-port0").string()});
    EXPECT_TRUE(ports.front().aliases.empty());
}

TEST(PortList, NothingWithoutSysfs)
{
    EXPECT_TRUE(listSerialPortsUnder("/nonexistent-sys", "/nonexistent-dev").empty());
}

} // namespace
