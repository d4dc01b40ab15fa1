// The image file: loading, the version line, cutting records and the check of
// the whole image, including files built to make a careless reader overrun.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <vector>

#include "image_file.h"
#include "test_support.h"

namespace {

// A context holding `text` as its loaded image, in a heap block of exactly
// its size so that AddressSanitizer sees any read past the end.
struct LoadedImage {
    explicit LoadedImage(const std::string& text)
        : data(static_cast<uint8_t*>(std::malloc(text.empty() ? 1 : text.size())), std::free)
    {
        std::memcpy(data.get(), text.data(), text.size());
        ctx.imageData = data.get();
        ctx.imageSize = static_cast<int32_t>(text.size());
    }
    std::unique_ptr<uint8_t, void (*)(void*)> data;
    UpdateContext ctx{};
};

TEST(ImageVersion, MinorThenMajorFromTheFirstV)
{
    struct Case {
        std::string text;
        int result;
        uint8_t minor, major;  // 0x55, 0x66: left as they were
    };
    for (const Case& c : {Case{"V0201\r\n", 7, 0x02, 0x01}, Case{"V0a1b\r\n", 7, 0x0A, 0x1B},
                          Case{"V0G01\r\n", 7, 0x00, 0x01}, Case{"xx V1234", 7, 0x12, 0x34},
                          Case{"", 0, 0x55, 0x66}, Case{":00000001FF\r\n", 0, 0x55, 0x66},
                          Case{std::string("abc\0V0201", 9), 0, 0x55, 0x66}, Case{"V", 0, 0x55, 0x66},
                          Case{"V02", 0, 0x55, 0x66}, Case{"xxV020", 0, 0x55, 0x66}}) {
        LoadedImage image(c.text);
        image.ctx.imageMinor = 0x55;
        image.ctx.imageMajor = 0x66;
        EXPECT_EQ(readImageVersion(nullptr, &image.ctx), c.result) << c.text;
        EXPECT_EQ(image.ctx.imageMinor, c.minor) << c.text;
        EXPECT_EQ(image.ctx.imageMajor, c.major) << c.text;
    }
}

TEST(ImageRecords, CutFromTheNextColonWithinTheImage)
{
    const std::string data16 = hexRecord(0x0100, 0, std::vector<uint8_t>(16, 0xAB));
    // What follows the version line; the length cut from it (0: none).
    const std::pair<std::string, int> cases[] = {
        {data16 + "\r\n" + endOfFileRecord() + "\r\n", 43},
        {endOfFileRecord() + "\r\n", 12},  // with the CR after it
        {"", 0},
        {":0a000000000102030405060708090000\r\n", 31},  // lower-case count, bad checksum: cut alike
        {":00000011EF\r\n", 11},                         // type 11 is no end-of-file record
        {"xx:00000001FF\r\n", 12},
        {std::string("\0:00000001FF\r\n", 14), 0},
        // Cut short by the image end: a reader that trusts the count overruns.
        {":", 0},
        {":FF0000", 0},
        {":FF000000AB", 0},
        {":00000001FF", 0},
        {":10000000", 0},
        {":FF000001" + std::string(510, '0') + "00\r\n", kLongestRecord},
        // Fields without hex digits: the leading digits count.
        {":G0000000\r\n", 11},
        {":1G0000000000000000000000000000000000\r\n", 13},
        {":00000ZZZ\r\n", 11},
    };
    for (const auto& [body, expected] : cases) {
        LoadedImage image("V0201\r\n" + body);
        uint8_t destination[kBufferSize] = {};
        const int length = cutRecord(image.data.get() + 7, image.data.get() + image.ctx.imageSize, destination);
        EXPECT_EQ(length, expected) << body;
        const std::string cut(reinterpret_cast<char*>(destination), std::max(length, 0));
        EXPECT_EQ(cut, body.substr(std::min(body.find(':'), body.size()), cut.size())) << body;
    }
}

// The images the record loop writes correctly beyond those the diagnosis's
// table names (image_diagnosis_test): checkImage, its yes or no, takes them.
TEST(ImageCheck, AcceptsEveryRecordTypeAndSize)
{
    const std::string data = hexRecord(0, 0, {1, 2, 3, 4}), eof = endOfFileRecord();
    const std::pair<std::string, bool> cases[] = {
        {imageText("0201", {eof}), true},
        {imageText("0a1B", {eof}), true},
        {imageText("0201", {hexRecord(0, 4, {0, 1}), data, hexRecord(0, 5, {0, 0, 0, 0}), eof}), true},
        {imageText("0201", {hexRecord(0, 0, {}), eof}), true},
        {sampleImage("0102", 200, 32), true},
        {sampleImage("0102", 3, 255), true},
        {"V0201\n\r" + eof + "\r\n", false},
        {imageText("0201", {"!" + data.substr(1), eof}), false},
    };
    for (const auto& [text, accepted] : cases) {
        LoadedImage image(text);
        EXPECT_EQ(checkImage(nullptr, &image.ctx), accepted ? 1 : 0) << text;
    }
}

TEST(ImageCheck, RefusesEverySingleBitError)
{
    // Every bit of every byte of a data record and of the end-of-file record flipped in turn.
    const std::vector<uint8_t> data = {0x10, 0x12, 0x34, 0x00, 0x00, 0x7F, 0x80, 0xFF, 0x55, 0xAA, 0x01, 0xFE,
                                       0x3C, 0xC3, 0x0F, 0xF0, 0x96, 0x69, 0x00, 0x80, 0x00};
    const std::vector<uint8_t> endOfFile = {0x00, 0x00, 0x00, 0x01, 0xFF};
    auto text = [](const std::vector<uint8_t>& bytes) {
        std::string line = ":";
        char digits[3];
        for (uint8_t byte : bytes) {
            std::snprintf(digits, sizeof digits, "%02X", byte);
            line += digits;
        }
        return line;
    };
    std::vector<uint8_t> good = data;
    uint8_t sum = 0;
    for (size_t i = 0; i + 1 < good.size(); ++i)
        sum = static_cast<uint8_t>(sum + good[i]);
    good.back() = static_cast<uint8_t>(-sum);
    LoadedImage intact(imageText("0201", {text(good), text(endOfFile)}));
    ASSERT_EQ(checkImage(nullptr, &intact.ctx), 1);
    for (int record = 0; record < 2; ++record) {
        for (size_t at = 0; at < (record == 0 ? good.size() : endOfFile.size()); ++at) {
            for (int bit = 0; bit < 8; ++bit) {
                std::vector<uint8_t> bad = record == 0 ? good : endOfFile;
                bad[at] ^= static_cast<uint8_t>(1 << bit);
                LoadedImage image(record == 0 ? imageText("0201", {text(bad), text(endOfFile)})
                                              : imageText("0201", {text(good), text(bad)}));
                EXPECT_EQ(checkImage(nullptr, &image.ctx), 0) << "record " << record << ", byte " << at << ", bit " << bit;
            }
        }
    }
}

TEST(ImageFile, LoadsTheChosenFileWholeOrNothing)
{
    ScratchDir dir;
    const std::string text = sampleImage("0201", 5, 16);
    // The file and what it loads as; none: nothing loads and the context keeps its size.
    const std::pair<std::filesystem::path, std::optional<std::string>> files[] = {
        {dir.write("chosen.hex", text), text},
        {dir.write("empty.hex", ""), ""},
        {dir.path() / "missing.hex", std::nullopt},
        {dir.path(), std::nullopt},
    };
    for (const auto& [file, content] : files) {
        UpdateContext ctx{};
        ctx.imageSize = 1234;
        std::snprintf(ctx.imageChoice, sizeof ctx.imageChoice, "%s", file.string().c_str());
        ASSERT_EQ(loadImage(nullptr, &ctx), content ? 1 : 0) << file;
        EXPECT_EQ(ctx.imagePath, file.string());
        if (!content) {
            EXPECT_EQ(ctx.imageData, nullptr);
            EXPECT_EQ(ctx.imageSize, 1234);
            continue;
        }
        ASSERT_NE(ctx.imageData, nullptr);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(ctx.imageData), ctx.imageSize), *content);
        std::free(ctx.imageData);
    }
}

