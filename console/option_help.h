// The parts of kt5cufirm's help that differ by platform: how a serial port
// is named and how a run is interrupted.
#pragma once

struct PlatformHelp {
    const char* deviceValue;    // --device's value in the usage: "PATH", "COMn"
    const char* comHelp;        // --com's help line
    const char* deviceHelp;     // --device's help lines
    const char* interruptHelp;  // the lines on stopping a run
    // The same in Japanese (UTF-8).
    const char* comHelpJapanese;
    const char* deviceHelpJapanese;
    const char* interruptHelpJapanese;
};

const PlatformHelp& platformHelp();
