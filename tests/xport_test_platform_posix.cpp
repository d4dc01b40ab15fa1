#include <cerrno>
#include <chrono>
#include <filesystem>
#include <iterator>
#include <thread>

#include "command_view.h"
#include "command_window_posix.h"
#include "xport_test_platform.h"

std::vector<HandledCommand> runOnWorker(UpdateContext* ctx, RecordingView& view,
                                        const std::function<void(WindowHandle)>& work)
{
    CommandWindow window;
    std::thread worker([&] {
        work(&window);
        window.close();  // every command posted has been handled: this ends the loop below
    });
    std::vector<HandledCommand> handled;
    while (auto command = window.nextCommand(std::chrono::hours(1))) {
        handled.push_back({command->code, command->argument});
        handleUpdateCommand(&window, view, ctx, command->code, command->argument);
    }
    worker.join();
    return handled;
}

int addressInUseError() { return EADDRINUSE; }
int accessDeniedError() { return EACCES; }

int openDescriptorCount()
{
    const std::filesystem::directory_iterator fds("/proc/self/fd");
    return static_cast<int>(std::distance(begin(fds), end(fds)));
}
