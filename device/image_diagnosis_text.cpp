#include <cstdio>

#include "image_diagnosis.h"
#include "texts.h"

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
    case ImageOverlap:
        std::snprintf(reason, sizeof reason, "the record writes address 0x%04X, which line %d writes too",
                      unsigned(problem.expected), int{problem.found});
        break;
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
