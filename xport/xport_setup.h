// The XPort's setup switch and restore over the configuration channel: byte 21
// of the setup record is set to 8 for a network run and written back after it.
#pragma once

#include <cstdint>

#include "platform_types.h"
#include "update_context.h"

inline constexpr int kQueryReplySize = 30;
inline constexpr int kSetupRecordSize = 124;
inline constexpr int kPutReplySize = 4;
inline constexpr int kSwitchedByte = 21;
inline constexpr uint8_t kSwitchedValue = 8;

// The setup records of one run; savedSetup must survive from the switch to the restore.
extern uint8_t xportQueryReply[kQueryReplySize];
extern uint8_t savedSetup[kSetupRecordSize];
extern uint8_t changedSetup[kSetupRecordSize];
extern uint8_t setupAfterChange[kSetupRecordSize];
extern uint8_t restoredSetup[kSetupRecordSize];
extern uint8_t setupAfterRestore[kSetupRecordSize];

// The three exchanges, each on a fresh socket: 1 on a full, acceptable reply, else 0.
int queryXport(WindowHandle window, UpdateContext* ctx, uint8_t* reply);
int getXportSetup(WindowHandle window, UpdateContext* ctx, uint8_t* record);
int putXportSetup(WindowHandle window, UpdateContext* ctx, const uint8_t* record);

// A front end's keeper of the XPort's true setup across runs, so that a run
// killed after the switch loses nothing. None unless a front end sets one.
struct XportSetupKeeper {
    // Called with the setup as read before the switch's put. Keeps it, unless
    // a record kept by an interrupted run is there already; *originalByte is
    // then the byte 21 to put back (the kept record's, else the record's own).
    // 0 when the record cannot be kept: the switch stops, nothing changed.
    int (*keep)(const UpdateContext* ctx, const uint8_t* setup, uint8_t* originalByte);
    // Called after a restore whose read-back was right.
    void (*forget)(const UpdateContext* ctx);
};
void setXportSetupKeeper(const XportSetupKeeper* keeper);

// A front end's notice of each settling wait after a put-setup, called on the
// worker thread as the wait begins with its length (a console's countdown).
// None unless a front end sets one.
using XportSettleHook = void (*)(void* context, int milliseconds);
void setXportSettleHook(XportSettleHook hook, void* context);

// Saves the setup, writes it back with byte 21 set to 8, waits for the XPort
// to settle and checks the byte. 1 on success. A cancel request cuts the
// settling wait short; the switch then returns 1 without its read-back, so
// that the restore puts the saved setup back.
int switchXport(WindowHandle window, UpdateContext* ctx);
// Writes the saved setup back, waits and checks byte 21. 1 on success. Its
// waits are never cut short.
int restoreXport(WindowHandle window, UpdateContext* ctx);
// Reads the setup as it is now and puts it back with byte 21 from the kept
// record (the keeper's), as restoreXport does. 1 on success.
int repairXport(WindowHandle window, UpdateContext* ctx);
