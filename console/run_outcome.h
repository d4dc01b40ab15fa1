// A run's outcome: what it left behind, the exit status a script can trust
// and the last line that says the device's (and the XPort's) state.
#pragma once

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
    std::string cause;             // why it failed, in the console's words; empty when unknown
};

RunOutcome outcomeOf(const UpdateContext& ctx);
int exitStatus(const RunOutcome& outcome);
// The device's (and the XPort's) state in plain words, as one line.
std::string stateLine(const RunOutcome& outcome, const std::string& address);
// The exit status; for any but 0 the state line goes last on standard error.
int finishRun(const RunOutcome& outcome, const std::string& address);
