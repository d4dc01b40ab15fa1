// The COM ports of this machine from its SERIALCOMM key (under Wine, the
// test's own prefix): listed without a failure, each a COM name, and a port
// added to the key for the test listed in its natural place.
#include <windows.h>

#include <gtest/gtest.h>

#include "port_list.h"

namespace {

const char kMap[] = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
const char kTestDevice[] = "\\Device\\KtTestSerial";

TEST(PortList, ListsTheComPortsOfThisMachine)
{
    HKEY map;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kMap, 0, nullptr, REG_OPTION_VOLATILE, KEY_SET_VALUE, nullptr, &map,
                        nullptr) != ERROR_SUCCESS)
        GTEST_SKIP() << "the serial port map cannot be written here";
    const char port[] = "COM42";
    ASSERT_EQ(RegSetValueExA(map, kTestDevice, 0, REG_SZ, reinterpret_cast<const BYTE*>(port), sizeof port),
              ERROR_SUCCESS);
    const auto ports = listSerialPorts();
    RegDeleteValueA(map, kTestDevice);
    RegCloseKey(map);

    std::printf("%s", serialPortListText(ports).c_str());
    int found = 0;
    for (size_t i = 0; i < ports.size(); ++i) {
        EXPECT_EQ(ports[i].path.rfind("COM", 0), 0u) << ports[i].path;
        EXPECT_FALSE(ports[i].driver.empty()) << ports[i].path;
        if (i > 0) {
            EXPECT_TRUE(naturalLess(ports[i - 1].path, ports[i].path)) << ports[i].path;
        }
        if (ports[i].path == "COM42" && ports[i].driver == kTestDevice)
            ++found;
    }
    EXPECT_EQ(found, 1);
}

} // namespace
