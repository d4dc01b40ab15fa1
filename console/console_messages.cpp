#include "console_messages.h"

#include <vector>

#include "output_gate.h"
#include "text_encoding.h"

std::string formatText(const std::string& format, std::initializer_list<std::string> values)
{
    const std::vector<std::string> given(values);
    std::string text;
    size_t next = 0;
    for (size_t at = 0; at < format.size(); ++at) {
        if (format[at] != '%' || at + 1 == format.size()) {
            text += format[at];
            continue;
        }
        if (format[at + 1] == '%') {
            text += '%';
            ++at;
            continue;
        }
        size_t end = at + 1;
        const bool positional =
            format[end] >= '1' && format[end] <= '9' && end + 2 < format.size() && format[end + 1] == '$';
        const size_t index = positional ? static_cast<size_t>(format[end] - '1') : next;
        end += positional ? 2 : 0;
        if (format[end] != 's' || index >= given.size()) {
            text += format[at];
            continue;
        }
        next += positional ? 0 : 1;
        text += given[index];
        at = end;
    }
    return text;
}

std::string consoleMessage(TextId id, std::initializer_list<std::string> values)
{
    return formatText(loadText(id), values);
}

std::string sentence(std::initializer_list<std::string> parts)
{
    std::string text;
    for (const std::string& part : parts) {
        if (part.empty())
            continue;
        if (!text.empty())
            text += loadText(TextSentenceJoin);
        text += part;
    }
    return text + loadText(TextSentenceEnd);
}

void sayLine(std::FILE* stream, const std::string& text)
{
    writeThroughGate(stream, text + "\n", writeConsoleText);
}

void sayLine(std::FILE* stream, TextId id, std::initializer_list<std::string> values)
{
    sayLine(stream, consoleMessage(id, values));
}
