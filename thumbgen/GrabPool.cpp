#include "thumbgen/GrabPool.h"

#include "imaging/JpegPicture.h"
#include "log/EventLog.h"
#include "platform/ChildProcess.h"
#include "platform/NoDestructor.h"
#include "settings/Settings.h"
#include "thumbgen/FrameGrab.h"
#include "thumbgen/GrabFailureRecord.h"
#include "thumbgen/GrabWorker.h"
#include "thumbgen/GrabWorkerProtocol.h"
#include "thumbgen/PictureStore.h"
#include "thumbgen/SharedThumbnails.h"
#include "thumbgen/StripCache.h"
#include "thumbgen/StripCollector.h"
#include "thumbgen/ThumbnailFile.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

namespace {

constexpr int kMaxDecodingSlots = 4;
// One slot more than decode at once: a grab from a card spends most of its time waiting for the
// card, and a worker reads there while the others decode.
constexpr int kMaxSlots = kMaxDecodingSlots + 1;
// Workers that fail before they take a clip, one after the other, before none is started again.
constexpr int kStartFailuresAllowed = 2;
// A worker's heap in huge pages, where the system gives them to those who ask: a grab works
// through a few full HD pictures of fresh memory, which otherwise comes in 3,500 page faults at a
// worker's first grab (its heap grows in steps large enough for huge pages, see the worker).
// About a sixth of a worker's CPU from its start to its fourth picture. A GLIBC_TUNABLES the user
// set is left as it is.
const std::vector<std::string> kWorkerEnvironment = {"GLIBC_TUNABLES=glibc.malloc.hugetlb=1"};

struct Slot {
    ThumbnailQueue::Request job;
    bool busy = false;
    bool warmUp = false;
    bool finished = false;
    // The slot's thread alone touches these three.
    platform::PipedChild worker;
    std::optional<grab_protocol::RecordReader> answers;  // what the worker sends
    bool ready = false;                                  // it said it is ready
    std::atomic<int> workerPid{0};  // for others to read
    std::atomic<bool> onAClip{false};  // the worker took a clip and has not answered yet
};

std::string Describe(int waitStatus)
{
    if (WIFSIGNALED(waitStatus)) {
        const int signal = WTERMSIG(waitStatus);
        const char* name = sigabbrev_np(signal);
        return "ended on signal " + std::to_string(signal) + " (" + (name != nullptr ? "SIG" + std::string(name) : "?") +
               ")";
    }
    if (WIFEXITED(waitStatus))
        return "exited with status " + std::to_string(WEXITSTATUS(waitStatus));
    return "ended";
}

// A worker ended by a signal that asks a program to end (a logout or shutdown sends it to every
// process of the session): someone else ended it, the clip did not.
bool AskedToEnd(int waitStatus)
{
    if (!WIFSIGNALED(waitStatus))
        return false;
    const int signal = WTERMSIG(waitStatus);
    return signal == SIGTERM || signal == SIGINT || signal == SIGHUP;
}

// Ended by someone else: asked to, or killed outright (a user's kill, the out-of-memory killer).
bool EndedFromOutside(int waitStatus)
{
    return AskedToEnd(waitStatus) || (WIFSIGNALED(waitStatus) && WTERMSIG(waitStatus) == SIGKILL);
}

std::string Seconds(std::chrono::milliseconds limit)
{
    return std::to_string(limit.count() / 1000) + " seconds";
}

}  // namespace

struct CGrabPool::Shared {
    std::shared_ptr<ThumbnailQueue> queue;
    GrabPoolOptions options;
    CGrabFailureRecord failures;
    CStripFiles strips;
    CPictureStore store;  // the workers' answers, stored while the workers go on
    mutable std::mutex lock;
    std::condition_variable changed;
    std::vector<std::unique_ptr<Slot>> slots;  // fixed once the threads run
    // The slots before it decode; the one from it on, when there is one, reads from cards while
    // they do, and takes no clip that is wanted at once.
    std::size_t readingSlot = 0;
    std::vector<std::thread> threads;
    bool stopping = false;
    std::atomic<bool> cancel{false};
    std::once_flag reportedMissingWorker;
    std::atomic<int> startFailuresInARow{0};
    std::atomic<bool> workersBroken{false};  // none is started any more
    std::mutex inProcessGrab;  // without worker processes, one grab at a time
    // Clips whose worker was ended from outside once already: guarded by `lock`.
    std::set<std::string> endedFromOutside;

