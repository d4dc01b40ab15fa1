#include "command_view.h"

#include "command_channel.h"
#include "texts.h"

void showError(CommandView& view, const UpdateContext& ctx, int number)
{
    view.showErrorFor(loadText(TextErrorCaption), errorMessage(ctx, number), ctx, number);
}

void CommandView::showStatusOf(const UpdateContext& ctx)
{
    showStatusText(statusText(ctx));
}

void CommandView::showResultOf(const UpdateContext& ctx)
{
    showStatusText(resultText(ctx));
}

bool CommandView::askConfirmationOf(const UpdateContext& ctx)
{
    return askConfirmation(confirmationText(ctx));
}

bool carryOutCommand(CommandView& view, UpdateContext* ctx, uintptr_t code, intptr_t argument)
{
    const uint32_t low16 = static_cast<uint32_t>(argument) & 0xFFFFu;
    switch (code & 0xFFFFu) {
    case CmdConfirm:
        ctx->statusCode = view.askConfirmationOf(*ctx) ? StConfirmed : StDeclined;
        return true;
    case CmdStatus:
        view.showStatusOf(*ctx);
        return true;
    case CmdDeviceVersion:
        view.showDeviceVersion(versionText(ctx->deviceVersion[kDeviceVersionMajor],
                                           ctx->deviceVersion[kDeviceVersionMinor]));
        return true;
    case CmdImageVersion:
        view.showImageVersion(versionText(ctx->imageMajor, ctx->imageMinor));
        return true;
    case CmdEnableControls:
        view.enableControls(low16 != 0);
        return true;
    case CmdProgressRange:
        view.setProgressRange(static_cast<uint32_t>(ctx->imageSize) + 3u);
        return true;
    case CmdProgressStep:
        // txLength still holds the length of the request the worker sent last.
        view.stepProgress(low16 + static_cast<uint32_t>(ctx->txLength));
        return true;
    case CmdProgressReset:
        view.resetProgress();
        return true;
    case CmdResult:
        view.showResultOf(*ctx);
        return true;
    case CmdError:
        showError(view, *ctx, static_cast<int>(argument));
        return true;
    case CmdFinished:
        view.showFinalText(finalText(*ctx), ctx->succeeded != 0);
        return true;
    default:
        return false;
    }
}

bool handleUpdateCommand(WindowHandle window, CommandView& view, UpdateContext* ctx, uintptr_t code,
                         intptr_t argument)
{
    if (!carryOutCommand(view, ctx, code, argument))
        return false;
    signalCommandDone(window, ctx);
    if ((code & 0xFFFFu) == CmdFinished)
        noteFinalLineHandled(ctx);
    return true;
}
