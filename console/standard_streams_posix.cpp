#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include "standard_streams.h"

void openMissingStandardStreams()
{
    for (int descriptor = 0; descriptor <= 2; ++descriptor) {
        if (fcntl(descriptor, F_GETFD) != -1 || errno != EBADF)
            continue;
        // The lowest free descriptor is this one: those below it are open by now.
        const int opened = open("/dev/null", descriptor == 0 ? O_RDONLY : O_WRONLY);
        if (opened > descriptor) {
            dup2(opened, descriptor);
            close(opened);
        }
    }
    signal(SIGPIPE, SIG_IGN);
}