    Shared(std::shared_ptr<ThumbnailQueue> q, GrabPoolOptions o)
        : queue(std::move(q)), options(std::move(o)), failures(options.failureFolder), strips(options.stripFolder), store(queue)
    {
    }
    bool Cancelled() const { return cancel.load(std::memory_order_acquire) || queue->StopRequested(); }
    std::string Program() const
    {
        return options.workerCommand.empty() ? std::string(kGrabWorkerProgramName) : options.workerCommand[0];
    }
};

namespace {

using Shared = CGrabPool::Shared;

// Workers started ahead of any pool, with their command.
struct WorkersAhead {
    std::mutex lock;
    std::vector<std::string> command;
    std::vector<platform::PipedChild> workers;
};

WorkersAhead& Ahead()
{
    static platform::NoDestructor<WorkersAhead> ahead;
    return ahead.get();
}

// Gives the slot a worker started ahead with this command, if one is still running.
bool TakeWorkerStartedAhead(const std::vector<std::string>& command, platform::PipedChild& worker)
{
    WorkersAhead& ahead = Ahead();
    std::lock_guard<std::mutex> guard(ahead.lock);
    while (ahead.command == command && !ahead.workers.empty()) {
        platform::PipedChild taken = std::move(ahead.workers.back());
        ahead.workers.pop_back();
        int status = 0;
        if (!taken.Ended(status)) {
            worker = std::move(taken);
            return true;
        }
    }
    return false;
}

bool StartWorker(Shared& shared, Slot& slot)
{
    if (shared.workersBroken.load())
        return false;
    if (!shared.options.workerCommand.empty() &&
        (TakeWorkerStartedAhead(shared.options.workerCommand, slot.worker) ||
         slot.worker.Start(shared.options.workerCommand, kWorkerEnvironment))) {
        slot.answers.emplace(slot.worker.FromChild());
        slot.ready = false;
        slot.workerPid.store(slot.worker.Pid());
        return true;
    }
    std::call_once(shared.reportedMissingWorker, [&shared] {
        LogEvent("Could not start the grab worker [%s]; thumbnails are made in the viewer's own process",
                 shared.Program().c_str());
    });
    return false;
}

// Kills the worker and reaps it; its wait status.
int StopWorker(Slot& slot)
{
    slot.workerPid.store(0);
    slot.answers.reset();
    slot.ready = false;
    return slot.worker.Kill();
}

// A worker that was gone before it took its clip. After a few in a row no worker is started
// again, and one line says why.
void NoteStartFailure(Shared& shared, const std::string& why)
{
    if (shared.startFailuresInARow.fetch_add(1) + 1 < kStartFailuresAllowed)
        return;
    if (!shared.workersBroken.exchange(true))
        LogEvent("Grab workers cannot start: [%s] %s; thumbnails are made in the viewer's own process",
                 shared.Program().c_str(), why.c_str());
}

enum class Handover { Taken, WorkerFailed, NoWorker, Cancelled };

// How a slot's job ended: done (the slot ends its request), put back in the queue for another
// try, or answered and handed to the picture store (which ends the request once it is stored).
enum class JobEnd { Done, PutBack, Stored };

// Waits for one record of the given kind before the start limit.
grab_protocol::ReadOutcome AwaitRecord(Shared& shared, Slot& slot, grab_protocol::RecordKind kind)
{
    grab_protocol::Record record;
    const auto outcome = slot.answers->Next(record, std::chrono::steady_clock::now() + shared.options.startLimit,
                                            [&shared] { return shared.Cancelled(); });
    if (outcome == grab_protocol::ReadOutcome::Record && record.kind != kind)
        return grab_protocol::ReadOutcome::Malformed;
    return outcome;
}

// Waits for a started worker to say it is ready.
grab_protocol::ReadOutcome AwaitReady(Shared& shared, Slot& slot)
{
    const grab_protocol::ReadOutcome outcome = AwaitRecord(shared, slot, grab_protocol::RecordKind::Ready);
    slot.ready = outcome == grab_protocol::ReadOutcome::Record;
    if (slot.ready)
        shared.startFailuresInARow.store(0);
    return outcome;
}

// A worker that failed before it took a clip, with the wait status it ended with.
void NoteStartFailure(Shared& shared, grab_protocol::ReadOutcome outcome, int status)
{
    if (outcome == grab_protocol::ReadOutcome::Cancelled || shared.Cancelled())
        return;
    if (outcome == grab_protocol::ReadOutcome::TimedOut)
        NoteStartFailure(shared, "did not take a clip within " + Seconds(shared.options.startLimit));
    else if (outcome == grab_protocol::ReadOutcome::Closed)
        NoteStartFailure(shared, Describe(status) + " before it took a clip");
    else
        NoteStartFailure(shared, "sent a malformed answer before it took a clip");
}

// Gives the request to the slot's worker, starting one when there is none: the worker must say it
// is ready and then acknowledge the request.
Handover HandOver(Shared& shared, Slot& slot, const ThumbnailQueue::Request& job)
{
    if (!slot.worker.Running() && !StartWorker(shared, slot))
        return Handover::NoWorker;
    using grab_protocol::ReadOutcome;
    ReadOutcome outcome = slot.ready ? ReadOutcome::Record : AwaitReady(shared, slot);
    if (outcome == ReadOutcome::Record)
        outcome = (job.strip ? grab_protocol::SendStripRequest(slot.worker.ToChild(), job.strip->request)
                             : grab_protocol::SendRequest(slot.worker.ToChild(), job.path))
                      ? AwaitRecord(shared, slot, grab_protocol::RecordKind::Acknowledged)
                      : ReadOutcome::Closed;
    if (outcome == ReadOutcome::Record)
        return Handover::Taken;
    const int status = StopWorker(slot);
    if (outcome == ReadOutcome::Cancelled || shared.Cancelled())
        return Handover::Cancelled;
    NoteStartFailure(shared, outcome, status);
    return Handover::WorkerFailed;
}

// A worker that failed on a clip it had taken: the clip is logged once and remembered, and a
// fresh worker is started for the next. While the pool stops (its own kills) or when the worker
// was ended from outside, nothing is held against the clip.
void ReplaceWorker(Shared& shared, Slot& slot, const std::string& clipPath, const std::string& what, int status = 0)
{
    StopWorker(slot);
    if (shared.Cancelled())
        return;
    shared.queue->StoreResult(clipPath, ThumbnailResult::Failure("the grab worker " + what));
    if (AskedToEnd(status)) {
        LogEvent("Grab worker %s while making the thumbnail of [%s]; the clip is not held against", what.c_str(),
                 clipPath.c_str());
    } else {
        // Remembered before it is logged: whoever reads the line finds the clip's record.
        shared.failures.Add(clipPath, what);
        LogEvent("Grab worker %s while making the thumbnail of [%s]; a new worker takes over", what.c_str(),
                 clipPath.c_str());
    }
    StartWorker(shared, slot);
}

// A worker ended from outside while on a clip costs the clip nothing: the clip goes back in the
// queue for a fresh worker. Ended from outside on it again, before it was answered (the
// out-of-memory killer may end a worker for what the clip makes it do), it is handled as any
// worker that ended on it.
enum class OutsideEnd { No, PutBack, FolderClosed };
OutsideEnd PutBackAfterOutsideEnd(Shared& shared, Slot& slot, const ThumbnailQueue::Request& job, int status)
{
    if (!EndedFromOutside(status) || shared.Cancelled())
        return OutsideEnd::No;
    {
        std::lock_guard<std::mutex> guard(shared.lock);
        if (!shared.endedFromOutside.insert(job.path).second)
            return OutsideEnd::No;
    }
    StopWorker(slot);
    const bool putBack = shared.queue->PutBack(job);
    LogEvent("Grab worker %s while making the thumbnail of [%s]; the clip is not held against%s",
             Describe(status).c_str(), job.path.c_str(), putBack ? " and is made again" : "");
    StartWorker(shared, slot);
    return putBack ? OutsideEnd::PutBack : OutsideEnd::FolderClosed;
}

// The answer of a worker that acknowledged the clip, within the grab limit from then.
JobEnd ReadAnswer(Shared& shared, Slot& slot, const ThumbnailQueue::Request& job)
{
    const std::string& clipPath = job.path;
    const auto deadline = std::chrono::steady_clock::now() + shared.options.grabLimit;
    std::vector<std::uint8_t> picture;
    std::string why;
    for (;;) {
        grab_protocol::Record record;
        switch (slot.answers->Next(record, deadline, [&shared] { return shared.Cancelled(); })) {
        case grab_protocol::ReadOutcome::Record:
            break;
        case grab_protocol::ReadOutcome::Cancelled:
            StopWorker(slot);  // stopping: the clip is not held against
            return JobEnd::Done;
        case grab_protocol::ReadOutcome::TimedOut:
            ReplaceWorker(shared, slot, clipPath,
                          "took more than " + Seconds(shared.options.grabLimit) + " and was killed");
            return JobEnd::Done;
        case grab_protocol::ReadOutcome::Closed: {
            const int status = slot.worker.Kill();
            switch (PutBackAfterOutsideEnd(shared, slot, job, status)) {
            case OutsideEnd::PutBack:
                return JobEnd::PutBack;
            case OutsideEnd::FolderClosed:
                return JobEnd::Done;
            case OutsideEnd::No:
                ReplaceWorker(shared, slot, clipPath, Describe(status), status);
                return JobEnd::Done;
            }
            return JobEnd::Done;
        }
        case grab_protocol::ReadOutcome::Malformed:
            ReplaceWorker(shared, slot, clipPath, "sent a malformed answer");
            return JobEnd::Done;
        }
        if (record.kind == grab_protocol::RecordKind::LogLine) {
            const std::string line(record.payload.begin(), record.payload.end());
            LogEvent("%s", line.c_str());
        } else if (record.kind == grab_protocol::RecordKind::Picture) {
            picture = std::move(record.payload);
        } else if (record.kind == grab_protocol::RecordKind::End) {
            why.assign(record.payload.begin(), record.payload.end());
            break;
        } else {
            ReplaceWorker(shared, slot, clipPath, "sent a malformed answer");
            return JobEnd::Done;
        }
    }
    shared.store.Add(job, std::move(picture), std::move(why));
    return JobEnd::Stored;
}

// A worker still starting would keep the clip it was given until it is ready, while the clips
// that come on screen meanwhile wait behind it. The clip goes back to the front of the queue
// instead, and once the worker is ready the slot is given whatever is first by then. False
// when the clip stays with this slot: a worker is ready, none can start, or the clip's folder
// was closed.
bool PutBackUntilWorkerReady(Shared& shared, Slot& slot, const ThumbnailQueue::Request& job)
{
    if (slot.ready || (!slot.worker.Running() && !StartWorker(shared, slot)))
        return false;
    if (!shared.queue->PutBack(job))
        return false;
    const grab_protocol::ReadOutcome outcome = AwaitReady(shared, slot);
    if (outcome != grab_protocol::ReadOutcome::Record)
        NoteStartFailure(shared, outcome, StopWorker(slot));
    return true;
}

// Makes the clip's picture in the slot's worker.
JobEnd GrabInWorker(Shared& shared, Slot& slot, const ThumbnailQueue::Request& job)
{
    const std::string& clipPath = job.path;
    // A worker that died between clips is replaced before it is given one.
    int status = 0;
    if (slot.worker.Running() && slot.worker.Ended(status))
        StopWorker(slot);
    if (PutBackUntilWorkerReady(shared, slot, job))
        return JobEnd::PutBack;
    // A worker that failed before it took the clip is replaced by a fresh one.
    Handover handover = Handover::WorkerFailed;
    for (int attempt = 0; attempt < kStartFailuresAllowed && handover == Handover::WorkerFailed; ++attempt)
        handover = HandOver(shared, slot, job);
    if (handover == Handover::Taken) {
        slot.onAClip.store(true);
        const JobEnd answered = ReadAnswer(shared, slot, job);
        slot.onAClip.store(false);
        if (answered != JobEnd::PutBack) {
            std::lock_guard<std::mutex> guard(shared.lock);
            shared.endedFromOutside.erase(clipPath);  // its next try starts afresh
        }
        return answered;
    } else if (handover != Handover::Cancelled) {
        std::lock_guard<std::mutex> one(shared.inProcessGrab);
        GrabWithMediaFramework(*shared.queue, clipPath);
    }
    return JobEnd::Done;
}

// A worker that failed on a strip costs the strip only: nothing is remembered against the clip.
void ReplaceWorkerAfterStrip(Shared& shared, Slot& slot, CStripCollector& strip, const std::string& what)
{
    StopWorker(slot);
    if (shared.Cancelled())
        return;
    strip.Fail("the grab worker " + what);
    LogEvent("Grab worker %s while making the strip of [%s]; a new worker takes over", what.c_str(),
             strip.Name().c_str());
    StartWorker(shared, slot);
}

// Reads a strip's frames as the worker sends them; the limit runs from the last one.
void ReadStripAnswer(Shared& shared, Slot& slot, CStripCollector& strip)
{
    for (;;) {
        grab_protocol::Record record;
        const auto deadline = std::chrono::steady_clock::now() + shared.options.grabLimit;
        switch (slot.answers->Next(record, deadline, [&shared] { return shared.Cancelled(); })) {
        case grab_protocol::ReadOutcome::Record:
            break;
        case grab_protocol::ReadOutcome::Cancelled:
            StopWorker(slot);
            return;
        case grab_protocol::ReadOutcome::TimedOut:
            ReplaceWorkerAfterStrip(shared, slot, strip,
                                    "took more than " + Seconds(shared.options.grabLimit) + " and was killed");
            return;
        case grab_protocol::ReadOutcome::Closed:
            ReplaceWorkerAfterStrip(shared, slot, strip, Describe(slot.worker.Kill()));
            return;
        case grab_protocol::ReadOutcome::Malformed:
            ReplaceWorkerAfterStrip(shared, slot, strip, "sent a malformed answer");
            return;
        }
        StripFrame frame;
        std::vector<std::uint8_t> jpeg;
        std::string problem;
        if (record.kind == grab_protocol::RecordKind::LogLine) {
            LogEvent("%s", std::string(record.payload.begin(), record.payload.end()).c_str());
        } else if (record.kind == grab_protocol::RecordKind::End) {
            strip.Finish(std::string(record.payload.begin(), record.payload.end()));
            return;
        } else if (record.kind != grab_protocol::RecordKind::Frame || !grab_protocol::DecodeFrame(record.payload, frame, jpeg) ||
                   !frame.picture.Adopt(std::move(jpeg), CRgbImage::kMaxThumbnailPixels, problem) ||
                   !strip.Take(std::move(frame))) {
            ReplaceWorkerAfterStrip(shared, slot, strip, "sent a malformed answer");
            return;
        }
    }
}

// Makes a strip in the slot's worker, else in this process.
JobEnd MakeStripOfRecording(Shared& shared, Slot& slot, const ThumbnailQueue::Request& job)
{
    CStripCollector strip(*shared.queue, *job.strip, shared.strips);
    int status = 0;
    if (slot.worker.Running() && slot.worker.Ended(status))
        StopWorker(slot);
    if (PutBackUntilWorkerReady(shared, slot, job))
        return JobEnd::PutBack;
    Handover handover = Handover::WorkerFailed;
    for (int attempt = 0; attempt < kStartFailuresAllowed && handover == Handover::WorkerFailed; ++attempt)
        handover = HandOver(shared, slot, job);
    if (handover == Handover::Taken) {
        slot.onAClip.store(true);
        ReadStripAnswer(shared, slot, strip);
        slot.onAClip.store(false);
    } else if (handover != Handover::Cancelled) {
        std::lock_guard<std::mutex> one(shared.inProcessGrab);
        strip.MakeHere([&shared] { return shared.Cancelled(); });
    }
    return JobEnd::Done;
}

// Makes the clip's thumbnail.
JobEnd MakeThumbnail(Shared& shared, Slot& slot, const ThumbnailQueue::Request& job)
{
    if (job.strip)
        return MakeStripOfRecording(shared, slot, job);
    const std::string& clipPath = job.path;
    if (LoadStoredThumbnail(*shared.queue, clipPath) || job.storedOnly)
        return JobEnd::Done;
    if (settings::UseFFmpeg.Read()) {
        GrabWithFFmpeg(*shared.queue, clipPath);
        return JobEnd::Done;
    }
    if (shared.failures.HasFailed(clipPath)) {
        // Logged when it failed; tried again once the clip changes.
        shared.queue->StoreResult(clipPath, ThumbnailResult::Failure("held back after a failure until the clip changes"));
        return JobEnd::Done;
    }
    return GrabInWorker(shared, slot, job);
}

void SlotMain(std::shared_ptr<Shared> shared, Slot* slot)
{
    // A write to a worker that just died must fail with EPIPE, not end the viewer: the signal
    // is aimed at this thread, which never takes it.
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);