TEST(ImageFile, ShortReadLoadsNothing)
{
    // A kernel attribute file: its size says a page, a read gives a few bytes.
    const std::filesystem::path file = "/sys/devices/system/cpu/online";
    std::error_code error;
    const auto reported = std::filesystem::file_size(file, error);
    std::ifstream in(file, std::ios::binary);
    const std::string content{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (error || !in.is_open() || reported <= content.size())
        GTEST_SKIP() << "no file here that reads shorter than its size";
    UpdateContext ctx{};
    std::snprintf(ctx.imageChoice, sizeof ctx.imageChoice, "%s", file.string().c_str());
    EXPECT_EQ(loadImage(nullptr, &ctx), 0);
    EXPECT_EQ(ctx.imageData, nullptr);
    EXPECT_EQ(ctx.imageSize, static_cast<int32_t>(reported));
}

TEST(ImageFile, DefaultFileLiesBesideTheProgram)
{
    char path[kPathSize] = {};
    programImagePath(path);
    const std::filesystem::path image(path);
    EXPECT_EQ(image.filename(), "kt58netcu.hex");
    bool found = false;  // the test program itself lies in that directory
    for (const auto& entry : std::filesystem::directory_iterator(image.parent_path()))
        found = found || entry.path().filename().string().rfind("image_file_test", 0) == 0;
    EXPECT_TRUE(found) << image.parent_path();

    // Without a chosen file, loadImage reads that one.
    const std::string text = sampleImage("0304", 1, 4);
    std::ofstream(image, std::ios::binary) << text;
    UpdateContext ctx{};
    EXPECT_EQ(loadImage(nullptr, &ctx), 1);
    EXPECT_STREQ(ctx.imagePath, path);
    EXPECT_EQ(ctx.imageSize, static_cast<int32_t>(text.size()));
    std::free(ctx.imageData);
    std::filesystem::remove(image);
}

} // namespace
