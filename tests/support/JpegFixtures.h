#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

// Chroma sampling of a fixture JPEG.
enum class Sampling { k444, k422, k420 };

// Encodes rows given top row first (RGB, grey or CMYK samples) straight through libjpeg, so
// fixtures do not depend on the codec under test.
std::string EncodeRgbJpeg(int width, int height, const std::vector<std::uint8_t>& rgbTopDown,
                          Sampling sampling = Sampling::k420, int quality = 95);
std::string EncodeGreyJpeg(int width, int height, const std::vector<std::uint8_t>& grey);
std::string EncodeCmykJpeg(int width, int height, const std::vector<std::uint8_t>& cmyk);
// A progressive colour picture: the library's usual ten or so scans, or with `bitByBit` every
// coefficient of every component sent on its own, one bit at a time (2,083 scans, each a valid
// step of the progression).
std::string ProgressiveJpeg(int width, int height, bool bitByBit);
// A flat picture of one colour.
std::string SolidJpeg(int width, int height, std::uint8_t r, std::uint8_t g, std::uint8_t b,
                      Sampling sampling = Sampling::k422);

// Decodes with the library's defaults (RGB or grey out, top row first): the reference that the
// codec's bottom-up BGR layout is checked against.
struct ReferenceImage {
    int width = 0, height = 0, components = 0;
    std::vector<std::uint8_t> samples;
};
ReferenceImage ReferenceDecode(const std::string& jpeg);

// A thumbnail data file: each stream padded with zero bytes to one 16384-byte block.
std::string PackBlocks(const std::vector<std::string>& jpegs);
// An index file: a 72-byte header, then (clip, block) records of 12 bytes, big-endian.
std::string IndexFile(const std::vector<std::pair<int, int>>& clipAndBlock);

}  // namespace testing_support
