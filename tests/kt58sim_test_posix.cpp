// The kt58sim program itself: its help, its options, a whole update served
// over TCP and over its pseudo-terminal, its summary and its memory dump.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "link.h"
#include "protocol.h"
#include "protocol_waits.h"
#include "test_support.h"
#include "update_context.h"
#include "xport_test_platform.h"

extern char** environ;

namespace {

// A kt58sim run with its standard output and error on one pipe.
class SimProcess {
public:
    bool start(const std::vector<std::string>& arguments)
    {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0)
            return false;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
        std::vector<std::string> all{KT58SIM_PATH};
        all.insert(all.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& argument : all)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        const int spawned = posix_spawn(&pid_, KT58SIM_PATH, &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        output_ = fds[0];
        if (spawned != 0)
            pid_ = -1;
        return spawned == 0;
    }

    // The next line of output, without its end; empty at the end or after 10 s.
    std::string readLine()
    {
        for (;;) {
            if (const size_t end = buffer_.find('\n'); end != std::string::npos) {
                std::string line = buffer_.substr(0, end);
                buffer_.erase(0, end + 1);
                return line;
            }
            pollfd entry{output_, POLLIN, 0};
            char chunk[512];
            ssize_t n = 0;
            if (poll(&entry, 1, 10000) <= 0 || (n = read(output_, chunk, sizeof chunk)) <= 0) {
                std::string rest;
                rest.swap(buffer_);
                return rest;
            }
            buffer_.append(chunk, static_cast<size_t>(n));
        }
    }

    // Everything up to the end of the output (or a 10 s silence).
    std::string readAll()
    {
        std::string all;
        all.swap(buffer_);
        pollfd entry{output_, POLLIN, 0};
        char chunk[512];
        ssize_t n = 0;
        while (poll(&entry, 1, 10000) > 0 && (n = read(output_, chunk, sizeof chunk)) > 0)
            all.append(chunk, static_cast<size_t>(n));
        return all;
    }

