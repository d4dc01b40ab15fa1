// A program run as a child process, for the tests and the benchmark: its
// arguments, environment and standard input given; its standard output and
// error captured apart and together; its exit status; every wait bounded.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

using Milliseconds = std::chrono::milliseconds;

struct ProcessResult {
    int status = -1;        // the exit status; -1 when it did not exit by itself
    int signal = 0;         // the signal that ended it, else 0
    bool timedOut = false;  // killed when its time was up
    std::string out, err;   // standard output and standard error
    std::string all;        // both, in the order they came
};

// How the program's standard streams differ from the usual pipes.
struct ProcessStreams {
    int closed = -1;  // this descriptor (0, 1 or 2) closed when it starts
    int unread = -1;  // 1 or 2: that stream a pipe nobody reads, where a write meets a broken pipe
};

// The program runs in a session of its own, without a controlling terminal:
// it never reaches the terminal of whoever runs the tests.
class Process {
public:
    using Strings = std::vector<std::string>;

    // Starts argv[0] with `argv`. `environment` is applied over this
    // process's own: "NAME=value" sets, "NAME" removes. Standard input gets
    // `input`, then ends, unless `inputStaysOpen` (send() adds, closeInput() ends).
    explicit Process(Strings argv, Strings environment = {}, std::string input = {}, bool inputStaysOpen = false,
                     ProcessStreams streams = {});
    ~Process();  // kills and reaps a program still running
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    const std::string& output() const { return result_.all; }

    // The next line of both streams, with its "\n"; empty at their end or
    // when `timeout` passes first.
    std::string line(Milliseconds timeout = Milliseconds(10000));
    // Waits until the output holds `text`; false when it ended or `timeout` passed first.
    bool waitFor(const std::string& text, Milliseconds timeout = Milliseconds(10000));
    // Collects what it wrote meanwhile; whether it is still running.
    bool running();
    void send(const std::string& text);
    void closeInput();
    void signal(int number);
    // Waits for its end, at most `timeout`, then kills it: what it did.
    ProcessResult finish(Milliseconds timeout = Milliseconds(60000));

private:
    void pump(int waitMs);
    bool reap(int options);

    pid_t pid_ = -1;
    int in_ = -1, out_ = -1, err_ = -1;
    std::string pending_;
    bool closeWhenSent_ = true;
    size_t lineAt_ = 0;
    bool exited_ = false;
    ProcessResult result_;
};

// This process's environment with `changes` applied, as Process applies them.
std::vector<std::string> environmentWith(const std::vector<std::string>& changes);

// Runs a program to its end; see Process.
ProcessResult runProcess(Process::Strings argv, Process::Strings environment = {}, std::string input = {},
                         Milliseconds timeout = Milliseconds(60000));
