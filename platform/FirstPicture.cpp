#include "platform/FirstPicture.h"

#include <algorithm>

namespace ts {
namespace {

using h264::kNalTypeDelimiter;
using h264::kNalTypeIdrSlice;
using h264::kNalTypePps;
using h264::kNalTypeSei;
using h264::kNalTypeSps;

// Units that may start an access unit once the pictures of the one before are complete; a slice
// may continue the picture before it, so one that starts a unit is never taken as its start.
bool OpensAccessUnit(int type)
{
    return type == kNalTypeDelimiter || type == kNalTypeSps || type == kNalTypePps || type == kNalTypeSei ||
           (type >= 14 && type <= 18);
}

}  // namespace

FirstPictureEnd::State FirstPictureEnd::Add(std::span<const std::uint8_t> bytes)
{
    if (state_ != State::Looking)
        return state_;
    window_.insert(window_.end(), bytes.begin(), bytes.end());
    const std::uint64_t available = windowStart_ + window_.size();
    while (state_ == State::Looking && nextPacket_ + kPacketBytes <= available) {
        AddPacket(window_.data() + (nextPacket_ - windowStart_), nextPacket_ + kPacketBytes);
        nextPacket_ += layout_.stride;
        if (state_ == State::Looking && nextPacket_ > kMaxBytes)
            GiveUp();
    }
    // Only the bytes of packets not yet read are kept.
    const std::size_t read = static_cast<std::size_t>(std::min<std::uint64_t>(nextPacket_ - windowStart_, window_.size()));
    window_.erase(window_.begin(), window_.begin() + static_cast<std::ptrdiff_t>(read));
    windowStart_ += read;
    return state_;
}

void FirstPictureEnd::AddPacket(const std::uint8_t* bytes, std::uint64_t endOffset)
{
    // A demuxer finds its way back into a stream that lost sync or packets; where it does is
    // not for this reader to guess.
    if (bytes[0] != kSync || (bytes[1] & 0x80) != 0)
        return GiveUp();
    const Packet packet = ReadPacket(bytes);
    if (!packet.usable)
        return;
    if (packet.pid == kAssociationPid) {
        if (!mapPid_ && packet.unitStart && !(mapPid_ = ReadSoleProgramMapPid(packet)))
            GiveUp();
    } else if (mapPid_ && packet.pid == *mapPid_) {
        if (!videoPid_ && packet.unitStart && !(videoPid_ = ReadSoleH264Pid(packet)))
            GiveUp();
    } else if (videoPid_ && packet.pid == *videoPid_) {
        AddVideo(packet, endOffset);
    }
}

void FirstPictureEnd::AddVideo(const Packet& packet, std::uint64_t endOffset)
{
    if (lastContinuity_ && packet.continuity != (*lastContinuity_ + 1) % 16)
        return GiveUp();  // a packet lost, or one sent twice
    lastContinuity_ = packet.continuity;
    if (!packet.unitStart) {
        if (!inUnit_)
            return;  // the demuxer, too, waits for the first unit's start
        if (unit_.size() + packet.payloadBytes > kMaxUnitBytes)
            return GiveUp();
        unit_.insert(unit_.end(), packet.payload, packet.payload + packet.payloadBytes);
        return;
    }
    const std::optional<PesHeader> pes = ReadPesHeader(packet.payload, packet.payloadBytes);
    if (!pes || !pes->video)
        return GiveUp();
    const std::span<const std::uint8_t> start(packet.payload + pes->headerBytes, packet.payloadBytes - pes->headerBytes);
    if (inUnit_ && CompletedUnitHoldsIdrFrame()) {
        if (state_ != State::Looking)
            return;
        if (!StartsAccessUnit(start))
            return GiveUp();
        state_ = State::Found;
        end_ = endOffset - kPacketBytes - layout_.first;
        return;
    }
    if (state_ != State::Looking)
        return;
    if (++units_ > kMaxUnits)
        return GiveUp();
    inUnit_ = true;
    unit_.assign(start.begin(), start.end());
}

bool FirstPictureEnd::CompletedUnitHoldsIdrFrame()
{
    const std::span<const std::uint8_t> stream(unit_);
    bool idrFrame = false;
    for (std::size_t code = h264::FindStartCode(stream, 0); code < stream.size();) {
        const std::size_t begin = code + 3;
        const std::size_t next = h264::FindStartCode(stream, begin);
        if (begin >= stream.size())
            break;
        if (next == begin) {
            code = next;  // an empty unit
            continue;
        }
        const std::span<const std::uint8_t> nal = stream.subspan(begin, next - begin);
        const int type = nal[0] & 0x1f;
        if (type == kNalTypeSps) {
            if (const std::optional<h264::SequenceSet> set = h264::ReadSequenceSet(nal))
                sequenceSets_[set->id] = *set;
        } else if (type == kNalTypePps) {
            if (const std::optional<h264::PictureSet> set = h264::ReadPictureSet(nal))
                pictureSets_[set->id] = set->sequenceSet;
        } else if (type == kNalTypeIdrSlice) {
            const std::optional<h264::SliceStart> slice =
                h264::ReadSliceStart(nal, [this](unsigned pictureSet) { return SetOfPicture(pictureSet); });
            // A field is half a frame: its other half may follow in the next unit.
            if (!slice || slice->field) {
                GiveUp();
                return false;
            }
            idrFrame = true;
        }
        code = next;
    }
    return idrFrame;
}

bool FirstPictureEnd::StartsAccessUnit(std::span<const std::uint8_t> payload)
{
    std::size_t at = 0;
    while (at < payload.size() && at < 3 && payload[at] == 0)
        ++at;  // the start code's zeros: two, or three in front of a first unit
    if (at < 2 || at >= payload.size() || payload[at] != 1 || at + 1 >= payload.size())
        return false;  // the unit continues whatever the one before left off
    return OpensAccessUnit(payload[at + 1] & 0x1f);
}

const h264::SequenceSet* FirstPictureEnd::SetOfPicture(unsigned pictureSet) const
{
    if (pictureSet >= pictureSets_.size() || !pictureSets_[pictureSet])
        return nullptr;
    const std::optional<h264::SequenceSet>& set = sequenceSets_[*pictureSets_[pictureSet]];
    return set ? &*set : nullptr;
}

}  // namespace ts
