// The serial link over a COM port: 115200 baud, 8N1, RTS/CTS handshake,
// synchronous I/O bounded by port time-outs. It reports nothing; callers
// judge the bytes that come back.
#pragma once

#include "update_context.h"

// Opens and configures the port (Windows "\\.\COM<comPort>", or comDevice
// when set: "COM<n>" in either case as COM n, another name as given; POSIX
// comDevice, or /dev/ttyS<comPort - 1> when that is empty) for this program alone.
// Nonzero with linkOpen 1 when open; 0 with linkOpen 0 and no port otherwise
// (POSIX: errno tells why; ENOTSUP for a port that does not show the line
// settings when they are read back).
int openSerial(UpdateContext* ctx);
// Windows: n for a name "COM<n>" in either case (n from 1), else 0.
int32_t comNumberFromName(const char* name);
// Applies the line settings to an open port; nonzero when accepted (POSIX:
// when the port shows them afterwards).
int configureSerial(PortHandle port);
// Writes the first txLength bytes of txBuffer, giving up after 2 ms a byte.
// Nothing is written without an open port.
void writeSerial(UpdateContext* ctx);
// Reads up to rxLength bytes into rxBuffer: at once what is waiting, else
// what arrives within protocolWaits().receiveMs. The count, also in rxLength.
int readSerial(UpdateContext* ctx);
// Async-signal-safe, for a program that ends at once (a signal handler): puts
// the open port's own settings back, as closeSerial would (POSIX: one
// tcsetattr on its descriptor). Nothing without an open port; nothing on
// Windows, where the open keeps no settings of the port's.
void putBackSerialSettingsAtOnce();
// Clears linkOpen, drops RTS, empties the queues and closes the port (POSIX:
// with the settings it had before the open put back).
void closeSerial(UpdateContext* ctx);
