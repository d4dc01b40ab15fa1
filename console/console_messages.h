// The console's messages: texts of the one table (res/texts.def) in the
// user's language, their values filled in, written in the terminal's
// character set.
#pragma once

#include <cstdio>
#include <initializer_list>
#include <string>

#include "texts.h"

// `format` with each %s replaced by the next value, %N$s by value N (from 1)
// and %% by %; a placeholder without its value stays as it is.
std::string formatText(const std::string& format, std::initializer_list<std::string> values);
// Text `id` in the user's language, its values filled in.
std::string consoleMessage(TextId id, std::initializer_list<std::string> values = {});

// Writes the message and a line end to `stream` in the terminal's character set.
void sayLine(std::FILE* stream, TextId id, std::initializer_list<std::string> values = {});
// Writes `text` (from the table, or plain ASCII) and a line end.
void sayLine(std::FILE* stream, const std::string& text);

// Parts of one sentence joined as the language writes them, with the end mark.
std::string sentence(std::initializer_list<std::string> parts);
