#include <windows.h>

#include <cstdlib>
#include <string>

#include "image_file.h"
#include "panel_input.h"
#include "start_checks.h"
#include "texts.h"
#include "wide_path.h"

namespace {

std::wstring wideFromTable(const std::string& text)
{
    const int length = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    if (length <= 0)
        return {};
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &wide[0], length);
    wide.pop_back();
    return wide;
}

// The error box of the code, with what was refused below its message.
bool refuse(WindowHandle window, UpdateContext* ctx, int32_t code, const std::string& what)
{
    ctx->errorCode = code;
    std::wstring message = wideFromTable(errorMessage(*ctx, 0));
    if (!what.empty())
        message += L"\r\n\r\n" + widePath(what.c_str());
    MessageBoxW(window, message.c_str(), wideFromTable(loadText(TextErrorCaption)).c_str(), MB_ICONERROR | MB_OK);
    return false;
}

// The image is loaded and checked as the run will, then let go: the run
// loads it again once the device has been identified.
bool imageIsUsable(WindowHandle window, UpdateContext* ctx)
{
    const bool loaded = loadImage(window, ctx) != 0;
    const bool good = loaded && readImageVersion(window, ctx) > 0 && checkImage(window, ctx) != 0;
    std::free(ctx->imageData);
    ctx->imageData = nullptr;
    if (good)
        return true;
    const std::string path = ctx->imagePath[0] != '\0' ? ctx->imagePath : kImageFileName;
    return refuse(window, ctx, loaded ? ErrImageFormat : ErrImageRead, path);
}

} // namespace

bool startChecksPass(WindowHandle window, UpdateContext* ctx)
{
    if (ctx->method == Network) {
        // An empty field keeps its box as it was, without an addition.
        if (ctx->ipText[0] == '\0' || !isDottedIpv4(ctx->ipText))
            return refuse(window, ctx, ErrNoAddress, ctx->ipText);
        if (!isTcpPort(ctx->tcpPort))
            return refuse(window, ctx, ErrNoPort, ctx->tcpPort == 0 ? "" : std::to_string(ctx->tcpPort));
    }
    return imageIsUsable(window, ctx);
}