    std::unique_lock<std::mutex> guard(shared->lock);
    for (;;) {
        shared->changed.wait(guard, [&] { return slot->busy || slot->warmUp || shared->stopping; });
        if (slot->warmUp && !slot->busy && !shared->stopping) {
            slot->warmUp = false;
            guard.unlock();
            if (!slot->worker.Running() && (!settings::UseFFmpeg.Read() || settings::SkimClips.Read()))
                StartWorker(*shared, *slot);
            guard.lock();
            continue;
        }
        if (!slot->busy)
            break;
        const ThumbnailQueue::Request job = slot->job;
        guard.unlock();
        JobEnd end = JobEnd::Done;
        try {
            end = MakeThumbnail(*shared, *slot, job);
        } catch (const std::exception& error) {
            LogEvent("Failed to make thumbnail for [%s]: %s", job.path.c_str(), error.what());
        }
        if (end == JobEnd::Done)
            shared->queue->Finished(job);
        guard.lock();
        slot->busy = false;
        shared->changed.notify_all();
    }
    guard.unlock();
    StopWorker(*slot);
    guard.lock();
    slot->finished = true;
    shared->changed.notify_all();
}

}  // namespace

void CGrabPool::StartWorkersAhead()
{
    const std::vector<std::string> command = GrabPoolOptions::DefaultWorkerCommand();
    if (command.empty())
        return;
    WorkersAhead& ahead = Ahead();
    std::lock_guard<std::mutex> guard(ahead.lock);
    ahead.command = command;
    while (static_cast<int>(ahead.workers.size()) < GrabPoolOptions::DefaultSlotCount()) {
        platform::PipedChild worker;
        if (!worker.Start(command, kWorkerEnvironment))
            return;
        ahead.workers.push_back(std::move(worker));
    }
}

