#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

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

int broadcastSendError()
{
    const int probe = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(30718);
    to.sin_addr.s_addr = htonl(INADDR_BROADCAST);
    const uint8_t byte = 0;
    const int error = sendto(probe, &byte, 1, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) < 0 ? errno : 0;
    close(probe);
    return error;
}

sockaddr_in localAddress(SocketHandle socket)
{
    sockaddr_in address{};
    socklen_t length = sizeof address;
    getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length);
    return address;
}

int openDescriptorCount()
{
    const std::filesystem::directory_iterator fds("/proc/self/fd");
    return static_cast<int>(std::distance(begin(fds), end(fds)));
}
