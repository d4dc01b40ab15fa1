// What a front end hands one run besides its choices: the trace of every
// exchange, the notice of the XPort's settling waits and the keeper of the
// XPort's true setup. The run carries one pointer to them; null means none,
// and then nothing is done beyond one test of a null pointer (the dialog).
#pragma once

#include <cstdint>

#include "exchange_trace.h"

struct UpdateContext;

// A front end's notice of each settling wait after a put-setup, called on the
// worker thread as the wait begins with its length (a console's countdown).
using XportSettleHook = void (*)(void* context, int milliseconds);

// A front end's keeper of the XPort's true setup across runs, so that a run
// killed after the switch loses nothing. Its functions get the run's
// RunHooks::keeperContext.
struct XportSetupKeeper {
    // Called with the setup as read before the switch's put. Keeps it, unless
    // a record kept by an interrupted run is there already; *originalByte is
    // then the byte 21 to put back (the kept record's, else the record's own).
    // 0 when the record cannot be kept: the switch stops, nothing changed.
    int (*keep)(void* context, const uint8_t* setup, uint8_t* originalByte);
    // Called after a restore whose read-back was right.
    void (*forget)(void* context);
    // 1: a switch that failed once its put was out is put back in the same
    // run, since the put may have taken effect. Without a keeper it is not.
    int restoreFailedSwitch;
};

// A front end's own handling of a progress step, called on the worker
// thread with the bytes the step adds: the step then goes without waiting
// for the window (every other command still waits for its turn).
using ProgressStepHook = void (*)(void* context, uint32_t bytes);

struct RunHooks {
    TraceHook trace = nullptr;          void* traceContext = nullptr;
    XportSettleHook settle = nullptr;   void* settleContext = nullptr;
    const XportSetupKeeper* keeper = nullptr; void* keeperContext = nullptr;
    ProgressStepHook progressStep = nullptr;  void* progressContext = nullptr;
};