int GrabPoolOptions::DefaultSlotCount()
{
    const unsigned cores = std::thread::hardware_concurrency();
    return std::clamp(static_cast<int>(cores), 1, kMaxDecodingSlots);
}

namespace {

// The worker installed beside this program, or the one the environment names; "" for none.
std::string WorkerProgram()
{
    if (const char* named = std::getenv("VIEWMERE_GRAB_WORKER"); named != nullptr && named[0] == '/')
        return named;
    char self[4096];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0)
        return {};
    std::string program(self, static_cast<std::size_t>(length));
    program = program.substr(0, program.rfind('/') + 1) + kGrabWorkerProgramName;
    return access(program.c_str(), X_OK) == 0 ? program : std::string();
}

}  // namespace

std::vector<std::string> GrabPoolOptions::DefaultWorkerCommand()
{
    const std::string program = WorkerProgram();
    if (program.empty())
        return {};
    // The worker makes its pictures at the scale of the viewer's display.
    if (GrabbedPictureScale() != 1)
        return {program, "--picture-scale", std::to_string(GrabbedPictureScale())};
    return {program};
}

CGrabPool::CGrabPool(std::shared_ptr<ThumbnailQueue> queue, GrabPoolOptions options)
    : shared_(std::make_shared<Shared>(std::move(queue), std::move(options)))
{
    if (shared_->options.workerCommand.empty())
        shared_->options.workerCommand = GrabPoolOptions::DefaultWorkerCommand();
    // Only the default size has a slot for reading: a size asked for is that many slots alike.
    const bool defaultSize = shared_->options.slots <= 0;
    if (defaultSize)
        shared_->options.slots = GrabPoolOptions::DefaultSlotCount() + 1;
    shared_->options.slots = std::min(shared_->options.slots, kMaxSlots);
    shared_->readingSlot = static_cast<std::size_t>(defaultSize ? GrabPoolOptions::DefaultSlotCount() : shared_->options.slots);
    for (int i = 0; i < shared_->options.slots; ++i)
        shared_->slots.push_back(std::make_unique<Slot>());
    std::lock_guard<std::mutex> guard(shared_->lock);
    for (auto& slot : shared_->slots) {
        try {
            shared_->threads.emplace_back(&SlotMain, shared_, slot.get());
        } catch (const std::system_error& error) {
            LogEvent("Failed to start a thumbnail slot (%s)", error.what());
            slot->finished = true;
            slot->busy = true;  // never given a clip
        }
    }
}

