// What the console needs of its terminal and its system: whether a stream is
// a terminal and how wide, the answer typed at the question, a write the
// interrupt handler may make, and the system's words for an error number.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

bool isTerminal(std::FILE* stream);
// The width of the terminal behind `stream`; 0 when it is none.
int terminalColumns(std::FILE* stream);
// Whether the terminal behind `stream` redraws a line in place from the
// escape sequences the progress bar writes (on Windows, once its virtual
// terminal processing is turned on here); false: plain lines then.
bool enableLineRedraw(std::FILE* stream);

// The terminal the question is asked on, whatever standard input and output
// are (POSIX /dev/tty; Windows CONOUT$, answered on CONIN$), opened at the
// first call; null when the program has none.
std::FILE* questionTerminal();
// One line typed on that terminal, without its line end; an interrupt or the
// input's end ends it (as an empty answer).
std::string readAnswerLine();

// Async-signal-safe: writes the bytes to standard error, errors ignored.
void writeToStandardError(const char* text, size_t length);
// Async-signal-safe: sleeps about a millisecond.
void pauseAMillisecond();

// The system's text for an error number that a link or socket left
// (errno on POSIX; GetLastError or WSAGetLastError on Windows).
std::string systemErrorText(int number);
