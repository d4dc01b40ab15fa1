#include "run_words.h"

#include <cstdio>

#include "console_messages.h"
#include "kt_version.h"
#include "default_ports.h"
#include "port_list.h"
#include "protocol_waits.h"
#include "terminal.h"

namespace {

std::string seconds(int milliseconds)
{
    char text[32];
    if (milliseconds % 1000 == 0)
        std::snprintf(text, sizeof text, "%d", milliseconds / 1000);
    else
        std::snprintf(text, sizeof text, "%.1f", milliseconds / 1000.0);
    return text;
}

std::string hexAddress(uint32_t address)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%04X", address);
    return text;
}

// Where the device exchange stood: the record, or the request.
std::string stepWords(const RunFacts& facts, const ImageFacts& image)
{
    switch (facts.step) {
    case StepIdentify:
        return consoleMessage(TextCauseIdentify);
    case StepEnter:
        return consoleMessage(TextCauseEnter);
    case StepVerify:
        return consoleMessage(TextCauseVerify);
    case StepRecord:
        return consoleMessage(TextCauseRecord, {std::to_string(facts.record), std::to_string(image.records),
                                                std::to_string(facts.line), hexAddress(facts.address)});
    default:
        return {};
    }
}

// What the last device exchange met.
std::string replyWords(const UpdateContext& ctx)
{
    const RunFacts& facts = ctx.run.facts;
    if (facts.step == StepVerify && facts.replyLength >= 4 && facts.reply[0] == 'V')
        return consoleMessage(TextCauseVersion, {versionText(facts.reply[3], facts.reply[2]),
                                                 versionText(ctx.imageMajor, ctx.imageMinor)});
    if (facts.replyLength > 0)
        return consoleMessage(TextCauseAnswered,
                              {bytesWords(facts.reply, facts.replyLength < 8 ? facts.replyLength : 8),
                               bytesWords(facts.expected, facts.expectedLength)});
    if (facts.linkError != 0)
        return consoleMessage(TextCauseLinkFailed, {systemErrorText(facts.linkError)});
    if (facts.linkClosed != 0)
        return consoleMessage(TextCauseClosed);
    return consoleMessage(TextCauseNoReply, {seconds(facts.waitMs)});
}

std::string xportWords(const UpdateContext& ctx, const std::string& address)
{
    const std::string peer = address + ":" + std::to_string(kXportConfigPort);
    if (ctx.run.facts.xportReplyLength == 0)
        return consoleMessage(TextCauseXportSilent, {peer, seconds(protocolWaits().receiveMs)});
    // A whole setup record came back after a put: the read-back differs.
    // Without a put out, the keeper refused and has said why.
    if (ctx.run.facts.xportReplyLength == kSetupRecordSize)
        return ctx.errorCode == ErrXportRestore || ctx.xportChanged != 0
                   ? consoleMessage(TextCauseXportReadBack, {peer})
                   : std::string();
    if (ctx.run.facts.xportReplyLength > 0)
        return consoleMessage(TextCauseXportWrong, {peer});
    return {};
}

} // namespace

std::string bytesWords(const uint8_t* bytes, int length)
{
    bool printable = length > 0;
    for (int i = 0; i < length; ++i)
        printable = printable && bytes[i] >= 0x21 && bytes[i] < 0x7F && bytes[i] != '\'';
    if (printable)
        return "'" + std::string(reinterpret_cast<const char*>(bytes), static_cast<size_t>(length)) + "'";
    std::string text;
    char hex[4];
    for (int i = 0; i < length; ++i) {
        std::snprintf(hex, sizeof hex, "%02X", bytes[i]);
        text += (i == 0 ? "" : " ") + std::string(hex);
    }
    return text;
}

std::string unitName(const UpdateContext& ctx, const std::string& address)
{
    if (ctx.method == Network || ctx.xportRepair != 0)
        return address + ":" + std::to_string(ctx.tcpPort);
    return chosenPortName(ctx);
}

