// The console's English counterparts of the table's texts.
#include <gtest/gtest.h>

#include "console_text.h"

TEST(ConsoleText, EnglishTextsWhateverTheLanguage)
{
    EXPECT_EQ(englishText(32), "Firmware update was complete.");
    EXPECT_EQ(englishText(26), "Connect failure. (code=%d)");
    EXPECT_EQ(englishText(4), "");
}
