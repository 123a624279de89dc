#pragma once

namespace platform {

// Puts the calling thread at the lowest scheduling priority, so it runs on the CPU that the
// process's other threads and other programs leave. Work that nobody waits for goes there.
// False, with errno set, when the system refuses; the thread then runs as before.
bool LowerCallingThreadToIdlePriority();

}  // namespace platform
