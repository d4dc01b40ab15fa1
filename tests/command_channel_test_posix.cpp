// The handshake between a worker thread and the window thread on POSIX.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "command_channel.h"
#include "command_window_posix.h"
#include "test_support.h"

namespace {

using namespace std::chrono_literals;

TEST(CommandHandshake, ThousandsOfCommandsOneAtATimeInOrder)
{
    setenv("LC_ALL", "C", 1);
    constexpr int kCommands = 5000;
    CommandWindow window;
    UpdateContext ctx{};
    RecordingView view;
    std::atomic<int> returned{0};
    std::thread worker([&] {
        for (int i = 0; i < kCommands; ++i) {
            ctx.txLength = i;  // written by the worker before each post, read by the window
            postCommand(&window, &ctx, CmdProgressStep, i & 1 ? 2 : 0x10001);
            ++returned;
        }
        ctx.errorCode = ErrConnect;
        errno = ECONNREFUSED;
        reportError(&window, &ctx);
    });
    uint32_t expected = 0;
    for (int i = 0; i <= kCommands; ++i) {
        const auto command = window.nextCommand(10s);
        ASSERT_TRUE(command.has_value()) << "command " << i << " never arrived";
        if (i == 0)
            std::this_thread::sleep_for(50ms);  // time for the worker to run on, were it not blocked
        // An unknown code must not set the event; then the worker must still wait.
        EXPECT_FALSE(handleUpdateCommand(&window, view, &ctx, 99, 0));
        ASSERT_EQ(returned.load(), i) << "the worker went on before the window had handled its command";
        ASSERT_FALSE(window.nextCommand(0ms).has_value()) << "a second command while one is in flight";
        if (i < kCommands)
            expected += (i & 1 ? 2u : 1u) + static_cast<uint32_t>(i);
        ASSERT_TRUE(handleUpdateCommand(&window, view, &ctx, command->code, command->argument));
    }
    worker.join();
    EXPECT_EQ(view.position, expected);
    const auto events = view.events();
    EXPECT_EQ(events.size(), kCommands + 1u);
    EXPECT_EQ(events.back(), "error:Error|Connect failure. (code=" + std::to_string(ECONNREFUSED) + ")");
}

TEST(CommandHandshake, CloseEndsTheWindowsWait)
{
    CommandWindow window;
    std::thread closer([&] { window.close(); });
    EXPECT_FALSE(window.nextCommand(std::chrono::hours(1)).has_value());
    closer.join();
}

} // namespace
