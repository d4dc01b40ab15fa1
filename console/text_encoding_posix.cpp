#include <clocale>
#include <cerrno>
#include <cstdlib>

#include <iconv.h>
#include <langinfo.h>

#include "text_encoding.h"

namespace {

std::string codeset = "UTF-8";

bool isUtf8(const std::string& set)
{
    return set == "UTF-8" || set == "utf8" || set == "UTF8" || set == "utf-8";
}

bool plainAscii(const std::string& text)
{
    for (unsigned char c : text)
        if (c >= 0x80)
            return false;
    return true;
}

} // namespace

std::string codesetFromLocaleName(const std::string& name)
{
    const size_t dot = name.find('.');
    if (dot == std::string::npos)
        return {};
    std::string suffix = name.substr(dot + 1, name.find('@', dot) - dot - 1);
    std::string key;
    for (char c : suffix)
        if (c != '-' && c != '_')
            key += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (key == "utf8")
        return "UTF-8";
    if (key == "eucjp" || key == "ujis")
        return "EUC-JP";
    if (key == "sjis" || key == "shiftjis" || key == "pck")
        return "SHIFT_JIS";
    if (key == "cp932" || key == "windows31j")
        return "CP932";
    return suffix;  // as named; iconv may know it
}

void initConsoleEncoding()
{
    if (std::setlocale(LC_CTYPE, "") != nullptr) {
        codeset = nl_langinfo(CODESET);
        return;
    }
    // The locale is not installed on this machine; its name still tells what
    // the terminal shows.
    codeset = "ANSI_X3.4-1968";
    for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value != nullptr && *value != '\0') {
            const std::string named = codesetFromLocaleName(value);
            if (!named.empty())
                codeset = named;
            return;
        }
    }
}

bool convertText(const std::string& utf8, const std::string& set, std::string* out)
{
    if (isUtf8(set) || plainAscii(utf8)) {
        *out = utf8;
        return true;
    }
    iconv_t converter = iconv_open(set.c_str(), "UTF-8");
    if (converter == reinterpret_cast<iconv_t>(-1))
        return false;
    // No set this meets takes more than 4 bytes for a character that UTF-8
    // writes in at least 1; the margin takes a closing shift sequence.
    std::string converted(utf8.size() * 4 + 16, '\0');
    char* in = const_cast<char*>(utf8.data());
    size_t inLeft = utf8.size();
    char* to = &converted[0];
    size_t toLeft = converted.size();
    bool whole = iconv(converter, &in, &inLeft, &to, &toLeft) != static_cast<size_t>(-1) && inLeft == 0 &&
                 iconv(converter, nullptr, nullptr, &to, &toLeft) != static_cast<size_t>(-1);
    iconv_close(converter);
    if (!whole)
        return false;
    converted.resize(converted.size() - toLeft);
    *out = converted;
    return true;
}

std::string consoleBytes(const std::string& text)
{
    std::string bytes;
    return convertText(text, codeset, &bytes) ? bytes : text;
}

void writeConsoleText(std::FILE* stream, const std::string& text)
{
    const std::string bytes = consoleBytes(text);
    std::fwrite(bytes.data(), 1, bytes.size(), stream);
}

std::string fromUtf8(const std::string& text)
{
    return text;
}

bool consoleShowsJapanese()
{
    std::string bytes;
    return convertText("\xE3\x83\x95\xE3\x82\xA1\xE3\x83\xBC\xE3\x83\xA0", codeset, &bytes);  // "ファーム"
}
