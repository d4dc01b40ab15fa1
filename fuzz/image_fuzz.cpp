// The image check, the version line and the record cutting together: every
// image that checkImage accepts must be cut by the record loop's own steps,
// record by record, each exactly as it stands in the file, up to its
// end-of-file record, and the version read from its version line; no two of
// its data records write the same address, and its summary counts what the
// loop met. A refused image's fault lies inside it.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <set>
#include <vector>

#include "fuzz_input.h"
#include "image_diagnosis.h"
#include "image_file.h"

namespace {

int hexValue(uint8_t c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

int byteAt(const uint8_t* text)
{
    return hexValue(text[0]) * 16 + hexValue(text[1]);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > INT32_MAX)
        return 0;
    // A heap block of exactly the image's size, so that any read past its end is seen.
    auto* image = static_cast<uint8_t*>(std::malloc(size == 0 ? 1 : size));
    std::memcpy(image, data, size);
    UpdateContext ctx{};
    ctx.imageData = image;
    ctx.imageSize = static_cast<int32_t>(size);
    const int64_t end = static_cast<int64_t>(size);

    const int versionFound = readImageVersion(nullptr, &ctx);
    const int accepted = checkImage(nullptr, &ctx);
    ImageProblem problem{};
    ImageSummary summary{};
    FUZZ_EXPECT(diagnoseImage(image, ctx.imageSize, &problem, &summary) == accepted);
    FUZZ_EXPECT(accepted ? problem.fault == ImageFine
                         : problem.fault != ImageFine && problem.offset >= 0 && problem.offset <= ctx.imageSize);

    // Whatever the image, no cut reaches past its end or past the longest record.
    uint8_t record[kBufferSize];
    for (int64_t cursor = kVersionLineSize; cursor < end;) {
        const int length = cutRecord(image + cursor, image + end, record);
        FUZZ_EXPECT(length >= 0 && length <= kLongestRecord);
        if (length == 0)
            break;
        cursor += length + 2;
    }

    if (accepted) {
        FUZZ_EXPECT(versionFound == kVersionLineSize);
        FUZZ_EXPECT(image[0] == 'V');
        FUZZ_EXPECT(ctx.imageMinor == byteAt(image + 1) && ctx.imageMajor == byteAt(image + 3));
        // The record loop's steps: cut at the cursor, then step over the record and its CR LF.
        int64_t cursor = kVersionLineSize;
        int records = 0;
        int64_t dataBytes = 0;
        uint32_t base = 0;  // from extended segment (02) and linear (04) address records
        std::set<uint32_t> written;
        for (;;) {
            FUZZ_EXPECT(cursor < end && image[cursor] == ':');
            const int length = cutRecord(image + cursor, image + end, record);
            FUZZ_EXPECT(length >= 11 && std::memcmp(record, image + cursor, static_cast<size_t>(length)) == 0);
            const int count = byteAt(image + cursor + 1);
            const bool endOfFile = byteAt(image + cursor + 7) == 1;
            FUZZ_EXPECT(length == 11 + 2 * count + (endOfFile ? 1 : 0));
            const int64_t lineEnd = cursor + 11 + 2 * count;
            FUZZ_EXPECT(lineEnd + 2 <= end && image[lineEnd] == '\r' && image[lineEnd + 1] == '\n');
            const int type = byteAt(image + cursor + 7);
            const uint32_t offset = static_cast<uint32_t>(byteAt(image + cursor + 3) * 256 + byteAt(image + cursor + 5));
            if ((type == 2 || type == 4) && count >= 2) {
                const uint32_t value = static_cast<uint32_t>(byteAt(image + cursor + 9) * 256 + byteAt(image + cursor + 11));
                base = type == 2 ? value << 4 : value << 16;
            }
            for (int i = 0; type == 0 && i < count; ++i)  // the offset wraps within the segment
                FUZZ_EXPECT(written.insert(base + ((offset + static_cast<uint32_t>(i)) & 0xFFFF)).second);
            dataBytes += type == 0 ? count : 0;
            ++records;
            cursor += length + 2;
            if (endOfFile) {
                // The last record: the loop expects "EFW" here and nowhere before.
                FUZZ_EXPECT(cursor >= end && lineEnd + 2 + 1 >= end);
                FUZZ_EXPECT(summary.records == records && summary.dataBytes == dataBytes);
                FUZZ_EXPECT(written.empty() || (summary.lowAddress == *written.begin() &&
                                                summary.highAddress == *written.rbegin()));
                break;
            }
            FUZZ_EXPECT(cursor < end);
        }
    }
    std::free(image);
    return 0;
}
