// The device's replies fed to the update protocol through a fake link. Input:
// two bytes (little-endian) giving the image's length, the image, then the
// replies: each receive takes a length byte n (0: nothing arrived) and up to
// n bytes, of which it keeps as many as were wanted; n = 255 takes nothing and
// gives the reply a correct device gives to the last request. The exchanges
// run in the order of an update run; whatever the replies, no request or
// reply leaves its buffer, the identify reply is judged by its count and
// first byte, a write that succeeds on a well-formed image sent every record
// of it, in order, exactly as the file holds it, and a well-formed image
// written to a correct device always succeeds.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "image_file.h"
#include "link.h"
#include "protocol.h"

namespace {

constexpr int kCorrectReply = 255;

FuzzInput* replies = nullptr;
std::vector<std::string> sent;
int lastReplyCount = 0;
bool onlyCorrectReplies = true;

// What a device that follows the protocol answers to `request`.
std::string correctReply(const std::string& request)
{
    if (request == "KORVANE")
        return {'M', 0x01, 0x00, 0x01};
    if (request == "S")
        return "FE";
    if (request == "Q")
        return "N";
    if (request.size() == 2)
        return {'V', 0x01, request[0], request[1]};
    if (request.size() >= 11 && request[0] == ':')
        return request.compare(7, 2, "01") == 0 ? "EFW" : "EFL";
    return "";
}

} // namespace

// The link, as the protocol sees it: requests are kept, replies come from the input.
void sendTx(WindowHandle, UpdateContext* ctx)
{
    FUZZ_EXPECT(ctx->txLength >= 0 && ctx->txLength <= kBufferSize);
    sent.emplace_back(reinterpret_cast<const char*>(ctx->txBuffer), static_cast<size_t>(ctx->txLength));
}

int receiveRx(WindowHandle, UpdateContext* ctx)
{
    FUZZ_EXPECT(ctx->rxLength > 0 && ctx->rxLength <= kBufferSize);
    const size_t wanted = static_cast<size_t>(ctx->rxLength);
    const int marker = replies->next(0);
    size_t n = 0;
    if (marker == kCorrectReply) {
        const std::string reply = sent.empty() ? "" : correctReply(sent.back());
        n = reply.size() < wanted ? reply.size() : wanted;
        std::memcpy(ctx->rxBuffer, reply.data(), n);
    } else {
        onlyCorrectReplies = false;
        const size_t offered = static_cast<size_t>(marker);
        n = replies->take(ctx->rxBuffer, offered < wanted ? offered : wanted);
        if (offered > wanted)
            replies->skip(offered - wanted);
    }
    ctx->rxLength = static_cast<int32_t>(n);
    lastReplyCount = static_cast<int>(n);
    return lastReplyCount;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    size_t imageSize = data[0] | static_cast<size_t>(data[1]) << 8;
    if (imageSize > size - 2)
        imageSize = size - 2;
    auto* image = static_cast<uint8_t*>(std::malloc(imageSize == 0 ? 1 : imageSize));
    std::memcpy(image, data + 2, imageSize);
    FuzzInput input(data + 2 + imageSize, size - 2 - imageSize);
    replies = &input;
    sent.clear();
    onlyCorrectReplies = true;

    static UpdateContext ctx;
    initUpdateContext(&ctx);
    ctx.imageData = image;
    ctx.imageSize = static_cast<int32_t>(imageSize);
    readImageVersion(nullptr, &ctx);
    const bool wellFormed = checkImage(nullptr, &ctx) != 0;

    const int identified = identifyDevice(nullptr, &ctx);
    FUZZ_EXPECT(identified == (lastReplyCount == 4 && ctx.rxBuffer[0] == 'M' ? 1 : 0));
    if (identified) {
        const size_t before = sent.size();
        const int written = writeImage(nullptr, &ctx);
        FUZZ_EXPECT(written || !wellFormed || !onlyCorrectReplies);
        if (written && wellFormed) {
            // "S", the records, then the verify request with the image's version.
            FUZZ_EXPECT(sent.size() >= before + 3 && sent[before] == "S");
            const std::string verify{static_cast<char>(ctx.imageMinor), static_cast<char>(ctx.imageMajor)};
            FUZZ_EXPECT(sent.back() == verify);
            FUZZ_EXPECT(ctx.deviceVersion[kDeviceVersionMinor] == ctx.imageMinor &&
                        ctx.deviceVersion[kDeviceVersionMajor] == ctx.imageMajor);
            std::string lines;
            for (size_t i = before + 1; i + 1 < sent.size(); ++i) {
                FUZZ_EXPECT(!sent[i].empty());
                lines += sent[i] + (sent[i].back() == '\r' ? "\n" : "\r\n");
            }
            const std::string file(reinterpret_cast<const char*>(image), imageSize);
            FUZZ_EXPECT(lines == file.substr(kVersionLineSize, lines.size()));
            FUZZ_EXPECT(kVersionLineSize + lines.size() + 1 >= imageSize);
        }
        quitUpdateMode(nullptr, &ctx);
    }
    std::free(image);
    ctx.imageData = nullptr;
    return 0;
}
