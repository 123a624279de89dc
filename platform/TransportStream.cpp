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

// The table section that starts a packet's payload (after the pointer field), from its table id
// to its end without the CRC; empty when it is not whole in the payload, is not the table asked
// for, or is one of several sections of its table.
std::span<const std::uint8_t> SectionBody(const Packet& packet, std::uint8_t tableId)
{
    if (!packet.usable || !packet.unitStart || packet.payloadBytes < 1)
        return {};
    const std::size_t start = 1u + packet.payload[0];
    if (start + 3 > packet.payloadBytes || packet.payload[start] != tableId)
        return {};
    const std::uint8_t* section = packet.payload + start;
    const std::size_t length = (section[1] & 0x0fu) << 8 | section[2];
    // A section's header after its length is 5 bytes, and its CRC 4. A table of more than one
    // section is not read.
    if (length < 9 || start + 3 + length > packet.payloadBytes || section[6] != 0 || section[7] != 0)
        return {};
    return {section, 3 + length - 4};
}

constexpr unsigned kStreamTypeH264 = 0x1b;
constexpr unsigned kStreamTypeScalableH264 = 0x1f;
constexpr unsigned kStreamTypeMultiviewH264 = 0x20;

}  // namespace

std::optional<unsigned> ReadSoleProgramMapPid(const Packet& packet)
{
    const std::span<const std::uint8_t> table = SectionBody(packet, 0x00);
    std::optional<unsigned> mapPid;
    for (std::size_t at = 8; at + 4 <= table.size(); at += 4) {
        const unsigned program = static_cast<unsigned>(table[at]) << 8 | table[at + 1];
        if (program == 0)
            continue;  // the network information table
        if (mapPid)
            return std::nullopt;
        mapPid = (table[at + 2] & 0x1fu) << 8 | table[at + 3];
    }
    return mapPid;
}

std::optional<unsigned> ReadSoleH264Pid(const Packet& packet)
{
    const std::span<const std::uint8_t> table = SectionBody(packet, 0x02);
    if (table.size() < 12)
        return std::nullopt;
    const std::size_t programInfo = (table[10] & 0x0fu) << 8 | table[11];
    std::optional<unsigned> videoPid;
    std::size_t at = 12 + programInfo;
    for (; at + 5 <= table.size(); at += 5 + ((table[at + 3] & 0x0fu) << 8 | table[at + 4])) {
        const unsigned type = table[at];
        if (type == kStreamTypeScalableH264 || type == kStreamTypeMultiviewH264 ||
            (type == kStreamTypeH264 && videoPid))
            return std::nullopt;
        if (type == kStreamTypeH264)
            videoPid = (table[at + 1] & 0x1fu) << 8 | table[at + 2];
    }
    return at == table.size() ? videoPid : std::nullopt;
}

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
    read.continuity = packet[3] & 0x0fu;
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
