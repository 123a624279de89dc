#include "platform/FirstPicture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

// Writes the bits of H.264 headers (Exp-Golomb codes), then closes them as a NAL unit.
class Bits {
public:
    Bits& Put(std::uint32_t value, int count)
    {
        for (int i = count - 1; i >= 0; --i)
            bits_.push_back((value >> i) & 1);
        return *this;
    }
    Bits& Ue(std::uint32_t value)
    {
        int length = 0;
        while ((value + 1) >> (length + 1))
            ++length;
        return Put(0, length).Put(value + 1, length + 1);
    }
    // 00 00 01, the header byte, the bits with their stop bit, and `padding` bytes of picture data.
    Bytes Nal(std::uint8_t header, std::size_t padding = 0) const
    {
        std::vector<int> bits = bits_;
        bits.push_back(1);
        while (bits.size() % 8 != 0)
            bits.push_back(0);
        Bytes nal = {0, 0, 1, header};
        for (std::size_t i = 0; i < bits.size(); i += 8) {
            std::uint8_t byte = 0;
            for (int b = 0; b < 8; ++b)
                byte = static_cast<std::uint8_t>(byte << 1 | bits[i + b]);
            nal.push_back(byte);
        }
        nal.insert(nal.end(), padding, 0x5a);  // no start code can appear in it
        return nal;
    }

private:
    std::vector<int> bits_;
};

