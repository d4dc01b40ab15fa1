// The fleet's list of units, each unit's result, the exit status, the
// summary's rows and the report's lines.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "fleet_report.h"
#include "fleet_retry.h"
#include "port_list.h"
#include "test_support.h"

namespace {

using ::testing::HasSubstr;

TEST(FleetHosts, AddressesNamesPortsCommentsAndBlankLines)
{
    const std::string text = "# the plant\n\n192.168.0.50\r\n  unit-7.plant.example:10002  # hall 2\n"
                             "\t10.0.0.1:1\n#192.168.0.51\n";
    std::vector<FleetHost> hosts;
    std::string error;
    ASSERT_TRUE(parseHostsText(text, "hosts", 10001, &hosts, &error)) << error;
    ASSERT_EQ(hosts.size(), 3u);
    EXPECT_EQ(hosts[0].host, "192.168.0.50");
    EXPECT_EQ(hosts[0].tcpPort, 10001);
    EXPECT_EQ(hosts[0].line, 3);
    EXPECT_EQ(hosts[1].host, "unit-7.plant.example");
    EXPECT_EQ(hosts[1].tcpPort, 10002);
    EXPECT_EQ(hosts[2].line, 5);
    EXPECT_EQ(unitLabel(hosts[0]), "192.168.0.50");
    EXPECT_EQ(unitLabel(hosts[1]), "unit-7.plant.example:10002");
}

TEST(FleetHosts, AMalformedLineIsNamed)
{
    const struct {
        std::string text, error;
    } cases[] = {
        {"10.0.0.1\n10.0.0.2:0\n", "hosts:2: the TCP port after ':' is a number from 1 to 65535: 10.0.0.2:0"},
        {"10.0.0.1:65536\n", "hosts:1: the TCP port after ':' is a number from 1 to 65535: 10.0.0.1:65536"},
        {"\n\n10.0.0.1 10.0.0.2\n", "hosts:3: one address[:tcp-port] a line: 10.0.0.1 10.0.0.2"},
        {"10.0.0.256\n", "hosts:1: '10.0.0.256' is neither a dotted IPv4 address nor a host name: 10.0.0.256"},
        {"010.0.0.1\n", "hosts:1: '010.0.0.1' is neither a dotted IPv4 address nor a host name: 010.0.0.1"},
        {"unit_7\n", "hosts:1: 'unit_7' is neither a dotted IPv4 address nor a host name: unit_7"},
        {"10.0.0.0x1\n", "hosts:1: '10.0.0.0x1' is neither a dotted IPv4 address nor a host name: 10.0.0.0x1"},
        {":10001\n", "hosts:1: '' is neither a dotted IPv4 address nor a host name: :10001"},
        {"10.0.0.1\n# again\n10.0.0.1:10001\n", "hosts:3: 10.0.0.1:10001 is listed already on line 1"},
        {"# nothing\n\n", "hosts: no unit is listed"},
    };
    for (const auto& c : cases) {
        std::vector<FleetHost> hosts;
        std::string error;
        EXPECT_FALSE(parseHostsText(c.text, "hosts", 10001, &hosts, &error)) << c.text;
        EXPECT_EQ(error, c.error);
    }
}

TEST(FleetResults, EachRunsResultAndTheWorstStatus)
{
    const struct {
        UnitRun run;
        UnitResult result;
        int status;
    } cases[] = {
        {{false, true, true, false, false}, UnitResult::Complete, 0},
        {{false, false, false, false, false}, UnitResult::Unchanged, 1},
        {{false, false, false, false, true}, UnitResult::FailedBeforeErase, 1},
        {{false, true, false, false, true}, UnitResult::ErasedIncomplete, 3},
        {{true, true, true, false, true}, UnitResult::XportNotRestored, 4},
        {{false, false, false, true, false}, UnitResult::Skipped, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(unitResult(c.run), c.result) << resultName(c.result);
        EXPECT_EQ(unitStatus(c.result), c.status) << resultName(c.result);
    }
    auto worst = [](std::vector<UnitResult> results) {
        std::vector<UnitReport> units(results.size());
        for (size_t i = 0; i < results.size(); ++i)
            units[i].result = results[i];
        return fleetStatus(units);
    };
    EXPECT_EQ(worst({UnitResult::Complete, UnitResult::Skipped}), 0);
    EXPECT_EQ(worst({UnitResult::Complete, UnitResult::NotAttempted}), 1);
    EXPECT_EQ(worst({UnitResult::ErasedIncomplete, UnitResult::Unchanged}), 3);
    EXPECT_EQ(worst({UnitResult::ErasedIncomplete, UnitResult::XportNotRestored, UnitResult::Complete}), 4);
}

TEST(FleetResults, SummaryRowsAndReportLines)
{
    UnitReport done;
    done.label = done.host = "unit-7";
    done.address = "10.0.0.7";
    done.versionBefore = "1.00";
    done.versionAfter = "1.02";
    done.result = UnitResult::Complete;
    done.sha256 = std::string(64, 'a');
    done.seconds = 61.25;
    UnitReport left;
    left.label = "10.0.0.8:10002";
    left.host = "10.0.0.8";
    left.tcpPort = 10002;
    EXPECT_EQ(summaryTable({done, left}),
              "Address         Before  After   Result                   Seconds\n"
              "unit-7          1.00    1.02    complete                    61.2\n"
              "10.0.0.8:10002  -       -       not attempted                  -\n");
    // One object a line, each field once, in whatever order and spelling.
    const std::string doneLine = reportLine(done), leftLine = reportLine(left);
    EXPECT_EQ(doneLine.find('\n'), std::string::npos);
    EXPECT_EQ(parseJsonObject(doneLine),
              (JsonObject{{"host", "unit-7"}, {"address", "10.0.0.7"}, {"tcp_port", 10001.0},
                          {"version_before", "1.00"}, {"version_after", "1.02"}, {"result", "complete"},
                          {"status", 0.0}, {"seconds", 61.2}, {"sha256", std::string(64, 'a')}}))
        << doneLine;
    EXPECT_EQ(parseJsonObject(leftLine),
              (JsonObject{{"host", "10.0.0.8"}, {"address", nullptr}, {"tcp_port", 10002.0},
                          {"version_before", nullptr}, {"version_after", nullptr}, {"result", "not attempted"},
                          {"status", 1.0}, {"seconds", 0.0}, {"sha256", ""}}))
        << leftLine;
    // A host name with characters that JSON escapes comes back as it was.
    left.host = "a\"b\\c";
    const auto escaped = parseJsonObject(reportLine(left));
    ASSERT_TRUE(escaped.has_value()) << reportLine(left);
    EXPECT_EQ(escaped->at("host"), JsonValue(std::string("a\"b\\c")));
}

// A KT-58CU unit is named by its port; a USB adapter's stable name and
// serial number come from the port list, whichever of its names was given.
TEST(FleetSerialUnits, NamedByPortStableNameAndSerialNumber)
{
    ScratchDir dir;
    const std::string node = dir.write("ttyUSB0", "").string();
    const std::string byId = (dir.path() / "usb-FTDI_FT232R_A1B2C3-if00-port0").string();
    std::error_code linked;
    std::filesystem::create_symlink(node, byId, linked);
    if (linked)
        GTEST_SKIP() << "no symbolic link here: " << linked.message();
    const std::vector<SerialPortInfo> ports = {{node, {byId}, "ftdi_sio", "", "0403", "6001", "FTDI", "FT232R", "A1B2C3"}};
    struct Case {
        std::string given, stableName, serialNumber;
    } cases[] = {{node, byId, "A1B2C3"}, {byId, byId, "A1B2C3"}, {(dir.path() / "." / "ttyUSB0").string(), byId, "A1B2C3"},
                 {"/dev/ttyS0", "", ""}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.given);
        const NamedPort named = namePort(c.given, ports);
        EXPECT_EQ(named.stableName, c.stableName);
        EXPECT_EQ(named.serialNumber, c.serialNumber);
    }
    EXPECT_EQ(serialUnitLabel("/dev/ttyUSB0", "A1B2C3"), "/dev/ttyUSB0 A1B2C3");
    UnitReport unit;
    unit.port = byId;
    unit.stableName = byId;
    unit.result = UnitResult::Complete;
    EXPECT_THAT(reportLine(unit), HasSubstr("{\"port\":\"" + byId + "\",\"stable_name\":\"" + byId +
                                            "\",\"serial_number\":null,"));
    EXPECT_THAT(summaryTable({unit}), ::testing::StartsWith("Port "));
}

// --retry takes every unit not complete or skipped, as the report reached it.
TEST(FleetRetry, TheUnitsNotCompleteAsTheyWereReached)
{
    std::vector<UnitReport> units(8);
    const UnitResult results[] = {UnitResult::Complete,          UnitResult::Skipped,
                                  UnitResult::FailedBeforeErase, UnitResult::ErasedIncomplete,
                                  UnitResult::XportNotRestored,  UnitResult::NotAttempted,
                                  UnitResult::Unchanged,         UnitResult::FailedBeforeErase};
    std::string text;
    for (size_t i = 0; i < units.size(); ++i) {
        units[i].host = "unit-" + std::to_string(i);
        units[i].address = i == 3 ? "" : "10.0.0." + std::to_string(i);
        units[i].tcpPort = 10001 + static_cast<int>(i);
        units[i].result = results[i];
        text += reportLine(units[i]) + (i == 4 ? "\r\n\n" : "\n");
    }
    units[7].port = "COM3";
    text += reportLine(units[7]) + "\n";
    std::vector<FleetHost> hosts;
    std::string error;
    ASSERT_TRUE(retryUnitsOf(text, "r", &hosts, &error)) << error;
    ASSERT_EQ(hosts.size(), 7u);
    EXPECT_EQ(hosts[0].host, "10.0.0.2");
    EXPECT_EQ(hosts[1].host, "unit-3") << "the name where no address was looked up";
    EXPECT_EQ(hosts[1].tcpPort, 10004);
    EXPECT_EQ(hosts[4].host, "10.0.0.6");
    EXPECT_EQ(hosts[5].host, "10.0.0.7");
    EXPECT_EQ(hosts[6].serialPort, "COM3");
    EXPECT_EQ(hosts[6].com, 3);
    for (const std::string bad : {"{\"host\":\"a\",\"tcp_port\":1}", "{\"result\":\"complete\"", "not json",
                                  "{\"host\":\"a\",\"result\":\"complete\"}"}) {
        SCOPED_TRACE(bad);
        std::vector<FleetHost> none;
        EXPECT_FALSE(retryUnitsOf("\n" + bad + "\n", "r", &none, &error));
        EXPECT_EQ(error, "--retry r: line 2 is not a unit of a fleet's report");
    }
}

} // namespace