    // Waits for the process; its exit status, or -1 when it did not exit normally.
    int wait()
    {
        int status = 0;
        if (pid_ < 0 || waitpid(pid_, &status, 0) != pid_)
            return -1;
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    void signal(int number) const
    {
        if (pid_ > 0)
            kill(pid_, number);
    }

    ~SimProcess()
    {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (output_ >= 0)
            close(output_);
    }

private:
    pid_t pid_ = -1;
    int output_ = -1;
    std::string buffer_;
};

std::string fileContent(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Identifies the device, writes `image` and leaves update mode over the
// link `ctx` describes; the results of identify and write.
std::pair<int, int> updateDevice(UpdateContext* ctx, const std::string& image)
{
    std::vector<uint8_t> bytes(image.begin(), image.end());
    ctx->imageData = bytes.data();
    ctx->imageSize = static_cast<int32_t>(bytes.size());
    ctx->imageMinor = static_cast<uint8_t>(std::stoi(image.substr(1, 2), nullptr, 16));
    ctx->imageMajor = static_cast<uint8_t>(std::stoi(image.substr(3, 2), nullptr, 16));
    RecordingView view;
    std::pair<int, int> results{0, 0};
    runOnWorker(ctx, view, [&](WindowHandle window) {
        if (openLink(window, ctx) == 0)
            return;
        results.first = identifyDevice(window, ctx);
        if (results.first != 0)
            results.second = writeImage(window, ctx);
        quitUpdateMode(window, ctx);
        closeLink(window, ctx);
    });
    ctx->imageData = nullptr;
    return results;
}

TEST(Kt58sim, HelpNamesEveryOptionAndBadOptionsAreRefused)
{
    SimProcess help;
    ASSERT_TRUE(help.start({"--help"}));
    const std::string text = help.readAll();
    EXPECT_EQ(help.wait(), 0);
    EXPECT_NE(text.find("Usage: kt58sim"), std::string::npos);
    for (const char* option : {"--address", "--port", "--pty", "--version", "--tag", "--dump", "--silent-from",
                               "--short-reply", "--wrong-letter", "--wrong-version", "--early-efw", "--efl-at-end",
                               "--erase-delay", "--split-replies", "--close-after-records", "--late-reply",
                               "--double-reply"})
        EXPECT_NE(text.find(option), std::string::npos) << option;

    for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
             {"--port", "70000"}, {"--short-reply", "3"}, {"--no-such-option"}, {"--version=1"}, {"--pty=1"}}) {
        SimProcess refused;
        ASSERT_TRUE(refused.start(bad));
        const std::string message = refused.readAll();
        EXPECT_EQ(refused.wait(), 2) << bad[0];
        EXPECT_NE(message.find("kt58sim:"), std::string::npos);
    }
}

TEST(Kt58sim, ServesAWholeUpdateOverTcpAndDumpsItsMemory)
{
    setProtocolWaitsForTests({2000, 300});
    ScratchDir scratch;
    const auto dump = scratch.path() / "memory.bin";
    SimProcess sim;
    ASSERT_TRUE(sim.start({"--port", "0", "--version", "1.04", "--dump", dump.string(), "--split-replies=2"}));
    const std::string first = sim.readLine();
    const std::string prefix = "kt58sim: listening on 127.0.0.1:";
    ASSERT_EQ(first.rfind(prefix, 0), 0u) << first;
    const int port = std::stoi(first.substr(prefix.size()));
    ASSERT_GT(port, 0);

    UpdateContext ctx;
    initUpdateContext(&ctx);
    ctx.method = Network;
    std::snprintf(ctx.ipText, sizeof ctx.ipText, "127.0.0.1");
    ctx.tcpPort = port;
    const std::string image = sampleImage("0302", 40, 32);
    const auto [identified, written] = updateDevice(&ctx, image);
    EXPECT_EQ(identified, 1);
    EXPECT_EQ(ctx.deviceVersion[kDeviceVersionMinor], 0x03);
    EXPECT_EQ(written, 1);

    sim.signal(SIGTERM);
    const std::string summary = sim.readLine();
    EXPECT_EQ(sim.wait(), 0);
    EXPECT_NE(summary.find("41 records (0 bad)"), std::string::npos) << summary;
    EXPECT_NE(summary.find("1 complete write(s), version 2.03"), std::string::npos) << summary;
    const std::vector<uint8_t> expected = imageMemory(image);
    EXPECT_EQ(fileContent(dump), std::string(expected.begin(), expected.end()));
}

TEST(Kt58sim, ServesAWholeUpdateOverItsPseudoTerminal)
{
    setProtocolWaitsForTests({2000, 300});
    ScratchDir scratch;
    const auto dump = scratch.path() / "memory.bin";
    SimProcess sim;
    ASSERT_TRUE(sim.start({"--pty", "--dump=" + dump.string()}));
    const std::string first = sim.readLine();
    const std::string prefix = "kt58sim: serial port ";
    ASSERT_EQ(first.rfind(prefix, 0), 0u) << first;

    UpdateContext ctx;
    initUpdateContext(&ctx);
    ctx.method = Serial;
    std::snprintf(ctx.comDevice, sizeof ctx.comDevice, "%s", first.substr(prefix.size()).c_str());
    const std::string image = sampleImage("0105", 12, 16);
    const auto [identified, written] = updateDevice(&ctx, image);
    EXPECT_EQ(identified, 1);
    EXPECT_EQ(written, 1);

    sim.signal(SIGINT);
    const std::string summary = sim.readLine();
    EXPECT_EQ(sim.wait(), 0);
    EXPECT_NE(summary.find("13 records (0 bad)"), std::string::npos) << summary;
    EXPECT_NE(summary.find("version 5.01"), std::string::npos) << summary;
    const std::vector<uint8_t> expected = imageMemory(image);
    EXPECT_EQ(fileContent(dump), std::string(expected.begin(), expected.end()));
}

} // namespace
