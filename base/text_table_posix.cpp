// The text table compiled in, for platforms without a resource string table.
#include <cstdlib>
#include <cstring>

#include "texts.h"
#include "ui_language.h"

namespace {

struct TextEntry {
    unsigned id;
    const char* english;
    const char* japanese;
};

constexpr TextEntry kTexts[] = {
#define KT_TEXT(name, id, english, japanese) {id, english, japanese},
#include "texts.def"
#undef KT_TEXT
};

bool englishPreferred = false;

} // namespace

void preferEnglishTexts()
{
    englishPreferred = true;
}

bool japaneseInterface()
{
    if (englishPreferred)
        return false;
    // As POSIX decides the message language: LC_ALL, then LC_MESSAGES, then LANG.
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0')
            return std::strncmp(value, "ja", 2) == 0;
    }
    return false;
}

std::string loadText(unsigned id)
{
    const bool japanese = japaneseInterface();
    for (const TextEntry& entry : kTexts)
        if (entry.id == id)
            return japanese ? entry.japanese : entry.english;
    return {};
}