std::string statusWords(const UpdateContext& ctx, const std::string& unit)
{
    switch (ctx.statusCode) {
    case StConnecting:
        return consoleMessage(ctx.method == Network ? TextSayConnecting : TextSayOpening, {unit});
    case StDisconnecting:
        return consoleMessage(TextSayClosing);
    case StReading:
        return consoleMessage(TextSayReading, {ctx.imagePath});
    case StErasing:
        return consoleMessage(TextSayErasing);
    case StWriting:
        return consoleMessage(TextSayWriting);
    case StXportChanging:
        return consoleMessage(TextSaySwitching, {ctx.ipText});
    case StXportRestoring:
        return consoleMessage(TextSayRestoring);
    case StQuitting:
        // Only a device asked to erase was in its update mode.
        return consoleMessage(ctx.eraseSent != 0 ? TextSayLeaving : TextSayReleasing);
    default:
        return {};
    }
}

std::string failureWords(int errorCode)
{
    switch (errorCode) {
    case ErrXportChange: return consoleMessage(TextFailXportChange);
    case ErrXportRestore: return consoleMessage(TextFailXportRestore);
    case ErrWrite: return consoleMessage(TextFailWrite);
    case ErrSocketInit: return consoleMessage(TextFailSocketInit);
    case ErrNoAddress: return consoleMessage(TextFailNoAddress);
    case ErrNoPort: return consoleMessage(TextFailNoPort);
    case ErrSocketCreate: return consoleMessage(TextFailSocketCreate);
    case ErrConnect: return consoleMessage(TextFailConnect);
    case ErrSend: return consoleMessage(TextFailSend);
    case ErrUdpSocketCreate: return consoleMessage(TextFailUdpSocketCreate);
    case ErrUdpBind: return consoleMessage(TextFailUdpBind);
    case ErrUdpSend: return consoleMessage(TextFailUdpSend);
    case ErrLinkOpen: return consoleMessage(TextFailConnect);
    case ErrImageRead: return consoleMessage(TextFailImageRead);
    case ErrUpdateMode: return consoleMessage(TextFailUpdateMode);
    case ErrImageFormat: return consoleMessage(TextFailImageFormat);
    default: return consoleMessage(TextFailCommandChannel);
    }
}

std::string causeWords(const UpdateContext& ctx, const std::string& address, const ImageFacts& image)
{
    const RunFacts& facts = ctx.run.facts;
    switch (ctx.errorCode) {
    case ErrXportChange:
    case ErrXportRestore:
        return xportWords(ctx, address);
    case ErrUpdateMode:
        return replyWords(ctx);
    case ErrWrite:
        if (facts.cancelled != 0)
            return consoleMessage(TextCauseStopped);
        return stepWords(facts, image) + ": " + replyWords(ctx);
    default:
        return {};
    }
}

std::string targetWords(const UpdateContext& ctx, const std::string& address)
{
    if (ctx.method == Network)
        return consoleMessage(TextSayTargetNetwork, {address, std::to_string(ctx.tcpPort)});
    return consoleMessage(TextSayTargetSerial, {chosenPortName(ctx)});
}

std::string headerWords(const std::string& target, const std::string& imagePath, const ImageFacts& image)
{
    return consoleMessage(TextSayHeader, {"kt5cufirm", KT_VERSION_TEXT, target, imagePath, image.version,
                                          std::to_string(image.records), std::to_string(image.dataBytes),
                                          image.sha256});
}

std::string summaryWords(const UpdateContext& ctx, double seconds)
{
    const RunFacts& facts = ctx.run.facts;
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", seconds);
    const std::string time = text;
    const double rate = seconds > 0 ? facts.dataBytes / seconds : 0.0;
    std::snprintf(text, sizeof text, "%.0f", rate);
    const std::string perSecond = text;
    std::string share;
    if (ctx.method == Serial && seconds > 0) {
        // 115200 baud, 8N1: ten bits a byte.
        std::snprintf(text, sizeof text, "%.0f", 100.0 * facts.lineBytes / seconds / 11520.0);
        share = consoleMessage(TextSayLineShare, {text});
    }
    return consoleMessage(TextSaySummary,
                          {std::to_string(facts.record), std::to_string(facts.dataBytes), time, perSecond, share,
                           versionText(ctx.deviceVersion[kDeviceVersionMajor], ctx.deviceVersion[kDeviceVersionMinor])});
}
