#include "image_file.h"

#include <cstdio>
#include <cstring>

int hexDigit(uint8_t c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

int hexByte(const uint8_t* text)
{
    const int high = hexDigit(text[0]);
    const int low = hexDigit(text[1]);
    return high < 0 || low < 0 ? -1 : high * 16 + low;
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

    return readImageFile(ctx->imagePath, &ctx->imageData, &ctx->imageSize, nullptr);
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
