#include "platform/TransportStream.h"

namespace ts {
namespace {

bool LooksLike(std::span<const std::uint8_t> bytes, const PacketLayout& layout)
{
    int seen = 0;
    for (std::size_t at = layout.first; at < bytes.size() && seen < 3; at += layout.stride, ++seen)
        if (bytes[at] != kSync)
            return false;
    return seen > 0 && layout.first + kPacketBytes <= bytes.size();
}

// A 33-bit time stamp in its five bytes, or nothing when its marker bits are not set.
std::optional<std::uint64_t> ReadTimeStamp(const std::uint8_t* b)
{
    if ((b[0] & 0x01) == 0 || (b[2] & 0x01) == 0 || (b[4] & 0x01) == 0)
        return std::nullopt;
    return (static_cast<std::uint64_t>(b[0] >> 1) & 0x07) << 30 | static_cast<std::uint64_t>(b[1]) << 22 |
           static_cast<std::uint64_t>(b[2] >> 1) << 15 | static_cast<std::uint64_t>(b[3]) << 7 | b[4] >> 1;
}

}  // namespace

std::optional<PacketLayout> DetectLayout(std::span<const std::uint8_t> bytes)
{
    for (const PacketLayout layout : {PacketLayout{4, 192}, PacketLayout{0, kPacketBytes}})
        if (LooksLike(bytes, layout))
            return layout;
    return std::nullopt;
}

Packet ReadPacket(const std::uint8_t* packet)
{
    Packet read;
    if (packet[0] != kSync || (packet[1] & 0x80) != 0)
        return read;  // lost sync or a transport error
    read.unitStart = (packet[1] & 0x40) != 0;
    read.pid = (packet[1] & 0x1fu) << 8 | packet[2];
    const unsigned control = (packet[3] >> 4) & 0x03;
    std::size_t start = 4;
    if ((control & 0x02) != 0)
        start += 1 + packet[4];
    if ((control & 0x01) == 0 || start >= kPacketBytes || read.pid == kNullPid)
        return read;
    read.usable = true;
    read.payload = packet + start;
    read.payloadBytes = kPacketBytes - start;
    return read;
}

std::optional<PesHeader> ReadPesHeader(const std::uint8_t* payload, std::size_t bytes)
{
    if (bytes < 9 || payload[0] != 0 || payload[1] != 0 || payload[2] != 1)
        return std::nullopt;
    PesHeader header;
    header.video = (payload[3] & 0xf0) == 0xe0;
    header.headerBytes = 9u + payload[8];
    if (header.headerBytes > bytes)
        return std::nullopt;
    const unsigned flags = payload[7] >> 6;  // 2: a PTS, 3: a PTS and a DTS
    if ((flags & 0x02) != 0 && header.headerBytes >= 14)
        header.pts = ReadTimeStamp(payload + 9);
    if (flags == 3 && header.headerBytes >= 19)
        header.dts = ReadTimeStamp(payload + 14);
    return header;
}

}  // namespace ts
