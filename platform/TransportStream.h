#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

// The pieces of an MPEG transport stream that the readers of a clip's start and end need: where
// the packets lie (188-byte packets, or the 192-byte packets of an M2TS file with a 4-byte
// arrival time in front), what one packet carries, the time stamps of a packetised elementary
// stream (PES) header, and the tables that say which packets carry the video. Nothing here
// trusts a field beyond the bytes it is given.
namespace ts {

inline constexpr std::size_t kPacketBytes = 188;
inline constexpr std::uint8_t kSync = 0x47;
inline constexpr unsigned kNullPid = 0x1fff;

// Where packet k starts: first + k * stride.
struct PacketLayout {
    std::size_t first = 0;
    std::size_t stride = kPacketBytes;
};

// The layout of bytes from the start of a stream, when they look like one (three sync bytes in a
// row, or as many as the bytes hold, M2TS tried first).
std::optional<PacketLayout> DetectLayout(std::span<const std::uint8_t> bytes);

// One 188-byte packet as it is read.
struct Packet {
    bool usable = false;    // in sync, no transport error, not padding, with a payload
    bool unitStart = false; // the payload starts a PES packet or a table section
    unsigned pid = 0;
    unsigned continuity = 0;  // counts the packets of a PID that carry a payload, modulo 16
    const std::uint8_t* payload = nullptr;
    std::size_t payloadBytes = 0;
};
Packet ReadPacket(const std::uint8_t* packet);

// A PES header at the start of a payload: a video stream (ids 0xE0 to 0xEF) and the length of
// the header, so the elementary stream starts right after it.
struct PesHeader {
    bool video = false;
    std::size_t headerBytes = 0;
    std::optional<std::uint64_t> pts;  // 90 kHz, 33 bits
    std::optional<std::uint64_t> dts;  // present only when it differs from the PTS
    // The decode time: the DTS, or the PTS when there is no DTS.
    std::optional<std::uint64_t> DecodeTime() const { return dts ? dts : pts; }
};
// Nothing when the payload does not start with a whole PES header.
std::optional<PesHeader> ReadPesHeader(const std::uint8_t* payload, std::size_t bytes);

// The program map PID that a program association table in a packet's payload names, when the
// table names exactly one program and lies whole in the packet.
inline constexpr unsigned kAssociationPid = 0;
std::optional<unsigned> ReadSoleProgramMapPid(const Packet& packet);

// The PID of the H.264 video stream (stream type 0x1B) that a program map table in a packet's
// payload lists, when it lists exactly one, no other stream that is H.264 too (scalable or
// multiview video), and lies whole in the packet.
std::optional<unsigned> ReadSoleH264Pid(const Packet& packet);

}  // namespace ts
