#include <cerrno>

#include "command_channel.h"
#include "command_window_posix.h"

void CommandWindow::post(PostedCommand command)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.push_back(command);
    }
    posted_.notify_one();
}

void CommandWindow::waitDone()
{
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [this] { return doneSignalled_; });
}

void CommandWindow::resetDone()
{
    std::lock_guard<std::mutex> lock(mutex_);
    doneSignalled_ = false;
}

std::optional<PostedCommand> CommandWindow::nextCommand(std::chrono::milliseconds wait)
{
    std::unique_lock<std::mutex> lock(mutex_);
    if (!posted_.wait_for(lock, wait, [this] { return closed_ || !queue_.empty(); }) || queue_.empty())
        return std::nullopt;
    PostedCommand command = queue_.front();
    queue_.pop_front();
    return command;
}

void CommandWindow::setDone()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        doneSignalled_ = true;
    }
    done_.notify_all();
}

void CommandWindow::close()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closed_ = true;
    }
    posted_.notify_all();
}

// The done event is the run's command window's own.
void postCommand(WindowHandle window, UpdateContext* ctx, uint32_t code, intptr_t argument)
{
    if (stepWithoutWaiting(ctx, code, argument))
        return;
    window->post({code, argument});
    window->waitDone();
    window->resetDone();
}

void signalCommandDone(WindowHandle window, UpdateContext*)
{
    window->setDone();
}

void closeCommandChannel(WindowHandle window, UpdateContext*)
{
    window->close();
}

int lastSocketError()
{
    return errno;
}
