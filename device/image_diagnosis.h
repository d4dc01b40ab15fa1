// What is wrong with an image that checkImage refuses, by line and column, and
// what an accepted image holds: checkImage is diagnoseImage's yes or no.
#pragma once

#include <cstdint>
#include <string>

enum ImageFault : int32_t {
    ImageFine = 0,
    ImageEmpty,              // the file has no bytes
    ImageByteOrderMark,      // it starts with the UTF-8 byte-order mark
    ImageBadVersionLine,     // line 1 is not "V" and four hex digits
    ImageLineEndNotCrLf,     // a line ends in LF alone or CR alone
    ImageBlankLine,          // an empty line between records
    ImageNoRecordStart,      // a line that does not begin with ":"
    ImageCutShort,           // the file ends inside a record
    ImageBadLength,          // the length field is not two hex digits
    ImageShortRecord,        // the line ends before the length field says
    ImageBadDigit,           // a character that is not a hex digit inside a record
    ImageBadChecksum,        // the record's bytes do not add up to 0
    ImageTextAfterRecord,    // more characters on the line than the length field says
    ImageNoLineEnd,          // the file ends right after a record, without CR LF
    ImageNoEndRecord,        // no end-of-file record (type 01)
    ImageTextAfterEnd,       // more than one byte after the end-of-file record
    ImageOverlap,            // a data record writes an address that an earlier one wrote
};

struct ImageProblem {
    int32_t fault;      // ImageFault
    int32_t line;       // 1 for the version line; 0 when none applies
    int32_t column;     // 1-based within the line; 0 when none applies
    int32_t offset;     // byte offset in the file
    int32_t found;      // checksum: the record's; short record: characters on the line;
                        // overlap: the line of the earlier record
    int32_t expected;   // checksum: the one that would be right; short record: the length wanted;
                        // overlap: the first address both write
};

struct ImageSummary {
    uint8_t minor;
    uint8_t major;
    int32_t records;      // every record, the end-of-file record included
    int32_t dataRecords;  // type 00
    int64_t dataBytes;    // bytes carried by the data records
    uint32_t lowAddress;  // lowest and highest address written, with extended
    uint32_t highAddress; // segment (02) and linear (04) addresses applied; 0 and 0 without data
};

// 1 when the image is good, with *summary filled; 0 with *problem naming the
// first fault. Either pointer may be null.
int diagnoseImage(const uint8_t* data, int32_t size, ImageProblem* problem, ImageSummary* summary);

// "line 7, column 44: checksum wrong (the record has 3C, its bytes need 3D)"
std::string imageProblemText(const ImageProblem& problem);
// "Ver 1.02, 1025 records (1024 data records, 32768 bytes), addresses 0x0000-0x7FFF"
std::string imageSummaryText(const ImageSummary& summary);
