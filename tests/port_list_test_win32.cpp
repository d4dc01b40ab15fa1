// The COM ports of this machine (under Wine: its SERIALCOMM key): listed
// without a failure, each a COM name.
#include <gtest/gtest.h>

#include "port_list.h"

TEST(PortList, ListsTheComPortsOfThisMachine)
{
    const auto ports = listSerialPorts();
    for (const SerialPortInfo& port : ports) {
        EXPECT_EQ(port.path.rfind("COM", 0), 0u) << port.path;
        EXPECT_FALSE(port.driver.empty()) << port.path;
    }
    std::printf("%s", serialPortListText(ports).c_str());
}
