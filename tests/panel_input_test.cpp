// What the connection panels make of typed text.
#include <gtest/gtest.h>

#include "panel_input.h"

TEST(PanelInput, ComFieldFallsBackToCom1UnlessItNamesAPortInEitherCase)
{
    const struct {
        const char* text;
        int32_t port;
        bool keep;
    } cases[] = {{"COM12", 12, true}, {"com3", 3, false},  {"Com12", 12, false}, {"com0", 1, false},  {"COM", 1, false},   {"COM0", 1, false},
                 {"COM 7", 7, true},  {"COM7x", 7, true},  {"COM-2", -2, true}, {"", 1, false},
                 {"CO", 1, false},    {"XCOM5", 1, false}, {"COM12345678", 12345678, true}, {"COM123456789012345", 1, false}};
    for (const auto& c : cases) {
        const ComChoice choice = comPortFromText(c.text);
        EXPECT_EQ(choice.port, c.port) << c.text;
        EXPECT_EQ(choice.keepText, c.keep) << c.text;
    }
}

TEST(PanelInput, PortFieldReadsNineCharacters)
{
    EXPECT_EQ(tcpPortFromText("10001"), 10001);
    EXPECT_EQ(tcpPortFromText("1234567890"), 123456789);
    EXPECT_EQ(tcpPortFromText("abc"), 0);
    EXPECT_EQ(tcpPortFromText(""), 0);
    EXPECT_EQ(tcpPortFromText(" 80x"), 80);
}

TEST(PanelInput, StartTakesOnlyDottedAddressesAndPortsUpTo65535)
{
    const struct {
        const char* text;
        bool dotted;
    } addresses[] = {{"127.0.0.1", true},   {"192.168.0.50", true}, {"0.0.0.0", true},      {"255.255.255.255", true},
                     {"999.1.1.1", false},  {"abc", false},         {"192.168.0", false},   {"1.2.3.4.", false},
                     {"1.2.3.4.5", false},  {"1..2.3", false},      {" 1.2.3.4", false},    {"1.2.3.4 ", false},
                     {"0001.2.3.4", false}, {"1.2.3.256", false},   {"", false},            {"1.2.3.-4", false}};
    for (const auto& a : addresses)
        EXPECT_EQ(isDottedIpv4(a.text), a.dotted) << a.text;
    for (int32_t port : {1, 10001, 65535})
        EXPECT_TRUE(isTcpPort(port)) << port;
    for (int32_t port : {0, -1, 65536, 70000, tcpPortFromText("123456789")})
        EXPECT_FALSE(isTcpPort(port)) << port;
}
