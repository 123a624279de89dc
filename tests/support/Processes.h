#pragma once

namespace testing_support {

// Whether a process is running; a zombie waiting for its parent counts as ended.
bool ProcessRunning(int pid);

}  // namespace testing_support
