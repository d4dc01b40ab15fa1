// The port list's order and printed form, on every platform.
#include <gtest/gtest.h>

#include "port_list.h"

namespace {

TEST(PortList, NaturalOrderComparesNumbersAsNumbers)
{
    const std::pair<const char*, const char*> ordered[] = {
        {"/dev/ttyS2", "/dev/ttyS10"}, {"COM2", "COM10"}, {"/dev/ttyACM0", "/dev/ttyS0"},
        {"/dev/ttyS1", "/dev/ttyS1x"}, {"COM02", "COM3"},  {"/dev/ttyS9", "/dev/ttyUSB0"},
    };
    for (const auto& [less, more] : ordered) {
        EXPECT_TRUE(naturalLess(less, more)) << less << " < " << more;
        EXPECT_FALSE(naturalLess(more, less)) << more << " < " << less;
    }
    EXPECT_FALSE(naturalLess("COM3", "COM3"));
}

TEST(PortList, PrintsOneLinePerPortWithItsAliasesBelow)
{
    SerialPortInfo usb;
    usb.path = "/dev/ttyUSB0";
    usb.aliases = {"/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A12345-if00-port0"};
    usb.driver = "ftdi_sio";
    usb.vendorId = "0403";
    usb.productId = "6001";
    usb.manufacturer = "FTDI";
    usb.product = "FT232R USB UART";
    usb.serialNumber = "A12345";
    SerialPortInfo com;
    com.path = "COM3";
    com.description = "USB Serial Port (COM3)";
    EXPECT_EQ(serialPortListText({usb, com}),
              "/dev/ttyUSB0  USB 0403:6001  FTDI  FT232R USB UART  serial A12345  (ftdi_sio)\n"
              "    /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A12345-if00-port0\n"
              "COM3  USB Serial Port (COM3)\n");
}

} // namespace