CGrabPool::~CGrabPool()
{
    Stop(std::chrono::milliseconds(7500));
}

void CGrabPool::WarmUp()
{
    std::lock_guard<std::mutex> guard(shared_->lock);
    // The slot for reading starts its worker with its first clip, after the first screen.
    for (std::size_t i = 0; i < std::min(shared_->readingSlot, shared_->slots.size()); ++i)
        shared_->slots[i]->warmUp = true;
    shared_->changed.notify_all();
}

int CGrabPool::Size() const
{
    return static_cast<int>(shared_->slots.size());
}

bool CGrabPool::WaitForFreeSlot(bool decoding)
{
    const std::size_t among = decoding ? std::min(shared_->readingSlot, shared_->slots.size()) : shared_->slots.size();
    std::unique_lock<std::mutex> guard(shared_->lock);
    shared_->changed.wait(guard, [this, among] {
        return shared_->stopping ||
               std::any_of(shared_->slots.begin(), shared_->slots.begin() + static_cast<std::ptrdiff_t>(among),
                           [](const auto& s) { return !s->busy; });
    });
    return !shared_->stopping;
}

bool CGrabPool::OnlyReadingSlotFree() const
{
    std::lock_guard<std::mutex> guard(shared_->lock);
    for (std::size_t i = 0; i < shared_->slots.size(); ++i)
        if (!shared_->slots[i]->busy)
            return i >= shared_->readingSlot;
    return false;
}

