#include "platform/ThreadPriority.h"

#include <sys/resource.h>
#include <unistd.h>

namespace platform {

bool LowerCallingThreadToIdlePriority()
{
    // On Linux a nice value belongs to a thread, not to its whole process: naming the thread's
    // own id lowers this thread alone.
    constexpr int kLowestPriority = 19;
    return setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kLowestPriority) == 0;
}

}  // namespace platform
