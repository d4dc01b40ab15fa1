#include "interrupts.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "cancel.h"
#include "command_channel.h"
#include "console_messages.h"
#include "output_gate.h"
#include "run_outcome.h"
#include "serial_link.h"
#include "terminal.h"
#include "text_encoding.h"

namespace {

// A message kept ready for the handler.
struct Message {
    char text[768];
    size_t length;
    int status;
};

enum StateBits { XportBit = 1, ErasedBit = 2, WrittenBit = 4, kStates = 8 };

Message stopping{};
Message stillCleaningUp{};
Message endedAtOnce[kStates]{};
Message fleetEnding{};

static_assert(ATOMIC_INT_LOCK_FREE == 2, "the handler's counters must be lock-free");
std::atomic<int> interrupts{0};
std::atomic<int> runState{0};
int xportFloor = 0;  // set before the handlers are installed
// A fleet's messages are made once, before its units start; its third
// interrupt leaves the ending to the fleet (summary, report, status).
std::atomic<bool> fleetMode{false};
// The unit whose window runs on this thread notes its state here too.
thread_local std::atomic<int>* unitState = nullptr;

void prepare(Message* message, const std::string& text, int status, bool lineFirst)
{
    // Converted now: the handler only writes.
    const std::string line = consoleBytes((lineFirst ? "\n" : "") + text + "\n");
    message->length = line.size() < sizeof message->text ? line.size() : sizeof message->text - 1;
    std::memcpy(message->text, line.data(), message->length);
    message->status = status;
}

void say(const Message& message)
{
    writeToStandardError(message.text, message.length);
}

} // namespace

void prepareInterruptMessages(const UpdateContext& ctx, bool lineFirst, bool xportLeftChanged)
{
    if (fleetMode.load())
        return;
    xportFloor = xportLeftChanged ? XportBit : 0;
    runState.store(xportFloor);
    const bool network = ctx.method == Network || ctx.xportRepair != 0;
    prepare(&stopping, consoleMessage(network ? TextStoppingNetwork : TextStoppingSerial), 0,
            lineFirst);
    prepare(&stillCleaningUp, consoleMessage(TextStillCleaningUp), 0, lineFirst);
    for (int bits = 0; bits < kStates; ++bits) {
        RunOutcome outcome;
        outcome.xportNotPutBack = (bits & XportBit) != 0;
        outcome.erased = (bits & ErasedBit) != 0;
        outcome.written = (bits & WrittenBit) != 0;
        outcome.repair = ctx.xportRepair != 0;
        const std::string state = stateLine(outcome, ctx.ipText);
        prepare(&endedAtOnce[bits],
                consoleMessage(TextEndedAtOnce) + ": " + state.substr(std::strlen("kt5cufirm: ")),
                exitStatus(outcome), lineFirst);
    }
}

void noteRunState(const UpdateContext& ctx, uintptr_t code)
{
    // The status is shown before its step starts: from then on, count the step as taken.
    const bool status = (code & 0xFFFFu) == CmdStatus;
    int bits = xportFloor;
    if (ctx.xportChanged != 0 ||
        (status && (ctx.statusCode == StXportChanging || ctx.statusCode == StXportRestoring)))
        bits |= XportBit;
    if (ctx.eraseSent != 0 || (status && ctx.statusCode == StErasing))
        bits |= ErasedBit;
    if (ctx.succeeded != 0)
        bits |= WrittenBit;
    if (unitState != nullptr)
        unitState->store(bits & ~xportFloor);
    else
        runState.store(bits);
}

void prepareFleetInterrupts(bool lineFirst, bool network)
{
    prepare(&stopping, consoleMessage(network ? TextStoppingNetwork : TextStoppingSerial), 0, lineFirst);
    prepare(&stillCleaningUp, consoleMessage(TextStillCleaningUp), 0, lineFirst);
    prepare(&fleetEnding, consoleMessage(TextFleetEndingAtOnce), 0, lineFirst);
    xportFloor = 0;
    fleetMode.store(true);
}

void noteUnitStateIn(std::atomic<int>* state)
{
    unitState = state;
}

RunOutcome outcomeOfNotedState(int bits)
{
    RunOutcome outcome;
    outcome.xportNotPutBack = (bits & XportBit) != 0;
    outcome.erased = (bits & ErasedBit) != 0;
    outcome.written = (bits & WrittenBit) != 0;
    return outcome;
}

void onInterrupt()
{
    const int seen = interrupts.fetch_add(1) + 1;
    requestCancel();
    if (seen == 1) {
        say(stopping);
    } else if (seen == 2) {
        say(stillCleaningUp);
    } else if (fleetMode.load()) {
        if (seen == 3)
            say(fleetEnding);
    } else {
        // The other threads' lines end before the state line, which comes
        // last; the serial port gets its own settings back.
        closeOutputForTheEnd();
        putBackSerialSettingsAtOnce();
        const Message& last = endedAtOnce[runState.load() & (kStates - 1)];
        say(last);
        std::_Exit(last.status);
    }
}

int interruptsSeen()
{
    return interrupts.load();
}
