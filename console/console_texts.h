// The console front end's own texts, in English and Japanese (the dialog's
// texts stay in res/texts.def). "{}" marks where a value goes.
#pragma once

#include <initializer_list>
#include <string>

enum class ConsoleText {
    StoppingNetwork,    // first interrupt, network run
    StoppingSerial,     // first interrupt, serial run
    StillCleaningUp,    // second interrupt
    EndedAtOnce,        // third interrupt, before the state
    DeviceUnchanged,
    DeviceUpdated,
    DeviceErased,
    XportNotPutBack,    // {} address
    XportPutBack,
    KeptRecordFound,    // {} address, {} byte 21
    KeepFailed,         // {} file, {} reason
    KeptRecordUnreadable, // {} file
    NoKeptRecord,       // {} address, {} folder
    RepairSucceeded,    // final line of --restore-xport
    RepairFailed,
    TestWaits,          // {} receive ms, {} settle ms
    FleetQuestion,      // {} number of units, {} the image's version
    FleetNoneChanged,
    FleetLeftAlone,     // {} the device's version, {} the image's
    FleetNotAllWell,    // {} units not complete or skipped, {} all units
};

// The text in the user's language, values filled in, in the console's encoding.
std::string consoleText(ConsoleText id, std::initializer_list<std::string> values = {});

// Parts of one sentence joined as the language writes them, with the end mark.
std::string sentence(std::initializer_list<std::string> parts);
