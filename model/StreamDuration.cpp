#include "model/StreamDuration.h"

#include <unistd.h>

#include <cerrno>
#include <vector>

namespace {

constexpr std::uint64_t kClockHz = 90000;
constexpr std::uint64_t kTimeStampWrap = std::uint64_t{1} << 33;
constexpr std::uint64_t kLongestDuration = 24 * 3600 * kClockHz;
// The end is read in pieces of this many packets (64 KB of M2TS): at a camcorder's bit rate the
// last two pictures usually lie in the last one or two.
constexpr std::uint64_t kPiecePackets = 340;

// The decode time of the video PES that a packet starts, if it starts one.
std::optional<std::uint64_t> VideoDecodeTime(const std::uint8_t* bytes, const std::optional<unsigned>& pid,
                                             unsigned* foundPid = nullptr)
{
    const ts::Packet packet = ts::ReadPacket(bytes);
    if (!packet.usable || !packet.unitStart || (pid && packet.pid != *pid))
        return std::nullopt;
    const std::optional<ts::PesHeader> pes = ts::ReadPesHeader(packet.payload, packet.payloadBytes);
    if (!pes || !pes->video)
        return std::nullopt;
    if (foundPid != nullptr)
        *foundPid = packet.pid;
    return pes->DecodeTime();
}

std::uint64_t Elapsed(std::uint64_t from, std::uint64_t to)
{
    return (to + kTimeStampWrap - from) % kTimeStampWrap;
}

bool ReadAt(int fd, std::uint8_t* buffer, std::size_t wanted, std::uint64_t offset)
{
    std::size_t got = 0;
    while (got < wanted) {
        const ssize_t n = pread(fd, buffer + got, wanted - got, static_cast<off_t>(offset + got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        got += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

std::optional<VideoStart> FindVideoStart(std::span<const std::uint8_t> head)
{
    const std::optional<ts::PacketLayout> layout = ts::DetectLayout(head);
    if (!layout)
        return std::nullopt;
    for (std::size_t at = layout->first; at + ts::kPacketBytes <= head.size(); at += layout->stride) {
        VideoStart start;
        if (const std::optional<std::uint64_t> time = VideoDecodeTime(head.data() + at, std::nullopt, &start.pid)) {
            start.layout = *layout;
            start.decodeTime = *time;
            return start;
        }
    }
    return std::nullopt;
}

void ScanVideoEnd(std::span<const std::uint8_t> piece, const VideoStart& start, VideoEnd& end)
{
    std::vector<std::uint64_t> times;
    for (std::size_t at = 0; at + ts::kPacketBytes <= piece.size(); at += start.layout.stride)
        if (const std::optional<std::uint64_t> time = VideoDecodeTime(piece.data() + at, start.pid))
            times.push_back(*time);
    // The piece lies before what was scanned already: its times come first.
    for (auto time = times.rbegin(); time != times.rend() && !end.Complete(); ++time)
        (end.last ? end.beforeLast : end.last) = *time;
}

std::optional<double> DurationOf(const VideoStart& start, const VideoEnd& end)
{
    if (!end.Complete())
        return std::nullopt;
    const std::uint64_t picture = Elapsed(*end.beforeLast, *end.last);
    const std::uint64_t span = Elapsed(start.decodeTime, *end.last);
    if (picture == 0 || picture > kClockHz || span + picture > kLongestDuration)
        return std::nullopt;
    return static_cast<double>(span + picture) / kClockHz;
}

std::optional<double> ReadStreamDuration(int fd, std::uint64_t fileSize, const VideoStart& start)
{
    const ts::PacketLayout& layout = start.layout;
    if (fileSize < layout.first + ts::kPacketBytes)
        return std::nullopt;
    // Packets [0, endPacket) lie wholly in the file; a last one cut short is left out.
    std::uint64_t endPacket = (fileSize - layout.first - ts::kPacketBytes) / layout.stride + 1;
    VideoEnd end;
    std::vector<std::uint8_t> piece;
    for (std::size_t read = 0; !end.Complete() && endPacket > 0 && read < kMaxTailBytes;) {
        const std::uint64_t beginPacket = endPacket > kPiecePackets ? endPacket - kPiecePackets : 0;
        piece.resize(static_cast<std::size_t>((endPacket - beginPacket - 1) * layout.stride + ts::kPacketBytes));
        if (!ReadAt(fd, piece.data(), piece.size(), layout.first + beginPacket * layout.stride))
            return std::nullopt;
        ScanVideoEnd(piece, start, end);
        read += piece.size();
        endPacket = beginPacket;
    }
    return DurationOf(start, end);
}
