#include "console_text.h"

namespace {

struct EnglishEntry {
    unsigned id;
    const char* english;
};

constexpr EnglishEntry kEnglish[] = {
#define KT_TEXT(id, english, japanese) {id, english},
#include "texts.def"
#undef KT_TEXT
};

} // namespace

std::string englishText(unsigned id)
{
    for (const EnglishEntry& entry : kEnglish)
        if (entry.id == id)
            return entry.english;
    return {};
}
