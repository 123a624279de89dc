#include "platform/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

extern char** environ;

namespace platform {
namespace {

// A posix_spawn file-action list that destroys itself.
class SpawnActions {
public:
    SpawnActions() { ok_ = posix_spawn_file_actions_init(&actions_) == 0; }
    ~SpawnActions()
    {
        if (ok_)
            posix_spawn_file_actions_destroy(&actions_);
    }
    SpawnActions(const SpawnActions&) = delete;
    SpawnActions& operator=(const SpawnActions&) = delete;
    bool RedirectToDevNull()
    {
        return ok_ && posix_spawn_file_actions_addopen(&actions_, 0, "/dev/null", O_RDONLY, 0) == 0 &&
               posix_spawn_file_actions_addopen(&actions_, 1, "/dev/null", O_WRONLY, 0) == 0 &&
               posix_spawn_file_actions_addopen(&actions_, 2, "/dev/null", O_WRONLY, 0) == 0;
    }
    posix_spawn_file_actions_t* Get() { return &actions_; }

private:
    posix_spawn_file_actions_t actions_{};
    bool ok_ = false;
};

// True when the child has ended and was reaped.
bool Reaped(pid_t child)
{
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(child, &status, WNOHANG);
        if (done == child)
            return true;
        if (done == 0)
            return false;
        if (errno != EINTR)
            return true;  // already gone: nothing left to wait for
    }
}

void KillAndReap(pid_t child)
{
    kill(child, SIGKILL);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
}

}  // namespace

ProcessOutcome RunProcess(const std::vector<std::string>& arguments, std::chrono::milliseconds limit,
                          const std::function<bool()>& cancelled)
{
    if (arguments.empty())
        return ProcessOutcome::NotStarted;
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    SpawnActions actions;
    if (!actions.RedirectToDevNull())
        return ProcessOutcome::NotStarted;
    pid_t child = 0;
    // The program is run by the path given, never looked up in PATH; a name without a slash is
    // taken relative to the current folder, as the other platform's process start does.
    if (posix_spawn(&child, argv[0], actions.Get(), nullptr, argv.data(), environ) != 0)
        return ProcessOutcome::NotStarted;

    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (Reaped(child))
            return ProcessOutcome::Exited;
        if (cancelled && cancelled()) {
            KillAndReap(child);
            return ProcessOutcome::Cancelled;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            KillAndReap(child);
            return ProcessOutcome::TimedOut;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

}  // namespace platform
