#pragma once
#include <string>
#include <vector>

namespace testing_support {

// Whether a process is running; a zombie waiting for its parent counts as ended.
bool ProcessRunning(int pid);

// The process and every process below it, as /proc shows them now.
std::vector<int> ProcessTree(int pid);
// The processes the process started itself, not theirs, as /proc shows them now.
std::vector<int> ChildProcesses(int pid);

// What the processes hold open below a folder: each descriptor's target (as /proc/PID/fd names
// it) that lies in the folder, and each working folder there.
std::vector<std::string> OpenFilesBelow(const std::vector<int>& pids, const std::string& folder);

}  // namespace testing_support
