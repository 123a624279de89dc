#include "platform/CardTurn.h"

#include "platform/UserDirectories.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

namespace platform {

namespace {

// How often a grab waiting for the turn looks again: far below one request of a card.
constexpr std::chrono::microseconds kLookAgain{200};

// The user's runtime folder where the session has one, then the cache's.
std::vector<std::string> LockFolders()
{
    std::vector<std::string> folders;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    struct stat info {};
    if (runtime != nullptr && runtime[0] == '/' && stat(runtime, &info) == 0 && S_ISDIR(info.st_mode))
        folders.emplace_back(runtime);
    const std::string cache = UserCacheDirectory();
    if (!cache.empty() && MakeDirectories(cache + "/viewmere", 0700))
        folders.push_back(cache + "/viewmere");
    return folders;
}

// The lock file of the device with this number, opened, in the first folder that takes it.
FileDescriptor OpenLock(unsigned long device)
{
    char name[48];
    std::snprintf(name, sizeof name, "/viewmere-card-%lx.lock", device);
    for (const std::string& folder : LockFolders()) {
        FileDescriptor lock(open((folder + name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
        if (lock)
            return lock;
    }
    return FileDescriptor();
}

}  // namespace

bool CardTurn::Take(int fd, std::chrono::steady_clock::time_point deadline, const std::atomic<bool>& abandoned)
{
    Give();
    struct stat info {};
    FileDescriptor lock = fstat(fd, &info) == 0 ? OpenLock(static_cast<unsigned long>(info.st_dev)) : FileDescriptor();
    if (!lock) {
        untracked_ = true;
        return true;
    }
    for (;;) {
        if (flock(lock.Get(), LOCK_EX | LOCK_NB) == 0) {
            lock_ = std::move(lock);
            return true;
        }
        if (errno != EWOULDBLOCK && errno != EINTR) {
            untracked_ = true;  // a folder without locks: reading goes ahead
            return true;
        }
        if (abandoned.load(std::memory_order_acquire) || std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(kLookAgain);
    }
}

void CardTurn::Give()
{
    lock_ = FileDescriptor();  // closing the file lets go of its lock
    untracked_ = false;
}

}  // namespace platform