void CGrabPool::Dispatch(ThumbnailQueue::Request request)
{
    std::lock_guard<std::mutex> guard(shared_->lock);
    for (auto& slot : shared_->slots) {  // a slot that decodes first
        if (!slot->busy) {
            slot->job = std::move(request);
            slot->busy = true;
            shared_->changed.notify_all();
            return;
        }
    }
}

bool CGrabPool::Stop(std::chrono::milliseconds limit)
{
    std::unique_lock<std::mutex> guard(shared_->lock);
    if (shared_->threads.empty())
        return true;
    shared_->stopping = true;
    shared_->cancel.store(true, std::memory_order_release);
    shared_->changed.notify_all();
    const bool ended = shared_->changed.wait_for(guard, limit, [this] {
        return std::all_of(shared_->slots.begin(), shared_->slots.end(), [](const auto& s) { return s->finished; });
    });
    std::vector<std::thread> threads = std::move(shared_->threads);
    shared_->threads.clear();
    guard.unlock();
    for (std::thread& thread : threads) {
        if (ended)
            thread.join();
        else
            thread.detach();  // it holds what it uses; its grab was told to give up
    }
    // The answers in before the slots ended are stored, and their requests ended.
    return shared_->store.Drain(limit) && ended;
}

std::vector<int> CGrabPool::WorkerPids(bool onAClipOnly) const
{
    std::vector<int> pids;
    for (const auto& slot : shared_->slots)
        if (const int pid = slot->workerPid.load(); pid > 0 && (!onAClipOnly || slot->onAClip.load()))
            pids.push_back(pid);
    return pids;
}
