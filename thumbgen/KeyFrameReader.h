#pragma once
#include "platform/FileDescriptor.h"
#include "platform/TransportStream.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

// The key pictures of a clip's transport stream, found in the file itself: the one nearest a
// time, and its coded bytes. A frame of a strip then costs a read of about a second of the
// stream and the decode of one picture, wherever it lies. (A demuxer's seek by time starts
// seconds early and decodes forward to the time, or lands seconds away from it.)
//
// A key picture is a video PES whose first packet is marked as a random access point, or whose
// first bytes hold a sequence parameter set or an IDR slice. Nothing here trusts a field beyond
// the bytes read.
class CKeyFrameReader {
public:
    // One coded picture: its presentation time (90 kHz, as the stream has it) and its H.264
    // byte stream.
    struct CodedPicture {
        std::uint64_t pts = 0;
        std::vector<std::uint8_t> bytes;
    };
    struct KeyFrame {
        double seconds = 0;  // after the file's first picture
        // The key picture, then the other half of a field pair when the stream carries it in
        // a PES of its own (shown within a field's time of the first).
        std::vector<CodedPicture> pictures;
    };

    // Reads the start of the file (its packet layout, video stream and first picture's time) and
    // its end (the last picture's time). False, with the reason in Problem(), for a file that is
    // not a transport stream with a video stream.
    bool Open(const std::string& path);
    // The same for a file already open (the reader takes it).
    bool Open(platform::FileDescriptor file);
    // Lets go of the file.
    void Close() { file_ = platform::FileDescriptor(); }
    // From the first picture to the last, in seconds.
    double Duration() const { return static_cast<double>(lastTicks_) / kTicksPerSecond; }
    // The key frame nearest the time (seconds after the first picture), or nothing, with the
    // reason in Problem().
    std::optional<KeyFrame> Nearest(double seconds);
    const std::string& Problem() const { return problem_; }

    static constexpr std::int64_t kTicksPerSecond = 90000;

private:
    struct PesStart {
        std::uint64_t packet = 0;  // index of its first packet
        std::int64_t ticks = 0;    // shown this long after the first picture
        bool key = false;
    };
    // Calls `visit` for each video PES that starts at or after packet `from`, in file order,
    // until it answers false, the end of the file, or `maxPackets` were read. False when a read
    // failed (a card pulled).
    bool ForEachPesStart(std::uint64_t from, std::uint64_t maxPackets, const std::function<bool(const PesStart&)>& visit);
    // Reads `count` packets from packet `first`; the packets read.
    std::span<const std::uint8_t> ReadPackets(std::uint64_t first, std::uint64_t count, bool& failed);
    std::uint64_t PacketCount() const;
    // The packet about where the stream shows the given time (seconds after the first picture).
    std::uint64_t PacketNear(double seconds) const;
    std::int64_t TicksOf(std::uint64_t pts) const;
    // The coded bytes of the PES that starts at the packet, and of the next one when it is the
    // other field of the same frame.
    std::optional<KeyFrame> Extract(const PesStart& start);
    bool FindStart();
    void FindEnd();
    bool Fail(std::string why);

    platform::FileDescriptor file_;
    std::uint64_t size_ = 0;
    ts::PacketLayout layout_;
    unsigned pid_ = 0;
    std::uint64_t firstPts_ = 0;
    std::int64_t lastTicks_ = 0;
    std::vector<std::uint8_t> buffer_;
    std::vector<std::uint8_t> parameterSets_;  // the stream's first SPS and PPS, for pictures without their own
    std::string problem_;
};
