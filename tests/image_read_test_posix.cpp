// Reading the image file refuses what is not a regular file, at once and with
// the reason: a FIFO that nobody writes must not hold the run.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "image_file.h"
#include "test_support.h"

TEST(ImageRead, RefusesWhatIsNotARegularFileWithTheReason)
{
    ScratchDir dir;
    const std::string fifo = (dir.path() / "fifo.hex").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::pair<std::string, std::string> cases[] = {
        {fifo, "is a FIFO, not a regular file"},
        {dir.path().string(), "is a directory"},
        {"/dev/null", "is a device, not a regular file"},
        {(dir.path() / "missing.hex").string(), "No such file or directory"},
        {"", "File name too long"},
    };
    for (const auto& [path, reason] : cases) {
        uint8_t* data = reinterpret_cast<uint8_t*>(&dir);
        int32_t size = 1234;
        std::string said;
        EXPECT_EQ(readImageFile(path.c_str(), &data, &size, &said), 0) << path;
        EXPECT_EQ(data, nullptr);
        EXPECT_EQ(size, 1234);
        EXPECT_EQ(said, reason) << path;
    }
    // The run's own load of the FIFO ends too.
    UpdateContext ctx{};
    std::snprintf(ctx.imageChoice, sizeof ctx.imageChoice, "%s", fifo.c_str());
    EXPECT_EQ(loadImage(nullptr, &ctx), 0);
    EXPECT_EQ(ctx.imageData, nullptr);
}
