#include "image_file.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

int hexDigit(uint8_t c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

namespace {

// A record field read as a hexadecimal number: the leading hex digits count,
// the field ends at the first other character.
int fieldValue(const uint8_t* field, int width)
{
    int value = 0;
    for (int i = 0; i < width && hexDigit(field[i]) >= 0; ++i)
        value = value * 16 + hexDigit(field[i]);
    return value;
}

// Two hex digits as a byte; -1 when either is not a hex digit.
int hexByte(const uint8_t* text)
{
    int high = hexDigit(text[0]);
    int low = hexDigit(text[1]);
    return high < 0 || low < 0 ? -1 : high * 16 + low;
}

} // namespace

int loadImage(WindowHandle, UpdateContext* ctx)
{
    char path[kPathSize] = {};
    if (ctx->imageChoice[0] != '\0')
        std::snprintf(path, sizeof path, "%s", ctx->imageChoice);
    else
        programImagePath(path);
    std::memset(ctx->imagePath, 0, sizeof ctx->imagePath);
    std::memcpy(ctx->imagePath, path, sizeof path);

    FILE* file = openForReading(ctx->imagePath);
    if (file == nullptr)
        return 0;
    long size = -1;
    if (std::fseek(file, 0, SEEK_END) == 0)
        size = std::ftell(file);
    std::rewind(file);
    if (size < 0 || size > INT32_MAX) {  // not a plain file, or too large to describe
        std::fclose(file);
        ctx->imageData = nullptr;
        return 0;
    }
    ctx->imageSize = static_cast<int32_t>(size);
    // One byte at least, so that an empty file loads as an empty image.
    auto* data = static_cast<uint8_t*>(std::malloc(size > 0 ? static_cast<size_t>(size) : 1));
    if (data == nullptr) {
        std::fclose(file);
        ctx->imageData = nullptr;
        return 0;
    }
    ctx->imageData = data;
    size_t read = std::fread(data, 1, static_cast<size_t>(size), file);
    std::fclose(file);
    if (read < static_cast<size_t>(size)) {
        std::free(data);
        ctx->imageData = nullptr;
        return 0;
    }
    return 1;
}

int readImageVersion(WindowHandle, UpdateContext* ctx)
{
    const uint8_t* data = ctx->imageData;
    const int32_t size = data == nullptr ? 0 : ctx->imageSize;
    for (int32_t at = 0; at < size && data[at] != 0; ++at) {
        if (data[at] != 'V')
            continue;
        if (size - at < 5)  // fewer than four digits before the image end
            return 0;
        int digits[4];
        for (int i = 0; i < 4; ++i)
            digits[i] = hexDigit(data[at + 1 + i]) < 0 ? 0 : hexDigit(data[at + 1 + i]);
        ctx->imageMinor = static_cast<uint8_t>(16 * digits[0] + digits[1]);
        ctx->imageMajor = static_cast<uint8_t>(16 * digits[2] + digits[3]);
        return 7;
    }
    return 0;
}

int cutRecord(const uint8_t* cursor, const uint8_t* imageEnd, uint8_t* destination)
{
    const uint8_t* colon = cursor;
    while (colon < imageEnd && *colon != 0 && *colon != ':')
        ++colon;
    if (colon >= imageEnd || *colon != ':' || imageEnd - colon < 9)
        return 0;
    const int count = fieldValue(colon + 1, 2);
    const int type = fieldValue(colon + 7, 2);
    const int length = 11 + 2 * count + (type == 1 ? 1 : 0);
    if (imageEnd - colon < length)  // a record cut short by the end of the file
        return 0;
    std::memcpy(destination, colon, static_cast<size_t>(length));
    return length;
}

int checkImage(WindowHandle, UpdateContext* ctx)
{
    const uint8_t* data = ctx->imageData;
    const int32_t size = data == nullptr ? 0 : ctx->imageSize;
    auto lineEndAt = [&](int32_t at) { return size - at >= 2 && data[at] == '\r' && data[at + 1] == '\n'; };

    if (size < kVersionLineSize || data[0] != 'V' || hexByte(data + 1) < 0 || hexByte(data + 3) < 0 ||
        !lineEndAt(5))
        return 0;
    int32_t at = kVersionLineSize;
    while (at < size) {
        if (data[at] != ':' || size - at < 11)
            return 0;
        const int count = hexByte(data + at + 1);
        if (count < 0)
            return 0;
        const int32_t length = 11 + 2 * count;
        if (size - at < length)
            return 0;
        int sum = 0;
        for (int32_t i = 1; i < length; i += 2) {
            const int value = hexByte(data + at + i);
            if (value < 0)
                return 0;
            sum += value;
        }
        if ((sum & 0xFF) != 0 || !lineEndAt(at + length))
            return 0;
        const bool endOfFile = hexByte(data + at + 7) == 1;
        at += length + 2;
        if (endOfFile)
            return size - at <= 1 ? 1 : 0;
    }
    return 0;  // no end-of-file record
}
