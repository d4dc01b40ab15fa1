#include "update_sequence.h"

#include <cstdlib>
#include <cstring>

#include "cancel.h"
#include "command_channel.h"
#include "image_file.h"
#include "link.h"
#include "protocol.h"
#include "sockets.h"
#include "worker_thread.h"
#include "xport_setup.h"

namespace {

void report(WindowHandle window, UpdateContext* ctx, StatusCode status)
{
    ctx->statusCode = status;
    reportStatus(window, ctx);
}

void fail(WindowHandle window, UpdateContext* ctx, ErrorCode error)
{
    ctx->errorCode = error;
    reportError(window, ctx);
}

void freeImage(UpdateContext* ctx)
{
    if (ctx->imageData != nullptr) {
        std::free(ctx->imageData);
        ctx->imageData = nullptr;
    }
}

// Whether the image's version is above the device's, major first.
bool imageIsNewer(const UpdateContext& ctx)
{
    const int device = ctx.deviceVersion[kDeviceVersionMajor] * 256 + ctx.deviceVersion[kDeviceVersionMinor];
    return ctx.imageMajor * 256 + ctx.imageMinor > device;
}

// From the open link to the result line. Returns whether the quit exchange
// is due: it is not after a failed identify request.
bool updateDevice(WindowHandle window, UpdateContext* ctx)
{
    if (!identifyDevice(window, ctx)) {
        fail(window, ctx, ErrUpdateMode);
        return false;
    }
    postCommand(window, ctx, CmdDeviceVersion, 0);
    report(window, ctx, StReading);
    if (!loadImage(window, ctx)) {
        fail(window, ctx, ErrImageRead);
        postCommand(window, ctx, CmdResult, 0);
        return true;
    }
    // An image the record loop would write wrongly (lines not ended by CR LF,
    // a bad record) is refused here, before the device is erased.
    if (readImageVersion(window, ctx) <= 0 || !checkImage(window, ctx)) {
        fail(window, ctx, ErrImageFormat);
        return true;
    }
    postCommand(window, ctx, CmdImageVersion, 0);
    if (ctx->onlyIfNewer != 0 && !imageIsNewer(*ctx)) {
        // As on a No: quit, close and restore follow, nothing is erased.
        ctx->leftAlone = 1;
        return true;
    }
    // Only an answer the window wrote can be Yes; a cancel counts as No, and
    // a check run declines without asking.
    ctx->statusCode = StDeclined;
    if (!cancelRequested() && ctx->checkOnly == 0)
        postCommand(window, ctx, CmdConfirm, 0);
    if (ctx->statusCode != StConfirmed || cancelRequested())
        return true;
    // From the erase on, every reply is awaited: a cancel ends the write
    // between records.
    setWaitsCutByCancel(ctx, 0);
    if (writeImage(window, ctx))
        ctx->succeeded = 1;
    else
        fail(window, ctx, ErrWrite);
    postCommand(window, ctx, CmdResult, 0);
    return true;
}

// From the link's open to its close. A cancel before the open leaves the
// device alone; once a reply may be due, every wait runs its full time.
void updateOverLink(WindowHandle window, UpdateContext* ctx)
{
    if (cancelRequested())
        return;
    report(window, ctx, StConnecting);
    bool quitDue = true;
    if (openLink(window, ctx))
        quitDue = updateDevice(window, ctx);
    else
        fail(window, ctx, ErrLinkOpen);
    setWaitsCutByCancel(ctx, 0);
    if (quitDue) {
        report(window, ctx, StQuitting);
        quitUpdateMode(window, ctx);
    }
    if (ctx->linkOpen != 0) {
        report(window, ctx, StDisconnecting);
        closeLink(window, ctx);
    }
}

} // namespace

int startUpdate(WindowHandle window, UpdateContext* ctx)
{
    if (workerRunning(ctx))
        return 0;
    releaseWorkerThread(ctx);
    if (ctx->method == Network) {
        if (ctx->ipText[0] == '\0') {
            ctx->errorCode = ErrNoAddress;
            return kStartRefused;
        }
        if (ctx->tcpPort == 0) {
            ctx->errorCode = ErrNoPort;
            return kStartRefused;
        }
    }
    return startWorkerThread(window, ctx);
}

int runUpdate(WindowHandle window, UpdateContext* ctx)
{
    ctx->imageData = nullptr;
    ctx->succeeded = 0;
    ctx->eraseSent = 0;
    ctx->xportChanged = 0;
    ctx->leftAlone = 0;
    std::memset(&ctx->run.facts, 0, sizeof ctx->run.facts);
    // Until something is changed, a cancel cuts the waits short.
    setWaitsCutByCancel(ctx, 1);
    postCommand(window, ctx, CmdEnableControls, 0);

    if (ctx->xportRepair != 0) {
        setWaitsCutByCancel(ctx, 0);
        report(window, ctx, StXportRestoring);
        if (repairXport(window, ctx))
            ctx->succeeded = 1;
        else
            fail(window, ctx, ErrXportRestore);
    } else {
        const bool network = ctx->method == Network;
        bool xportChanged = false;
        // A cancel before the switch changes nothing at all.
        if (network && !cancelRequested()) {
            report(window, ctx, StXportChanging);
            xportChanged = switchXport(window, ctx) != 0;
            if (!xportChanged)
                fail(window, ctx, ErrXportChange);
            // A failed switch whose put was out may have changed the XPort:
            // put back at once where the front end asks for it.
            if (!xportChanged && ctx->xportChanged != 0 && restoresFailedSwitch(ctx)) {
                setWaitsCutByCancel(ctx, 0);
                report(window, ctx, StXportRestoring);
                if (!restoreXport(window, ctx))
                    fail(window, ctx, ErrXportRestore);
            }
        }
        if (!network || xportChanged) {
            setWaitsCutByCancel(ctx, 1);
            updateOverLink(window, ctx);
            freeImage(ctx);
            if (network) {
                setWaitsCutByCancel(ctx, 0);
                report(window, ctx, StXportRestoring);
                if (!restoreXport(window, ctx))
                    fail(window, ctx, ErrXportRestore);
            }
        }
    }
    setWaitsCutByCancel(ctx, 0);
    postCommand(window, ctx, CmdProgressReset, 0);
    postCommand(window, ctx, CmdEnableControls, 1);
    postCommand(window, ctx, CmdFinished, 0);
    return 1;
}

int shutdownApp(WindowHandle window, UpdateContext* ctx)
{
    // A worker whose final line was handled ends right after it: wait for it.
    if (workerRunning(ctx) && !workerFinishing(ctx))
        return 0;
    releaseWorkerThread(ctx);
    if (ctx->linkOpen == 1)
        closeLink(window, ctx);
    freeImage(ctx);
    closeCommandChannel(window, ctx);
    stopSocketLibrary();
    return 1;
}
