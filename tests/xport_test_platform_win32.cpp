#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <thread>

#include "command_channel.h"
#include "command_channel_win32.h"
#include "command_view.h"
#include "xport_test_platform.h"

namespace {

UpdateContext* windowContext = nullptr;
RecordingView* windowView = nullptr;
std::vector<HandledCommand>* windowHandled = nullptr;

LRESULT CALLBACK workerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == kUpdateCommandMessage) {
        windowHandled->push_back({static_cast<uint32_t>(wParam), static_cast<intptr_t>(lParam)});
        return handleUpdateCommand(window, *windowView, windowContext, wParam, lParam);
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND createWorkerWindow()
{
    static const bool registered = [] {
        WNDCLASSA windowClass{};
        windowClass.lpfnWndProc = workerWindowProc;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "KT5CUfirmWorkerWindow";
        return RegisterClassA(&windowClass) != 0;
    }();
    if (!registered)
        return nullptr;
    return CreateWindowExA(0, "KT5CUfirmWorkerWindow", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                           GetModuleHandleA(nullptr), nullptr);
}

} // namespace

std::vector<HandledCommand> runOnWorker(UpdateContext* ctx, RecordingView& view,
                                        const std::function<void(WindowHandle)>& work)
{
    std::vector<HandledCommand> handled;
    if (commandDone == nullptr)
        createCommandDone();
    HWND window = createWorkerWindow();
    if (window == nullptr) {
        ADD_FAILURE() << "no message window for the worker";
        return handled;
    }
    windowContext = ctx;
    windowView = &view;
    windowHandled = &handled;
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        work(window);
        finished = true;
        PostMessageA(window, WM_NULL, 0, 0);  // wake the loop for its last check
    });
    MSG message;
    while (!finished && GetMessageA(&message, nullptr, 0, 0) > 0)
        DispatchMessageA(&message);
    worker.join();
    DestroyWindow(window);
    windowContext = nullptr;
    windowView = nullptr;
    windowHandled = nullptr;
    return handled;
}

int addressInUseError()
{
    return WSAEADDRINUSE;
}

int accessDeniedError()
{
    return WSAEACCES;
}

int openDescriptorCount()
{
    return -1;
}
