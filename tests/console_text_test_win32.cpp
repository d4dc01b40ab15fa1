// A file or a pipe gets the table's bytes unchanged.
#include <gtest/gtest.h>

#include "text_encoding.h"

TEST(ConsoleText, WritesTheBytesUnchangedToAFile)
{
    const std::string bytes = "\x83\x74\x83\x40\x81\x5B Ver 1.02";  // code page 932 bytes
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    writeConsoleText(file, bytes);
    std::rewind(file);
    char buffer[64] = {};
    const size_t length = std::fread(buffer, 1, sizeof buffer, file);
    std::fclose(file);
    EXPECT_EQ(std::string(buffer, length), bytes);
}
