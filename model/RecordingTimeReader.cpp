#include "model/RecordingTimeReader.h"

#include "log/EventLog.h"

#include <chrono>
#include <exception>
#include <system_error>

namespace {

// How long the UI thread waits for a read in progress when the reader goes. A read is at most
// 256 KB, but a card that was pulled or a hung network folder can hold it much longer.
constexpr std::chrono::milliseconds kStopLimit{3000};
// How long newly queued clips wait for the view to say which of them are on screen: reading
// starts with those, and not while the folder is still being scanned and laid out.
constexpr std::chrono::milliseconds kWaitForVisible{250};
// How often clips held back off the screen look whether the card is free for them.
constexpr std::chrono::milliseconds kHoldPoll{50};

}  // namespace

// Everything the worker touches, owned jointly by the reader and the worker, so a worker left
// behind by a hung read never touches freed memory.
struct CRecordingTimeReader::State {
    struct Memory {
        std::uint64_t size = 0;
        platform::FileTime modified = 0;
        bool durationRead = false;
        ClipStreamFacts facts;
    };

    FileReader reader;
    mutable std::mutex lock;
    std::condition_variable changed;
    bool stop = false;
    bool finished = false;
    std::unordered_map<std::string, ClipFile> pending;  // queued, not yet taken by the worker (path left empty)
    std::deque<std::string> order;                      // queued paths; taken ones are skipped
    std::deque<std::string> visible;
    std::deque<Result> results;
    std::unordered_map<std::string, Memory> remembered;
    std::uint64_t generation = 0;  // counts ClearAll calls: a read begun before one is not handed out
    std::chrono::steady_clock::time_point holdUntil;  // no read starts before, unless visible clips are named
    std::function<bool()> busy;  // while true, only visible clips are read

    // The next clip to read, visible ones first, and only those when asked. Called with the
    // lock held.
    bool TakeNext(ClipFile& clip, bool visibleOnly)
    {
        for (std::deque<std::string>* queue : {&visible, &order}) {
            if (visibleOnly && queue == &order)
                break;
            while (!queue->empty()) {
                const auto found = pending.find(queue->front());
                queue->pop_front();
                if (found == pending.end())
                    continue;
                clip = std::move(found->second);
                clip.path = found->first;
                pending.erase(found);
                return true;
            }
        }
        return false;
    }

    // What an earlier read of this very file gave. Called with the lock held.
    std::optional<ClipStreamFacts> Recall(const ClipFile& clip) const
    {
        const auto found = remembered.find(clip.path);
        if (found == remembered.end() || found->second.size != clip.size || found->second.modified != clip.modified ||
            (clip.wantDuration && !found->second.durationRead))
            return std::nullopt;
        return found->second.facts;
    }

    void Remember(const ClipFile& clip, const ClipStreamFacts& facts)
    {
        if (!facts.read)
            return;  // an I/O error tells nothing about the clip
        if (remembered.size() >= kMaxRemembered)
            remembered.clear();
        remembered[clip.path] = Memory{clip.size, clip.modified, clip.wantDuration, facts};
    }
};

CRecordingTimeReader::CRecordingTimeReader(FileReader reader) : state_(std::make_shared<State>())
{
    state_->reader = std::move(reader);
    try {
        thread_ = std::thread(&CRecordingTimeReader::ThreadMain, state_);
    } catch (const std::system_error& error) {
        // Without a worker no time is read: every clip keeps its file time.
        LogEvent("Failed to start the recording time reader (%s)", error.what());
    }
}

CRecordingTimeReader::~CRecordingTimeReader()
{
    bool finished = false;
    {
        std::unique_lock<std::mutex> guard(state_->lock);
        state_->stop = true;
        state_->changed.notify_all();
        finished = state_->changed.wait_for(guard, kStopLimit, [this] { return state_->finished; });
    }
    if (!thread_.joinable())
        return;
    if (finished)
        thread_.join();
    else
        thread_.detach();  // its read ends on its own; the state it shares outlives it
}

