// The image file: loading, the version line, cutting records and the check of
// the whole image, including files built to make a careless reader overrun.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>

#include "image_file.h"
#include "test_support.h"

namespace {

struct FreeImage {
    void operator()(uint8_t* data) const { std::free(data); }
};

// A context holding `text` as its loaded image, in a heap block of exactly
// its size so that AddressSanitizer sees any read past the end.
class LoadedImage {
public:
    explicit LoadedImage(const std::string& text)
    {
        std::memset(&ctx, 0, sizeof ctx);
        data_.reset(static_cast<uint8_t*>(std::malloc(text.empty() ? 1 : text.size())));
        std::memcpy(data_.get(), text.data(), text.size());
        ctx.imageData = data_.get();
        ctx.imageSize = static_cast<int32_t>(text.size());
    }
    const uint8_t* begin() const { return ctx.imageData; }
    const uint8_t* end() const { return ctx.imageData + ctx.imageSize; }
    UpdateContext ctx;

private:
    std::unique_ptr<uint8_t, FreeImage> data_;
};

std::string cut(const LoadedImage& image, size_t offset, int* length)
{
    uint8_t destination[kBufferSize] = {};
    *length = cutRecord(image.begin() + offset, image.end(), destination);
    return std::string(reinterpret_cast<char*>(destination));
}

TEST(ImageVersion, DigitsGiveMinorThenMajor)
{
    LoadedImage image("V0201\r\n");
    EXPECT_EQ(readImageVersion(nullptr, &image.ctx), 7);
    EXPECT_EQ(image.ctx.imageMinor, 0x02);
    EXPECT_EQ(image.ctx.imageMajor, 0x01);

    LoadedImage lower("V0a1b\r\n");
    EXPECT_EQ(readImageVersion(nullptr, &lower.ctx), 7);
    EXPECT_EQ(lower.ctx.imageMinor, 0x0A);
    EXPECT_EQ(lower.ctx.imageMajor, 0x1B);

    LoadedImage odd("V0G01\r\n");
    EXPECT_EQ(readImageVersion(nullptr, &odd.ctx), 7);
    EXPECT_EQ(odd.ctx.imageMinor, 0x00);
    EXPECT_EQ(odd.ctx.imageMajor, 0x01);
}

TEST(ImageVersion, MissingOrCutShortVersionIsNone)
{
    for (const std::string& text : {std::string(), std::string(":00000001FF\r\n"), std::string("abc\0V0201", 9),
                                     std::string("V"), std::string("V02"), std::string("xxV020")}) {
        LoadedImage image(text);
        image.ctx.imageMinor = 0x55;
        image.ctx.imageMajor = 0x66;
        EXPECT_EQ(readImageVersion(nullptr, &image.ctx), 0) << text;
        EXPECT_EQ(image.ctx.imageMinor, 0x55);
        EXPECT_EQ(image.ctx.imageMajor, 0x66);
    }
    LoadedImage later("xx V1234");
    EXPECT_EQ(readImageVersion(nullptr, &later.ctx), 7) << "the V need not stand first";
    EXPECT_EQ(later.ctx.imageMajor, 0x34);
}

TEST(ImageRecords, LengthFollowsCountAndType)
{
    const std::string data16 = hexRecord(0x0100, 0, std::vector<uint8_t>(16, 0xAB));
    LoadedImage image(imageText("0201", {data16, endOfFileRecord()}));
    int length = 0;
    EXPECT_EQ(cut(image, 7, &length), data16);
    EXPECT_EQ(length, 43);
    EXPECT_EQ(cut(image, 7 + 45, &length), endOfFileRecord() + "\r");
    EXPECT_EQ(length, 12);
    EXPECT_EQ(cut(image, 7 + 45 + 13, &length), "");
    EXPECT_EQ(length, 0);
}

TEST(ImageRecords, LowerCaseCountAndBadChecksumAreCutAlike)
{
    LoadedImage image("V0201\r\n:0a000000000102030405060708090000\r\n:0A000000000102030405060708091111\r\n");
    int lower = 0;
    int upper = 0;
    EXPECT_EQ(cut(image, 7, &lower).substr(0, 3), ":0a");
    EXPECT_EQ(cut(image, 7 + 33, &upper).substr(0, 3), ":0A");
    EXPECT_EQ(lower, 31);
    EXPECT_EQ(upper, 31);
}

TEST(ImageRecords, CursorSkipsToTheNextColonButStopsAtZeroOrEnd)
{
    LoadedImage skipping("V0201\r\nxx:00000001FF\r\n");
    int length = 0;
    EXPECT_EQ(cut(skipping, 7, &length), ":00000001FF\r");
    EXPECT_EQ(length, 12);

    LoadedImage zero(std::string("V0201\r\n\0:00000001FF\r\n", 21));
    EXPECT_EQ(cut(zero, 7, &length), "");
    EXPECT_EQ(length, 0);
}

TEST(ImageRecords, NeverReadsPastTheImageEnd)
{
    // Each of these ends inside a record; a reader that trusts the count overruns.
    for (const std::string& text : {std::string("V0201\r\n:"), std::string("V0201\r\n:FF0000"),
                                     std::string("V0201\r\n:FF000000AB"), std::string("V0201\r\n:00000001FF"),
                                     std::string("V0201\r\n:10000000")}) {
        LoadedImage image(text);
        int length = -1;
        cut(image, 7, &length);
        EXPECT_EQ(length, 0) << text;
    }
    // The longest record: count FF with an end-of-file type.
    std::string longest = ":FF000001" + std::string(510, '0') + "00\r\n";
    LoadedImage image("V0201\r\n" + longest);
    int length = 0;
    cut(image, 7, &length);
    EXPECT_EQ(length, kLongestRecord);
}

TEST(ImageRecords, FieldsWithoutHexDigitsStayWithinBounds)
{
    for (const char* record : {":G0000000\r\n", ":1G0000000000000000000000000000000000\r\n", ":00000ZZZ\r\n"}) {
        LoadedImage image(std::string("V0201\r\n") + record);
        int length = -1;
        cut(image, 7, &length);
        EXPECT_GE(length, 0);
        EXPECT_LE(length, kLongestRecord);
        EXPECT_LE(7 + length, image.ctx.imageSize);
    }
}

TEST(ImageCheck, AcceptsWhatTheRecordLoopWritesCorrectly)
{
    const std::string data = hexRecord(0, 0, {1, 2, 3, 4});
    for (const std::string& text :
         {imageText("0201", {endOfFileRecord()}), imageText("0201", {data, endOfFileRecord()}),
          imageText("0201", {data, endOfFileRecord()}) + "\x1A", imageText("0a1B", {endOfFileRecord()}),
          imageText("0201", {hexRecord(0, 4, {0, 1}), data, hexRecord(0, 5, {0, 0, 0, 0}), endOfFileRecord()}),
          imageText("0201", {hexRecord(0, 0, {}), endOfFileRecord()}), sampleImage("0102", 200, 32),
          sampleImage("0102", 3, 255)}) {
        LoadedImage image(text);
        EXPECT_EQ(checkImage(nullptr, &image.ctx), 1) << text;
    }
}

TEST(ImageCheck, RefusesImagesThatWouldBeWrittenWrongly)
{
    const std::string data = hexRecord(0, 0, {1, 2, 3, 4});
    std::string lfOnly = imageText("0201", {data, data, endOfFileRecord()});
    for (size_t at; (at = lfOnly.find("\r\n")) != std::string::npos;)
        lfOnly.erase(at, 1);
    std::string badChecksum = imageText("0201", {data, endOfFileRecord()});
    badChecksum[7 + data.size() - 1] ^= 1;
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"LF line ends", lfOnly},
        {"empty", ""},
        {"version only", "V0201\r\n"},
        {"no end-of-file record", imageText("0201", {data})},
        {"bad checksum", badChecksum},
        {"version not first", " V0201\r\n" + endOfFileRecord() + "\r\n"},
        {"non-hex version", imageText("0G01", {endOfFileRecord()})},
        {"version without CR LF", "V0201\n" + endOfFileRecord() + "\r\n"},
        {"two bytes after the end", imageText("0201", {endOfFileRecord()}) + "\r\n"},
        {"record after the end", imageText("0201", {endOfFileRecord(), data})},
        {"blank line", imageText("0201", {data, "", endOfFileRecord()})},
        {"text between records", imageText("0201", {data, "; note", endOfFileRecord()})},
        {"end-of-file without line end", "V0201\r\n" + endOfFileRecord()},
        {"end-of-file with CR only", "V0201\r\n" + endOfFileRecord() + "\r"},
        {"truncated record", "V0201\r\n:10000000AB"},
        {"non-hex data", imageText("0201", {":01000000GG00", endOfFileRecord()})},
        {"lower-case line end letters", imageText("0201", {data + " ", endOfFileRecord()})},
    };
    for (const auto& [name, text] : cases) {
        LoadedImage image(text);
        EXPECT_EQ(checkImage(nullptr, &image.ctx), 0) << name;
    }
}

