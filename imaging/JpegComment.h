#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Comment segments (COM) in the header of a JPEG stream: a note that travels inside the file,
// keeps its name and is skipped by every other reader of the picture. Nothing here decodes
// pixels, and nothing trusts a segment length beyond the bytes given.
namespace imaging {

// The stream with a comment added after its start marker and application segments (so a JFIF
// or Exif header stays first); the stream unchanged when it does not start as a JPEG stream or
// the text is longer than a segment holds.
std::vector<std::uint8_t> WithComment(std::span<const std::uint8_t> jpeg, std::string_view text);

// Every comment in the stream's header, before its first scan, in order.
std::vector<std::string> Comments(std::span<const std::uint8_t> jpeg);

}  // namespace imaging
