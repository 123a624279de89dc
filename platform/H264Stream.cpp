#include "platform/H264Stream.h"

#include <algorithm>

namespace h264 {
namespace {

// A slice header's fields up to its field flag, or a picture set's two ids, lie in its first
// few bytes: 32 hold them with room to spare.
constexpr std::size_t kSliceHeadBytes = 32;

// Reads the bits of a sequence parameter set; a read past its end fails the whole set.
class BitReader {
public:
    explicit BitReader(const std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}
    bool Failed() const { return failed_; }

    std::uint32_t Bits(int count)
    {
        std::uint32_t value = 0;
        for (int i = 0; i < count; ++i) {
            if (position_ >= bytes_.size() * 8) {
                failed_ = true;
                return 0;
            }
            value = value << 1 | ((bytes_[position_ / 8] >> (7 - position_ % 8)) & 1u);
            ++position_;
        }
        return value;
    }
    bool Flag() { return Bits(1) != 0; }
    // Exp-Golomb codes; a run of more than 31 leading zeros is no value of a set.
    std::uint32_t Unsigned()
    {
        int zeros = 0;
        while (!failed_ && Bits(1) == 0)
            if (++zeros > 31)
                failed_ = true;
        return failed_ ? 0 : static_cast<std::uint32_t>((std::uint64_t{1} << zeros) - 1 + Bits(zeros));
    }
    std::int32_t Signed()
    {
        const std::uint32_t code = Unsigned();
        return (code & 1) != 0 ? static_cast<std::int32_t>((code + 1) / 2) : -static_cast<std::int32_t>(code / 2);
    }

private:
    const std::vector<std::uint8_t>& bytes_;
    std::size_t position_ = 0;
    bool failed_ = false;
};

// A scaling list's steps lie between -128 and 127; a larger one is no set of a real stream (and
// would overflow the sum).
bool SkipScalingList(BitReader& bits, int size)
{
    int last = 8, next = 8;
    for (int j = 0; j < size && !bits.Failed(); ++j) {
        if (next != 0) {
            const std::int32_t delta = bits.Signed();
            if (delta < -128 || delta > 127)
                return false;
            next = (last + delta + 256) % 256;
        }
        last = next == 0 ? last : next;
    }
    return true;
}

bool HasChromaFields(std::uint32_t profile)
{
    for (std::uint32_t high : {100u, 110u, 122u, 244u, 44u, 83u, 86u, 118u, 128u, 138u, 139u, 134u, 135u})
        if (profile == high)
            return true;
    return false;
}

// A set's fields up to its frame_mbs_only_flag; false when the set ends first.
bool ReadSetStart(BitReader& bits, SequenceSet& set)
{
    const std::uint32_t profile = bits.Bits(8);
    bits.Bits(16);  // constraint flags and level
    set.id = bits.Unsigned();
    if (HasChromaFields(profile)) {
        const std::uint32_t chroma = bits.Unsigned();
        if (chroma == 3)
            set.separateColourPlanes = bits.Flag();
        bits.Unsigned();
        bits.Unsigned();
        bits.Flag();
        if (bits.Flag())
            for (int i = 0; i < (chroma != 3 ? 8 : 12) && !bits.Failed(); ++i)
                if (bits.Flag() && !SkipScalingList(bits, i < 6 ? 16 : 64))
                    return false;
    }
    const std::uint32_t frameNumBits = bits.Unsigned() + 4;  // log2 of the largest frame number
    const std::uint32_t orderType = bits.Unsigned();
    if (orderType == 0) {
        bits.Unsigned();
    } else if (orderType == 1) {
        bits.Flag();
        bits.Signed();
        bits.Signed();
        const std::uint32_t cycle = bits.Unsigned();
        for (std::uint32_t i = 0; i < cycle && !bits.Failed(); ++i)
            bits.Signed();
    }
    bits.Unsigned();  // reference frames
    bits.Flag();
    bits.Unsigned();  // width and height in macroblocks
    bits.Unsigned();
    set.framesOnly = bits.Flag();
    set.frameNumberBits = static_cast<int>(std::min<std::uint32_t>(frameNumBits, 32));
    return !bits.Failed();
}

// Everything of a set before its VUI; false when the set ends first.
bool SkipToVui(BitReader& bits)
{
    SequenceSet set;
    if (!ReadSetStart(bits, set))
        return false;
    if (!set.framesOnly)
        bits.Flag();  // frames and fields mixed
    bits.Flag();
    if (bits.Flag())
        for (int i = 0; i < 4; ++i)
            bits.Unsigned();  // cropping
    return !bits.Failed();
}

std::optional<std::uint64_t> TicksOfSet(const std::vector<std::uint8_t>& rbsp)
{
    BitReader bits(rbsp);
    bits.Bits(8);  // the NAL header
    if (!SkipToVui(bits) || !bits.Flag())
        return std::nullopt;
    if (bits.Flag() && bits.Bits(8) == 255)
        bits.Bits(32);  // the sample aspect ratio
    if (bits.Flag())
        bits.Flag();  // overscan
    if (bits.Flag()) {
        bits.Bits(4);
        if (bits.Flag())
            bits.Bits(24);  // colour description
    }
    if (bits.Flag()) {
        bits.Unsigned();
        bits.Unsigned();
    }
    if (!bits.Flag())
        return std::nullopt;  // no timing
    // Camcorders set the fixed frame rate flag; encoders that leave it off give the rate the
    // stream is made for, which is what one picture lasts in a stream of constant rate too.
    const std::uint64_t unitsInTick = bits.Bits(32), timeScale = bits.Bits(32);
    if (bits.Failed() || unitsInTick == 0 || timeScale == 0)
        return std::nullopt;
    const std::uint64_t ticks = 2 * 90000 * unitsInTick / timeScale;
    return ticks > 0 && ticks <= 90000 ? std::optional<std::uint64_t>(ticks) : std::nullopt;
}

}  // namespace

std::size_t FindStartCode(std::span<const std::uint8_t> stream, std::size_t from)
{
    for (std::size_t i = from; i + 2 < stream.size(); ++i) {
        if (stream[i + 2] > 1) {
            i += 2;  // none of the three can start a code
            continue;
        }
        if (stream[i] == 0 && stream[i + 1] == 0 && stream[i + 2] == 1)
            return i;
    }
    return stream.size();
}

std::vector<std::uint8_t> Unescape(std::span<const std::uint8_t> nal)
{
    // Copies the runs between escapes whole.
    std::vector<std::uint8_t> rbsp;
    rbsp.reserve(nal.size());
    std::size_t copied = 0;
    for (std::size_t i = 0; i + 2 < nal.size();) {
        if (nal[i + 2] > 3) {
            i += 3;  // none of the three can start an escape
        } else if (nal[i] == 0 && nal[i + 1] == 0 && nal[i + 2] == 3) {
            rbsp.insert(rbsp.end(), nal.begin() + copied, nal.begin() + i + 2);
            copied = i + 3;
            i += 3;
        } else {
            ++i;
        }
    }
    rbsp.insert(rbsp.end(), nal.begin() + copied, nal.end());
    return rbsp;
}

std::optional<SequenceSet> ReadSequenceSet(std::span<const std::uint8_t> nal)
{
    const std::vector<std::uint8_t> rbsp = Unescape(nal);
    BitReader bits(rbsp);
    SequenceSet set;
    if ((bits.Bits(8) & 0x1f) != kNalTypeSps || !ReadSetStart(bits, set) || set.id > 31 || set.frameNumberBits > 16)
        return std::nullopt;
    return set;
}

std::optional<PictureSet> ReadPictureSet(std::span<const std::uint8_t> nal)
{
    const std::vector<std::uint8_t> rbsp = Unescape(nal.first(std::min<std::size_t>(nal.size(), kSliceHeadBytes)));
    BitReader bits(rbsp);
    PictureSet set;
    if ((bits.Bits(8) & 0x1f) != kNalTypePps)
        return std::nullopt;
    set.id = bits.Unsigned();
    set.sequenceSet = bits.Unsigned();
    if (bits.Failed() || set.id > 255 || set.sequenceSet > 31)
        return std::nullopt;
    return set;
}

std::optional<SliceStart> ReadSliceStart(std::span<const std::uint8_t> nal,
                                         const std::function<const SequenceSet*(unsigned pictureSet)>& setOf)
{
    const std::vector<std::uint8_t> rbsp = Unescape(nal.first(std::min<std::size_t>(nal.size(), kSliceHeadBytes)));
    BitReader bits(rbsp);
    const std::uint32_t type = bits.Bits(8) & 0x1f;
    if (type != kNalTypeSlice && type != kNalTypeIdrSlice)
        return std::nullopt;
    SliceStart slice;
    slice.idr = type == kNalTypeIdrSlice;
    slice.firstMacroblock = bits.Unsigned();
    bits.Unsigned();  // slice type
    const std::uint32_t pictureSet = bits.Unsigned();
    const SequenceSet* set = bits.Failed() || pictureSet > 255 ? nullptr : setOf(pictureSet);
    if (set == nullptr)
        return std::nullopt;
    if (set->separateColourPlanes)
        bits.Bits(2);
    bits.Bits(set->frameNumberBits);
    slice.field = !set->framesOnly && bits.Flag();
    if (bits.Failed())
        return std::nullopt;
    return slice;
}

std::optional<std::uint64_t> PictureTicks(std::span<const std::uint8_t> stream)
{
    for (std::size_t code = FindStartCode(stream, 0); code < stream.size();) {
        const std::size_t begin = code + 3;
        const std::size_t next = FindStartCode(stream, begin);
        if (begin < stream.size() && (stream[begin] & 0x1f) == kNalTypeSps)
            return next < stream.size() ? TicksOfSet(Unescape(stream.subspan(begin, next - begin))) : std::nullopt;
        code = next;
    }
    return std::nullopt;
}

}  // namespace h264
