#include "process_run.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

std::vector<char*> pointers(std::vector<std::string>& strings)
{
    std::vector<char*> result;
    for (std::string& s : strings)
        result.push_back(s.data());
    result.push_back(nullptr);
    return result;
}

} // namespace

std::vector<std::string> environmentWith(const std::vector<std::string>& changes)
{
    std::vector<std::string> result;
    for (char** variable = environ; *variable != nullptr; ++variable)
        result.emplace_back(*variable);
    for (const std::string& change : changes) {
        const std::string name = change.substr(0, change.find('=')) + "=";
        for (auto at = result.begin(); at != result.end();)
            at = at->rfind(name, 0) == 0 ? result.erase(at) : at + 1;
        if (change.find('=') != std::string::npos)
            result.push_back(change);
    }
    return result;
}

namespace {

int millisecondsLeft(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<Milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

void closeFd(int& fd)
{
    if (fd >= 0)
        close(fd);
    fd = -1;
}

} // namespace

Process::Process(Strings argv, Strings environment, std::string input, bool inputStaysOpen,
                 ProcessStreams streams)
    : pending_(std::move(input)), closeWhenSent_(!inputStaysOpen)
{
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
        return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    if (streams.closed >= 0)
        posix_spawn_file_actions_addclose(&actions, streams.closed);
    // This process ignores SIGPIPE (a program that leaves its input unread);
    // the program gets the default back.
    std::signal(SIGPIPE, SIG_IGN);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSID);
    Strings variables = environmentWith(environment);
    auto args = pointers(argv);
    auto vars = pointers(variables);
    if (posix_spawn(&pid_, args[0], &actions, &attributes, args.data(), vars.data()) != 0)
        pid_ = -1;
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]), close(out[1]), close(err[1]);
    in_ = in[1], out_ = out[0], err_ = err[0];
    if (streams.unread == STDOUT_FILENO || streams.unread == STDERR_FILENO)
        closeFd(streams.unread == STDOUT_FILENO ? out_ : err_);
    fcntl(in_, F_SETFL, O_NONBLOCK);
    if (pid_ <= 0)
        closeFd(in_), closeFd(out_), closeFd(err_);
    else if (pending_.empty() && closeWhenSent_)
        closeFd(in_);
}

Process::~Process()
{
    if (pid_ > 0 && !exited_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    closeFd(in_), closeFd(out_), closeFd(err_);
}

// Waits up to `waitMs` for output or room for input, then takes what came.
void Process::pump(int waitMs)
{
    pollfd fds[3] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}, {pending_.empty() ? -1 : in_, POLLOUT, 0}};
    if (poll(fds, 3, waitMs) <= 0)
        return;
    int* streams[2] = {&out_, &err_};
    std::string* texts[2] = {&result_.out, &result_.err};
    for (int i = 0; i < 2; ++i) {
        if (fds[i].revents == 0)
            continue;
        char block[4096];
        const ssize_t n = read(*streams[i], block, sizeof block);
        if (n <= 0) {
            closeFd(*streams[i]);
            continue;
        }
        texts[i]->append(block, static_cast<size_t>(n));
        result_.all.append(block, static_cast<size_t>(n));
    }
    if (fds[2].revents != 0) {
        const ssize_t n = write(in_, pending_.data(), pending_.size());
        if (n < 0 && errno != EAGAIN)
            pending_.clear();
        else if (n > 0)
            pending_.erase(0, static_cast<size_t>(n));
        if (pending_.empty() && closeWhenSent_)
            closeFd(in_);
    }
}

bool Process::reap(int options)
{
    int status = 0;
    if (exited_ || pid_ <= 0 || waitpid(pid_, &status, options) != pid_)
        return exited_;
    exited_ = true;
    result_.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result_.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    return true;
}

std::string Process::line(Milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    size_t end;
    while ((end = result_.all.find('\n', lineAt_)) == std::string::npos) {
        if ((out_ < 0 && err_ < 0) || millisecondsLeft(deadline) == 0)
            return {};
        pump(millisecondsLeft(deadline));
    }
    std::string text = result_.all.substr(lineAt_, end + 1 - lineAt_);
    lineAt_ = end + 1;
    return text;
}

bool Process::waitFor(const std::string& text, Milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    while (result_.all.find(text) == std::string::npos) {
        if ((out_ < 0 && err_ < 0) || millisecondsLeft(deadline) == 0)
            return false;
        pump(millisecondsLeft(deadline));
    }
    return true;
}

bool Process::running()
{
    pump(0);
    return pid_ > 0 && !reap(WNOHANG);
}

void Process::send(const std::string& text)
{
    pending_ += text;
    pump(0);
}

void Process::closeInput()
{
    closeWhenSent_ = true;
    if (pending_.empty())
        closeFd(in_);
}

void Process::signal(int number)
{
    if (pid_ > 0 && !exited_)
        kill(pid_, number);
}

ProcessResult Process::finish(Milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    // Until it has exited and said all it will; what a child of its own keeps
    // open after it exited is not waited for.
    while (pid_ > 0 && !reap(WNOHANG) && millisecondsLeft(deadline) > 0)
        pump(std::min(millisecondsLeft(deadline), 20));
    if (pid_ > 0 && !exited_) {
        result_.timedOut = true;
        kill(pid_, SIGKILL);
        reap(0);
    }
    for (int rounds = 0; rounds < 1000 && (out_ >= 0 || err_ >= 0); ++rounds) {
        const std::string::size_type before = result_.all.size();
        pump(rounds == 0 ? 50 : 0);
        if (result_.all.size() == before && rounds > 0)
            break;
    }
    closeFd(in_), closeFd(out_), closeFd(err_);
    return result_;
}

ProcessResult runProcess(Process::Strings argv, Process::Strings environment, std::string input, Milliseconds timeout)
{
    Process process(std::move(argv), std::move(environment), std::move(input));
    return process.finish(timeout);
}
