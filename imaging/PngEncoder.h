#pragma once
#include "imaging/RgbImage.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace imaging {

// Text chunks of a PNG file: a keyword and its Latin-1 text.
using PngTexts = std::vector<std::pair<std::string, std::string>>;

// The picture as the bytes of a PNG file: 8-bit RGB, the texts as uncompressed tEXt chunks
// before the image data, each row filtered by its left neighbour and deflated at the fastest
// level. Empty when there is no picture, a keyword is not 1 to 79 printable characters, or
// memory runs out.
std::vector<std::uint8_t> EncodePng(const CRgbImage& picture, const PngTexts& texts);

}  // namespace imaging
