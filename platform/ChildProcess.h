#pragma once
#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace platform {

// How a child process run ended.
enum class ProcessOutcome {
    NotStarted,  // the program could not be started (missing, not executable)
    Exited,      // it ended on its own (its exit code is not looked at)
    TimedOut,    // it was still running at the limit: killed and reaped
    Cancelled,   // the caller asked to stop: killed and reaped
};

// Runs a program with an argument vector (no shell: no argument is ever re-split or expanded),
// standard input from /dev/null and its output discarded, and waits for it up to `limit`.
// `cancelled` is asked every few milliseconds. No child is ever left behind: on a time-out or
// a cancel it is killed with SIGKILL and reaped.
ProcessOutcome RunProcess(const std::vector<std::string>& arguments, std::chrono::milliseconds limit,
                          const std::function<bool()>& cancelled = {});

}  // namespace platform
