// The texts of an update run and the display formats built from them.
#pragma once

#include <cstdint>
#include <string>

#include "update_context.h"

// Every text's id by its name in texts.def.
enum TextId : unsigned {
#define KT_TEXT(name, id, english, japanese) name = id,
#include "texts.def"
#undef KT_TEXT
};

// Text `id` in the user's language, as the window shows it; empty when the
// table has no such id. Platform: the string table (Windows) or the compiled
// table chosen by the locale (POSIX).
std::string loadText(unsigned id);

// The text id of a status line; 0 for a code that is never shown.
unsigned statusTextId(int32_t statusCode);
// The text id of an error message; 0 for a code that has none.
unsigned errorTextId(int32_t errorCode);

// "Ver %X.%02X": major without leading zeros, minor as two digits.
std::string versionText(uint8_t major, uint8_t minor);
// The version line "Ver a -> Ver b\r\n" (device, then image) and the question.
std::string confirmationText(const UpdateContext& ctx);
// The message box text for errorCode; `number` fills the formats that carry one.
std::string errorMessage(const UpdateContext& ctx, int number);
std::string statusText(const UpdateContext& ctx);
std::string resultText(const UpdateContext& ctx);
std::string finalText(const UpdateContext& ctx);
