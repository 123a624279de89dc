#pragma once
#include "thumbgen/StripCache.h"
#include "thumbgen/ThumbnailQueue.h"

#include <functional>
#include <string>

// Takes a strip's frames as they are made: each goes to the queue at once (so the grid shows it),
// and the whole strip is kept on disk when it ends with every frame made.
class CStripCollector {
public:
    CStripCollector(ThumbnailQueue& queue, const ThumbnailQueue::StripJob& job, const CStripFiles& files)
        : queue_(queue), job_(job), files_(files), strip_(job.request.frames)
    {
    }
    // False for a frame outside the strip.
    bool Take(StripFrame frame);
    // The strip ended: kept on disk when it is whole; the queue is told how it ended.
    void Finish(const std::string& why);
    // Making the strip failed (a worker that crashed on it): the frames sent stay shown, none is
    // kept on disk.
    void Fail(const std::string& why);
    // Makes the strip in this process.
    void MakeHere(const std::function<bool()>& cancelled);
    // The recording's first file, for the log.
    std::string Name() const;

private:
    ThumbnailQueue& queue_;
    const ThumbnailQueue::StripJob& job_;
    const CStripFiles& files_;
    Strip strip_;
};
