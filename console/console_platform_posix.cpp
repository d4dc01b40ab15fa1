#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>

#include "cancel.h"
#include "command_channel.h"
#include "command_view.h"
#include "command_window_posix.h"
#include "console_platform.h"
#include "interrupts.h"
#include "update_sequence.h"
#include "worker_thread.h"

namespace {

constexpr int kInterruptSignals[] = {SIGINT, SIGTERM, SIGHUP};

sigset_t interruptSet()
{
    sigset_t set;
    sigemptyset(&set);
    for (int signal : kInterruptSignals)
        sigaddset(&set, signal);
    return set;
}

void onSignal(int)
{
    const int saved = errno;
    onInterrupt();
    errno = saved;
}

} // namespace

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

std::string systemErrorText(int number)
{
    return std::strerror(number);
}

std::string serialPortName(const UpdateContext& ctx)
{
    return ctx.comDevice;
}

bool resolveIpv4(const std::string& name, std::string* dotted, std::string* why)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int failure = getaddrinfo(name.c_str(), nullptr, &hints, &found);
    if (failure != 0 || found == nullptr) {
        *why = failure == EAI_SYSTEM ? std::strerror(errno) : gai_strerror(failure);
        return false;
    }
    char text[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr, text, sizeof text);
    freeaddrinfo(found);
    *dotted = text;
    return true;
}

int runInConsoleWindow(UpdateContext* ctx, CommandView& view)
{
    signal(SIGPIPE, SIG_IGN);
    CommandWindow window;
    window.attachView(&view);
    const sigset_t interrupts = interruptSet();
    // The worker starts with the interrupts blocked, so they reach this
    // thread alone and never cut a wait of the worker; one that comes now
    // waits until the run has started.
    pthread_sigmask(SIG_BLOCK, &interrupts, nullptr);
    int started = startUpdate(&window, ctx);
    if (started == kStartRefused) {
        showError(view, *ctx, 0);
        started = 0;
    }
    struct sigaction action {};
    action.sa_handler = onSignal;
    action.sa_mask = interrupts;
    for (int signal : kInterruptSignals)
        sigaction(signal, &action, nullptr);
    pthread_sigmask(SIG_UNBLOCK, &interrupts, nullptr);
    while (started) {
        auto command = window.nextCommand(std::chrono::hours(1));
        if (!command)
            continue;
        noteRunState(*ctx, command->code);
        handleUpdateCommand(&window, view, ctx, command->code, command->argument);
        if ((command->code & 0xFFFF) == CmdFinished)
            break;
    }
    // The run is over: nothing is left to stop.
    pthread_sigmask(SIG_BLOCK, &interrupts, nullptr);
    releaseWorkerThread(ctx);  // the worker ends right after the final line
    shutdownApp(&window, ctx);
    return started;
}

void deliverHeldInterrupts()
{
    // An interrupt held back since the last run reaches the handler now.
    const sigset_t interrupts = interruptSet();
    pthread_sigmask(SIG_UNBLOCK, &interrupts, nullptr);
    pthread_sigmask(SIG_BLOCK, &interrupts, nullptr);
}

void chooseComPort(UpdateContext* ctx, int number)
{
    ctx->comPort = number;
    std::snprintf(ctx->comDevice, sizeof ctx->comDevice, "/dev/ttyS%d", number - 1);
}

std::string readAnswerLine()
{
    // Short polls, so that an interrupt ends the question even when it came
    // just before the wait began.
    std::string answer;
    while (!cancelRequested()) {
        pollfd input{STDIN_FILENO, POLLIN, 0};
        const int ready = poll(&input, 1, 100);
        if (ready < 0 && errno != EINTR)
            break;
        if (ready <= 0)
            continue;
        char c = 0;
        const ssize_t n = read(STDIN_FILENO, &c, 1);
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

std::string toConsoleText(const std::string& utf8)
{
    return utf8;
}

std::string stateFolder()
{
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && state[0] == '/')
        return std::string(state) + "/kt5cufirm";
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] != '\0')
        return std::string(home) + "/.local/state/kt5cufirm";
    return {};
}

bool writeFileAtomically(const std::string& path, const uint8_t* data, size_t size, std::string* error)
{
    const std::string temporary = path + ".tmp" + std::to_string(getpid());
    int failure = 0;
    const int file = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (file < 0)
        failure = errno;
    for (size_t done = 0; failure == 0 && done < size;) {
        const ssize_t n = write(file, data + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            failure = n < 0 ? errno : EIO;
        else
            done += static_cast<size_t>(n);
    }
    if (failure == 0 && fsync(file) != 0)
        failure = errno;
    if (file >= 0 && close(file) != 0 && failure == 0)
        failure = errno;
    if (failure == 0 && rename(temporary.c_str(), path.c_str()) != 0)
        failure = errno;
    if (failure != 0) {
        *error = std::strerror(failure);
        unlink(temporary.c_str());
        return false;
    }
    // The rename itself reaches the disk with the folder's entry.
    const std::string parent = path.substr(0, path.rfind('/') + 1);
    const int folder = open(parent.empty() ? "." : parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        fsync(folder);
        close(folder);
    }
    return true;
}

void removeFile(const std::string& path)
{
    unlink(path.c_str());
}

std::string openDescriptors()
{
    DIR* folder = opendir("/proc/self/fd");
    if (folder == nullptr)
        return {};
    std::set<int> open;
    while (const dirent* entry = readdir(folder))
        if (entry->d_name[0] >= '0' && entry->d_name[0] <= '9')
            open.insert(std::atoi(entry->d_name));
    open.erase(dirfd(folder));
    closedir(folder);
    std::string list;
    for (int descriptor : open)
        list += (list.empty() ? "" : " ") + std::to_string(descriptor);
    return list;
}
