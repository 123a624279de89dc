#pragma once
#include "thumbgen/ThumbnailQueue.h"
#include "thumbgen/ThumbnailSharer.h"
#include "thumbgen/WorkThread.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The answers of grab workers, stored on a thread of their own in the order they came: each
// picture is checked as a file read from disk would be, written beside its clip, handed to the
// queue (or the reason there is none) and to the shared cache's writer, and then its request is
// ended.
// A slot gives its worker the next clip as soon as the answer is in, so the card is asked for
// that clip while the files of this one are written and its picture encoded again.
class CPictureStore {
public:
    explicit CPictureStore(std::shared_ptr<ThumbnailQueue> queue);
    CPictureStore(const CPictureStore&) = delete;
    CPictureStore& operator=(const CPictureStore&) = delete;

    // The worker's answer to the request: its picture, empty for none, and why there is none.
    void Add(ThumbnailQueue::Request request, std::vector<std::uint8_t> picture, std::string why);
    // Waits up to `limit` for every answer taken to be stored; false when one is still being
    // stored then (a disk that hangs), which is left to end on its own. Going, the store waits
    // so for up to CWorkThread's end limit.
    bool Drain(std::chrono::milliseconds limit);

    struct Answer {
        ThumbnailQueue::Request request;
        std::vector<std::uint8_t> picture;
        std::string why;
    };

private:
    // Where the answers go, held also by the store's thread.
    struct Targets {
        explicit Targets(std::shared_ptr<ThumbnailQueue> q) : queue(std::move(q)) {}
        std::shared_ptr<ThumbnailQueue> queue;
        CThumbnailSharer sharer;
    };
    std::shared_ptr<Targets> targets_;
    CWorkThread<Answer> storer_;  // after targets_: it ends before they go
};
