// What the image diagnosis names for a refused image (checkImage, its yes or
// no, refuses it too), that seeded random mutations of the sample image never
// lead it outside the image, and the summary of an accepted one.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>

#include "image_diagnosis.h"
#include "image_file.h"
#include "test_support.h"

namespace {

// checkImage's verdict on `text`, from a heap block of exactly its size so
// that AddressSanitizer sees a read past the end.
int checked(const std::string& text)
{
    auto* data = static_cast<uint8_t*>(std::malloc(text.empty() ? 1 : text.size()));
    std::memcpy(data, text.data(), text.size());
    UpdateContext ctx{};
    ctx.imageData = data;
    ctx.imageSize = static_cast<int32_t>(text.size());
    const int result = checkImage(nullptr, &ctx);
    std::free(data);
    return result;
}

int diagnosed(const std::string& text, ImageProblem* problem, ImageSummary* summary)
{
    auto* data = static_cast<uint8_t*>(std::malloc(text.empty() ? 1 : text.size()));
    std::memcpy(data, text.data(), text.size());
    const int result = diagnoseImage(data, static_cast<int32_t>(text.size()), problem, summary);
    std::free(data);
    return result;
}

std::string withoutCarriageReturns(std::string text)
{
    for (size_t at; (at = text.find('\r')) != std::string::npos;)
        text.erase(at, 1);
    return text;
}

const std::string kData = hexRecord(0, 0, {1, 2, 3, 4});  // 19 characters
const std::string kEof = endOfFileRecord();

// `times` copies of kData, then the end-of-file record.
std::string sameRecord(size_t times)
{
    std::vector<std::string> records(times, kData);
    records.push_back(kEof);
    return imageText("0201", records);
}

// Six data records with the sixth one's checksum wrong: line 7.
std::string checksumWrongOnLine7()
{
    std::string text = sampleImage("0201", 6, 16);
    const size_t line7 = text.find(':');
    size_t at = line7;
    for (int line = 2; line < 7; ++line)
        at = text.find(':', at + 1);
    text[at + 42] = text[at + 42] == '0' ? '1' : '0';
    return text;
}

struct Case {
    const char* name;
    std::string image;
    int32_t fault, line, column;
    const char* text;  // the start of imageProblemText, or null
};

const Case kCases[] = {
    {"Fine", imageText("0201", {kData, kEof}), ImageFine, 0, 0, nullptr},
    {"OneByteAfterTheEnd", imageText("0201", {kData, kEof}) + "\x1A", ImageFine, 0, 0, nullptr},
    {"Empty", "", ImageEmpty, 0, 0, "the file is empty"},
    {"ByteOrderMark", "\xEF\xBB\xBF" + imageText("0201", {kEof}), ImageByteOrderMark, 1, 1,
     "line 1, column 1: a byte-order mark"},
    {"LowerCaseV", "v0201\r\n" + kEof + "\r\n", ImageBadVersionLine, 1, 1, nullptr},
    {"VersionDigit", imageText("0G01", {kEof}), ImageBadVersionLine, 1, 3, nullptr},
    {"VersionCutShort", "V02", ImageBadVersionLine, 1, 4, nullptr},
    {"VersionLineLonger", "V0201x\r\n" + kEof + "\r\n", ImageBadVersionLine, 1, 6, nullptr},
    {"LineFeedsOnly", withoutCarriageReturns(imageText("0201", {kData, kEof})), ImageLineEndNotCrLf, 1, 6,
     "line 1, column 6: the line does not end in CR LF"},
    {"LineFeedAfterARecord", "V0201\r\n" + kData + "\n" + kEof + "\r\n", ImageLineEndNotCrLf, 2, 20, nullptr},
    {"CarriageReturnAlone", "V0201\r\n" + kEof + "\r", ImageLineEndNotCrLf, 2, 12, nullptr},
    {"BlankLine", imageText("0201", {kData, "", kEof}), ImageBlankLine, 3, 1, "line 3, column 1: a blank line"},
    {"Comment", imageText("0201", {kData, "; note", kEof}), ImageNoRecordStart, 3, 1, nullptr},
    {"ChecksumOnLine7", checksumWrongOnLine7(), ImageBadChecksum, 7, 42, "line 7, column 42: checksum wrong"},
    {"NoEndRecord", imageText("0201", {kData}), ImageNoEndRecord, 3, 1, "line 3, column 1: no end-of-file record"},
    {"VersionLineOnly", "V0201\r\n", ImageNoEndRecord, 2, 1, nullptr},
    {"TrailingBlankLine", imageText("0201", {kData, kEof}) + "\r\n", ImageTextAfterEnd, 4, 1,
     "line 4, column 1: text after the end-of-file record"},
    {"RecordAfterTheEnd", imageText("0201", {kEof, kData}), ImageTextAfterEnd, 3, 1, nullptr},
    {"EndRecordWithoutLineEnd", "V0201\r\n" + kEof, ImageNoLineEnd, 2, 12, nullptr},
    {"CutShortByTheFileEnd", "V0201\r\n:10000000AB", ImageCutShort, 2, 12, nullptr},
    {"LineShorterThanItsLength", imageText("0201", {":10000000AB", kEof}), ImageShortRecord, 2, 12,
     "line 2, column 12: the record has 11 characters, its length field says 43"},
    {"BadLength", imageText("0201", {":G0000000FF", kEof}), ImageBadLength, 2, 2, nullptr},
    {"BadDigit", imageText("0201", {":01000000G000", kEof}), ImageBadDigit, 2, 10, nullptr},
    {"TextAfterARecord", imageText("0201", {kData + " ", kEof}), ImageTextAfterRecord, 2, 20, nullptr},
    {"SameAddressTwice", imageText("0201", {kData, hexRecord(2, 0, {9}), kEof}), ImageOverlap, 3, 4,
     "line 3, column 4: the record writes address 0x0002, which line 2 writes too"},
    // One record's end meets the next one's start, in another segment and
    // linear area too: no overlap.
    {"Adjacent", imageText("0201", {kData, hexRecord(4, 0, {9}), hexRecord(0, 2, {0x10, 0}), kData,
                                    hexRecord(0, 4, {0, 2}), kData, kEof}), ImageFine, 0, 0, nullptr},
    {"OverlapAcrossSegments", imageText("0201", {hexRecord(0x0105, 0, {1}), hexRecord(0, 2, {0, 0x10}), kData,
                                                 hexRecord(0x0004, 0, {1, 2}), kEof}),
     ImageOverlap, 5, 4, "line 5, column 4: the record writes address 0x0105, which line 2 writes too"},
    // An offset that wraps within its segment writes the segment's first bytes.
    {"OverlapByWrapping", imageText("0201", {kData, hexRecord(0xFFFE, 0, {1, 2, 3}), kEof}), ImageOverlap, 3, 4,
     "line 3, column 4: the record writes address 0x0000, which line 2 writes too"},
    // Far more data than addresses: the same overlap, seen whole.
    {"ManyRecordsOneAddress", sameRecord(300), ImageOverlap,
     3, 4, "line 3, column 4: the record writes address 0x0000, which line 2 writes too"},
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

class ImageDiagnosis : public ::testing::TestWithParam<Case> {};

TEST_P(ImageDiagnosis, NamesTheLineAndTheReason)
{
    const Case& c = GetParam();
    ImageProblem problem{-1, -1, -1, -1, -1, -1};
    const int accepted = diagnosed(c.image, &problem, nullptr);
    EXPECT_EQ(checked(c.image), accepted);
    EXPECT_EQ(accepted, c.fault == ImageFine ? 1 : 0);
    EXPECT_EQ(problem.fault, c.fault);
    EXPECT_EQ(problem.line, c.line);
    EXPECT_EQ(problem.column, c.column);
    if (c.text != nullptr) {
        EXPECT_EQ(imageProblemText(problem).rfind(c.text, 0), 0u) << imageProblemText(problem);
    }
}

std::string caseName(const ::testing::TestParamInfo<Case>& param) { return param.param.name; }
INSTANTIATE_TEST_SUITE_P(Cases, ImageDiagnosis, ::testing::ValuesIn(kCases), caseName);

// Mutations of a good image, each read from a block of its own size: the walk
// stays inside it and names a place inside it for every fault.
TEST(ImageDiagnosisMutations, StayInsideTheImage)
{
    std::ifstream file(KT_SAMPLE_IMAGE, std::ios::binary);
    const std::string sample{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    ASSERT_GT(sample.size(), 1000u);
    const std::string small = sampleImage("0a1B", 4, 16);
    const char interesting[] = {'0', '9', 'A', 'f', 'g', ':', '\r', '\n', ' ', 'V', '\0', '\x1A'};

    std::mt19937 random(20261207);
    const auto below = [&random](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(random); };
    int accepted = 0, refused = 0;
    for (int round = 0; round < 2000; ++round) {
        std::string image = round % 8 == 0 ? sample : small;
        // Mostly near the ends, where the walk starts and stops.
        const auto place = [&] {
            const size_t n = image.size();
            switch (below(3)) {
            case 0: return below(std::min<size_t>(n, 40));
            case 1: return n - 1 - below(std::min<size_t>(n, 40));
            default: return below(n);
            }
        };
        const char character = below(4) == 0 ? static_cast<char>(below(256)) : interesting[below(sizeof interesting)];
        for (int mutations = 1 + static_cast<int>(below(2)); mutations > 0 && !image.empty(); --mutations) {
            switch (below(6)) {
            case 0: image[place()] = character; break;
            case 1: image.erase(place(), 1); break;
            case 2: image.insert(place(), 1, character); break;
            case 3: image.resize(place()); break;
            case 4: image += std::string(below(3) + 1, character); break;
            default: {  // a letter's case, which both must accept
                const size_t at = place();
                if (std::isalpha(static_cast<unsigned char>(image[at])) && image[at] != 'V')
                    image[at] = static_cast<char>(image[at] ^ 0x20);
            }
            }
        }
        ImageProblem problem{};
        const int verdict = diagnosed(image, &problem, nullptr);
        ASSERT_EQ(verdict == 0, problem.fault != ImageFine) << "round " << round;
        ASSERT_LE(problem.offset, static_cast<int32_t>(image.size())) << "round " << round;
        (verdict ? accepted : refused) += 1;
    }
    EXPECT_GT(accepted, 100);
    EXPECT_GT(refused, 100);
}

TEST(ImageSummary, CountsRecordsBytesAndTheAddressRange)
{
    struct SummaryCase {
        std::string image;
        const char* text;
    };
    const SummaryCase cases[] = {
        {imageText("0201", {kEof}), "Ver 1.02, 1 records (0 data records, 0 bytes), no data"},
        {imageText("0201", {hexRecord(0x0100, 0, std::vector<uint8_t>(16, 0x11)), hexRecord(0, 4, {0x00, 0x02}),
                            hexRecord(0xFFF0, 0, std::vector<uint8_t>(8, 0x22)), kEof}),
         "Ver 1.02, 4 records (2 data records, 24 bytes), addresses 0x0100-0x2FFF7"},
        {imageText("0301", {hexRecord(0x0040, 0, {1, 2}), hexRecord(0, 2, {0x12, 0x34}),
                            hexRecord(0x0010, 0, {1, 2, 3, 4}), hexRecord(0, 3, {0, 0, 0, 0}), kEof}),
         "Ver 1.03, 5 records (2 data records, 6 bytes), addresses 0x0040-0x12353"},
    };
    for (const SummaryCase& c : cases) {
        ImageSummary summary{};
        ASSERT_EQ(diagnosed(c.image, nullptr, &summary), 1) << c.image;
        EXPECT_EQ(imageSummaryText(summary), c.text);
    }
    std::ifstream file(KT_SAMPLE_IMAGE, std::ios::binary);
    const std::string sample{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    ImageSummary summary{};
    ASSERT_EQ(diagnosed(sample, nullptr, &summary), 1);
    EXPECT_EQ(summary.records, 1025);
    EXPECT_EQ(summary.dataBytes, static_cast<int64_t>(imageMemory(sample).size()));
}

} // namespace
