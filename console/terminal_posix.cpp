#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <cstring>

#include "cancel.h"
#include "terminal.h"

bool isTerminal(std::FILE* stream)
{
    return isatty(fileno(stream)) != 0;
}

int terminalColumns(std::FILE* stream)
{
    winsize size{};
    if (!isTerminal(stream) || ioctl(fileno(stream), TIOCGWINSZ, &size) != 0)
        return 0;
    return size.ws_col > 0 ? size.ws_col : 80;
}

bool enableLineRedraw(std::FILE* stream)
{
    // A POSIX terminal takes the escape sequences as they are.
    return isTerminal(stream);
}

namespace {

int terminalDescriptor = -1;

} // namespace

std::FILE* questionTerminal()
{
    static std::FILE* const terminal = [] {
        terminalDescriptor = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
        std::FILE* stream = terminalDescriptor >= 0 ? fdopen(terminalDescriptor, "w") : nullptr;
        if (stream == nullptr && terminalDescriptor >= 0) {
            close(terminalDescriptor);
            terminalDescriptor = -1;
        }
        return stream;
    }();
    return terminal;
}

std::string readAnswerLine()
{
    // Short polls, so that an interrupt ends the question even when it came
    // just before the wait began.
    std::string answer;
    while (questionTerminal() != nullptr && !cancelRequested()) {
        pollfd input{terminalDescriptor, POLLIN, 0};
        const int ready = poll(&input, 1, 100);
        if (ready < 0 && errno != EINTR)
            break;
        if (ready <= 0)
            continue;
        char c = 0;
        const ssize_t n = read(terminalDescriptor, &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0 || c == '\n')
            return answer;
        answer += c;
    }
    return {};
}

void writeToStandardError(const char* text, size_t length)
{
    while (length > 0) {
        const ssize_t n = write(STDERR_FILENO, text, length);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        text += n;
        length -= static_cast<size_t>(n);
    }
}

void pauseAMillisecond()
{
    const timespec step{0, 1000000};
    nanosleep(&step, nullptr);
}

std::string systemErrorText(int number)
{
    return std::strerror(number);
}