void CRecordingTimeReader::ThreadMain(std::shared_ptr<State> state)
{
    std::unique_lock<std::mutex> guard(state->lock);
    for (;;) {
        state->changed.wait(guard, [&] { return state->stop || !state->pending.empty(); });
        if (state->stop)
            break;
        if (state->changed.wait_until(guard, state->holdUntil, [&] { return state->stop || !state->visible.empty(); }) &&
            state->stop)
            break;
        // Asked without the lock: the answer comes from another part's lock.
        const std::function<bool()> busy = state->busy;
        guard.unlock();
        const bool held = busy && busy();
        guard.lock();
        if (state->stop)
            break;
        ClipFile clip;
        if (!state->TakeNext(clip, held)) {
            if (held)
                state->changed.wait_for(guard, kHoldPoll);
            else
                state->pending.clear();  // cannot happen: every pending clip is in `order`
            continue;
        }
        const std::uint64_t generation = state->generation;
        guard.unlock();
        ClipStreamFacts facts;
        try {
            facts = state->reader(clip.path, clip.wantDuration);
        } catch (const std::exception& error) {
            LogEvent("Failed to read the recording time of [%s]: %s", clip.path.c_str(), error.what());
        }
        guard.lock();
        state->Remember(clip, facts);
        if (generation == state->generation)
            state->results.push_back(Result{clip.path, clip.token, facts});
    }
    state->finished = true;
    state->changed.notify_all();
}

std::optional<ClipStreamFacts> CRecordingTimeReader::Remembered(const ClipFile& clip) const
{
    std::lock_guard<std::mutex> guard(state_->lock);
    return state_->Recall(clip);
}

void CRecordingTimeReader::Enqueue(std::vector<ClipFile> clips, const KnownRead& known)
{
    std::vector<std::pair<std::size_t, ClipStreamFacts>> recalled;
    {
        std::lock_guard<std::mutex> guard(state_->lock);
        for (std::size_t i = 0; i < clips.size(); ++i) {
            if (known) {
                if (std::optional<ClipStreamFacts> facts = state_->Recall(clips[i])) {
                    recalled.emplace_back(i, std::move(*facts));
                    continue;
                }
            }
            std::string path = std::move(clips[i].path);
            const auto [queued, added] = state_->pending.try_emplace(path, std::move(clips[i]));
            if (added)
                state_->order.push_back(std::move(path));
            else
                clips[i].path = std::move(path);
        }
        if (state_->visible.empty())
            state_->holdUntil = std::chrono::steady_clock::now() + kWaitForVisible;
        state_->changed.notify_all();
    }
    for (const auto& [index, facts] : recalled)
        known(clips[index], facts);
}

void CRecordingTimeReader::SetVisible(const std::vector<std::string>& paths)
{
    std::lock_guard<std::mutex> guard(state_->lock);
    state_->visible.assign(paths.begin(), paths.end());
    state_->changed.notify_all();
}

void CRecordingTimeReader::HoldOffScreenReadsWhile(std::function<bool()> busy)
{
    std::lock_guard<std::mutex> guard(state_->lock);
    state_->busy = std::move(busy);
    state_->changed.notify_all();
}

void CRecordingTimeReader::ClearAll()
{
    std::lock_guard<std::mutex> guard(state_->lock);
    ++state_->generation;
    state_->pending.clear();
    state_->order.clear();
    state_->visible.clear();
    state_->results.clear();
}

bool CRecordingTimeReader::TakeResult(Result& result)
{
    std::lock_guard<std::mutex> guard(state_->lock);
    if (state_->results.empty())
        return false;
    result = std::move(state_->results.front());
    state_->results.pop_front();
    return true;
}

int CRecordingTimeReader::PendingCount() const
{
    std::lock_guard<std::mutex> guard(state_->lock);
    return static_cast<int>(state_->pending.size());
}
