// Texts from the program's string table, in the language the platform picks.
#include <windows.h>

#include "texts.h"
#include "ui_language.h"

bool japaneseInterface()
{
    return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_JAPANESE;
}

void preferEnglishTexts()
{
}

std::string loadText(unsigned id)
{
    char text[1024];
    int length = LoadStringA(GetModuleHandleA(nullptr), id, text, sizeof text);
    return std::string(text, length > 0 ? static_cast<size_t>(length) : 0);
}
