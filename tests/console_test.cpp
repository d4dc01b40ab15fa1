// kt5cufirm as a process: its options, exit statuses, texts in both
// languages, the question on a terminal and whole updates against the
// emulators.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "device_emulator.h"
#include "test_support.h"
#include "xport_emulator.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::StartsWith;
using Strings = std::vector<std::string>;

// kt5cufirm's argv and environment, built before the fork: the locale
// variables replaced by `locale`, the protocol waits shortened. A child that
// has not ended after a minute is ended by its alarm.
class Invocation {
public:
    Invocation(Strings args, Strings locale) : args_(std::move(args)), env_(std::move(locale))
    {
        args_.insert(args_.begin(), KT5CUFIRM_PATH);
        env_.push_back("KT5CUFIRM_TEST_WAITS=300,20");
        for (char** entry = environ; *entry != nullptr; ++entry)
            if (std::strncmp(*entry, "LC_", 3) != 0 && std::strncmp(*entry, "LANG=", 5) != 0)
                env_.push_back(*entry);
        argv_ = pointers(args_);
        envp_ = pointers(env_);
    }
    [[noreturn]] void exec()
    {
        alarm(60);
        execve(argv_[0], argv_.data(), envp_.data());
        _exit(127);
    }

private:
    static std::vector<char*> pointers(Strings& strings)
    {
        std::vector<char*> result;
        for (std::string& s : strings)
            result.push_back(s.data());
        result.push_back(nullptr);
        return result;
    }
    Strings args_, env_;
    std::vector<char*> argv_, envp_;
};

struct Outcome {
    int status;  // the exit status; -1 when the program did not end by itself
    std::string out, err;
};

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Runs kt5cufirm with standard input empty and its output in files; the
// locale is LC_ALL=C unless given.
Outcome runConsole(Strings args, Strings locale = {})
{
    ScratchDir dir;
    const std::string out = (dir.path() / "out").string(), err = (dir.path() / "err").string();
    Invocation invocation(std::move(args), locale.empty() ? Strings{"LC_ALL=C"} : std::move(locale));
    const pid_t pid = fork();
    if (pid < 0)
        return {-1, "", "fork failed"};
    if (pid == 0) {
        dup2(open("/dev/null", O_RDONLY | O_CLOEXEC), 0);
        dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600), 1);
        dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600), 2);
        invocation.exec();
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readFile(out), readFile(err)};
}

// Runs kt5cufirm on a terminal and types `answer` at its question; what the
// terminal showed.
std::string runOnTerminal(Strings args, const std::string& answer, int* status)
{
    Invocation invocation(std::move(args), {"LC_ALL=C"});
    int terminal = -1;
    const pid_t pid = forkpty(&terminal, nullptr, nullptr, nullptr);
    if (pid < 0) {
        *status = -1;
        return "forkpty failed";
    }
    if (pid == 0)
        invocation.exec();
    std::string screen;
    char buffer[1024];
    bool asked = false;
    for (ssize_t n; (n = read(terminal, buffer, sizeof buffer)) > 0;) {  // until the program ends
        screen.append(buffer, static_cast<size_t>(n));
        if (!asked && screen.find("[y/N] ") != std::string::npos)
            asked = write(terminal, answer.data(), answer.size()) > 0;
    }
    close(terminal);
    waitpid(pid, status, 0);
    return screen;
}