TEST(ImageFile, LoadsTheChosenFileWhole)
{
    ScratchDir dir;
    const std::string text = sampleImage("0201", 5, 16);
    auto file = dir.write("chosen.hex", text);
    UpdateContext ctx{};
    std::snprintf(ctx.imageChoice, sizeof ctx.imageChoice, "%s", file.string().c_str());
    ASSERT_EQ(loadImage(nullptr, &ctx), 1);
    ASSERT_NE(ctx.imageData, nullptr);
    EXPECT_EQ(ctx.imageSize, static_cast<int32_t>(text.size()));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(ctx.imageData), text.size()), text);
    EXPECT_STREQ(ctx.imagePath, file.string().c_str());
    std::free(ctx.imageData);
}

TEST(ImageFile, EmptyFileLoadsAndHasNoVersion)
{
    ScratchDir dir;
    auto file = dir.write("empty.hex", "");
    UpdateContext ctx{};
    std::snprintf(ctx.imageChoice, sizeof ctx.imageChoice, "%s", file.string().c_str());
    ASSERT_EQ(loadImage(nullptr, &ctx), 1);
    EXPECT_EQ(ctx.imageSize, 0);
    EXPECT_EQ(readImageVersion(nullptr, &ctx), 0);
    std::free(ctx.imageData);
}

