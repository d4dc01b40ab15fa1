#include "texts.h"

#include <cstdio>

unsigned statusTextId(int32_t statusCode)
{
    switch (statusCode) {
    case StConnecting: return 5;
    case StDisconnecting: return 6;
    case StReading: return 7;
    case StWriting: return 8;
    case StErasing: return 9;
    case StXportChanging: return 10;
    case StXportRestoring: return 11;
    case StQuitting: return 12;
    default: return 0;
    }
}

unsigned errorTextId(int32_t errorCode)
{
    switch (errorCode) {
    case ErrXportChange: return 13;
    case ErrXportRestore: return 14;
    case ErrWrite: return 15;
    case ErrSocketInit: return 16;
    case ErrNoAddress: return 17;
    case ErrNoPort: return 18;
    case ErrSocketCreate: return 19;
    case ErrSend: return 20;
    case ErrUdpSocketCreate: return 22;
    case ErrUdpBind: return 23;
    case ErrUdpSend: return 24;
    case ErrConnect:
    case ErrLinkOpen: return 26;
    case ErrImageRead: return 27;
    case ErrUpdateMode: return 28;
    case ErrImageFormat: return 29;
    case ErrCommandChannel: return 40;
    default: return 0;
    }
}

std::string versionText(uint8_t major, uint8_t minor)
{
    char text[16];
    std::snprintf(text, sizeof text, "Ver %X.%02X", unsigned{major}, unsigned{minor});
    return text;
}

std::string confirmationText(const UpdateContext& ctx)
{
    return versionText(ctx.deviceVersion[kDeviceVersionMajor], ctx.deviceVersion[kDeviceVersionMinor]) +
           " -> " + versionText(ctx.imageMajor, ctx.imageMinor) + "\r\n" + loadText(TextConfirmQuestion);
}

std::string errorMessage(const UpdateContext& ctx, int number)
{
    std::string message = loadText(errorTextId(ctx.errorCode));
    // Only the connect and send messages carry a number, in signed decimal.
    if (size_t at = message.find("%d"); at != std::string::npos)
        message.replace(at, 2, std::to_string(number));
    return message;
}

std::string statusText(const UpdateContext& ctx)
{
    return loadText(statusTextId(ctx.statusCode));
}

std::string resultText(const UpdateContext& ctx)
{
    return loadText(ctx.succeeded ? TextResultSucceeded : TextResultFailed);
}

std::string finalText(const UpdateContext& ctx)
{
    return loadText(ctx.succeeded ? TextFinalSucceeded : TextFinalFailed);
}
