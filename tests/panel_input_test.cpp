// What the connection panels make of typed text.
#include <gtest/gtest.h>

#include "panel_input.h"

TEST(PanelInput, ComFieldFallsBackToCom1UnlessItNamesAPort)
{
    const struct {
        const char* text;
        int32_t port;
        bool keep;
    } cases[] = {{"COM12", 12, true}, {"com3", 1, false},  {"COM", 1, false},   {"COM0", 1, false},
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