TEST(ImageFile, MissingFileLeavesNoImage)
{
    ScratchDir dir;
    UpdateContext ctx{};
    ctx.imageSize = 1234;
    std::snprintf(ctx.imageChoice, sizeof ctx.imageChoice, "%s", (dir.path() / "missing.hex").string().c_str());
    EXPECT_EQ(loadImage(nullptr, &ctx), 0);
    EXPECT_EQ(ctx.imageData, nullptr);
    EXPECT_EQ(ctx.imageSize, 1234);
    EXPECT_STREQ(ctx.imagePath, (dir.path() / "missing.hex").string().c_str());
}

TEST(ImageFile, DirectoryIsNoImage)
{
    ScratchDir dir;
    UpdateContext ctx{};
    std::snprintf(ctx.imageChoice, sizeof ctx.imageChoice, "%s", dir.path().string().c_str());
    EXPECT_EQ(loadImage(nullptr, &ctx), 0);
    EXPECT_EQ(ctx.imageData, nullptr);
}

TEST(ImageFile, DefaultFileLiesBesideTheProgram)
{
    char path[kPathSize] = {};
    programImagePath(path);
    const std::filesystem::path image(path);
    EXPECT_EQ(image.filename().string(), "kt58netcu.hex");
    // The test program itself lies in that directory.
    bool found = false;
    for (const auto& entry : std::filesystem::directory_iterator(image.parent_path()))
        found = found || entry.path().filename().string().rfind("image_file_test", 0) == 0;
    EXPECT_TRUE(found) << image.parent_path();

    // Without a chosen file, loadImage reads that one.
    const std::string text = sampleImage("0304", 1, 4);
    {
        std::ofstream out(image, std::ios::binary);
        out << text;
    }
    UpdateContext ctx{};
    EXPECT_EQ(loadImage(nullptr, &ctx), 1);
    EXPECT_STREQ(ctx.imagePath, path);
    EXPECT_EQ(ctx.imageSize, static_cast<int32_t>(text.size()));
    std::free(ctx.imageData);
    std::filesystem::remove(image);
}

} // namespace
