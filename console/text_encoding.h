// Text in the terminal's character set. The text table is UTF-8 on POSIX: it
// is converted to the locale's character set (EUC-JP, Shift_JIS, ...); where
// that set cannot show Japanese the console chooses English texts at the
// start. On Windows the table's bytes are in the ANSI code page: a console
// gets them as UTF-16 through WriteConsoleW, whatever its code page; a file
// or a pipe gets the bytes unchanged.
#pragma once

#include <cstdio>
#include <string>

// Takes the character set from the locale (POSIX: setlocale(LC_CTYPE, "")
// and its CODESET; for a locale not installed here, the set its name gives).
// Call once before writing.
void initConsoleEncoding();

// Writes `text` in the console's character set.
void writeConsoleText(std::FILE* stream, const std::string& text);
// `text` as the console writes it to a file or pipe: (POSIX) converted to the
// set, else as it is; (Windows) the table's bytes unchanged.
std::string consoleBytes(const std::string& text);
// UTF-8 `text` (the console's own literals) as the text table gives its
// texts: (POSIX) as it is, (Windows) in the ANSI code page.
std::string fromUtf8(const std::string& text);
// Whether the console's character set can show Japanese (always on Windows).
bool consoleShowsJapanese();

// (POSIX) `utf8` converted to `codeset` into *out; false when the set is not
// known or cannot show every character.
bool convertText(const std::string& utf8, const std::string& codeset, std::string* out);
// (POSIX) The set a locale's name gives: "ja_JP.eucJP" -> "EUC-JP",
// "ja_JP.SJIS" -> "SHIFT_JIS", "ja_JP.UTF-8" -> "UTF-8"; empty without one.
std::string codesetFromLocaleName(const std::string& name);
