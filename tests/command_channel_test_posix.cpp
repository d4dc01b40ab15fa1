// The handshake between a worker thread and the window thread on POSIX.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "command_channel.h"
#include "command_view.h"
#include "command_window_posix.h"
#include "test_support.h"

namespace {

using namespace std::chrono_literals;

TEST(CommandHandshake, ThousandsOfCommandsArriveInOrderOncePerPost)
{
    constexpr int kCommands = 5000;
    CommandWindow window;
    UpdateContext ctx{};
    std::atomic<int> posted{0};

    std::thread worker([&] {
        for (int i = 0; i < kCommands; ++i) {
            ctx.txLength = i;  // written by the worker before each post, read by the window
            posted = i + 1;
            postCommand(&window, CmdProgressStep, i & 1 ? 2 : 0x10001);
        }
    });

    RecordingView view;
    uint32_t expected = 0;
    for (int i = 0; i < kCommands; ++i) {
        auto command = window.nextCommand(10s);
        ASSERT_TRUE(command.has_value()) << "command " << i << " never arrived";
        ASSERT_EQ(posted.load(), i + 1) << "the worker posted again before the last command was done";
        // A second command must not be queued while this one is in flight.
        EXPECT_FALSE(window.nextCommand(0ms).has_value());
        expected += (i & 1 ? 2u : 1u) + static_cast<uint32_t>(i);
        ASSERT_TRUE(handleUpdateCommand(&window, view, &ctx, command->code, command->argument));
    }
    worker.join();
    EXPECT_EQ(view.position, expected);
    EXPECT_EQ(view.events().size(), static_cast<size_t>(kCommands));
}

TEST(CommandHandshake, WorkerBlocksUntilTheWindowHasHandledTheCommand)
{
    CommandWindow window;
    UpdateContext ctx{};
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        ctx.statusCode = StConnecting;
        reportStatus(&window);
        returned = true;
    });
    auto command = window.nextCommand(10s);
    ASSERT_TRUE(command.has_value());
    EXPECT_EQ(command->code, static_cast<uint32_t>(CmdStatus));
    std::this_thread::sleep_for(100ms);
    EXPECT_FALSE(returned) << "postCommand returned before the window signalled";
    RecordingView view;
    EXPECT_TRUE(handleUpdateCommand(&window, view, &ctx, command->code, command->argument));
    worker.join();
    EXPECT_TRUE(returned);
}

TEST(CommandHandshake, UnknownCodeLeavesTheEventAlone)
{
    CommandWindow window;
    UpdateContext ctx{};
    RecordingView view;
    EXPECT_FALSE(handleUpdateCommand(&window, view, &ctx, 99, 0));
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        postCommand(&window, CmdResult, 0);
        returned = true;
    });
    auto command = window.nextCommand(10s);
    ASSERT_TRUE(command.has_value());
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(returned) << "the unknown code must not have signalled the event";
    handleUpdateCommand(&window, view, &ctx, command->code, command->argument);
    worker.join();
}

TEST(CommandHandshake, ReportErrorCarriesTheThreadsSocketError)
{
    CommandWindow window;
    UpdateContext ctx{};
    std::thread worker([&] {
        ctx.errorCode = ErrConnect;
        errno = ECONNREFUSED;
        reportError(&window);
    });
    auto command = window.nextCommand(10s);
    ASSERT_TRUE(command.has_value());
    EXPECT_EQ(command->code, static_cast<uint32_t>(CmdError));
    EXPECT_EQ(command->argument, ECONNREFUSED);
    window.setDone();
    worker.join();
}

TEST(CommandHandshake, CloseEndsTheWindowsWait)
{
    CommandWindow window;
    std::thread closer([&] {
        std::this_thread::sleep_for(50ms);
        window.close();
    });
    auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(window.nextCommand(10s).has_value());
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
    closer.join();
}

} // namespace
