#pragma once
#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace platform {

// How a child process run ended.
enum class ProcessOutcome {
    NotStarted,  // the program could not be started (missing, not executable)
    Exited,      // it ended on its own (its wait status is handed back)
    TimedOut,    // it was still running at the limit: killed and reaped
    Cancelled,   // the caller asked to stop: killed and reaped
};

// Runs a program with an argument vector (no shell: no argument is ever re-split or expanded),
// standard input from /dev/null and its output discarded, and waits for it up to `limit`.
// `cancelled` is asked every few milliseconds. A program name with a slash is used as given; a
// bare name is looked up in the absolute folders of PATH only, never the current folder. The
// child gets no descriptor but the three standard ones, and runs in a process group of its own:
// on a time-out or a cancel the whole group is killed with SIGKILL and the child reaped, so no
// process it started is left behind either. `waitStatus`, when given, receives the wait status
// of a child that exited.
ProcessOutcome RunProcess(const std::vector<std::string>& arguments, std::chrono::milliseconds limit,
                          const std::function<bool()>& cancelled = {}, int* waitStatus = nullptr);

// Where RunProcess finds a program: `name` itself when it holds a slash, else the first
// executable regular file of that name in PATH's absolute folders; "" when there is none.
std::string FindProgram(const std::string& name);

// A program running beside this one with a pipe to its standard input and one from its standard
// output (its standard error is this process's), in a process group of its own, with no other
// descriptor of ours. Killed with its group and reaped when it goes; a program ending on a signal
// kills it through KillRunningChildren like every other child.
class PipedChild {
public:
    PipedChild() = default;
    ~PipedChild() { Kill(); }
    PipedChild(PipedChild&& other) noexcept;
    PipedChild& operator=(PipedChild&& other) noexcept;
    PipedChild(const PipedChild&) = delete;
    PipedChild& operator=(const PipedChild&) = delete;

    // Starts the program (looked up as RunProcess does) with this process's environment and, for
    // each of `additions` ("NAME=value") whose name that environment lacks, that variable too;
    // false when it cannot be started.
    bool Start(const std::vector<std::string>& arguments, const std::vector<std::string>& additions = {});
    bool Running() const { return pid_ > 0; }
    int Pid() const { return pid_; }
    int ToChild() const { return toChild_; }
    int FromChild() const { return fromChild_; }
    // Kills the group, reaps the child and closes the pipes; the child's wait status (0 when none
    // ran). Safe to call again.
    int Kill();
    // True when the child has ended on its own; its wait status is then in `waitStatus` and
    // the child is reaped as by Kill.
    bool Ended(int& waitStatus);

private:
    void Reset();
    int pid_ = 0;
    int toChild_ = -1;
    int fromChild_ = -1;
};

// Kills every process group started by RunProcess or PipedChild that is still running (for a program that
// is ending on a signal, from the UI thread). Safe to call at any time.
void KillRunningChildren();

}  // namespace platform