Bytes Delimiter() { return {0, 0, 0, 1, 0x09, 0xf0}; }
Bytes SequenceSet(bool framesOnly)
{
    Bits bits;
    bits.Put(66, 8).Put(0, 8).Put(40, 8).Ue(0);  // baseline profile, set 0
    bits.Ue(0).Ue(2).Ue(1).Put(0, 1).Ue(119).Ue(framesOnly ? 67 : 33).Put(framesOnly ? 1 : 0, 1);
    if (!framesOnly)
        bits.Put(1, 1);  // frames and fields mixed
    bits.Put(1, 1).Put(0, 1).Put(0, 1);
    return bits.Nal(0x67);
}
Bytes PictureSet() { return Bits().Ue(0).Ue(0).Put(0, 4).Nal(0x68); }
// A slice of picture set 0, its frame number in 4 bits; `field`: one field of a frame.
Bytes Slice(bool idr, bool field, std::size_t data, bool framesOnly = true)
{
    Bits bits;
    bits.Ue(0).Ue(idr ? 7 : 5).Ue(0).Put(0, 4);
    if (!framesOnly)
        bits.Put(field ? 1 : 0, 1);
    return bits.Nal(idr ? 0x65 : 0x41, data);
}
Bytes Join(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

// An M2TS stream (192-byte packets) written packet by packet, with a byte offset per packet.
class Stream {
public:
    static constexpr unsigned kMapPid = 0x100, kVideoPid = 0x1011, kAudioPid = 0x1100;

    void Packet(unsigned pid, bool unitStart, const Bytes& payload)
    {
        Bytes packet = {0, 0, 0, 0, 0x47, static_cast<std::uint8_t>((unitStart ? 0x40 : 0) | pid >> 8),
                        static_cast<std::uint8_t>(pid & 0xff)};
        unsigned& counter = counters_[pid];
        const std::size_t room = 184;
        if (payload.size() < room) {  // an adaptation field of stuffing fills the packet
            const std::size_t stuffing = room - payload.size() - 1;
            packet.push_back(static_cast<std::uint8_t>(0x30 | counter));
            packet.push_back(static_cast<std::uint8_t>(stuffing));
            if (stuffing > 0) {
                packet.push_back(0x00);
                packet.insert(packet.end(), stuffing - 1, 0xff);
            }
        } else {
            packet.push_back(static_cast<std::uint8_t>(0x10 | counter));
        }
        packet.insert(packet.end(), payload.begin(), payload.end());
        counter = (counter + 1) % 16;
        bytes.insert(bytes.end(), packet.begin(), packet.end());
    }
    // A packet of the PID lost on the way.
    void Lose(unsigned pid) { counters_[pid] = (counters_[pid] + 1) % 16; }
    void Tables(std::initializer_list<unsigned> programs, std::initializer_list<std::pair<unsigned, unsigned>> streams)
    {
        Bytes association = {0x00, 0x00, 0xb0, 0, 0x00, 0x01, 0xc1, 0x00, 0x00};
        for (unsigned program : programs)
            association.insert(association.end(), {static_cast<std::uint8_t>(program >> 8), static_cast<std::uint8_t>(program),
                                                   static_cast<std::uint8_t>(0xe0 | kMapPid >> 8), kMapPid & 0xff});
        Packet(0, true, Closed(association));
        Bytes map = {0x00, 0x02, 0xb0, 0, 0x00, 0x01, 0xc1, 0x00, 0x00, 0xf0 | kVideoPid >> 8, kVideoPid & 0xff, 0xf0, 0x00};
        for (const auto& [type, pid] : streams)
            map.insert(map.end(), {static_cast<std::uint8_t>(type), static_cast<std::uint8_t>(0xe0 | pid >> 8),
                                   static_cast<std::uint8_t>(pid), 0xf0, 0x00});
        Packet(kMapPid, true, Closed(map));
    }
    // A video PES holding the elementary stream bytes; the offset of its first packet.
    std::uint64_t Video(const Bytes& stream)
    {
        const std::uint64_t start = bytes.size();
        Bytes first = {0, 0, 1, 0xe0, 0, 0, 0x80, 0x80, 5, 0x21, 0, 1, 0, 1};
        std::size_t at = std::min<std::size_t>(stream.size(), 184 - first.size());
        first.insert(first.end(), stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(at));
        Packet(kVideoPid, true, first);
        while (at < stream.size()) {
            const std::size_t piece = std::min<std::size_t>(184, stream.size() - at);
            Packet(kVideoPid, false, Bytes(stream.begin() + static_cast<std::ptrdiff_t>(at),
                                           stream.begin() + static_cast<std::ptrdiff_t>(at + piece)));
            at += piece;
            if (at % (184 * 5) == 0)
                Packet(kAudioPid, at % (184 * 10) == 0, Bytes(184, 0x11));  // audio between
        }
        return start;
    }

    Bytes bytes;

private:
    // The pointer field in front, the section length filled in, a CRC's room behind.
    static Bytes Closed(Bytes section)
    {
        section.insert(section.end(), 4, 0);
        const std::size_t length = section.size() - 4;
        section[2] = static_cast<std::uint8_t>(0xb0 | length >> 8);
        section[3] = static_cast<std::uint8_t>(length);
        return section;
    }
    std::map<unsigned, unsigned> counters_;
};

const ts::PacketLayout kM2ts{4, 192};

// Fed in pieces of the given size, as a card's reads give them.
ts::FirstPictureEnd Fed(const Bytes& bytes, std::size_t piece)
{
    ts::FirstPictureEnd end(kM2ts);
    for (std::size_t at = 0; at < bytes.size() && end.Current() == ts::FirstPictureEnd::State::Looking; at += piece)
        end.Add({bytes.data() + at, std::min(piece, bytes.size() - at)});
    return end;
}

// A camcorder's start: the tables, then an IDR frame after the parameter sets.
Stream CardStart()
{
    Stream stream;
    stream.Tables({1}, {{0x1b, Stream::kVideoPid}, {0x81, Stream::kAudioPid}});
    return stream;
}

}  // namespace

