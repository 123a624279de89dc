#pragma once
#include "platform/FileDescriptor.h"

#include <atomic>
#include <chrono>

namespace platform {

// A card in a reader answers one request at a time. Two grabs that read their clips' first
// pictures at once interleave their requests: each waits on the card twice as long, and then both
// decode while the card has nothing to do. A grab takes the card's turn for the pieces of its
// clip and gives it back once it has them, so that one grab reads while the other decodes.
//
// The turn is an advisory lock on a file named after the device that holds the clip, in the
// user's runtime folder (else the cache's): shared by every process of the user (two viewers included), and let go
// of by the kernel when its holder ends, however it ends.
class CardTurn {
public:
    CardTurn() = default;
    CardTurn(const CardTurn&) = delete;
    CardTurn& operator=(const CardTurn&) = delete;

    // Waits for the turn of the device that holds `fd`'s file, until `deadline` or until
    // `abandoned` is set. True when it is held, and also when no turn can be kept for the device
    // (no folder for its lock): the reads go ahead then, as they would without turns.
    bool Take(int fd, std::chrono::steady_clock::time_point deadline, const std::atomic<bool>& abandoned);
    void Give();
    bool Held() const { return static_cast<bool>(lock_) || untracked_; }

private:
    FileDescriptor lock_;
    bool untracked_ = false;  // no turn could be kept: reading goes ahead
};

}  // namespace platform
