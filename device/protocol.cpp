#include "protocol.h"

#include <cstring>

#include "cancel.h"
#include "command_channel.h"
#include "image_file.h"
#include "link.h"
#include "protocol_waits.h"

namespace {

const uint8_t kIdentify[] = {'K', 'O', 'R', 'V', 'A', 'N', 'E'};
const uint8_t kEnter[] = {'S'};
const uint8_t kQuit[] = {'Q'};
const uint8_t kEntered[] = {'F', 'E'};
const uint8_t kRecordTaken[] = {'E', 'F', 'L'};
const uint8_t kLastRecordTaken[] = {'E', 'F', 'W'};
const uint8_t kQuitTaken[] = {'N'};
const uint8_t kIdentified[] = {'M'};
const uint8_t kVerified[] = {'V'};

constexpr int kIdentifyReplySize = 4;
constexpr int kEnterReplySize = 2;
constexpr int kRecordReplySize = 3;
constexpr int kVerifyReplySize = 4;
constexpr int kQuitReplySize = 1;

// Notes the exchange begun and the start its reply must have.
template <size_t N>
void noteStep(UpdateContext* ctx, ExchangeStep step, const uint8_t (&expected)[N])
{
    RunFacts& facts = ctx->run.facts;
    facts.step = step;
    std::memset(facts.expected, 0, sizeof facts.expected);
    std::memcpy(facts.expected, expected, N < sizeof facts.expected ? N : sizeof facts.expected);
    facts.expectedLength = static_cast<int32_t>(N);
}

// Waits for a reply of `wanted` bytes into the cleared rxBuffer; the count.
int receiveReply(WindowHandle window, UpdateContext* ctx, int wanted)
{
    std::memset(ctx->rxBuffer, 0, sizeof ctx->rxBuffer);
    ctx->rxLength = wanted;
    RunFacts& facts = ctx->run.facts;
    facts.waitMs = protocolWaits().receiveMs;
    const int n = receiveRx(window, ctx);
    facts.replyLength = n;
    std::memcpy(facts.reply, ctx->rxBuffer, sizeof facts.reply);
    return n;
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

int hexValue(const uint8_t* text, int digits)
{
    int value = 0;
    for (int i = 0; i < digits; ++i)
        value = value * 16 + (hexDigit(text[i]) < 0 ? 0 : hexDigit(text[i]));
    return value;
}

// Notes the record about to go out (":LLAAAATT..." in txBuffer): its number,
// line and address; an extended address record moves `base`.
void noteRecord(UpdateContext* ctx, uint32_t* base)
{
    RunFacts& facts = ctx->run.facts;
    const uint8_t* text = ctx->txBuffer;
    facts.record += 1;
    facts.line = facts.record + 1;  // line 1 holds the version
    const uint32_t offset = static_cast<uint32_t>(hexValue(text + 3, 4));
    const int type = hexValue(text + 7, 2);
    facts.address = *base + offset;
    if (type == 2)
        *base = static_cast<uint32_t>(hexValue(text + 9, 4)) << 4;
    else if (type == 4)
        *base = static_cast<uint32_t>(hexValue(text + 9, 4)) << 16;
}

// Counts an acknowledged record's data bytes.
void countRecord(UpdateContext* ctx)
{
    if (hexValue(ctx->txBuffer + 7, 2) == 0)
        ctx->run.facts.dataBytes += static_cast<uint32_t>(hexValue(ctx->txBuffer + 1, 2));
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
    noteStep(ctx, StepIdentify, kIdentified);
    const int n = exchange(window, ctx, kIdentify, sizeof kIdentify, kIdentifyReplySize);
    if (n != kIdentifyReplySize || ctx->rxBuffer[0] != 'M')
        return 0;
    takeDeviceVersion(ctx);
    return 1;
}

int enterUpdateMode(WindowHandle window, UpdateContext* ctx)
{
    noteStep(ctx, StepEnter, kEntered);
    const int n = exchange(window, ctx, kEnter, sizeof kEnter, kEnterReplySize);
    return n != 0 && replyIs(ctx, kEntered) ? 1 : 0;
}

int verifyVersion(WindowHandle window, UpdateContext* ctx)
{
    const uint8_t request[] = {ctx->imageMinor, ctx->imageMajor};
    noteStep(ctx, StepVerify, kVerified);
    const int n = exchange(window, ctx, request, sizeof request, kVerifyReplySize);
    if (n == 0 || ctx->rxBuffer[0] != 'V')
        return 0;
    takeDeviceVersion(ctx);
    return ctx->rxBuffer[2] == ctx->imageMinor && ctx->rxBuffer[3] == ctx->imageMajor ? 1 : 0;
}

int quitUpdateMode(WindowHandle window, UpdateContext* ctx)
{
    noteStep(ctx, StepQuit, kQuitTaken);
    const int n = exchange(window, ctx, kQuit, sizeof kQuit, kQuitReplySize);
    return n != 0 && replyIs(ctx, kQuitTaken) ? 1 : 0;
}

namespace {

// Sends every record from `cursor` on, each awaiting its acknowledgement.
int writeRecords(WindowHandle window, UpdateContext* ctx, int64_t cursor)
{
    const uint8_t* image = ctx->imageData;
    const int64_t imageSize = image == nullptr || ctx->imageSize < 0 ? 0 : ctx->imageSize;
    uint32_t base = 0;
    for (;;) {
        std::memset(ctx->txBuffer, 0, sizeof ctx->txBuffer);
        const int length = cursor < imageSize ? cutRecord(image + cursor, image + imageSize, ctx->txBuffer) : 0;
        ctx->txLength = length;
        // The record and its CR LF, counted from the cursor.
        if (length != 0)
            cursor += length + 2;
        noteRecord(ctx, &base);
        const bool last = cursor >= imageSize;
        if (last)
            noteStep(ctx, StepRecord, kLastRecordTaken);
        else
            noteStep(ctx, StepRecord, kRecordTaken);
        sendTx(window, ctx);
        ctx->run.facts.lineBytes += static_cast<uint32_t>(length);
        if (receiveReply(window, ctx, kRecordReplySize) == 0)
            return 0;
        if (last ? !replyIs(ctx, kLastRecordTaken) : !replyIs(ctx, kRecordTaken))
            return 0;
        countRecord(ctx);
        postCommand(window, ctx, CmdProgressStep, last ? 1 : 2);
        if (last || length == 0)
            return 1;
        if (cancelRequested()) {
            ctx->run.facts.cancelled = 1;
            return 0;
        }
    }
}

} // namespace

int writeImage(WindowHandle window, UpdateContext* ctx)
{
    ctx->statusCode = StErasing;
    reportStatus(window, ctx);
    ctx->eraseSent = 1;
    if (enterUpdateMode(window, ctx) == 0)
        return 0;
    // A cancel ends the write between records, never inside one.
    if (cancelRequested()) {
        ctx->run.facts.cancelled = 1;
        return 0;
    }
    postCommand(window, ctx, CmdProgressRange, 0);
    ctx->statusCode = StWriting;
    reportStatus(window, ctx);
    // The cursor, as an offset: the first byte after the version line.
    if (writeRecords(window, ctx, kVersionLineSize) == 0)
        return 0;
    if (verifyVersion(window, ctx) == 0)
        return 0;
    postCommand(window, ctx, CmdProgressStep, 2);
    return 1;
}
