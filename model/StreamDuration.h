#pragma once
#include "platform/TransportStream.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

// How long a clip's pictures last, from the decode time stamps of its video: the first one in
// the bytes at the start of the file and the last one in the bytes at its end. At a constant
// frame rate the decode times of N pictures are N evenly spaced values, whatever order the
// pictures are shown in, so the duration is last - first + one picture, and the middle of the
// file is never read. One picture's time is the step between the last two decode times where
// both lie in what was read of the end anyway, else the frame rate of the stream's sequence
// parameter set. A file cut at a card's size limit (it starts without a key frame, in the middle
// of a group of pictures) is measured the same way.

// The video's first decode time in the bytes at the start of a stream.
struct VideoStart {
    ts::PacketLayout layout;
    unsigned pid = 0;             // the first PID that carries a video PES
    std::uint64_t decodeTime = 0;  // 90 kHz
    std::optional<std::uint64_t> pictureTicks;  // one picture, from the stream's frame rate
};
std::optional<VideoStart> FindVideoStart(std::span<const std::uint8_t> head);

// The last two decode times of the video PID found so far, scanning from the end backwards.
struct VideoEnd {
    std::optional<std::uint64_t> last;
    std::optional<std::uint64_t> beforeLast;
    bool Complete() const { return last && beforeLast; }
};
// Adds what a piece of the file holds that lies before everything scanned so far, from its
// end back until the last two are found. The piece starts at a packet of the start's layout.
void ScanVideoEnd(std::span<const std::uint8_t> piece, const VideoStart& start, VideoEnd& end);

// The duration in seconds, or nothing when the times do not make a plausible one (under a day,
// pictures at most a second apart) or do not suffice.
std::optional<double> DurationOf(const VideoStart& start, const VideoEnd& end);

// Reads the end of an open clip of `fileSize` bytes backwards, a piece at a time, until it knows
// the last picture's time and one picture's length, and gives the duration. A camcorder's pictures are a few hundred KB at
// most, so the limit is only met by streams of another kind (or no video at the end).
inline constexpr std::size_t kMaxTailBytes = 4 * 1024 * 1024;
std::optional<double> ReadStreamDuration(int fd, std::uint64_t fileSize, const VideoStart& start);