TEST(FirstPictureTest, TheBytesEndBeforeThePacketThatStartsTheUnitAfterTheFirstIdrFrameHoweverTheyArrive)
{
    Stream stream = CardStart();
    // Pictures of a recording cut in the middle come first; they end before its first IDR frame.
    stream.Video(Join({Delimiter(), Slice(false, false, 3000)}));
    stream.Video(Join({Delimiter(), SequenceSet(true), PictureSet(), Slice(true, false, 40000), Slice(true, false, 900)}));
    const std::uint64_t end = stream.Video(Join({Delimiter(), Slice(false, false, 5000)}));
    stream.Video(Join({Delimiter(), Slice(false, false, 5000)}));
    for (std::size_t piece : {std::size_t{1}, std::size_t{191}, std::size_t{4096}, std::size_t{131072}}) {
        const ts::FirstPictureEnd found = Fed(stream.bytes, piece);
        ASSERT_EQ(found.Current(), ts::FirstPictureEnd::State::Found) << piece;
        EXPECT_EQ(found.End(), end) << piece;
    }
    // The same stream with 188-byte packets.
    Bytes plain;
    for (std::size_t at = 4; at < stream.bytes.size(); at += 192)
        plain.insert(plain.end(), stream.bytes.begin() + static_cast<std::ptrdiff_t>(at),
                     stream.bytes.begin() + static_cast<std::ptrdiff_t>(at + 188));
    ts::FirstPictureEnd fromPlain(ts::PacketLayout{0, 188});
    EXPECT_EQ(fromPlain.Add(plain), ts::FirstPictureEnd::State::Found);
    EXPECT_EQ(fromPlain.End(), end / 192 * 188);

    // A frame of fields mixed with frames is a whole frame too.
    Stream mixed = CardStart();
    mixed.Video(Join({Delimiter(), SequenceSet(false), PictureSet(), Slice(true, false, 20000, false)}));
    const std::uint64_t mixedEnd = mixed.Video(Join({Delimiter(), Slice(false, false, 100, false)}));
    const ts::FirstPictureEnd fromMixed = Fed(mixed.bytes, 65536);
    EXPECT_EQ(fromMixed.Current(), ts::FirstPictureEnd::State::Found);
    EXPECT_EQ(fromMixed.End(), mixedEnd);
}

TEST(FirstPictureTest, GivesUpWhereTheEndOfTheFirstFrameCannotBeToldForSure)
{
    const Bytes idrFrame = Join({Delimiter(), SequenceSet(true), PictureSet(), Slice(true, false, 2000)});
    const Bytes nextFrame = Join({Delimiter(), Slice(false, false, 100)});
    auto outcome = [](const Stream& stream) { return Fed(stream.bytes, 4096).Current(); };
    using State = ts::FirstPictureEnd::State;

    Stream field = CardStart();  // an IDR field: its other half follows
    field.Video(Join({Delimiter(), SequenceSet(false), PictureSet(), Slice(true, true, 2000, false)}));
    field.Video(Join({Delimiter(), Slice(false, true, 2000, false)}));
    EXPECT_EQ(outcome(field), State::GaveUp);

    Stream continued = CardStart();  // the next unit carries more slices of the frame
    continued.Video(idrFrame);
    continued.Video(Slice(true, false, 100));
    EXPECT_EQ(outcome(continued), State::GaveUp);

    Stream lost = CardStart();  // a packet lost on the way
    lost.Video(idrFrame);
    lost.Lose(Stream::kVideoPid);
    lost.Video(nextFrame);
    EXPECT_EQ(outcome(lost), State::GaveUp);

    Stream twoPrograms;  // which one the demuxer shows is its choice
    twoPrograms.Tables({1, 2}, {{0x1b, Stream::kVideoPid}});
    twoPrograms.Video(idrFrame);
    twoPrograms.Video(nextFrame);
    EXPECT_EQ(outcome(twoPrograms), State::GaveUp);

    Stream threeD;  // a second view of the same pictures
    threeD.Tables({1}, {{0x1b, Stream::kVideoPid}, {0x20, 0x1012}});
    threeD.Video(idrFrame);
    threeD.Video(nextFrame);
    EXPECT_EQ(outcome(threeD), State::GaveUp);

    Stream unknownSet = CardStart();  // a slice whose sets were never seen
    unknownSet.Video(Join({Delimiter(), Slice(true, false, 2000)}));
    unknownSet.Video(nextFrame);
    EXPECT_EQ(outcome(unknownSet), State::GaveUp);

    Stream noIdr = CardStart();  // no IDR frame for longer than a camcorder ever goes without
    for (std::size_t i = 0; i <= ts::FirstPictureEnd::kMaxUnits; ++i)
        noIdr.Video(Join({Delimiter(), SequenceSet(true), PictureSet(), Slice(false, false, 200)}));
    EXPECT_EQ(outcome(noIdr), State::GaveUp);

    Stream outOfSync = CardStart();
    outOfSync.Video(idrFrame);
    outOfSync.bytes.insert(outOfSync.bytes.end(), 7, 0x00);  // stray bytes: the packets after them shifted
    outOfSync.Video(nextFrame);
    EXPECT_EQ(outcome(outOfSync), State::GaveUp);

    Stream whole = CardStart();  // and the same frame, whole and in sync, is found
    whole.Video(idrFrame);
    whole.Video(nextFrame);
    EXPECT_EQ(outcome(whole), State::Found);
}
