#include "platform/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <set>
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
    // Standard input and output to /dev/null, and every other descriptor closed, whether or
    // not it was opened close-on-exec.
    bool RedirectToDevNullAndCloseTheRest()
    {
        return ok_ && posix_spawn_file_actions_addopen(&actions_, 0, "/dev/null", O_RDONLY, 0) == 0 &&
               posix_spawn_file_actions_addopen(&actions_, 1, "/dev/null", O_WRONLY, 0) == 0 &&
               posix_spawn_file_actions_addopen(&actions_, 2, "/dev/null", O_WRONLY, 0) == 0 &&
               posix_spawn_file_actions_addclosefrom_np(&actions_, 3) == 0;
    }
    // Standard input and output from and to the given pipe ends, every other descriptor closed.
    bool ConnectPipesAndCloseTheRest(int input, int output)
    {
        return ok_ && posix_spawn_file_actions_adddup2(&actions_, input, 0) == 0 &&
               posix_spawn_file_actions_adddup2(&actions_, output, 1) == 0 &&
               posix_spawn_file_actions_addclosefrom_np(&actions_, 3) == 0;
    }
    posix_spawn_file_actions_t* Get() { return &actions_; }

private:
    posix_spawn_file_actions_t actions_{};
    bool ok_ = false;
};

// Spawn attributes that put the child in a new process group of its own.
class SpawnAttributes {
public:
    SpawnAttributes()
    {
        ok_ = posix_spawnattr_init(&attributes_) == 0 && posix_spawnattr_setpgroup(&attributes_, 0) == 0 &&
              posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETPGROUP) == 0;
    }
    ~SpawnAttributes() { posix_spawnattr_destroy(&attributes_); }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;
    bool Ok() const { return ok_; }
    const posix_spawnattr_t* Get() const { return &attributes_; }

private:
    posix_spawnattr_t attributes_{};
    bool ok_ = false;
};

// The process groups of running children, so that a program ending on a signal can end them.
std::mutex groupsLock;
std::set<pid_t>& RunningGroups()
{
    static std::set<pid_t>* groups = new std::set<pid_t>;  // never destroyed: used until exit
    return *groups;
}

// True when the child has ended. It is not reaped yet: while it is a zombie its process id,
// which is also its group's id, cannot be given to another process, so the group can still be
// killed safely.
bool Ended(pid_t child)
{
    siginfo_t info{};
    for (;;) {
        if (waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOHANG | WNOWAIT) == 0)
            return info.si_pid == child;
        if (errno != EINTR)
            return true;  // already gone: nothing left to wait for
    }
}

