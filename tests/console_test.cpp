// kt5cufirm as a process: its options, exit statuses, texts in both
// languages, the question on a terminal and whole updates against the
// emulators.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "device_emulator.h"
#include "test_support.h"
#include "xport_emulator.h"

namespace {

using namespace std::chrono_literals;

struct Outcome {
    int status = -1;  // exit status; -1 when it did not end by itself
    std::string out;
    std::string err;
};

const std::map<std::string, std::string> kEnglish = {{"LC_ALL", "C"}};

void applyEnvironment(const std::map<std::string, std::string>& environment)
{
    unsetenv("LC_ALL");
    unsetenv("LC_MESSAGES");
    unsetenv("LANG");
    setenv("KT5CUFIRM_TEST_WAITS", "300,20", 1);
    for (const auto& [name, value] : environment)
        setenv(name.c_str(), value.c_str(), 1);
}

std::vector<char*> argvOf(std::vector<std::string>& args)
{
    std::vector<char*> argv{const_cast<char*>(KT5CUFIRM_PATH)};
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    return argv;
}

// Reads both pipes until the process closes them, then reaps it.
Outcome collect(pid_t pid, int outFd, int errFd)
{
    Outcome outcome;
    pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    int open = 2;
    while (open > 0 && std::chrono::steady_clock::now() < deadline) {
        if (poll(fds, 2, 1000) <= 0)
            continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            char buffer[4096];
            ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n <= 0) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            } else {
                (i == 0 ? outcome.out : outcome.err).append(buffer, static_cast<size_t>(n));
            }
        }
    }
    for (pollfd& entry : fds)
        if (entry.fd >= 0)
            close(entry.fd);
    if (open > 0)
        kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    if (open == 0 && WIFEXITED(status))
        outcome.status = WEXITSTATUS(status);
    return outcome;
}

// Runs kt5cufirm with its standard input empty and its output in pipes.
Outcome runConsole(std::vector<std::string> args, const std::map<std::string, std::string>& environment = kEnglish)
{
    int out[2];
    int err[2];
    if (pipe(out) != 0 || pipe(err) != 0)
        return {};
    pid_t pid = fork();
    if (pid == 0) {
        int devNull = open("/dev/null", O_RDONLY);
        dup2(devNull, 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        applyEnvironment(environment);
        auto argv = argvOf(args);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    return collect(pid, out[0], err[0]);
}

class ConsoleRun : public ::testing::Test {
protected:
    void SetUp() override { image = scratch.write("image.hex", sampleImage("0201", 30, 16)); }

    std::vector<std::string> serialArgs(std::vector<std::string> more = {})
    {
        std::vector<std::string> args{"--device", device.ptyPath(), "--image", image.string()};
        args.insert(args.end(), more.begin(), more.end());
        return args;
    }

    ScratchDir scratch;
    std::filesystem::path image;
    DeviceEmulator device;
};

TEST(ConsoleOptions, UsageErrorsExitWithTwo)
{
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--bogus"}, {"--method", "usb"}, {"--com"}, {"--com", "0"}, {"--com", "x1"},
          {"--tcp-port", "70000"}, {"--tcp-port", "-1"}, {"--ip", "1234567890.123456"}, {"--image", ""}}) {
        Outcome outcome = runConsole(args);
        EXPECT_EQ(outcome.status, 2) << args[0];
        EXPECT_NE(outcome.err.find("Usage: kt5cufirm"), std::string::npos) << outcome.err;
        EXPECT_EQ(outcome.out, "");
    }
}

