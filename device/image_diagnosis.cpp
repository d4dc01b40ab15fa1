#include "image_diagnosis.h"

#include <algorithm>
#include <iterator>
#include <map>

#include "image_file.h"

namespace {

bool lineEnd(uint8_t c) { return c == '\r' || c == '\n'; }

// Addresses first to last, both included.
struct Span {
    uint32_t first;
    uint32_t last;
};

// The addresses a data record writes: `count` bytes from `offset` in the area
// that starts at `base`; two spans when the 16-bit offset wraps within the
// area. How many spans.
int spansOf(uint32_t base, uint32_t offset, int count, Span spans[2])
{
    const uint32_t last = offset + static_cast<uint32_t>(count) - 1;
    if (last <= 0xFFFF) {
        spans[0] = Span{base + offset, base + last};
        return 1;
    }
    spans[0] = Span{base + offset, base + 0xFFFF};
    spans[1] = Span{base, base + (last & 0xFFFF)};
    return 2;
}

uint32_t offsetOf(const uint8_t* record)
{
    return static_cast<uint32_t>(hexByte(record + 3) * 256 + hexByte(record + 5));
}

// The area's start after `record`: an extended segment (02) or linear (04)
// address record sets it.
uint32_t baseAfter(const uint8_t* record, uint32_t base)
{
    const int count = hexByte(record + 1), type = hexByte(record + 7);
    if ((type != 2 && type != 4) || count < 2)
        return base;
    const uint32_t value = static_cast<uint32_t>(hexByte(record + 9) * 256 + hexByte(record + 11));
    return type == 2 ? value << 4 : value << 16;
}

// One pass over the image, line by line; the first fault found ends it.
class Walk {
public:
    Walk(const uint8_t* data, int32_t size, ImageProblem* problem) : data_(data), size_(size), problem_(problem) {}

    int run(ImageSummary* summary);

private:
    bool crLfAt(int32_t at) const { return size_ - at >= 2 && data_[at] == '\r' && data_[at + 1] == '\n'; }
    int refuse(int32_t fault, int32_t lineStart, int32_t at, int32_t found = 0, int32_t expected = 0) const;
    int versionLine();
    int recordLine(int32_t* length);
    int refuseCharacters(int32_t lineLength, int32_t length) const;
    int refuseLineEnd(int32_t length) const;
    int addresses(int count, int type);
    int write(const Span& span);
    int32_t earlierWriter(uint32_t address) const;

