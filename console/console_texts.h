// The console front end's own texts, in English and Japanese (the dialog's
// texts stay in res/texts.def). "{}" marks where a value goes.
#pragma once

#include <cstdio>
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
    Warning,            // {} what does not apply
    ImageRefused,       // {} file, {} where and why
    ImageChecked,       // {} file, {} what it holds
    CheckDone,          // final line of --check with a device: {} device version, {} image version
    CheckFailed,        // final line of --check with a device that failed
    Written,            // plain progress line: {} percent, {} bytes written, {} bytes in all
    Settling,           // {} seconds left in the XPort's settling wait
    NoPorts,            // --list-ports found none
    TraceNotWritten,    // {} file, {} reason
    FleetQuestion,      // {} number of units, {} the image's version
    FleetNoneChanged,
    FleetLeftAlone,     // {} the device's version, {} the image's
    FleetNotAllWell,    // {} units not complete or skipped, {} all units
    NoImageGiven,       // no --image, and none beside the program
};

// The text in the user's language, values filled in, in the console's encoding.
std::string consoleText(ConsoleText id, std::initializer_list<std::string> values = {});

// Writes the text and a line end to `stream` in the terminal's character set.
void sayLine(std::FILE* stream, ConsoleText id, std::initializer_list<std::string> values = {});
// Writes `text` (UTF-8 on POSIX, the ANSI code page on Windows) and a line end.
void sayLine(std::FILE* stream, const std::string& text);

// Parts of one sentence joined as the language writes them, with the end mark.
std::string sentence(std::initializer_list<std::string> parts);