// Kills whatever is left in the child's group, reaps the child and forgets the group. Only the
// kill is sent under the lock: a child stuck in I/O on a failing card can take long to end, and
// meanwhile every other child must still be started and killed. The group is forgotten while the
// child is a zombie, before it is reaped and its id can be given to another process.
int KillGroupAndReap(pid_t child)
{
    {
        std::lock_guard<std::mutex> lock(groupsLock);
        kill(-child, SIGKILL);
    }
    siginfo_t info{};
    while (waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOWAIT) < 0 && errno == EINTR) {
    }
    {
        std::lock_guard<std::mutex> lock(groupsLock);
        RunningGroups().erase(child);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

bool IsExecutableFile(const std::string& path)
{
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

}  // namespace

std::string FindProgram(const std::string& name)
{
    if (name.empty())
        return {};
    if (name.find('/') != std::string::npos)
        return name;
    const char* path = std::getenv("PATH");
    const std::string folders = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
    for (std::size_t start = 0; start <= folders.size();) {
        const std::size_t end = std::min(folders.find(':', start), folders.size());
        const std::string folder = folders.substr(start, end - start);
        // An empty or relative entry would mean the current folder: never searched.
        if (!folder.empty() && folder[0] == '/') {
            const std::string candidate = folder + (folder.back() == '/' ? "" : "/") + name;
            if (IsExecutableFile(candidate))
                return candidate;
        }
        start = end + 1;
    }
    return {};
}

void KillRunningChildren()
{
    std::lock_guard<std::mutex> lock(groupsLock);
    for (pid_t group : RunningGroups())
        kill(-group, SIGKILL);
}

ProcessOutcome RunProcess(const std::vector<std::string>& arguments, std::chrono::milliseconds limit,
                          const std::function<bool()>& cancelled, int* waitStatus)
{
    if (arguments.empty())
        return ProcessOutcome::NotStarted;
    const std::string program = FindProgram(arguments[0]);
    if (program.empty())
        return ProcessOutcome::NotStarted;
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    SpawnActions actions;
    SpawnAttributes attributes;
    if (!actions.RedirectToDevNullAndCloseTheRest() || !attributes.Ok())
        return ProcessOutcome::NotStarted;
    pid_t child = 0;
    {
        // Registered under the lock, so a signal-time kill never misses a group just started.
        std::lock_guard<std::mutex> lock(groupsLock);
        if (posix_spawn(&child, program.c_str(), actions.Get(), attributes.Get(), argv.data(), environ) != 0)
            return ProcessOutcome::NotStarted;
        RunningGroups().insert(child);
    }
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (Ended(child)) {
            const int status = KillGroupAndReap(child);  // also anything it left running
            if (waitStatus != nullptr)
                *waitStatus = status;
            return ProcessOutcome::Exited;
        }
        const bool stop = cancelled && cancelled();
        if (stop || std::chrono::steady_clock::now() >= deadline) {
            KillGroupAndReap(child);
            return stop ? ProcessOutcome::Cancelled : ProcessOutcome::TimedOut;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

PipedChild::PipedChild(PipedChild&& other) noexcept
    : pid_(other.pid_), toChild_(other.toChild_), fromChild_(other.fromChild_)
{
    other.Reset();
}

PipedChild& PipedChild::operator=(PipedChild&& other) noexcept
{
    if (this != &other) {
        Kill();
        pid_ = other.pid_;
        toChild_ = other.toChild_;
        fromChild_ = other.fromChild_;
        other.Reset();
    }
    return *this;
}

void PipedChild::Reset()
{
    pid_ = 0;
    toChild_ = -1;
    fromChild_ = -1;
}

namespace {

// This process's environment with the additions whose names it lacks, as posix_spawn takes it.
// The strings are borrowed from the environment and from `additions`.
std::vector<char*> EnvironmentWith(const std::vector<std::string>& additions)
{
    std::vector<char*> environment;
    for (char** variable = environ; *variable != nullptr; ++variable)
        environment.push_back(*variable);
    for (const std::string& addition : additions) {
        const std::string name = addition.substr(0, addition.find('='));
        if (std::getenv(name.c_str()) == nullptr)
            environment.push_back(const_cast<char*>(addition.c_str()));
    }
    environment.push_back(nullptr);
    return environment;
}

}  // namespace

bool PipedChild::Start(const std::vector<std::string>& arguments, const std::vector<std::string>& additions)
{
    Kill();
    if (arguments.empty())
        return false;
    const std::string program = FindProgram(arguments[0]);
    if (program.empty())
        return false;
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> environment = EnvironmentWith(additions);

    int input[2] = {-1, -1}, output[2] = {-1, -1};
    if (pipe2(input, O_CLOEXEC) != 0)
        return false;
    if (pipe2(output, O_CLOEXEC) != 0) {
        close(input[0]);
        close(input[1]);
        return false;
    }
    SpawnActions actions;
    SpawnAttributes attributes;
    pid_t child = 0;
    bool started = false;
    if (actions.ConnectPipesAndCloseTheRest(input[0], output[1]) && attributes.Ok()) {
        std::lock_guard<std::mutex> lock(groupsLock);
        started =
            posix_spawn(&child, program.c_str(), actions.Get(), attributes.Get(), argv.data(), environment.data()) == 0;
        if (started)
            RunningGroups().insert(child);
    }
    close(input[0]);
    close(output[1]);
    if (!started) {
        close(input[1]);
        close(output[0]);
        return false;
    }
    pid_ = child;
    toChild_ = input[1];
    fromChild_ = output[0];
    return true;
}

int PipedChild::Kill()
{
    int status = 0;
    if (toChild_ >= 0)
        close(toChild_);
    if (fromChild_ >= 0)
        close(fromChild_);
    if (pid_ > 0)
        status = KillGroupAndReap(pid_);
    Reset();
    return status;
}

bool PipedChild::Ended(int& waitStatus)
{
    if (pid_ <= 0 || !platform::Ended(pid_))
        return false;
    waitStatus = Kill();
    return true;
}

}  // namespace platform
