#include "platform/ChildProcess.h"
#include "support/Processes.h"
#include "support/TempDir.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <thread>

using namespace testing_support;
using namespace std::chrono_literals;

namespace {


}  // namespace

TEST(ChildProcessTest, GetsOnlyTheStandardDescriptorsAndHandsBackItsExitStatus)
{
    TempDir dir;
    WriteFile(dir / "open.txt", "x");
    const int inheritable = open((dir / "open.txt").c_str(), O_RDONLY);  // no O_CLOEXEC
    ASSERT_GE(inheritable, 3);
    int status = -1;
    EXPECT_EQ(platform::RunProcess({OPEN_DESCRIPTORS, dir / "fds.txt"}, 10s, {}, &status),
              platform::ProcessOutcome::Exited);
    close(inheritable);
    EXPECT_EQ(ReadFile(dir / "fds.txt"), "0\n1\n2\n");
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    EXPECT_EQ(platform::RunProcess({"/bin/false"}, 10s, {}, &status), platform::ProcessOutcome::Exited);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
}

TEST(ChildProcessTest, ABareNameIsSearchedOnPathNeverInTheCurrentFolder)
{
    TempDir dir;
    const std::string marker = dir / "ran";
    WriteFile(dir / "viewmere-probe", "#!/bin/sh\ntouch '" + marker + "'\n");
    chmod((dir / "viewmere-probe").c_str(), 0755);
    char previous[4096];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir(dir.Path().c_str()), 0);
    ScopedEnv path("PATH", "::.:/usr/bin:/bin");  // empty and relative entries mean "here": skipped
    EXPECT_EQ(platform::RunProcess({"viewmere-probe"}, 10s), platform::ProcessOutcome::NotStarted);
    EXPECT_EQ(platform::FindProgram("viewmere-probe"), "");
    const std::string sh = platform::FindProgram("sh");
    EXPECT_TRUE(sh == "/usr/bin/sh" || sh == "/bin/sh") << sh;
    EXPECT_EQ(platform::RunProcess({"./viewmere-probe"}, 10s), platform::ProcessOutcome::Exited);  // a path is a path
    ASSERT_EQ(chdir(previous), 0);
    EXPECT_EQ(ReadFile(marker), "");
    EXPECT_TRUE(std::ifstream(marker).good());
}

TEST(ChildProcessTest, WhatTheChildStartedIsKilledWithIt)
{
    TempDir dir;
    const std::string pidFile = dir / "sleeper.pid";
    // A wrapper that starts a long sleep and waits for it, as a user's ffmpeg script might.
    const std::vector<std::string> wrapper = {"/bin/sh", "-c", "sleep 60 & echo $! > \"$0\"; wait", pidFile};
    EXPECT_EQ(platform::RunProcess(wrapper, 500ms), platform::ProcessOutcome::TimedOut);
    int sleeper = std::atoi(ReadFile(pidFile).c_str());
    ASSERT_GT(sleeper, 0);
    for (int i = 0; i < 100 && ProcessRunning(sleeper); ++i)
        std::this_thread::sleep_for(10ms);
    EXPECT_FALSE(ProcessRunning(sleeper));

    // Cancelled, or left behind by a wrapper that exits on its own: the same.
    bool stop = false;
    std::thread stopper([&] {
        std::this_thread::sleep_for(300ms);
        stop = true;
    });
    EXPECT_EQ(platform::RunProcess(wrapper, 60s, [&] { return stop; }), platform::ProcessOutcome::Cancelled);
    stopper.join();
    sleeper = std::atoi(ReadFile(pidFile).c_str());
    for (int i = 0; i < 100 && ProcessRunning(sleeper); ++i)
        std::this_thread::sleep_for(10ms);
    EXPECT_FALSE(ProcessRunning(sleeper));
    EXPECT_EQ(platform::RunProcess({"/bin/sh", "-c", "sleep 60 & echo $! > \"$0\"", pidFile}, 10s),
              platform::ProcessOutcome::Exited);
    sleeper = std::atoi(ReadFile(pidFile).c_str());
    for (int i = 0; i < 100 && ProcessRunning(sleeper); ++i)
        std::this_thread::sleep_for(10ms);
    EXPECT_FALSE(ProcessRunning(sleeper));
}

TEST(ChildProcessTest, AChildSlowToEndHoldsUpNoOtherChild)
{
    // A child that leaves its process group, so the kill misses it and reaping it waits until it
    // ends on its own, three seconds later: as a worker stuck in I/O on a failing card does.
    platform::PipedChild stuck;
    ASSERT_TRUE(stuck.Start({"perl", "-e", "setpgrp(0, getpgrp(getppid())) or exit 1; syswrite STDOUT, 'x'; sleep 3"}));
    char moved = 0;
    ASSERT_EQ(read(stuck.FromChild(), &moved, 1), 1);
    std::thread reaper([&] { stuck.Kill(); });
    std::this_thread::sleep_for(200ms);  // the reap is waiting

    // Meanwhile another child starts and goes, and a signal-time kill gets through at once.
    const auto start = std::chrono::steady_clock::now();
    platform::PipedChild other;
    EXPECT_TRUE(other.Start({"/bin/cat"}));
    platform::KillRunningChildren();
    other.Kill();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms);
    reaper.join();
    EXPECT_FALSE(stuck.Running());
}

TEST(ChildProcessTest, APipedChildGetsThisEnvironmentAndOnlyTheAdditionsItLacks)
{
    const ScopedEnv users("VIEWMERE_SETTING", "the user's");
    platform::PipedChild child;
    ASSERT_TRUE(child.Start({"/bin/sh", "-c", "printf '%s|%s|%s' \"$VIEWMERE_SETTING\" \"$VIEWMERE_ADDED\" \"$HOME\""},
                            {"VIEWMERE_SETTING=ours", "VIEWMERE_ADDED=a value=with equals"}));
    std::string said;
    char buffer[256];
    for (ssize_t got; (got = read(child.FromChild(), buffer, sizeof buffer)) > 0;)
        said.append(buffer, static_cast<std::size_t>(got));
    EXPECT_EQ(said, "the user's|a value=with equals|" + std::string(getenv("HOME")));
}
