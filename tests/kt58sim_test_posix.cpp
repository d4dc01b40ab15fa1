// The kt58sim program: its exit codes, and a whole update served over TCP
// with its summary line and its memory dump.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "link.h"
#include "protocol.h"
#include "protocol_waits.h"
#include "test_support.h"
#include "xport_test_platform.h"

extern char** environ;

namespace {

// A kt58sim run, its standard output and error on one stream.
class Sim {
public:
    explicit Sim(std::vector<std::string> arguments)
    {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
        arguments.insert(arguments.begin(), KT58SIM_PATH);
        std::vector<char*> argv;
        for (std::string& argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, KT58SIM_PATH, &actions, nullptr, argv.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        output_ = fdopen(fds[0], "r");
    }

    ~Sim()
    {
        if (pid_ > 0)
            kill(pid_, SIGKILL), waitpid(pid_, nullptr, 0);
        if (output_ != nullptr)
            std::fclose(output_);
    }

    // The next line of output (with its end); empty at the end.
    std::string line()
    {
        char text[512];
        return output_ != nullptr && std::fgets(text, sizeof text, output_) != nullptr ? text : "";
    }

    // Sends `signal` (0: none), reads the output to its end and waits: the
    // exit status, -1 when the program did not exit by itself.
    int end(int signal, std::string* output)
    {
        if (signal != 0)
            kill(pid_, signal);
        for (std::string next = line(); !next.empty(); next = line())
            *output += next;
        int status = 0;
        const bool exited = pid_ > 0 && waitpid(pid_, &status, 0) == pid_ && WIFEXITED(status);
        pid_ = -1;
        return exited ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t pid_ = -1;
    FILE* output_ = nullptr;
};

TEST(Kt58sim, ExitCodesAndAWholeUpdateOverTcpWithItsDump)
{
    std::string output;
    EXPECT_EQ(Sim({"--help"}).end(0, &output), 0);
    EXPECT_NE(output.find("Usage: kt58sim"), std::string::npos);
    for (const char* bad : {"--port=70000", "--no-such-option"}) {
        output.clear();
        EXPECT_EQ(Sim({bad}).end(0, &output), 2) << bad;
        EXPECT_EQ(output.rfind("kt58sim: ", 0), 0u) << output;
    }

    setProtocolWaitsForTests({2000, 300});
    ScratchDir scratch;
    const auto dump = scratch.path() / "memory.bin";
    Sim sim({"--port", "0", "--version", "1.04", "--tag", "5A", "--dump=" + dump.string()});
    const std::string first = sim.line();
    const std::string prefix = "kt58sim: listening on 127.0.0.1:";
    ASSERT_EQ(first.rfind(prefix, 0), 0u) << first;

    UpdateContext ctx;
    initUpdateContext(&ctx);
    ctx.method = Network;
    std::snprintf(ctx.ipText, sizeof ctx.ipText, "127.0.0.1");
    ctx.tcpPort = std::stoi(first.substr(prefix.size()));
    const std::string image = sampleImage("0302", 40, 32);
    std::vector<uint8_t> bytes(image.begin(), image.end());
    ctx.imageData = bytes.data();
    ctx.imageSize = static_cast<int32_t>(bytes.size());
    ctx.imageMinor = 0x03;
    ctx.imageMajor = 0x02;
    RecordingView view;
    std::string identified;
    int written = 0;
    runOnWorker(&ctx, view, [&](WindowHandle window) {
        if (openLink(window, &ctx) == 0)
            return;
        if (identifyDevice(window, &ctx) != 0) {
            identified.assign(reinterpret_cast<const char*>(ctx.deviceVersion), 3);
            written = writeImage(window, &ctx);
        }
        quitUpdateMode(window, &ctx);
        closeLink(window, &ctx);
    });
    ctx.imageData = nullptr;
    EXPECT_EQ(identified, "\x5A\x04\x01") << "tag, minor, major as given";
    EXPECT_EQ(written, 1);

    std::string summary;
    EXPECT_EQ(sim.end(SIGTERM, &summary), 0);
    EXPECT_NE(summary.find("41 records (0 bad)"), std::string::npos) << summary;
    EXPECT_NE(summary.find("1 complete write(s), version 2.03"), std::string::npos) << summary;
    std::ifstream in(dump, std::ios::binary);
    const std::vector<uint8_t> held{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    EXPECT_EQ(held, imageMemory(image)) << "the dump holds other data than the image";
}

} // namespace
