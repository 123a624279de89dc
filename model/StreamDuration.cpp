#include "model/StreamDuration.h"

#include "platform/H264Stream.h"
#include "platform/FileSystem.h"

#include <algorithm>
#include <vector>

namespace {

constexpr std::uint64_t kClockHz = 90000;
constexpr std::uint64_t kTimeStampWrap = std::uint64_t{1} << 33;
constexpr std::uint64_t kLongestDuration = 24 * 3600 * kClockHz;
// The end is read backwards in pieces of whole packets that each lie within 128 KiB of whole
// pages: one request of a card's reader (and of the kernel's reads through FUSE). A camcorder's
// last picture starts within the last 100 KB or so; from a card one read of 128 KB costs about
// what one of 32 KB does, while four of them cost four times as much.
constexpr std::uint64_t kPieceBytes = 128 * 1024;
constexpr std::uint64_t kPageBytes = 4096;
// The start's first picture is read this far for its sequence parameter set.
constexpr std::size_t kParameterSetBytes = 4096;

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

// The piece buffer of this thread, kept between calls (a fresh one would be mapped and faulted in
// at every clip) but sized by each call: one file's packets may be larger than the last's.
std::uint8_t* PieceBuffer(std::size_t bytes)
{
    thread_local std::vector<std::uint8_t> piece;
    if (piece.size() < bytes)
        piece.resize(bytes);
    return piece.data();
}

}  // namespace

// The first bytes of the video stream from the packet at `at` on, its PES headers left out.
std::vector<std::uint8_t> VideoBytesFrom(std::span<const std::uint8_t> head, std::size_t at, const VideoStart& start)
{
    std::vector<std::uint8_t> video;
    for (; at + ts::kPacketBytes <= head.size() && video.size() < kParameterSetBytes; at += start.layout.stride) {
        const ts::Packet packet = ts::ReadPacket(head.data() + at);
        if (!packet.usable || packet.pid != start.pid)
            continue;
        std::size_t skip = 0;
        if (packet.unitStart) {
            const std::optional<ts::PesHeader> pes = ts::ReadPesHeader(packet.payload, packet.payloadBytes);
            if (!pes)
                break;
            skip = pes->headerBytes;
        }
        video.insert(video.end(), packet.payload + skip, packet.payload + packet.payloadBytes);
    }
    return video;
}

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
            start.pictureTicks = h264::PictureTicks(VideoBytesFrom(head, at, start));
            return start;
        }
    }
    return std::nullopt;
}

void ScanVideoEnd(std::span<const std::uint8_t> piece, const VideoStart& start, VideoEnd& end)
{
    // From the piece's last packet back: the piece lies before what was scanned already.
    const std::size_t stride = start.layout.stride;
    if (piece.size() < ts::kPacketBytes)
        return;
    for (std::size_t at = (piece.size() - ts::kPacketBytes) / stride * stride + stride; at >= stride && !end.Complete();) {
        at -= stride;
        if (const std::optional<std::uint64_t> time = VideoDecodeTime(piece.data() + at, start.pid))
            (end.last ? end.beforeLast : end.last) = *time;
    }
}

std::optional<double> DurationOf(const VideoStart& start, const VideoEnd& end)
{
    if (!end.last || (!end.beforeLast && !start.pictureTicks))
        return std::nullopt;
    const std::uint64_t picture = end.beforeLast ? Elapsed(*end.beforeLast, *end.last) : *start.pictureTicks;
    const std::uint64_t span = Elapsed(start.decodeTime, *end.last);
    if (picture == 0 || picture > kClockHz || span + picture > kLongestDuration)
        return std::nullopt;
    return static_cast<double>(span + picture) / kClockHz;
}

namespace {

// The first packet of the piece that ends with packet `endPacket` - 1: as many packets as fit
// in the 128 KiB of pages that end with the page of its last byte, at least one.
std::uint64_t PieceBegin(const ts::PacketLayout& layout, std::uint64_t endPacket)
{
    const std::uint64_t lastByte = layout.first + (endPacket - 1) * layout.stride + ts::kPacketBytes;
    const std::uint64_t pagesEnd = (lastByte + kPageBytes - 1) / kPageBytes * kPageBytes;
    const std::uint64_t window = pagesEnd > kPieceBytes ? pagesEnd - kPieceBytes : 0;
    const std::uint64_t first = window <= layout.first ? 0 : (window - layout.first + layout.stride - 1) / layout.stride;
    return std::min(first, endPacket - 1);
}

}  // namespace

std::optional<double> ReadStreamDuration(int fd, std::uint64_t fileSize, const VideoStart& start)
{
    const ts::PacketLayout& layout = start.layout;
    if (fileSize < layout.first + ts::kPacketBytes)
        return std::nullopt;
    // Packets [0, endPacket) lie wholly in the file; a last one cut short is left out.
    std::uint64_t endPacket = (fileSize - layout.first - ts::kPacketBytes) / layout.stride + 1;
    VideoEnd end;
    std::uint8_t* const piece = PieceBuffer(static_cast<std::size_t>(kPieceBytes));
    auto known = [&] { return end.Complete() || (end.last && start.pictureTicks); };
    for (std::size_t read = 0; !known() && endPacket > 0 && read < kMaxTailBytes;) {
        const std::uint64_t beginPacket = PieceBegin(layout, endPacket);
        const std::size_t bytes = static_cast<std::size_t>((endPacket - beginPacket - 1) * layout.stride + ts::kPacketBytes);
        bool failed = false;
        if (platform::ReadAt(fd, piece, bytes, layout.first + beginPacket * layout.stride, failed) != bytes)
            return std::nullopt;
        ScanVideoEnd({piece, bytes}, start, end);
        read += bytes;
        endPacket = beginPacket;
    }
    return DurationOf(start, end);
}
