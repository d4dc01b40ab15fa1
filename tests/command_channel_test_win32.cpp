// The handshake over PostMessageA and the channel's event, with a real
// window and message loop on the test thread.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <thread>

#include "command_channel.h"
#include "command_channel_win32.h"
#include "test_support.h"

namespace {

RecordingView view;
UpdateContext ctx{};
int handled = 0;  // written by the window thread only while the worker waits

LRESULT CALLBACK testWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != kUpdateCommandMessage)
        return DefWindowProcA(window, message, wParam, lParam);
    // An unknown code must not set the event: the worker still waits for this one.
    handleUpdateCommand(window, view, &ctx, 99, 0);
    ++handled;
    return handleUpdateCommand(window, view, &ctx, wParam, lParam);
}

TEST(CommandHandshakeWin32, ThousandsOfCommandsThroughTheMessageLoop)
{
    constexpr int kCommands = 3000;
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = testWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "KT5CUfirmTestWindow";
    ASSERT_NE(RegisterClassA(&windowClass), 0);
    HWND window = CreateWindowExA(0, "KT5CUfirmTestWindow", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(window, nullptr);
    ASSERT_NE(createCommandDone(&ctx), nullptr);

    std::atomic<bool> finished{false};
    int returnedEarly = 0;
    std::thread worker([&] {
        for (int i = 0; i < kCommands; ++i) {
            ctx.txLength = i;
            const int before = handled;
            postCommand(window, &ctx, CmdProgressStep, 2);
            returnedEarly += handled != before + 1;
        }
        ctx.errorCode = ErrSend;
        WSASetLastError(10054);
        reportError(window, &ctx);
        finished = true;
        PostMessageA(window, WM_NULL, 0, 0);  // wake the loop for the last check
    });
    MSG message;
    while (!finished && GetMessageA(&message, nullptr, 0, 0) > 0)
        DispatchMessageA(&message);
    worker.join();

    EXPECT_EQ(returnedEarly, 0);
    EXPECT_EQ(handled, kCommands + 1);
    EXPECT_EQ(view.position, kCommands * 2u + kCommands * (kCommands - 1u) / 2);
    EXPECT_EQ(view.events().back(), "error:Error|Send error (code = 10054)");
    DestroyWindow(window);
    closeCommandChannel(window, &ctx);
}

TEST(CommandEventWin32, NoOtherProgramCanSetItOrTakeItsPlace)
{
    // Another program holds the name that a shared event would have, first
    // as another kind of object, then as an event that it sets.
    HANDLE mutex = CreateMutexA(nullptr, FALSE, "EventObject");
    ASSERT_NE(mutex, nullptr);
    EXPECT_NE(createCommandDone(&ctx), nullptr);
    closeCommandChannel(nullptr, &ctx);
    CloseHandle(mutex);

    HANDLE foreign = CreateEventA(nullptr, TRUE, FALSE, "EventObject");
    ASSERT_NE(foreign, nullptr);
    ASSERT_NE(createCommandDone(&ctx), nullptr);
    SetEvent(foreign);
    EXPECT_EQ(WaitForSingleObject(ctx.run.commandDone, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    closeCommandChannel(nullptr, &ctx);
    CloseHandle(foreign);
}

} // namespace
