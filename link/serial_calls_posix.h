// The calls of the POSIX serial link whose effect a pseudo-terminal cannot
// show: the modem lines and the driver's serial flags (ioctl), the read-back
// of the line settings, and the write with its wait for room. The program
// uses the system's; a test may put its own in their place.
#pragma once

#include <poll.h>
#include <sys/types.h>
#include <termios.h>

struct SerialCalls {
    int (*control)(int port, unsigned long request, void* argument);  // ioctl
    int (*getSettings)(int port, termios* settings);                    // tcgetattr
    ssize_t (*write)(int port, const void* data, size_t size);
    int (*poll)(pollfd* entries, nfds_t count, int timeoutMs);
};

extern SerialCalls serialCalls;
// The system's calls, for putting them back.
extern const SerialCalls kSystemSerialCalls;
