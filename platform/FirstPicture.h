#pragma once
#include "platform/H264Stream.h"
#include "platform/TransportStream.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace ts {

// Finds where the bytes that a transport stream's first picture needs end, as the stream is
// read from its start: the first whole IDR frame of its H.264 video and everything before it,
// up to the packet that starts the video's next access unit (which is read to know that the
// frame is complete, but not given: its piece of a picture would only be decoded in vain). A
// decoder given just these bytes and then the end of the stream shows the same first picture as
// one given the whole stream: nothing before an IDR picture is shown after it, and nothing
// after it before it.
//
// It gives up (and the stream is read on as a whole) wherever that cannot be told for sure: no
// sole program and H.264 stream in the tables, lost sync or packets, an IDR picture that is a
// single field, a next unit that continues the frame, or no IDR frame within the first
// kMaxUnits units or kMaxBytes bytes. Nothing here trusts a field beyond the bytes it is given.
class FirstPictureEnd {
public:
    enum class State { Looking, Found, GaveUp };
    static constexpr std::size_t kMaxUnits = 64;
    static constexpr std::uint64_t kMaxBytes = 32 * 1024 * 1024;
    // A video unit larger than this is no camcorder picture.
    static constexpr std::size_t kMaxUnitBytes = 8 * 1024 * 1024;

    explicit FirstPictureEnd(PacketLayout layout) : layout_(layout), nextPacket_(layout.first) {}

    // The next bytes of the stream, in order from offset 0, in pieces of any size.
    State Add(std::span<const std::uint8_t> bytes);
    State Current() const { return state_; }
    // Once found: the offset of the packet that starts the unit after the first frame (of its
    // arrival time, in a 192-byte packet).
    std::uint64_t End() const { return end_; }

private:
    void AddPacket(const std::uint8_t* packet, std::uint64_t endOffset);
    void AddVideo(const Packet& packet, std::uint64_t endOffset);
    // Reads the parameter sets and slices of the unit just completed: true when it holds an
    // IDR frame. Gives up at an IDR field.
    bool CompletedUnitHoldsIdrFrame();
    bool StartsAccessUnit(std::span<const std::uint8_t> payload);
    const h264::SequenceSet* SetOfPicture(unsigned pictureSet) const;
    void GiveUp() { state_ = State::GaveUp; }

    PacketLayout layout_;
    State state_ = State::Looking;
    std::uint64_t end_ = 0;
    std::uint64_t nextPacket_;     // offset of the next packet to read
    std::uint64_t windowStart_ = 0;
    std::vector<std::uint8_t> window_;  // bytes from windowStart_ not yet read as packets
    std::optional<unsigned> mapPid_;
    std::optional<unsigned> videoPid_;
    std::optional<unsigned> lastContinuity_;
    bool inUnit_ = false;
    std::size_t units_ = 0;
    std::vector<std::uint8_t> unit_;  // the elementary stream of the video unit being read
    std::array<std::optional<h264::SequenceSet>, 32> sequenceSets_;
    std::array<std::optional<unsigned>, 256> pictureSets_;  // the sequence set each names
};

}  // namespace ts
