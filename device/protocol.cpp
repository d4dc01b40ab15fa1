#include "protocol.h"

#include <cstring>

#include "cancel.h"
#include "command_channel.h"
#include "image_file.h"
#include "link.h"

namespace {

const uint8_t kIdentify[] = {'K', 'O', 'R', 'V', 'A', 'N', 'E'};
const uint8_t kEnter[] = {'S'};
const uint8_t kQuit[] = {'Q'};
const uint8_t kEntered[] = {'F', 'E'};
const uint8_t kRecordTaken[] = {'E', 'F', 'L'};
const uint8_t kLastRecordTaken[] = {'E', 'F', 'W'};
const uint8_t kQuitTaken[] = {'N'};

constexpr int kIdentifyReplySize = 4;
constexpr int kEnterReplySize = 2;
constexpr int kRecordReplySize = 3;
constexpr int kVerifyReplySize = 4;
constexpr int kQuitReplySize = 1;

// Waits for a reply of `wanted` bytes into the cleared rxBuffer; the count.
int receiveReply(WindowHandle window, UpdateContext* ctx, int wanted)
{
    std::memset(ctx->rxBuffer, 0, sizeof ctx->rxBuffer);
    ctx->rxLength = wanted;
    return receiveRx(window, ctx);
}

// Sends one request from a cleared txBuffer and waits for its reply.
int exchange(WindowHandle window, UpdateContext* ctx, const uint8_t* request, int length, int wanted)
{
    std::memset(ctx->txBuffer, 0, sizeof ctx->txBuffer);
    std::memcpy(ctx->txBuffer, request, static_cast<size_t>(length));
    ctx->txLength = length;
    sendTx(window, ctx);
    return receiveReply(window, ctx, wanted);
}

// The reply starts with `literal`; missing bytes were cleared and never match.
template <size_t N>
bool replyIs(const UpdateContext* ctx, const uint8_t (&literal)[N])
{
    return std::memcmp(ctx->rxBuffer, literal, N) == 0;
}

void takeDeviceVersion(UpdateContext* ctx)
{
    ctx->deviceVersion[kDeviceVersionTag] = ctx->rxBuffer[1];
    ctx->deviceVersion[kDeviceVersionMinor] = ctx->rxBuffer[2];
    ctx->deviceVersion[kDeviceVersionMajor] = ctx->rxBuffer[3];
}

} // namespace

int identifyDevice(WindowHandle window, UpdateContext* ctx)
{
    const int n = exchange(window, ctx, kIdentify, sizeof kIdentify, kIdentifyReplySize);
    if (n != kIdentifyReplySize || ctx->rxBuffer[0] != 'M')
        return 0;
    takeDeviceVersion(ctx);
    return 1;
}

int enterUpdateMode(WindowHandle window, UpdateContext* ctx)
{
    const int n = exchange(window, ctx, kEnter, sizeof kEnter, kEnterReplySize);
    return n != 0 && replyIs(ctx, kEntered) ? 1 : 0;
}

int verifyVersion(WindowHandle window, UpdateContext* ctx)
{
    const uint8_t request[] = {ctx->imageMinor, ctx->imageMajor};
    const int n = exchange(window, ctx, request, sizeof request, kVerifyReplySize);
    if (n == 0 || ctx->rxBuffer[0] != 'V')
        return 0;
    takeDeviceVersion(ctx);
    return ctx->rxBuffer[2] == ctx->imageMinor && ctx->rxBuffer[3] == ctx->imageMajor ? 1 : 0;
}

int quitUpdateMode(WindowHandle window, UpdateContext* ctx)
{
    const int n = exchange(window, ctx, kQuit, sizeof kQuit, kQuitReplySize);
    return n != 0 && replyIs(ctx, kQuitTaken) ? 1 : 0;
}

int writeImage(WindowHandle window, UpdateContext* ctx)
{
    const uint8_t* image = ctx->imageData;
    const int64_t imageSize = image == nullptr || ctx->imageSize < 0 ? 0 : ctx->imageSize;
    // The cursor, as an offset: the first byte after the version line.
    int64_t cursor = kVersionLineSize;

    ctx->statusCode = StErasing;
    reportStatus(window, ctx);
    ctx->eraseSent = 1;
    if (enterUpdateMode(window, ctx) == 0)
        return 0;
    // A cancel ends the write between records, never inside one.
    if (cancelRequested())
        return 0;
    postCommand(window, ctx, CmdProgressRange, 0);
    ctx->statusCode = StWriting;
    reportStatus(window, ctx);

    for (;;) {
        std::memset(ctx->txBuffer, 0, sizeof ctx->txBuffer);
        const int length = cursor < imageSize ? cutRecord(image + cursor, image + imageSize, ctx->txBuffer) : 0;
        ctx->txLength = length;
        // The record and its CR LF, counted from the cursor.
        if (length != 0)
            cursor += length + 2;
        sendTx(window, ctx);
        if (receiveReply(window, ctx, kRecordReplySize) == 0)
            return 0;
        if (cursor >= imageSize) {
            if (!replyIs(ctx, kLastRecordTaken))
                return 0;
            postCommand(window, ctx, CmdProgressStep, 1);
            break;
        }
        if (!replyIs(ctx, kRecordTaken))
            return 0;
        postCommand(window, ctx, CmdProgressStep, 2);
        if (length == 0)
            break;
        if (cancelRequested())
            return 0;
    }

    if (verifyVersion(window, ctx) == 0)
        return 0;
    postCommand(window, ctx, CmdProgressStep, 2);
    return 1;
}
