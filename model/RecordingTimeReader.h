#pragma once
#include "model/RecordingTime.h"
#include "platform/CalendarTime.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

// Reads what the streams of clips tell (the recording time, and the duration where the card's
// playlist does not give it) on a worker thread of its own, so that opening a folder of
// thousands of clips on a slow card never waits for them. Clips are read in the order given,
// except that the clips last named visible go first; newly queued clips wait a moment for the view
// to name them, so that reading neither starts with the wrong clips nor competes with the scan. Every read is remembered by path, size and
// modification time for the life of the reader: a clip met again unchanged is not read again.
// A file that could not be read at all is not remembered, so it is read again when met again.
// The UI thread queues clips and takes finished reads; the worker never calls into the UI.
class CRecordingTimeReader {
public:
    // A clip file as the folder listing saw it.
    struct ClipFile {
        std::string path;
        std::uint64_t size = 0;
        platform::FileTime modified = 0;  // the listing's last-write time
        bool wantDuration = false;        // the duration is read from the stream too
        std::uint32_t token = 0;          // the caller's, handed back with the result
        bool operator==(const ClipFile&) const = default;
    };
    struct Result {
        std::string path;
        std::uint32_t token = 0;
        ClipStreamFacts facts;
    };
    // Reads one clip, on the worker thread.
    using FileReader = std::function<ClipStreamFacts(const std::string& path, bool withDuration)>;

    // Starts the worker at once.
    explicit CRecordingTimeReader(FileReader reader = &ReadClipStreamFacts);
    ~CRecordingTimeReader();
    CRecordingTimeReader(const CRecordingTimeReader&) = delete;
    CRecordingTimeReader& operator=(const CRecordingTimeReader&) = delete;

    // What an earlier read of this very file gave (with a duration when it is wanted): nothing
    // when it was never read so, or has changed since.
    std::optional<ClipStreamFacts> Remembered(const ClipFile& clip) const;
    // Queues clips behind those already queued; a clip already queued keeps its place. A clip
    // read before, unchanged since, is not queued: what its read gave goes to `known`, after
    // the reader's lock is let go. One lock for the whole list: a folder of 40,000 clips is
    // queued in a few milliseconds.
    using KnownRead = std::function<void(const ClipFile& clip, const ClipStreamFacts& facts)>;
    void Enqueue(std::vector<ClipFile> clips, const KnownRead& known = {});
    // The clips shown now, in grid order: read before any other queued clip. Replaces the
    // previous set.
    void SetVisible(const std::vector<std::string>& paths);
    // While `busy` answers true (the card is being read for the pictures of the clips), only
    // the visible clips are read: a card answers one request at a time, and the reads of clips
    // off the screen would make the pictures wait. Asked on the worker thread; it must not
    // block. Empty: never held back.
    void HoldOffScreenReadsWhile(std::function<bool()> busy);
    // Drops the queue and the reads not yet taken (a folder was closed); what was read stays
    // remembered.
    void ClearAll();
    bool TakeResult(Result& result);
    int PendingCount() const;

    // Remembered reads are dropped all at once beyond this many, so memory stays bounded.
    static constexpr std::size_t kMaxRemembered = 200000;

private:
    struct State;
    static void ThreadMain(std::shared_ptr<State> state);

    std::shared_ptr<State> state_;
    std::thread thread_;
};