TEST(ConsoleOptions, ExitStatusesAndTexts)
{
    struct Case {
        Strings args, locale;
        int status;
        ::testing::Matcher<const std::string&> out, err;
    };
    const auto usage = HasSubstr("Usage: kt5cufirm");
    const Case cases[] = {
        {{"--bogus"}, {}, 2, "", usage},
        {{"--method", "usb"}, {}, 2, "", usage},
        {{"--com"}, {}, 2, "", usage},
        {{"--com", "0"}, {}, 2, "", usage},
        {{"--com", "x1"}, {}, 2, "", usage},
        {{"--tcp-port", "65536"}, {}, 2, "", usage},
        {{"--tcp-port", "-1"}, {}, 2, "", usage},
        {{"--ip", "1234567890.12345"}, {}, 2, "", usage},
        {{"--image", ""}, {}, 2, "", usage},
        {{"--help"}, {}, 0, HasSubstr("--method serial"), ""},
        {{"--version"}, {}, 0, "kt5cufirm Ver1.00\n", ""},
        {{"--method", "network"}, {}, 1, "",
         "Error: In the specified connection method, inputting in the IPaddress item is necessary.\n"
         "Please input a IP address into the item.\n"},
        {{"--method", "network", "--ip", "127.0.0.1", "--tcp-port", "0"}, {}, 1, "",
         StartsWith("Error: In the specified connection method, inputting in the Port item")},
        {{"--method", "network"}, {"LANG=ja_JP.UTF-8"}, 1, "", "エラー: IPアドレスが無効です。\n"},
        {{"--device", "/nonexistent/tty"}, {"LC_MESSAGES=ja_JP.UTF-8"}, 1,
         "接続しています。\nファームアップデートモードを終了します。\nファームアップデートが正常に完了できませんでした。\n",
         "エラー: 接続に失敗しました。(code=" + std::to_string(ENOENT) + ")\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.args));
        const Outcome outcome = runConsole(c.args, c.locale);
        EXPECT_EQ(outcome.status, c.status);
        EXPECT_THAT(outcome.out, c.out);
        EXPECT_THAT(outcome.err, c.err);
    }
}

class ConsoleRun : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(device.startPty()); }
    Strings serial(Strings more = {}) const
    {
        more.insert(more.begin(), {"--device", device.ptyPath(), "--image", imageFile});
        return more;
    }
    ScratchDir scratch;
    const std::string image = sampleImage("0201", 30, 16);
    const std::string imageFile = scratch.write("image.hex", image).string();
    DeviceEmulator device;
};

TEST_F(ConsoleRun, SerialUpdateWithYesThenWithoutATerminal)
{
    const Outcome yes = runConsole(serial({"--yes"}));
    EXPECT_EQ(yes.status, 0) << yes.err;
    EXPECT_EQ(yes.err, "");
    EXPECT_EQ(yes.out, "Connectinng...\nVer 1.00\nRead processing...\n-> Ver 1.02\n"
                       "Ver 1.00 -> Ver 1.02\nIs the firmware updated? y\n"
                       "Data erasing... \nWrite processing...\nFirmware upgrade was completed.\n"
                       "Quit firmware mode.\nDisconnecting...\nFirmware update was complete.\n")
        << "no progress redraws without a terminal";
    EXPECT_EQ(device.memory().bytes, imageMemory(image));

    // Without a terminal and without --yes the answer is No: nothing is erased.
    const Outcome no = runConsole(serial());
    EXPECT_EQ(no.status, 1);
    EXPECT_THAT(no.out, HasSubstr("Is the firmware updated? n\n"));
    EXPECT_EQ(device.counters().erases, 1);
    EXPECT_EQ(device.counters().quits, 2);
}

TEST_F(ConsoleRun, OnATerminalTheUserAnswers)
{
    for (const std::string answer : {"n\n", "y\n"}) {
        int status = -1;
        const std::string screen = runOnTerminal(serial(), answer, &status);
        const bool yes = answer == "y\n";
        EXPECT_THAT(screen, HasSubstr("[y/N] "));
        EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, yes ? 0 : 1) << screen;
        EXPECT_EQ(device.counters().erases, yes ? 1 : 0) << screen;
        if (yes) {  // the bar in place, last at the whole image but its version line, of its size + 3
            EXPECT_THAT(screen, HasSubstr("\r["));
            EXPECT_THAT(screen, HasSubstr(std::to_string(image.size() - 3) + "/" + std::to_string(image.size() + 3) +
                                          " bytes"));
        }
    }
}

TEST_F(ConsoleRun, NetworkUpdateAgainstBothEmulators)
{
    DeviceEmulator net;
    ASSERT_TRUE(net.startTcp());
    XportEmulator xport(XportEmulatorOptions{});
    ASSERT_TRUE(xport.start());
    const Outcome outcome = runConsole({"--method", "network", "--ip", "127.0.0.1", "--tcp-port",
                                        std::to_string(net.port()), "--image", imageFile, "--yes"});
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_THAT(outcome.out, StartsWith("XPort setting is changed temporarily.\nConnectinng...\n"));
    EXPECT_THAT(outcome.out, EndsWith("Disconnecting...\nRestore XPort setting.\nFirmware update was complete.\n"));
    EXPECT_EQ(net.memory().bytes, imageMemory(image));
    ASSERT_TRUE(xport.sync(2s));
    EXPECT_EQ(xport.exchanges().size(), 6u);
}

} // namespace
