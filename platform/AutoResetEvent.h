#pragma once
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace platform {

// An event that wakes one waiter and resets itself, as the worker's wake signal needs.
class AutoResetEvent {
public:
    void Set()
    {
        std::lock_guard<std::mutex> guard(lock_);
        signalled_ = true;
        changed_.notify_one();
    }

    // Waits until set, then resets.
    void Wait()
    {
        std::unique_lock<std::mutex> guard(lock_);
        changed_.wait(guard, [this] { return signalled_; });
        signalled_ = false;
    }

    // Waits at most `timeout`; true (and reset) when it was set.
    bool WaitFor(std::chrono::milliseconds timeout)
    {
        std::unique_lock<std::mutex> guard(lock_);
        if (!changed_.wait_for(guard, timeout, [this] { return signalled_; }))
            return false;
        signalled_ = false;
        return true;
    }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    bool signalled_ = false;
};

}  // namespace platform
