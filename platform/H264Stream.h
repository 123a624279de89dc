#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

// The pieces of an H.264 byte stream (NAL units after 00 00 01 start codes) that the readers of
// a clip's start and the media graph need. Nothing here trusts a field beyond the bytes it is
// given.
namespace h264 {

// NAL unit types (the low five bits of a unit's first byte).
inline constexpr int kNalTypeSlice = 1;
inline constexpr int kNalTypeIdrSlice = 5;
inline constexpr int kNalTypeSei = 6;
inline constexpr int kNalTypeSps = 7;
inline constexpr int kNalTypePps = 8;
inline constexpr int kNalTypeDelimiter = 9;

// Index of the next 00 00 01 at or after `from`, or the size when there is none.
std::size_t FindStartCode(std::span<const std::uint8_t> stream, std::size_t from);

// Undoes emulation prevention: 00 00 03 becomes 00 00.
std::vector<std::uint8_t> Unescape(std::span<const std::uint8_t> nal);

// How long one picture lasts, in 90 kHz ticks, as the first sequence parameter set in the
// stream says it (its VUI timing: two ticks of num_units_in_tick / time_scale a frame);
// nothing when the bytes hold no whole set, or one without timing.
std::optional<std::uint64_t> PictureTicks(std::span<const std::uint8_t> stream);

// What a sequence parameter set says about the slice headers of its pictures.
struct SequenceSet {
    unsigned id = 0;
    bool separateColourPlanes = false;
    int frameNumberBits = 4;
    bool framesOnly = true;  // no picture of the stream is a single field
};
// A whole sequence parameter set NAL unit (header byte first, still escaped); nothing when it
// is none or ends early.
std::optional<SequenceSet> ReadSequenceSet(std::span<const std::uint8_t> nal);

// The ids a picture parameter set NAL unit carries: its own and its sequence set's.
struct PictureSet {
    unsigned id = 0;
    unsigned sequenceSet = 0;
};
std::optional<PictureSet> ReadPictureSet(std::span<const std::uint8_t> nal);

// The start of a slice NAL unit's header (types 1 and 5), as far as the field flag, read with
// the sequence set that `setOf` gives for the slice's picture set (null: unknown). Nothing when
// it is no slice, its set is unknown, or it ends early.
struct SliceStart {
    bool idr = false;
    unsigned firstMacroblock = 0;
    bool field = false;  // one field of a frame, not a whole frame
};
std::optional<SliceStart> ReadSliceStart(std::span<const std::uint8_t> nal,
                                         const std::function<const SequenceSet*(unsigned pictureSet)>& setOf);

}  // namespace h264
