#include "image_diagnosis.h"

#include <algorithm>
#include <cstdio>

#include "image_file.h"
#include "texts.h"

namespace {

int hexByte(const uint8_t* text)
{
    const int high = hexDigit(text[0]);
    const int low = hexDigit(text[1]);
    return high < 0 || low < 0 ? -1 : high * 16 + low;
}

bool lineEnd(uint8_t c) { return c == '\r' || c == '\n'; }

struct Walk {
    const uint8_t* data;
    int32_t size;
    ImageProblem* problem;

    bool crLfAt(int32_t at) const { return size - at >= 2 && data[at] == '\r' && data[at + 1] == '\n'; }

    int refuse(int32_t fault, int32_t line, int32_t lineStart, int32_t at, int32_t found = 0,
               int32_t expected = 0) const
    {
        if (problem != nullptr)
            *problem = ImageProblem{fault, line, line > 0 ? at - lineStart + 1 : 0, at, found, expected};
        return 0;
    }

    // The fault of a record line that does not end in CR LF right after its
    // `length` characters.
    int refuseLineEnd(int32_t line, int32_t at, int32_t length) const
    {
        const int32_t end = at + length;
        if (end >= size)
            return refuse(ImageNoLineEnd, line, at, end);
        if (data[end] == '\n' || (data[end] == '\r' && (size - end < 2 || data[end + 1] != '\n')))
            return refuse(ImageLineEndNotCrLf, line, at, end);
        return refuse(ImageTextAfterRecord, line, at, end);
    }
};

} // namespace

int diagnoseImage(const uint8_t* data, int32_t size, ImageProblem* problem, ImageSummary* summary)
{
    if (data == nullptr)
        size = 0;
    const Walk walk{data, size, problem};

    // The version line: "V", four hex digits, CR LF.
    if (size == 0)
        return walk.refuse(ImageEmpty, 0, 0, 0);
    if (size >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF)
        return walk.refuse(ImageByteOrderMark, 1, 0, 0);
    if (data[0] != 'V')
        return walk.refuse(ImageBadVersionLine, 1, 0, 0);
    for (int32_t at = 1; at < 5; ++at)
        if (at >= size || hexDigit(data[at]) < 0)
            return walk.refuse(ImageBadVersionLine, 1, 0, at);
    if (!walk.crLfAt(5)) {
        const bool lineEndAlone = size > 5 && (data[5] == '\n' || data[5] == '\r');
        return walk.refuse(lineEndAlone ? ImageLineEndNotCrLf : ImageBadVersionLine, 1, 0, 5);
    }

    ImageSummary found{static_cast<uint8_t>(hexByte(data + 1)), static_cast<uint8_t>(hexByte(data + 3)), 0, 0, 0,
                       0xFFFFFFFFu, 0};
    uint32_t base = 0;
    int32_t line = 2;
    int32_t at = kVersionLineSize;
    while (at < size) {
        if (data[at] != ':')
            return walk.refuse(lineEnd(data[at]) ? ImageBlankLine : ImageNoRecordStart, line, at, at);
        // The characters up to the first CR or LF: what the line holds.
        int32_t lineLength = 0;
        while (at + lineLength < size && !lineEnd(data[at + lineLength]))
            ++lineLength;
        if (size - at < 11) {
            // The length the record's own field asks for, where it can be read.
            const int stated = lineLength >= 3 ? hexByte(data + at + 1) : -1;
            return walk.refuse(lineLength < size - at ? ImageShortRecord : ImageCutShort, line, at, at + lineLength,
                               lineLength, stated >= 0 ? 11 + 2 * stated : 11);
        }
        const int count = hexByte(data + at + 1);
        if (count < 0)
            return walk.refuse(ImageBadLength, line, at, at + 1);
        const int32_t length = 11 + 2 * count;
        if (size - at < length)
            return walk.refuse(lineLength < size - at ? ImageShortRecord : ImageCutShort, line, at,
                               at + lineLength, lineLength, length);
        int sum = 0;
        for (int32_t i = 1; i < length; i += 2) {
            const int value = hexByte(data + at + i);
            if (value < 0) {
                if (lineLength < length)
                    return walk.refuse(ImageShortRecord, line, at, at + lineLength, lineLength, length);
                const int32_t bad = hexDigit(data[at + i]) < 0 ? i : i + 1;
                return walk.refuse(ImageBadDigit, line, at, at + bad);
            }
            sum += value;
        }
        if ((sum & 0xFF) != 0) {
            const int stated = hexByte(data + at + length - 2);
            return walk.refuse(ImageBadChecksum, line, at, at + length - 2, stated, (stated - sum) & 0xFF);
        }
        if (!walk.crLfAt(at + length))
            return walk.refuseLineEnd(line, at, length);

        const int type = hexByte(data + at + 7);
        const uint32_t offset = static_cast<uint32_t>(hexByte(data + at + 3) * 256 + hexByte(data + at + 5));
        ++found.records;
        if (type == 0 && count > 0) {
            ++found.dataRecords;
            found.dataBytes += count;
            // The 16-bit offset wraps within the segment.
            const bool wraps = offset + static_cast<uint32_t>(count) - 1 > 0xFFFF;
            found.lowAddress = std::min(found.lowAddress, base + (wraps ? 0 : offset));
            found.highAddress = std::max(found.highAddress, base + (wraps ? 0xFFFF : offset + count - 1));
        } else if ((type == 2 || type == 4) && count >= 2) {
            const uint32_t value = static_cast<uint32_t>(hexByte(data + at + 9) * 256 + hexByte(data + at + 11));
            base = type == 2 ? value << 4 : value << 16;
        }
        at += length + 2;
        ++line;
        if (type == 1) {
            if (size - at > 1)
                return walk.refuse(ImageTextAfterEnd, line, at, at);
            if (found.dataRecords == 0)
                found.lowAddress = 0;
            if (summary != nullptr)
                *summary = found;
            if (problem != nullptr)
                *problem = ImageProblem{ImageFine, 0, 0, 0, 0, 0};
            return 1;
        }
    }
    return walk.refuse(ImageNoEndRecord, line, at, at);
}

