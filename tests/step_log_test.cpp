// The console's watch on a serial line: the adapter's latency timer read
// from a sysfs tree built here, and the rule on the records' round trips.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "step_log.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

// Hands the log one request on the device link, as the run would.
void sendIdentify(StepLog& log)
{
    static const uint8_t identify[] = {'K', 'O', 'R', 'V', 'A', 'N', 'E'};
    StepLog::traceHook(&log, TraceRecord{TraceLinkSend, identify, 7, 7, nullptr, 0});
}

TEST(StepLog, AnAdapterWhoseLatencyTimerIsAboveOneMsIsNamedOnceWithTheFix)
{
    const struct {
        const char* timer;  // the latency_timer file's text; null: no such file
        bool warned;
    } rows[] = {{"16\n", true}, {"2", true}, {"1\n", false}, {nullptr, false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.timer == nullptr ? "none" : row.timer);
        const ScratchDir sys;
        // The tty's node leads to the usb-serial port, as in /sys.
        const fs::path port = sys.path() / "bus/usb-serial/devices/ttyUSB3";
        fs::create_directories(port);
        fs::create_directories(sys.path() / "class/tty/ttyUSB3");
        fs::create_directory_symlink(port, sys.path() / "class/tty/ttyUSB3/device");
        if (row.timer != nullptr)
            std::ofstream(port / "latency_timer") << row.timer;
        std::vector<std::string> said;
        StepLog log([&said](const std::string& text) { said.push_back(text); }, false, nullptr, nullptr);
        log.watchSerialLine("/dev/ttyUSB3", sys.path().string());
        sendIdentify(log);
        sendIdentify(log);
        if (!row.warned) {
            EXPECT_THAT(said, ::testing::IsEmpty());
            continue;
        }
        ASSERT_EQ(said.size(), 1u);
        const std::string milliseconds = std::to_string(std::stoi(row.timer));
        EXPECT_EQ(said[0], "kt5cufirm: warning: the USB serial adapter /dev/ttyUSB3 holds each reply up to " +
                               milliseconds + " ms (its latency timer) and low latency could not be set, so the "
                               "update runs slowly; to fix: echo 1 | sudo tee "
                               "/sys/bus/usb-serial/devices/ttyUSB3/latency_timer");
    }
}

TEST(StepLog, RoundTripsAreSlowAboveFourTimesTheLineAndAFewMs)
{
    // 48 bytes both ways take 4.17 ms at 115200 baud: slow above 19.7 ms.
    const struct {
        std::vector<double> milliseconds;
        bool slow;
    } rows[] = {
        {{5, 6, 5}, false}, {{19, 19, 19}, false}, {{21, 20, 22}, true},
        {{1, 1, 100, 100, 1}, false}, {{16, 17, 30, 40, 50}, true}, {{}, false},
    };
    for (const auto& row : rows)
        EXPECT_EQ(StepLog::roundTripsSlow(row.milliseconds, 48), row.slow) << ::testing::PrintToString(row.milliseconds);
}

} // namespace
