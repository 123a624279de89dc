#pragma once
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

// Items handled one after another, in the order they came, on a thread of their own: work that
// may wait on a disk, kept off the threads that must go on. The thread shares what it uses with
// its owner, so a thread left waiting on a hung disk when the owner goes touches nothing freed.
template <typename Item>
class CWorkThread {
public:
    using Handler = std::function<void(Item&)>;
    static constexpr std::chrono::milliseconds kEndLimit{7500};

    // `handle` is called on the thread for each item; `started`, first, on the thread itself.
    explicit CWorkThread(Handler handle, std::function<void()> started = {}) : state_(std::make_shared<State>())
    {
        state_->handle = std::move(handle);
        try {
            thread_ = std::thread(&State::Run, state_, std::move(started));
        } catch (const std::system_error& error) {
            startFailure_ = error.what();
        }
    }
    // Waits up to kEndLimit for the items taken to be handled; a thread still busy then is left
    // to end on its own once its item is done.
    ~CWorkThread()
    {
        const bool drained = Drain(kEndLimit);
        {
            std::lock_guard<std::mutex> guard(state_->lock);
            state_->ending = true;
            state_->changed.notify_all();
        }
        if (!thread_.joinable())
            return;
        if (drained)
            thread_.join();
        else
            thread_.detach();
    }
    CWorkThread(const CWorkThread&) = delete;
    CWorkThread& operator=(const CWorkThread&) = delete;

    // Why the thread could not be started; empty when it runs.
    const std::string& StartFailure() const { return startFailure_; }

    // Takes the item for the thread, unless the thread does not run or `maxWaiting` items wait
    // already: false then, and the item is left with the caller to handle.
    bool Add(Item& item, std::size_t maxWaiting = std::numeric_limits<std::size_t>::max())
    {
        if (!thread_.joinable())
            return false;
        std::lock_guard<std::mutex> guard(state_->lock);
        if (state_->waiting.size() >= maxWaiting)
            return false;
        state_->waiting.push_back(std::move(item));
        state_->changed.notify_all();
        return true;
    }

    // Waits up to `limit` for every item taken to be handled; false when one is left then.
    bool Drain(std::chrono::milliseconds limit)
    {
        std::unique_lock<std::mutex> guard(state_->lock);
        return state_->changed.wait_for(guard, limit, [this] { return state_->waiting.empty() && !state_->busy; });
    }

private:
    struct State {
        Handler handle;
        std::mutex lock;
        std::condition_variable changed;
        std::deque<Item> waiting;  // guarded by lock
        bool busy = false;         // guarded by lock
        bool ending = false;       // guarded by lock

        void Run(const std::function<void()>& started)
        {
            if (started)
                started();
            std::unique_lock<std::mutex> guard(lock);
            for (;;) {
                changed.wait(guard, [this] { return ending || !waiting.empty(); });
                if (waiting.empty())
                    return;
                Item item = std::move(waiting.front());
                waiting.pop_front();
                busy = true;
                guard.unlock();
                handle(item);
                guard.lock();
                busy = false;
                changed.notify_all();
            }
        }
    };

    std::shared_ptr<State> state_;
    std::thread thread_;
    std::string startFailure_;
};
