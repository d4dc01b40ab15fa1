// What the console front end needs of its platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "command_view.h"
#include "update_context.h"

bool isTerminal(std::FILE* stream);
// The width of the terminal behind `stream`; 0 when it is none.
int terminalColumns(std::FILE* stream);

// The system's text for an error number that a link or socket left
// (errno on POSIX; GetLastError or WSAGetLastError on Windows).
std::string systemErrorText(int number);
// The serial port a run opens, as the user names it: /dev/ttyUSB0, COM3.
std::string serialPortName(const UpdateContext& ctx);
// `name` (a dotted address or a host name) resolved to one IPv4 address in
// dotted form; false with *why saying what failed.
bool resolveIpv4(const std::string& name, std::string* dotted, std::string* why);

// The window side of one run: makes the window the worker posts to, turns
// interrupts into a cancel request (only this thread takes them), starts the
// run and carries out every command until the final line, then tears the
// program down. Returns startUpdate's result. Afterwards interrupts are held
// back and a broken output pipe never ends the program.
int runInConsoleWindow(UpdateContext* ctx, CommandView& view);

// Between two runs: an interrupt held back since the last run is taken now
// (interruptsSeen counts it).
void deliverHeldInterrupts();

// Sets the serial port from --com N: the COM number on Windows, the device
// /dev/ttyS<N-1> on POSIX.
void chooseComPort(UpdateContext* ctx, int number);

// One line typed on standard input, without its line end; an interrupt or the
// input's end ends it (as an empty answer).
std::string readAnswerLine();

// Async-signal-safe: writes the bytes to standard error, errors ignored.
void writeToStandardError(const char* text, size_t length);

// UTF-8 text as the console shows it (the ANSI code page on Windows).
std::string toConsoleText(const std::string& utf8);

// The folder for state kept between runs: $XDG_STATE_HOME/kt5cufirm, else
// ~/.local/state/kt5cufirm; %LOCALAPPDATA%\kt5cufirm on Windows. Empty when
// none can be named.
std::string stateFolder();
// Writes the whole file or nothing: a temporary file beside it, flushed to
// disk, renamed over it. On failure *error says why.
bool writeFileAtomically(const std::string& path, const uint8_t* data, size_t size, std::string* error);
void removeFile(const std::string& path);

// The open descriptors of this process, ascending, separated by spaces
// (POSIX, from /proc/self/fd); empty where they cannot be listed.
std::string openDescriptors();
