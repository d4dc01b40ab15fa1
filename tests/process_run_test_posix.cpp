// The tests' process runner: what it gives a program and what it brings back.
#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>

#include "process_run.h"

TEST(ProcessRun, InputEnvironmentStreamsStatusAndTimeBound)
{
    setenv("KT_B", "removed", 1);
    setenv("KT_C", "-kept", 1);
    const ProcessResult run = runProcess({"/bin/sh", "-c", "cat; echo \"$KT_A${KT_B-unset}$KT_C\" >&2; exit 3"},
                                         {"KT_A=set-", "KT_B"}, "typed\n");
    EXPECT_EQ(run.status, 3);
    EXPECT_EQ(run.out, "typed\n");
    EXPECT_EQ(run.err, "set-unset-kept\n");
    EXPECT_EQ(run.all, "typed\nset-unset-kept\n");
    EXPECT_FALSE(run.timedOut);

    const ProcessResult slow = runProcess({"/bin/sleep", "30"}, {}, {}, Milliseconds(200));
    EXPECT_TRUE(slow.timedOut);
    EXPECT_EQ(slow.status, -1);
    EXPECT_EQ(slow.signal, SIGKILL);

    // A program that runs on: its lines as they come, its input kept open, a signal.
    Process shell({"/bin/sh", "-c", "echo ready; read line; echo \"got $line\"; sleep 30"}, {}, {}, true);
    EXPECT_EQ(shell.line(), "ready\n");
    shell.send("more\n");
    EXPECT_TRUE(shell.waitFor("got more"));
    EXPECT_TRUE(shell.running());
    shell.signal(SIGTERM);
    const ProcessResult ended = shell.finish();
    EXPECT_EQ(ended.signal, SIGTERM);
    EXPECT_EQ(runProcess({"/nonexistent/program"}).status, -1);
}