std::string imageProblemText(const ImageProblem& problem)
{
    char reason[160];
    switch (problem.fault) {
    case ImageFine: return "no fault";
    case ImageEmpty: return "the file is empty";
    case ImageByteOrderMark: std::snprintf(reason, sizeof reason, "a byte-order mark before the version line"); break;
    case ImageBadVersionLine:
        std::snprintf(reason, sizeof reason, "not a version line (\"V\", four hex digits, CR LF)");
        break;
    case ImageLineEndNotCrLf: std::snprintf(reason, sizeof reason, "the line does not end in CR LF"); break;
    case ImageBlankLine: std::snprintf(reason, sizeof reason, "a blank line"); break;
    case ImageNoRecordStart: std::snprintf(reason, sizeof reason, "the line does not begin with \":\""); break;
    case ImageCutShort: std::snprintf(reason, sizeof reason, "the file ends inside the record"); break;
    case ImageBadLength: std::snprintf(reason, sizeof reason, "the length field is not two hex digits"); break;
    case ImageShortRecord:
        std::snprintf(reason, sizeof reason, "the record has %d characters, its length field says %d",
                      int{problem.found}, int{problem.expected});
        break;
    case ImageBadDigit: std::snprintf(reason, sizeof reason, "not a hex digit"); break;
    case ImageBadChecksum:
        std::snprintf(reason, sizeof reason, "checksum wrong (the record has %02X, its bytes need %02X)",
                      unsigned(problem.found), unsigned(problem.expected));
        break;
    case ImageTextAfterRecord:
        std::snprintf(reason, sizeof reason, "text after the record (more than its length field says)");
        break;
    case ImageNoLineEnd: std::snprintf(reason, sizeof reason, "no CR LF after the record at the end of the file"); break;
    case ImageNoEndRecord: std::snprintf(reason, sizeof reason, "no end-of-file record (type 01)"); break;
    case ImageTextAfterEnd: std::snprintf(reason, sizeof reason, "text after the end-of-file record"); break;
    default: std::snprintf(reason, sizeof reason, "fault %d", int{problem.fault}); break;
    }
    char place[48] = "";
    if (problem.line > 0 && problem.column > 0)
        std::snprintf(place, sizeof place, "line %d, column %d: ", int{problem.line}, int{problem.column});
    else if (problem.line > 0)
        std::snprintf(place, sizeof place, "line %d: ", int{problem.line});
    return std::string(place) + reason;
}

std::string imageSummaryText(const ImageSummary& summary)
{
    char text[160];
    std::snprintf(text, sizeof text, "%s, %d records (%d data records, %lld bytes)",
                  versionText(summary.major, summary.minor).c_str(), int{summary.records}, int{summary.dataRecords},
                  static_cast<long long>(summary.dataBytes));
    if (summary.dataRecords == 0)
        return std::string(text) + ", no data";
    char range[48];
    std::snprintf(range, sizeof range, ", addresses 0x%04X-0x%04X", unsigned{summary.lowAddress},
                  unsigned{summary.highAddress});
    return text + std::string(range);
}
