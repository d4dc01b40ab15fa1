// The POSIX stand-in for the main dialog as the command channel sees it: a
// queue of posted commands and the manual-reset event "commandDone". A front
// end (or a test) owns one, handles its commands on its own thread and sets
// the event after each, exactly as the dialog does on Windows.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>

class CommandView;

struct PostedCommand {
    uint32_t code;
    intptr_t argument;
};

struct CommandWindow {
public:
    // Worker side.
    void post(PostedCommand command);
    void waitDone();
    void resetDone();

    // Window side: the next posted command, or nothing when the wait ran out
    // or the window was closed.
    std::optional<PostedCommand> nextCommand(std::chrono::milliseconds wait);
    void setDone();
    // Ends every wait in nextCommand; later posts are still queued.
    void close();

    // The front end's view, for the errors the window thread shows itself.
    void attachView(CommandView* view) { view_ = view; }
    CommandView* view() const { return view_; }

private:
    std::mutex mutex_;
    std::condition_variable posted_;
    std::condition_variable done_;
    std::deque<PostedCommand> queue_;
    bool doneSignalled_ = false;
    bool closed_ = false;
    CommandView* view_ = nullptr;
};
