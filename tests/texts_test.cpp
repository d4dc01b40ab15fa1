// The text table against res/texts.def, every id in both languages, and the
// lines built from it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <iterator>
#include <set>

#include "test_support.h"
#include "texts.h"
#include "ui_language.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

struct Text {
    unsigned id;
    const char* english;
    const char* japanese;  // UTF-8
};

// The table as res/texts.def gives it: what the program must show, byte for
// byte, whether it comes from the compiled table or from the string table.
const Text kTexts[] = {
#define KT_TEXT(name, id, english, japanese) {id, english, japanese},
#include "texts.def"
#undef KT_TEXT
};

#ifdef _WIN32
// What LoadStringA gives for a Japanese text: its bytes in the ANSI code page (932).
std::string windowBytes(const char* utf8)
{
    wchar_t wide[512];
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide, 512);
    char narrow[1024];
    const int m = WideCharToMultiByte(CP_ACP, 0, wide, n, narrow, sizeof narrow, nullptr, nullptr);
    return std::string(narrow, m > 0 ? static_cast<size_t>(m - 1) : 0);
}

// Under Wine the prefix decides the interface language; the Japanese run says so.
bool useLanguage(bool japanese)
{
    return japanese == (std::getenv("KT_EXPECT_JAPANESE") != nullptr);
}
#else
std::string windowBytes(const char* utf8) { return utf8; }

// Sets, or for null unsets, the variables the language is chosen by.
void setLocale(const char* lcAll, const char* lcMessages, const char* lang)
{
    const char* names[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
    const char* values[] = {lcAll, lcMessages, lang};
    for (int i = 0; i < 3; ++i) {
        if (values[i])
            setenv(names[i], values[i], 1);
        else
            unsetenv(names[i]);
    }
}

bool useLanguage(bool japanese)
{
    setLocale(nullptr, nullptr, japanese ? "ja_JP.UTF-8" : "en_US.UTF-8");
    return true;
}

TEST(TextLanguage, FirstSetNonEmptyVariableDecides)
{
    struct Case {
        const char *lcAll, *lcMessages, *lang;
        bool japanese;
    };
    for (const Case& c : {Case{nullptr, nullptr, "ja_JP.UTF-8", true}, Case{"C", nullptr, "ja_JP.UTF-8", false},
                          Case{"", "ja_JP.eucJP", "en_US.UTF-8", true}, Case{nullptr, "en_GB", "ja_JP.UTF-8", false},
                          Case{nullptr, "", "ja", true}, Case{nullptr, nullptr, nullptr, false}}) {
        setLocale(c.lcAll, c.lcMessages, c.lang);
        EXPECT_EQ(japaneseInterface(), c.japanese) << c.lcAll << "|" << c.lcMessages << "|" << c.lang;
    }
}
#endif

void expectEveryId(bool japanese)
{
    if (!useLanguage(japanese))
        GTEST_SKIP() << "the interface is in the other language";
    ASSERT_EQ(japaneseInterface(), japanese);
#ifdef _WIN32
    if (japanese) {
        ASSERT_EQ(GetACP(), 932u);
    }
#endif
    std::set<unsigned> ids;
    for (const Text& text : kTexts) {
        EXPECT_EQ(loadText(text.id), japanese ? windowBytes(text.japanese) : text.english) << "id " << text.id;
        ids.insert(text.id);
    }
    ASSERT_EQ(ids.size(), std::size(kTexts)) << "an id given twice";
    for (unsigned unused = 0; unused <= *ids.rbegin() + 1; ++unused) {
        if (ids.count(unused) == 0) {
            EXPECT_EQ(loadText(unused), "") << "id " << unused;
        }
    }
}

TEST(TextTable, EveryIdInEnglish) { expectEveryId(false); }
TEST(TextTable, EveryIdInJapanese) { expectEveryId(true); }

TEST(TextLines, VersionsErrorNumbersAndTheConfirmation)
{
    if (!useLanguage(false))
        GTEST_SKIP();
    EXPECT_EQ(versionText(0x1A, 0x00), "Ver 1A.00");
    EXPECT_EQ(versionText(0x00, 0xFF), "Ver 0.FF");
    EXPECT_EQ(versionText(0xFF, 0x0B), "Ver FF.0B");
    UpdateContext ctx{};
    struct Error {
        int32_t code;
        int number;
        const char* message;
    };
    for (const Error& e : {Error{ErrConnect, 10061, "Connect failure. (code=10061)"},
                           Error{ErrLinkOpen, -2, "Connect failure. (code=-2)"},
                           Error{ErrSend, 10057, "Send error (code = 10057)"},
                           Error{ErrUdpBind, 10048, "UDP socket open error."}}) {
        ctx.errorCode = e.code;
        EXPECT_EQ(errorMessage(ctx, e.number), e.message);
    }
    ctx.deviceVersion[kDeviceVersionMajor] = 1;
    ctx.deviceVersion[kDeviceVersionMinor] = 5;
    ctx.imageMajor = 1;
    ctx.imageMinor = 0x10;
    EXPECT_EQ(confirmationText(ctx), "Ver 1.05 -> Ver 1.10\r\nIs the firmware updated?");
}

TEST(TextLines, EveryStatusAndErrorCodeHasItsText)
{
    const std::pair<int32_t, unsigned> statuses[] = {
        {StConnecting, 5}, {StDisconnecting, 6}, {StReading, 7},         {StWriting, 8},  {StErasing, 9},
        {StXportChanging, 10}, {StXportRestoring, 11}, {StQuitting, 12}, {StConfirmed, 0}, {StDeclined, 0}};
    for (auto [code, id] : statuses)
        EXPECT_EQ(statusTextId(code), id) << "status " << code;
    const std::pair<int32_t, unsigned> errors[] = {
        {ErrXportChange, 13}, {ErrXportRestore, 14}, {ErrWrite, 15},    {ErrSocketInit, 16}, {ErrNoAddress, 17},
        {ErrNoPort, 18},      {ErrSocketCreate, 19}, {ErrConnect, 26},  {ErrSend, 20},       {ErrUdpSocketCreate, 22},
        {ErrUdpBind, 23},     {ErrUdpSend, 24},      {ErrLinkOpen, 26}, {ErrImageRead, 27},  {ErrUpdateMode, 28},
        {ErrImageFormat, 29}, {ErrCommandChannel, 40}, {0, 0},          {10, 0},             {13, 0},
        {20, 0}};
    for (auto [code, id] : errors)
        EXPECT_EQ(errorTextId(code), id) << "error " << code;
}

} // namespace
