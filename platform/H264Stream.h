#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

// The pieces of an H.264 byte stream (NAL units after 00 00 01 start codes) that the readers of
// a clip's start need. Nothing here trusts a field beyond the bytes it is given.
namespace h264 {

// Index of the next 00 00 01 at or after `from`, or the size when there is none.
std::size_t FindStartCode(std::span<const std::uint8_t> stream, std::size_t from);

// Undoes emulation prevention: 00 00 03 becomes 00 00.
std::vector<std::uint8_t> Unescape(std::span<const std::uint8_t> nal);

// How long one picture lasts, in 90 kHz ticks, as the first sequence parameter set in the
// stream says it (its VUI timing: two ticks of num_units_in_tick / time_scale a frame);
// nothing when the bytes hold no whole set, or one without timing.
std::optional<std::uint64_t> PictureTicks(std::span<const std::uint8_t> stream);

}  // namespace h264
