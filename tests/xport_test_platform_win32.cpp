#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <thread>

#include "command_channel.h"
#include "command_channel_win32.h"
#include "command_view.h"
#include "xport_test_platform.h"

std::vector<HandledCommand> runOnWorker(UpdateContext* ctx, RecordingView& view,
                                        const std::function<void(WindowHandle)>& work)
{
    if (ctx->run.commandDone == nullptr)
        createCommandDone(ctx);
    // A message-only window of a system class: the loop below takes the commands off the queue itself.
    HWND window = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    if (window == nullptr) {
        ADD_FAILURE() << "no message window for the worker";
        return {};
    }
    std::vector<HandledCommand> handled;
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        work(window);
        finished = true;
        PostMessageA(window, WM_NULL, 0, 0);  // wake the loop for its last check
    });
    MSG message;
    while (!finished && GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (message.message != kUpdateCommandMessage) {
            DispatchMessageA(&message);
            continue;
        }
        handled.push_back({static_cast<uint32_t>(message.wParam), static_cast<intptr_t>(message.lParam)});
        handleUpdateCommand(window, view, ctx, message.wParam, message.lParam);
    }
    worker.join();
    DestroyWindow(window);
    return handled;
}

int addressInUseError() { return WSAEADDRINUSE; }

int broadcastSendError()
{
    const SOCKET probe = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(30718);
    to.sin_addr.s_addr = htonl(INADDR_BROADCAST);
    const char byte = 0;
    const int error =
        sendto(probe, &byte, 1, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) == SOCKET_ERROR ? WSAGetLastError() : 0;
    closesocket(probe);
    return error;
}
sockaddr_in localAddress(SocketHandle socket)
{
    sockaddr_in address{};
    int length = sizeof address;
    getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length);
    return address;
}

int openDescriptorCount() { return -1; }
