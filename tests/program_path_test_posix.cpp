// kt5cufirm copied to paths longer than its image path can hold: it loads
// the image beside itself or refuses, and never one from a parent folder.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "device_emulator.h"
#include "test_support.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

// Runs `program` --device `device` --yes; its exit status (-1 when it did not
// exit) and what it wrote on stderr.
std::pair<int, std::string> runProgram(const fs::path& program, const std::string& device, const fs::path& errors)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::string args[] = {program.string(), "--device", device, "--yes"};
    char* argv[] = {args[0].data(), args[1].data(), args[2].data(), args[3].data(), nullptr};
    setenv("KT5CUFIRM_TEST_WAITS", "300,20", 1);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return {-1, "spawn failed"};
    int status = 0;
    waitpid(pid, &status, 0);
    std::ifstream in(errors);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, {std::istreambuf_iterator<char>(in), {}}};
}

TEST(ProgramPath, LongerThanTheImagePathHolds)
{
    const struct {
        const char* name;
        int folders;              // of 60 characters each, below the scratch folder
        std::string program;      // the copy's file name
        bool loadsItsOwn;         // else it refuses
    } rows[] = {
        {"deep folder", 5, "kt5cufirm", false},
        {"long name in a folder that fits", 3, "kt5cufirm-" + std::string(90, 'n'), true},
    };
    const std::string own = sampleImage("0201", 4, 16);
    const std::string decoy = sampleImage("9909", 4, 16);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ScratchDir scratch;
        fs::path folder = scratch.path();
        for (int i = 0; i < row.folders; ++i) {
            std::ofstream(folder / "kt58netcu.hex", std::ios::binary) << decoy;
            folder /= std::string(59, static_cast<char>('a' + i)) + "-";
            fs::create_directory(folder);
        }
        const fs::path program = folder / row.program;
        ASSERT_GT(program.string().size(), 300u);
        fs::copy_file(KT5CUFIRM_PATH, program);
        std::ofstream(folder / "kt58netcu.hex", std::ios::binary) << own;

        DeviceEmulator device;
        ASSERT_TRUE(device.startPty());
        const auto [status, errors] = runProgram(program, device.ptyPath(), scratch.path() / "stderr");
        EXPECT_EQ(status, row.loadsItsOwn ? 0 : 1) << errors;
        if (row.loadsItsOwn) {
            EXPECT_EQ(device.memory().bytes, imageMemory(own));
        } else {
            EXPECT_THAT(errors, ::testing::HasSubstr("Read error loading firmware file."));
            EXPECT_EQ(device.counters().erases, 0) << "a parent folder's image was written";
        }
    }
}

} // namespace
