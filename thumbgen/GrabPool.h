#pragma once
#include "thumbgen/FrameGrab.h"
#include "thumbgen/ThumbnailQueue.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

// How the generator's grabs run.
struct GrabPoolOptions {
    // The grab worker's command line; empty means the worker program beside this program (or the
    // one VIEWMERE_GRAB_WORKER names, for running from a build tree).
    std::vector<std::string> workerCommand;
    // Clips made at once; 0 means one per core (at most 4) and one more, whose worker reads a clip
    // from a card while the others decode.
    int slots = 0;
    // How long a worker may take over one clip, from its acknowledgement, before it is killed
    // and replaced: a backstop well after the worker's own limit to the first frame, so a clip
    // that is only slow (or a slow card) ends with the worker's reason and is tried again at the
    // next visit; only a worker that stopped answering (a decoder stuck) is killed for it.
    std::chrono::milliseconds grabLimit = kFirstFrameLimit + std::chrono::milliseconds(10000);
    // How long a new worker may take to say it is ready (the media framework's first look at its
    // plugins after an upgrade takes seconds), and a ready one to acknowledge a clip.
    std::chrono::milliseconds startLimit{30000};
    // Where clips that crashed or hung a worker are remembered; "" means the user's cache.
    std::string failureFolder;
    // Where finished strips are kept; "" means the user's cache.
    std::string stripFolder;

    // The slots that decode at once: one per core, at most 4. Their workers are the ones started
    // ahead of the window.
    static int DefaultSlotCount();
    static std::vector<std::string> DefaultWorkerCommand();
};

// The generator's slots: each makes one clip's thumbnail at a time on a thread of its own, from
// the clip's thumbnail file, with ffmpeg, or through a grab worker process of its own that it
// keeps running between clips. The generator's worker thread hands each slot its clip. A worker
// that crashes or runs past the grab limit after it acknowledged a clip costs that clip only: the
// clip is logged and remembered, and a fresh worker takes over. A worker that fails before it
// acknowledged its clip is a broken worker, never the clip's fault; after two of those in a row
// the thumbnails are made in the viewer's own process, one at a time. Nothing is held against a
// clip while the pool stops, nor when someone else ended the worker with a termination signal.
// Strips (frames spread over a recording, for skimming) go the same way; a worker that fails on
// one costs the strip only, never the clip's thumbnail. A finished strip is kept on disk.
class CGrabPool {
public:
    CGrabPool(std::shared_ptr<ThumbnailQueue> queue, GrabPoolOptions options);
    ~CGrabPool();
    CGrabPool(const CGrabPool&) = delete;
    CGrabPool& operator=(const CGrabPool&) = delete;

    int Size() const;
    // Waits until a slot is free (one that decodes, when asked); false once the pool stops.
    bool WaitForFreeSlot(bool decoding = false);
    // Whether the only free slot is the one for reading, which takes no clip wanted at once (one
    // on screen, a strip), nor any clip while one on screen is being made: the first screen is
    // made by the slots that decode, and neither starting its worker nor its reads take a core
    // or the card from them.
    bool OnlyReadingSlotFree() const;
    // Hands a request to a free slot (one must be free); the slot ends it in the queue.
    void Dispatch(ThumbnailQueue::Request request);
    // Starts the grab workers now, so they are ready when the first clip comes (not in ffmpeg
    // mode, which needs none).
    void WarmUp();
    // Ends every slot: running grabs are cancelled and their processes killed at once. Waits for
    // the slots up to `limit`; a slot still busy then (a hung disk) is left to end on its own.
    // True when every slot ended in time.
    bool Stop(std::chrono::milliseconds limit);

    // Starts the grab workers that a pool of the default size and worker command starts, now:
    // at the program's start, so that they load the media framework while its window comes up
    // instead of after. The first such pool takes them over; workers no pool takes end with the
    // program.
    static void StartWorkersAhead();

    // The process ids of the running grab workers (only those that took a clip and are still on
    // it, when asked), for tests.
    std::vector<int> WorkerPids(bool onAClipOnly = false) const;

    // The slots' state, shared with their threads.
    struct Shared;

private:
    std::shared_ptr<Shared> shared_;
};
