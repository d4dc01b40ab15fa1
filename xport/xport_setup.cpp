#include "xport_setup.h"

#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

#include "cancel.h"
#include "protocol_waits.h"
#include "udp_channel.h"

namespace {

const uint8_t queryRequest[4] = {0x00, 0x00, 0x00, 0xF6};
const uint8_t getSetupRequest[4] = {0x00, 0x00, 0x00, 0xF8};
const uint8_t putSetupHeader[4] = {0x00, 0x00, 0x00, 0xFA};
const uint8_t putSetupReply[4] = {0x00, 0x00, 0x00, 0xFB};

// Every exchange binds local port 10001: runs of one process take turns
// for a socket's whole life, so the waits between exchanges overlap freely.
std::mutex exchangeTurn;

// One request/reply pair on its own socket. Returns the count received, or -1
// when the channel failed (already reported). The socket is closed on every
// path, so a failed exchange never keeps local port 10001 from the next one.
int exchange(WindowHandle window, UpdateContext* ctx, const uint8_t* request, int requestLength,
             int replyLength)
{
    std::lock_guard<std::mutex> turn(exchangeTurn);
    ctx->run.facts.xportReplyLength = -1;
    if (!openUdpSocket(window, ctx))
        return -1;
    if (!bindUdpSocket(window, ctx)) {
        closeUdpSocket(window, &ctx->udpSocket);
        return -1;
    }
    std::memset(ctx->txBuffer, 0, sizeof ctx->txBuffer);
    std::memcpy(ctx->txBuffer, request, static_cast<size_t>(requestLength));
    ctx->txLength = requestLength;
    if (!sendUdp(window, ctx)) {
        closeUdpSocket(window, &ctx->udpSocket);
        return -1;
    }
    std::memset(ctx->rxBuffer, 0, sizeof ctx->rxBuffer);
    ctx->rxLength = replyLength;
    int n = receiveUdp(window, ctx);
    closeUdpSocket(window, &ctx->udpSocket);
    ctx->run.facts.xportReplyLength = n;
    return n;
}

const XportSetupKeeper* setupKeeper(const UpdateContext* ctx)
{
    return ctx->hooks != nullptr ? ctx->hooks->keeper : nullptr;
}

void announceSettling(const UpdateContext* ctx)
{
    if (ctx->hooks != nullptr && ctx->hooks->settle != nullptr)
        ctx->hooks->settle(ctx->hooks->settleContext, protocolWaits().settleMs);
}

void settle(const UpdateContext* ctx)
{
    announceSettling(ctx);
    std::this_thread::sleep_for(std::chrono::milliseconds(protocolWaits().settleMs));
}

// savedSetup's byte 21 becomes the one to put back: the keeper's, if any.
int keepSavedSetup(UpdateContext* ctx)
{
    const XportSetupKeeper* keeper = setupKeeper(ctx);
    if (keeper == nullptr || keeper->keep == nullptr)
        return 1;
    uint8_t* savedSetup = ctx->run.xport.savedSetup;
    uint8_t original = savedSetup[kSwitchedByte];
    if (!keeper->keep(ctx->hooks->keeperContext, savedSetup, &original))
        return 0;
    savedSetup[kSwitchedByte] = original;
    return 1;
}

} // namespace

int queryXport(WindowHandle window, UpdateContext* ctx, uint8_t* reply)
{
    int n = exchange(window, ctx, queryRequest, sizeof queryRequest, kQueryReplySize);
    if (n <= 0 || n < kQueryReplySize)
        return 0;
    std::memcpy(reply, ctx->rxBuffer, kQueryReplySize);
    return 1;
}

int getXportSetup(WindowHandle window, UpdateContext* ctx, uint8_t* record)
{
    int n = exchange(window, ctx, getSetupRequest, sizeof getSetupRequest, kSetupRecordSize);
    if (n <= 0 || n < kSetupRecordSize)
        return 0;
    std::memcpy(record, ctx->rxBuffer, kSetupRecordSize);
    return 1;
}

int putXportSetup(WindowHandle window, UpdateContext* ctx, const uint8_t* record)
{
    int n = exchange(window, ctx, record, kSetupRecordSize, kPutReplySize);
    if (n <= 0)
        return 0;
    // rxBuffer was cleared before the receive, so a reply shorter than 4 bytes fails here.
    return std::memcmp(ctx->rxBuffer, putSetupReply, sizeof putSetupReply) == 0 ? 1 : 0;
}

int restoresFailedSwitch(const UpdateContext* ctx)
{
    const XportSetupKeeper* keeper = setupKeeper(ctx);
    return keeper != nullptr && keeper->restoreFailedSwitch != 0 ? 1 : 0;
}

int switchXport(WindowHandle window, UpdateContext* ctx)
{
    XportRecords& records = ctx->run.xport;
    if (!queryXport(window, ctx, records.xportQueryReply))
        return 0;
    if (!getXportSetup(window, ctx, records.savedSetup))
        return 0;
    if (!keepSavedSetup(ctx))
        return 0;
    std::memcpy(records.changedSetup, records.savedSetup, kSetupRecordSize);
    std::memcpy(records.changedSetup, putSetupHeader, sizeof putSetupHeader);
    records.changedSetup[kSwitchedByte] = kSwitchedValue;
    // From the put on, the XPort may hold the changed record, whatever its reply.
    ctx->xportChanged = 1;
    setWaitsCutByCancel(ctx, 0);
    if (!putXportSetup(window, ctx, records.changedSetup))
        return 0;
    ctx->run.facts.xportSwitched = 1;
    announceSettling(ctx);
    if (!sleepUnlessCancelled(protocolWaits().settleMs))
        return 1;
    if (!getXportSetup(window, ctx, records.setupAfterChange))
        return 0;
    return records.setupAfterChange[kSwitchedByte] == records.changedSetup[kSwitchedByte] ? 1 : 0;
}

int restoreXport(WindowHandle window, UpdateContext* ctx)
{
    XportRecords& records = ctx->run.xport;
    std::memcpy(records.restoredSetup, records.savedSetup, kSetupRecordSize);
    std::memcpy(records.restoredSetup, putSetupHeader, sizeof putSetupHeader);
    if (!putXportSetup(window, ctx, records.restoredSetup))
        return 0;
    settle(ctx);
    if (!getXportSetup(window, ctx, records.setupAfterRestore))
        return 0;
    if (records.setupAfterRestore[kSwitchedByte] != records.savedSetup[kSwitchedByte])
        return 0;
    ctx->xportChanged = 0;
    const XportSetupKeeper* keeper = setupKeeper(ctx);
    if (keeper != nullptr && keeper->forget != nullptr)
        keeper->forget(ctx->hooks->keeperContext);
    return 1;
}

int repairXport(WindowHandle window, UpdateContext* ctx)
{
    ctx->xportChanged = 1;
    if (!getXportSetup(window, ctx, ctx->run.xport.savedSetup))
        return 0;
    if (!keepSavedSetup(ctx))
        return 0;
    return restoreXport(window, ctx);
}
