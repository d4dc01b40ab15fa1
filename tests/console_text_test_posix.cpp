// The console's texts in the locale's character set: EUC-JP and Shift_JIS
// through iconv, English where the set cannot show Japanese, and a Japanese
// locale made for the test where the machine has its sources.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <iconv.h>

#include "text_encoding.h"
#include "test_support.h"
#include "texts.h"

namespace {

// `bytes` in `codeset` decoded back to UTF-8 by iconv; "(undecodable)" when it fails.
std::string decoded(const std::string& bytes, const char* codeset)
{
    iconv_t converter = iconv_open("UTF-8", codeset);
    if (converter == reinterpret_cast<iconv_t>(-1))
        return "(no converter)";
    std::string out(bytes.size() * 4 + 4, '\0');
    char* in = const_cast<char*>(bytes.data());
    size_t inLeft = bytes.size();
    char* to = &out[0];
    size_t toLeft = out.size();
    const bool whole = iconv(converter, &in, &inLeft, &to, &toLeft) != static_cast<size_t>(-1) && inLeft == 0;
    iconv_close(converter);
    if (!whole)
        return "(undecodable)";
    out.resize(out.size() - toLeft);
    return out;
}

const char kJapanese[] = "ファームアップデートが完了しました。";
const char kEnglish[] = "Firmware update was complete.";

TEST(ConsoleText, ConvertsToJapaneseSetsAndRefusesWhatASetCannotShow)
{
    struct Case {
        const char* codeset;
        bool shown;
        const char* start;  // the first bytes of the conversion
    };
    const Case cases[] = {
        {"EUC-JP", true, "\xA5\xD5\xA5\xA1"},  // "ファ"
        {"SHIFT_JIS", true, "\x83\x74\x83\x40"},
        {"CP932", true, "\x83\x74\x83\x40"},
        {"UTF-8", true, "\xE3\x83\x95"},
        {"ISO-8859-1", false, nullptr},
        {"ANSI_X3.4-1968", false, nullptr},
        {"NO-SUCH-SET", false, nullptr},
    };
    for (const Case& c : cases) {
        std::string out = "untouched";
        ASSERT_EQ(convertText(kJapanese, c.codeset, &out), c.shown) << c.codeset;
        if (!c.shown)
            continue;
        EXPECT_EQ(out.compare(0, std::strlen(c.start), c.start), 0) << c.codeset;
        EXPECT_EQ(decoded(out, c.codeset), kJapanese) << c.codeset;
    }
    std::string out;
    ASSERT_TRUE(convertText(kEnglish, "NO-SUCH-SET", &out)) << "plain ASCII needs no converter";
    EXPECT_EQ(out, kEnglish);
}

TEST(ConsoleText, CodesetFromTheLocaleName)
{
    const std::pair<const char*, const char*> names[] = {
        {"ja_JP.eucJP", "EUC-JP"},      {"ja_JP.EUC-JP", "EUC-JP"},       {"ja_JP.ujis", "EUC-JP"},
        {"ja_JP.SJIS", "SHIFT_JIS"},    {"ja_JP.Shift_JIS", "SHIFT_JIS"}, {"ja_JP.PCK", "SHIFT_JIS"},
        {"ja_JP.UTF-8", "UTF-8"},       {"ja_JP.utf8@mod", "UTF-8"},      {"en_US.ISO-8859-1", "ISO-8859-1"},
        {"ja_JP", ""},                  {"C", ""},
    };
    for (const auto& [name, codeset] : names)
        EXPECT_EQ(codesetFromLocaleName(name), codeset) << name;
}

// Japanese texts written under a Japanese locale (given as LC_ALL) come out
// in its set.
std::string writtenUnder(const char* locale, unsigned id)
{
    setenv("LC_ALL", locale, 1);
    initConsoleEncoding();
    std::FILE* file = std::tmpfile();
    writeConsoleText(file, loadText(id));
    std::rewind(file);
    char buffer[512] = {};
    const size_t length = std::fread(buffer, 1, sizeof buffer, file);
    std::fclose(file);
    return std::string(buffer, length);
}

TEST(ConsoleText, FollowsALocaleThatIsNotInstalledByItsName)
{
    setenv("LOCPATH", "/nonexistent", 1);
    const std::string bytes = writtenUnder("ja_JP.eucJP", 32);
    EXPECT_EQ(decoded(bytes, "EUC-JP"), kJapanese);
    EXPECT_TRUE(consoleShowsJapanese());
    setenv("LC_ALL", "ja_JP", 1);
    initConsoleEncoding();
    EXPECT_FALSE(consoleShowsJapanese()) << "no set named: ASCII, so the texts are English";
    std::setlocale(LC_ALL, "C");
}

TEST(ConsoleText, WritesEucJpUnderAGeneratedEucJpLocale)
{
    ScratchDir dir;
    const std::string command = "localedef -i ja_JP -f EUC-JP '" + (dir.path() / "ja_JP.eucJP").string() +
                                "' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0)
        GTEST_SKIP() << "no ja_JP locale sources here; the converter is tested with explicit sets";
    setenv("LOCPATH", dir.path().c_str(), 1);
    const std::string bytes = writtenUnder("ja_JP.eucJP", 32);
    EXPECT_EQ(decoded(bytes, "EUC-JP"), kJapanese) << "the locale itself, not its name";
    std::setlocale(LC_ALL, "C");
}

} // namespace
