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

// Kills every process group started by RunProcess that is still running (for a program that
// is ending on a signal, from the UI thread). Safe to call at any time.
void KillRunningChildren();

}  // namespace platform
