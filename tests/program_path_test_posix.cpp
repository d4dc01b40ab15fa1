// kt5cufirm copied to paths longer than its image path can hold: it loads
// the image beside itself or refuses, and never one from a parent folder.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "device_emulator.h"
#include "process_run.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

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
        const ProcessResult run = runProcess({program.string(), "--device", device.ptyPath(), "--yes"},
                                             {"KT5CUFIRM_TEST_WAITS=300,20"});
        const std::string& errors = run.err;
        EXPECT_EQ(run.status, row.loadsItsOwn ? 0 : 1) << errors;
        if (row.loadsItsOwn) {
            EXPECT_EQ(device.memory().bytes, imageMemory(own));
        } else {
            EXPECT_THAT(errors, ::testing::HasSubstr("kt5cufirm: error: the image could not be read: "));
            EXPECT_EQ(device.counters().erases, 0) << "a parent folder's image was written";
        }
    }
}

} // namespace
