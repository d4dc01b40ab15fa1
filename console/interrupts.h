// What the console makes of an interrupt (SIGINT, SIGTERM, SIGHUP; on Windows
// Ctrl-C, Ctrl-Break and the console's close): the handler, and the messages
// it prints, made ready before the run.
#pragma once

#include <atomic>
#include <cstdint>

#include "run_outcome.h"
#include "update_context.h"

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
// stops the console's other output, puts a serial port's own settings back,
// prints the state it leaves (the last line) and ends the program with its
// exit status.
void onInterrupt();

// A fleet, before its units start: its messages (the same for every unit),
// and no run's own from then on; a third interrupt says so and leaves the
// ending to the fleet, which watches interruptsSeen().
void prepareFleetInterrupts(bool lineFirst, bool network);
// The thread that runs a unit's window notes its state in *state (null: the
// process's own), for the fleet to tell at a third interrupt.
void noteUnitStateIn(std::atomic<int>* state);
// What a noted state means: switched, erased, written.
RunOutcome outcomeOfNotedState(int bits);
int interruptsSeen();
