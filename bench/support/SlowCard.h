#pragma once
// A folder served read-only through FUSE at the speed of a card in a USB reader: one request at
// a time, each costing a fixed time plus its bytes at the card's rate. The kernel in front of it
// caches pages and reads ahead as it does for a card's block device, so what the file system is
// asked for is what a real card would be asked for. Every read it serves is counted, per file and
// per reading process. Mounted in a thread of the bench, unmounted when it goes (its cache with it).
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace bench {

class SlowCard {
public:
    struct Speed {
        double bytesPerSecond = 40e6;
        std::chrono::microseconds perRequest{500};
    };
    // One read request the card served.
    struct Read {
        std::string path;  // in the card, from its root ("/00000.MTS")
        std::uint64_t offset = 0;
        std::uint32_t bytes = 0;
        int pid = 0;        // the process that caused it
        double asked = 0;    // since the mount, when the request came
        double seconds = 0;  // since the mount, when it was answered
    };

    SlowCard(const std::string& source, const std::string& mountPoint, Speed speed);
    ~SlowCard();
    SlowCard(const SlowCard&) = delete;
    SlowCard& operator=(const SlowCard&) = delete;

    bool Mounted() const;
    std::vector<Read> Reads() const;

    struct State;

private:
    std::unique_ptr<State> state_;
};

}  // namespace bench
