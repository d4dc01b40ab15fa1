#include <cerrno>
#include <chrono>
#include <filesystem>
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
        // Every command posted so far has been handled: close ends the loop below.
        window.close();
    });
    std::vector<HandledCommand> handled;
    while (auto command = window.nextCommand(std::chrono::hours(1))) {
        handled.push_back({command->code, command->argument});
        handleUpdateCommand(&window, view, ctx, command->code, command->argument);
    }
    worker.join();
    return handled;
}

int addressInUseError()
{
    return EADDRINUSE;
}

int accessDeniedError()
{
    return EACCES;
}

int openDescriptorCount()
{
    int count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
}
