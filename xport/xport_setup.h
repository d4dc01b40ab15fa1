// The XPort's setup switch and restore over the configuration channel: byte 21
// of the setup record is set to 8 for a network run and written back after it.
#pragma once

#include <cstdint>

#include "platform_types.h"
#include "run_hooks.h"
#include "update_context.h"

inline constexpr int kPutReplySize = 4;
inline constexpr int kSwitchedByte = 21;
inline constexpr uint8_t kSwitchedValue = 8;

// The setup records of one run live in the run's record (ctx->run.xport).

// The three exchanges, each on a fresh socket: 1 on a full, acceptable reply, else 0.
int queryXport(WindowHandle window, UpdateContext* ctx, uint8_t* reply);
int getXportSetup(WindowHandle window, UpdateContext* ctx, uint8_t* record);
int putXportSetup(WindowHandle window, UpdateContext* ctx, const uint8_t* record);

// 1 when a switch that failed after its put is to be put back at once: the
// run's hooks carry a keeper that asks for it.
int restoresFailedSwitch(const UpdateContext* ctx);

// Saves the setup, writes it back with byte 21 set to 8, waits for the XPort
// to settle and checks the byte. 1 on success. A cancel request cuts the
// settling wait short; the switch then returns 1 without its read-back, so
// that the restore puts the saved setup back.
int switchXport(WindowHandle window, UpdateContext* ctx);
// Writes the saved setup back, waits and checks byte 21. 1 on success. Its
// waits are never cut short.
int restoreXport(WindowHandle window, UpdateContext* ctx);
// Reads the setup as it is now and puts it back with byte 21 from the kept
// record (the run's keeper's), as restoreXport does. 1 on success.
int repairXport(WindowHandle window, UpdateContext* ctx);
