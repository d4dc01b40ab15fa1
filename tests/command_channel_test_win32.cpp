// The handshake over PostMessageA and the "EventObject" event, with a real
// window and message loop on the test thread.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <thread>

#include "command_channel.h"
#include "command_channel_win32.h"
#include "command_view.h"
#include "test_support.h"

namespace {

struct WindowState {
    RecordingView view;
    UpdateContext ctx{};
    int handled = 0;
};

WindowState* state = nullptr;

LRESULT CALLBACK testWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == kUpdateCommandMessage) {
        ++state->handled;
        return handleUpdateCommand(window, state->view, &state->ctx, wParam, lParam);
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND createTestWindow()
{
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = testWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "KT5CUfirmTestWindow";
    RegisterClassA(&windowClass);
    return CreateWindowExA(0, "KT5CUfirmTestWindow", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                           GetModuleHandleA(nullptr), nullptr);
}

TEST(CommandHandshakeWin32, ThousandsOfCommandsThroughTheMessageLoop)
{
    constexpr int kCommands = 3000;
    WindowState windowState;
    state = &windowState;
    HWND window = createTestWindow();
    ASSERT_NE(window, nullptr);
    ASSERT_NE(createCommandDone(), nullptr);

    std::atomic<bool> finished{false};
    std::atomic<int> returnedEarly{0};
    std::thread worker([&] {
        for (int i = 0; i < kCommands; ++i) {
            windowState.ctx.txLength = i;
            int before = windowState.handled;
            postCommand(window, CmdProgressStep, 2);
            if (windowState.handled != before + 1)
                ++returnedEarly;
        }
        windowState.ctx.errorCode = ErrSend;
        WSASetLastError(10054);
        reportError(window);
        finished = true;
        PostMessageA(window, WM_NULL, 0, 0);  // wake the loop for the last check
    });

    MSG message;
    while (!finished && GetMessageA(&message, nullptr, 0, 0) > 0)
        DispatchMessageA(&message);
    worker.join();

    uint32_t expected = 0;
    for (int i = 0; i < kCommands; ++i)
        expected += 2u + static_cast<uint32_t>(i);
    EXPECT_EQ(returnedEarly.load(), 0);
    EXPECT_EQ(windowState.handled, kCommands + 1);
    EXPECT_EQ(windowState.view.position, expected);
    EXPECT_EQ(windowState.view.events().back(), "error:Error|Send error (code = 10054)");
    DestroyWindow(window);
    CloseHandle(commandDone);
    commandDone = nullptr;
}

} // namespace
