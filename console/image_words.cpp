#include "image_words.h"

#include <cstdio>

#include "console_messages.h"

namespace {

// Two hex digits ("3C"), or an address ("0x0105").
std::string hex(unsigned value, bool address)
{
    char text[16];
    if (address)
        std::snprintf(text, sizeof text, "0x%04X", value);
    else
        std::snprintf(text, sizeof text, "%02X", value);
    return text;
}

std::string reasonWords(const ImageProblem& problem)
{
    switch (problem.fault) {
    case ImageEmpty: return consoleMessage(TextImageEmpty);
    case ImageByteOrderMark: return consoleMessage(TextImageBom);
    case ImageBadVersionLine: return consoleMessage(TextImageVersionLine);
    case ImageLineEndNotCrLf: return consoleMessage(TextImageLineEnd);
    case ImageBlankLine: return consoleMessage(TextImageBlank);
    case ImageNoRecordStart: return consoleMessage(TextImageNoColon);
    case ImageCutShort: return consoleMessage(TextImageCut);
    case ImageBadLength: return consoleMessage(TextImageLength);
    case ImageShortRecord:
        return consoleMessage(TextImageShort, {std::to_string(problem.found), std::to_string(problem.expected)});
    case ImageBadDigit: return consoleMessage(TextImageDigit);
    case ImageBadChecksum:
        return consoleMessage(TextImageChecksum, {hex(unsigned(problem.found), false),
                                                  hex(unsigned(problem.expected), false)});
    case ImageTextAfterRecord: return consoleMessage(TextImageAfterRecord);
    case ImageNoLineEnd: return consoleMessage(TextImageNoLineEnd);
    case ImageNoEndRecord: return consoleMessage(TextImageNoEnd);
    case ImageTextAfterEnd: return consoleMessage(TextImageAfterEnd);
    case ImageOverlap:
        return consoleMessage(TextImageOverlap,
                              {hex(unsigned(problem.expected), true), std::to_string(problem.found)});
    default: return imageProblemText(problem);
    }
}

} // namespace

std::string imageProblemWords(const ImageProblem& problem)
{
    std::string place;
    if (problem.fault == ImageEmpty)
        return reasonWords(problem);
    if (problem.line > 0 && problem.column > 0)
        place = consoleMessage(TextImagePlace, {std::to_string(problem.line), std::to_string(problem.column)});
    else if (problem.line > 0)
        place = consoleMessage(TextImageLine, {std::to_string(problem.line)});
    return place + reasonWords(problem);
}

std::string imageSummaryWords(const ImageSummary& summary)
{
    const std::string text = consoleMessage(
        TextImageSummary, {versionText(summary.major, summary.minor), std::to_string(summary.records),
                           std::to_string(summary.dataRecords), std::to_string(summary.dataBytes)});
    if (summary.dataRecords == 0)
        return text + consoleMessage(TextImageNoData);
    return text + consoleMessage(TextImageRange, {hex(summary.lowAddress, true), hex(summary.highAddress, true)});
}