    const uint8_t* data_;
    int32_t size_;
    ImageProblem* problem_;
    ImageSummary found_{};
    uint32_t base_ = 0;             // from the last extended segment or linear address record
    int32_t line_ = 1;
    int32_t at_ = 0;                // where the line begins
    std::map<uint32_t, uint32_t> written_;  // first address to last, joined where they meet; none overlap
};

int Walk::refuse(int32_t fault, int32_t lineStart, int32_t at, int32_t found, int32_t expected) const
{
    const int32_t line = fault == ImageEmpty ? 0 : line_;
    if (problem_ != nullptr)
        *problem_ = ImageProblem{fault, line, line > 0 ? at - lineStart + 1 : 0, at, found, expected};
    return 0;
}

// Line 1: "V", four hex digits, CR LF.
int Walk::versionLine()
{
    if (size_ == 0)
        return refuse(ImageEmpty, 0, 0);
    if (size_ >= 3 && data_[0] == 0xEF && data_[1] == 0xBB && data_[2] == 0xBF)
        return refuse(ImageByteOrderMark, 0, 0);
    if (data_[0] != 'V')
        return refuse(ImageBadVersionLine, 0, 0);
    for (int32_t at = 1; at < 5; ++at)
        if (at >= size_ || hexDigit(data_[at]) < 0)
            return refuse(ImageBadVersionLine, 0, at);
    if (!crLfAt(5)) {
        const bool lineEndAlone = size_ > 5 && lineEnd(data_[5]);
        return refuse(lineEndAlone ? ImageLineEndNotCrLf : ImageBadVersionLine, 0, 5);
    }
    found_.minor = static_cast<uint8_t>(hexByte(data_ + 1));
    found_.major = static_cast<uint8_t>(hexByte(data_ + 3));
    found_.lowAddress = 0xFFFFFFFFu;
    return 1;
}

// The record at at_: its characters, its checksum and its CR LF; *length
// without the CR LF.
int Walk::recordLine(int32_t* length)
{
    const int32_t at = at_;
    if (data_[at] != ':')
        return refuse(lineEnd(data_[at]) ? ImageBlankLine : ImageNoRecordStart, at, at);
    int32_t lineLength = 0;  // the characters up to the first CR or LF
    while (at + lineLength < size_ && !lineEnd(data_[at + lineLength]))
        ++lineLength;
    const int count = size_ - at < 11 ? -1 : hexByte(data_ + at + 1);
    if (size_ - at >= 11 && count < 0)
        return refuse(ImageBadLength, at, at + 1);
    *length = 11 + 2 * std::max(count, 0);
    if (size_ - at < 11 || size_ - at < *length)
        return refuseCharacters(lineLength, count >= 0 ? *length : -1);
    int sum = 0;
    for (int32_t i = 1; i < *length; i += 2) {
        const int value = hexByte(data_ + at + i);
        if (value < 0)
            return refuseCharacters(lineLength, *length);
        sum += value;
    }
    if ((sum & 0xFF) != 0) {
        const int stated = hexByte(data_ + at + *length - 2);
        return refuse(ImageBadChecksum, at, at + *length - 2, stated, (stated - sum) & 0xFF);
    }
    return crLfAt(at + *length) ? 1 : refuseLineEnd(*length);
}

// A record whose characters are not what its length field says: cut short by
// the line or the file end, or with a character that is not a hex digit.
// `length` is -1 when the field cannot be read because the file ends first.
int Walk::refuseCharacters(int32_t lineLength, int32_t length) const
{
    const int32_t at = at_;
    if (length < 0) {
        const int stated = lineLength >= 3 ? hexByte(data_ + at + 1) : -1;
        length = stated >= 0 ? 11 + 2 * stated : 11;
    }
    if (lineLength < length) {
        const int32_t fault = lineLength < size_ - at ? ImageShortRecord : ImageCutShort;
        return refuse(fault, at, at + lineLength, lineLength, length);
    }
    int32_t i = 1;
    while (hexByte(data_ + at + i) >= 0)
        i += 2;
    return refuse(ImageBadDigit, at, at + (hexDigit(data_[at + i]) < 0 ? i : i + 1));
}

// The fault of a record line that does not end in CR LF right after its
// `length` characters.
int Walk::refuseLineEnd(int32_t length) const
{
    const int32_t end = at_ + length;
    if (end >= size_)
        return refuse(ImageNoLineEnd, at_, end);
    if (data_[end] == '\n' || (data_[end] == '\r' && (size_ - end < 2 || data_[end + 1] != '\n')))
        return refuse(ImageLineEndNotCrLf, at_, end);
    return refuse(ImageTextAfterRecord, at_, end);
}

// What a good record adds to the summary: a data record's bytes and
// addresses, which no other data record may write too, or a new base address.
int Walk::addresses(int count, int type)
{
    const uint8_t* record = data_ + at_;
    ++found_.records;
    base_ = baseAfter(record, base_);
    if (type != 0 || count == 0)
        return 1;
    ++found_.dataRecords;
    found_.dataBytes += count;
    Span spans[2];
    const int n = spansOf(base_, offsetOf(record), count, spans);
    // A wrapped record: the whole area from its low to its high address.
    found_.lowAddress = std::min(found_.lowAddress, n == 1 ? spans[0].first : base_);
    found_.highAddress = std::max(found_.highAddress, n == 1 ? spans[0].last : base_ + 0xFFFF);
    return write(spans[0]) && (n == 1 || write(spans[1]));
}

// Addresses a data record writes: refused when an earlier data record wrote
// any of them already, else kept. Only the nearest span that starts at or
// before the new one's end can overlap it, since the spans kept never do.
int Walk::write(const Span& span)
{
    auto next = written_.upper_bound(span.last);
    auto before = next == written_.begin() ? written_.end() : std::prev(next);
    if (before != written_.end() && before->second >= span.first) {
        const uint32_t both = std::max(span.first, before->first);
        return refuse(ImageOverlap, at_, at_ + 3, earlierWriter(both), static_cast<int32_t>(both));
    }
    Span kept = span;
    if (before != written_.end() && before->second + 1 == span.first) {
        kept.first = before->first;
        written_.erase(before);
    }
    if (next != written_.end() && span.last + 1 == next->first) {
        kept.last = next->second;
        next = written_.erase(next);
    }
    written_.emplace_hint(next, kept.first, kept.last);
    return 1;
}

// The line of the first record before this one that writes `address`, found
// again since the spans kept do not say.
int32_t Walk::earlierWriter(uint32_t address) const
{
    uint32_t base = 0;
    int32_t at = kVersionLineSize;
    for (int32_t line = 2; line < line_; ++line) {
        const uint8_t* record = data_ + at;
        const int count = hexByte(record + 1);
        base = baseAfter(record, base);
        Span spans[2];
        const int n = hexByte(record + 7) == 0 && count > 0 ? spansOf(base, offsetOf(record), count, spans) : 0;
        for (int i = 0; i < n; ++i)
            if (spans[i].first <= address && address <= spans[i].last)
                return line;
        at += 11 + 2 * count + 2;
    }
    return 0;
}

int Walk::run(ImageSummary* summary)
{
    if (!versionLine())
        return 0;
    at_ = kVersionLineSize;
    line_ = 2;
    while (at_ < size_) {
        int32_t length = 0;
        if (!recordLine(&length) || !addresses((length - 11) / 2, hexByte(data_ + at_ + 7)))
            return 0;
        const bool endOfFile = hexByte(data_ + at_ + 7) == 1;
        at_ += length + 2;
        ++line_;
        if (!endOfFile)
            continue;
        if (size_ - at_ > 1)
            return refuse(ImageTextAfterEnd, at_, at_);
        if (found_.dataRecords == 0)
            found_.lowAddress = 0;
        if (summary != nullptr)
            *summary = found_;
        if (problem_ != nullptr)
            *problem_ = ImageProblem{ImageFine, 0, 0, 0, 0, 0};
        return 1;
    }
    return refuse(ImageNoEndRecord, at_, at_);
}

} // namespace

int diagnoseImage(const uint8_t* data, int32_t size, ImageProblem* problem, ImageSummary* summary)
{
    Walk walk(data, data == nullptr ? 0 : size, problem);
    return walk.run(summary);
}

int checkImage(WindowHandle, UpdateContext* ctx)
{
    return diagnoseImage(ctx->imageData, ctx->imageSize, nullptr, nullptr);
}
