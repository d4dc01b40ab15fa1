// What the console makes of an interrupt (SIGINT, SIGTERM, SIGHUP; on Windows
// Ctrl-C, Ctrl-Break and the console's close) and of a run's outcome: the
// exit status a script can trust and the last line that says the state.
#pragma once

#include <cstdint>
#include <string>

#include "update_context.h"

inline constexpr int kExitComplete = 0;
inline constexpr int kExitNotChanged = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitErased = 3;
inline constexpr int kExitXportNotPutBack = 4;

// What a run left behind.
struct RunOutcome {
    bool xportNotPutBack = false;  // the XPort may still hold the switched setup
    bool erased = false;           // the device was asked to erase
    bool written = false;          // written and verified
    bool repair = false;           // a --restore-xport run
};

RunOutcome outcomeOf(const UpdateContext& ctx);
int exitStatus(const RunOutcome& outcome);
// The device's (and the XPort's) state in plain words, as one line.
std::string stateLine(const RunOutcome& outcome, const std::string& address);

// Formats every message an interrupt may print, before the run, so that the
// handler itself only writes. `lineFirst`: start each on a new line (a
// question or a progress bar may stand on the terminal's line).
// `xportLeftChanged`: an earlier run left the XPort switched.
void prepareInterruptMessages(const UpdateContext& ctx, bool lineFirst, bool xportLeftChanged);
// Window thread, before each command is carried out: what the run may have
// changed so far, for a third interrupt.
void noteRunState(const UpdateContext& ctx, uintptr_t code);
// The handler's work, async-signal-safe: the first interrupt requests the
// cancel and says so, the second says the clean-up still runs, the third
// prints the state it leaves and ends the program with its exit status.
void onInterrupt();
int interruptsSeen();