TEST(ConsoleOptions, HelpAndVersion)
{
    Outcome help = runConsole({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--method serial"), std::string::npos);
    Outcome version = runConsole({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "kt5cufirm Ver1.00\n");
}

TEST(ConsoleOptions, NetworkRunWithoutAddressOrPortIsRefused)
{
    Outcome noAddress = runConsole({"--method", "network"});
    EXPECT_EQ(noAddress.status, 1);
    EXPECT_EQ(noAddress.err, "Error: In the specified connection method, inputting in the IPaddress item is "
                             "necessary.\nPlease input a IP address into the item.\n");
    EXPECT_EQ(noAddress.out, "");

    Outcome noPort = runConsole({"--method", "network", "--ip", "127.0.0.1", "--tcp-port", "0"});
    EXPECT_EQ(noPort.status, 1);
    EXPECT_EQ(noPort.err.rfind("Error: In the specified connection method, inputting in the Port item", 0), 0u);
}

TEST(ConsoleOptions, JapaneseTexts)
{
    Outcome refused = runConsole({"--method", "network"}, {{"LANG", "ja_JP.UTF-8"}});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err, "エラー: IPアドレスが無効です。\n");

    ScratchDir scratch;
    Outcome missing = runConsole({"--device", (scratch.path() / "nothing").string()}, {{"LC_MESSAGES", "ja_JP.UTF-8"}});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.out, "接続しています。\nファームアップデートモードを終了します。\n"
                           "ファームアップデートが正常に完了できませんでした。\n");
    EXPECT_EQ(missing.err, "エラー: 接続に失敗しました。(code=" + std::to_string(ENOENT) + ")\n");
}

TEST_F(ConsoleRun, SerialUpdateWithYes)
{
    ASSERT_TRUE(device.startPty());
    Outcome outcome = runConsole(serialArgs({"--yes"}));
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(outcome.err, "");
    EXPECT_EQ(outcome.out, "Connectinng...\nVer 1.00\nRead processing...\n-> Ver 1.02\n"
                           "Ver 1.00 -> Ver 1.02\nIs the firmware updated? y\n"
                           "Data erasing... \nWrite processing...\nFirmware upgrade was completed.\n"
                           "Quit firmware mode.\nDisconnecting...\nFirmware update was complete.\n")
        << "no progress redraws without a terminal";
    EXPECT_EQ(device.memory().bytes, imageMemory(sampleImage("0201", 30, 16)));
}

TEST_F(ConsoleRun, WithoutATerminalTheAnswerIsNo)
{
    ASSERT_TRUE(device.startPty());
    Outcome outcome = runConsole(serialArgs());
    EXPECT_EQ(outcome.status, 1);
    EXPECT_NE(outcome.out.find("Is the firmware updated? n\n"), std::string::npos) << outcome.out;
    EXPECT_EQ(device.counters().erases, 0);
    EXPECT_EQ(device.counters().quits, 1);
}

TEST_F(ConsoleRun, OnATerminalTheUserAnswers)
{
    ASSERT_TRUE(device.startPty());
    for (const char* answer : {"n\n", "y\n"}) {
        int terminal = -1;
        pid_t pid = forkpty(&terminal, nullptr, nullptr, nullptr);
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            applyEnvironment(kEnglish);
            auto args = serialArgs();
            auto argv = argvOf(args);
            execv(argv[0], argv.data());
            _exit(127);
        }
        std::string screen;
        bool asked = false;
        const auto deadline = std::chrono::steady_clock::now() + 30s;
        while (std::chrono::steady_clock::now() < deadline) {
            pollfd entry{terminal, POLLIN, 0};
            if (poll(&entry, 1, 200) <= 0)
                continue;
            char buffer[1024];
            ssize_t n = read(terminal, buffer, sizeof buffer);
            if (n <= 0)
                break;  // the program has ended
            screen.append(buffer, static_cast<size_t>(n));
            if (!asked && screen.find("[y/N] ") != std::string::npos) {
                ASSERT_EQ(write(terminal, answer, 2), 2);
                asked = true;
            }
        }
        close(terminal);
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(asked) << screen;
        const bool yes = answer[0] == 'y';
        EXPECT_EQ(WEXITSTATUS(status), yes ? 0 : 1) << screen;
        EXPECT_EQ(device.counters().erases, yes ? 1 : 0);
        if (yes) {
            // The last redraw: the whole image but its version line, against a range of its size + 3.
            const size_t size = sampleImage("0201", 30, 16).size();
            const std::string last = std::to_string(size - 3) + "/" + std::to_string(size + 3) + " bytes";
            EXPECT_NE(screen.find("\r["), std::string::npos) << "the bar is drawn in place on a terminal";
            EXPECT_NE(screen.find(last), std::string::npos) << screen;
        }
    }
}

TEST_F(ConsoleRun, NetworkUpdateAgainstBothEmulators)
{
    DeviceEmulatorOptions options;
    options.port = 0;
    DeviceEmulator net(options);
    ASSERT_TRUE(net.startTcp());
    XportEmulator xport(XportEmulatorOptions{});
    std::string why;
    ASSERT_TRUE(xport.start(&why)) << why;
    Outcome outcome = runConsole({"--method", "network", "--ip", "127.0.0.1", "--tcp-port",
                                  std::to_string(net.port()), "--image", image.string(), "--yes"});
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(outcome.out.rfind("XPort setting is changed temporarily.\nConnectinng...\n", 0), 0u) << outcome.out;
    EXPECT_NE(outcome.out.find("Disconnecting...\nRestore XPort setting.\nFirmware update was complete.\n"),
              std::string::npos)
        << outcome.out;
    EXPECT_EQ(net.memory().bytes, imageMemory(sampleImage("0201", 30, 16)));
    EXPECT_EQ(xport.exchanges().size(), 6u);
    xport.stop();
}

TEST_F(ConsoleRun, FailedWriteExitsWithOne)
{
    DeviceEmulatorOptions options;
    options.silentFrom = 5;
    DeviceEmulator failing(options);
    ASSERT_TRUE(failing.startPty());
    Outcome outcome = runConsole({"--device", failing.ptyPath(), "--image", image.string(), "--yes"});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err, "Error: Failed in writing the firmware.\n");
    EXPECT_NE(outcome.out.find("Failed to firmware upgrade!\n"), std::string::npos);
}

} // namespace
