#pragma once
#include "imaging/RgbImage.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// A thumbnail kept compressed: the bytes of one JPEG stream and the size of its picture. A grid
// of thousands of clips holds these (about 20 KB each) and decodes only what it draws, instead of
// holding every picture decoded (about 330 KB each). Single owner.
class CJpegPicture {
public:
    std::vector<std::uint8_t> bytes;
    std::int32_t width = 0;
    std::int32_t height = 0;

    bool Empty() const { return bytes.empty(); }

    // Encodes a picture (quality 85, as the thumbnail files); false when there is none or the
    // library fails.
    bool Compress(const CRgbImage& picture);
    // Takes JPEG bytes that were read or received, keeping them only when they decode cleanly
    // (no library warning) to a picture of at most `maxPixels`; false leaves this empty. The
    // decoder's text goes to `problem`.
    bool Adopt(std::vector<std::uint8_t> jpeg, std::uint64_t maxPixels, std::string& problem);
    // Reads a regular file of at most `maxBytes` and adopts its bytes. False when the file is
    // missing, not regular, larger, unreadable or does not decode cleanly.
    bool ReadFile(const std::string& path, std::uint64_t maxPixels, std::string& problem,
                  std::size_t maxBytes = kMaxFileBytes);
    // The picture, decoded; null when the bytes no longer decode.
    std::unique_ptr<CRgbImage> Decode() const;

    // Largest thumbnail file read (a 384 x 216 picture at quality 85 takes about 20-60 KB).
    static constexpr std::size_t kMaxFileBytes = 8u * 1024 * 1024;
};
