// The console's messages: the formatter of their placeholders, and every
// text of the table with the same values in both languages.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console_messages.h"
#include "image_words.h"

namespace {

TEST(ConsoleMessages, FormatFillsValuesInOrderOrByPosition)
{
    const struct {
        const char* format;
        std::initializer_list<std::string> values;
        const char* text;
    } cases[] = {
        {"written %s%% (%s/%s bytes)", {"50", "1", "2"}, "written 50% (1/2 bytes)"},
        {"%2$s before %1$s", {"a", "b"}, "b before a"},
        {"%s and %s", {"only"}, "only and %s"},
        {"%d stays, %s", {"x"}, "%d stays, x"},
        {"ends with %", {}, "ends with %"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(formatText(c.format, c.values), c.text) << c.format;
}

// The placeholders of a format, in order ("%s", "%d", "%1$s").
std::vector<std::string> placeholders(const std::string& format)
{
    std::vector<std::string> found;
    for (size_t at = format.find('%'); at != std::string::npos; at = format.find('%', at + 2)) {
        if (format.compare(at, 2, "%%") == 0)
            continue;
        const size_t end = format.find_first_of("sd", at);
        found.push_back(format.substr(at, end == std::string::npos ? 1 : end - at + 1));
    }
    return found;
}

TEST(ConsoleMessages, EveryTextTakesTheSameValuesInBothLanguages)
{
    const struct {
        unsigned id;
        const char *english, *japanese;
    } texts[] = {
#define KT_TEXT(name, id, english, japanese) {id, english, japanese},
#include "texts.def"
#undef KT_TEXT
    };
    for (const auto& text : texts)
        EXPECT_EQ(placeholders(text.english), placeholders(text.japanese)) << "id " << text.id;
}

// In English the console says of an image what the image check says.
TEST(ConsoleMessages, ImageWordsInEnglishAreTheCheckersTexts)
{
    for (int fault = ImageEmpty; fault <= ImageOverlap; ++fault) {
        for (const int line : {0, 7}) {
            const ImageProblem problem{fault, line, line == 0 ? 0 : 44, 100, 0x3C, 0x105};
            EXPECT_EQ(imageProblemWords(problem), imageProblemText(problem)) << "fault " << fault;
        }
    }
    for (const int dataRecords : {0, 2}) {
        const ImageSummary summary{0x02, 0x01, 4, dataRecords, 24, 0x100, 0x2FFF7};
        EXPECT_EQ(imageSummaryWords(summary), imageSummaryText(summary));
    }
}

} // namespace
