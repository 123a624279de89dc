#include "imaging/JpegPicture.h"

#include "imaging/JPEGException.h"
#include "platform/FileSystem.h"

#include <cstdio>
#include <cstdlib>

namespace {

// A stdio stream over bytes in memory, closed when it goes.
platform::FilePtr ReadStreamOver(const std::vector<std::uint8_t>& bytes)
{
    return platform::FilePtr(fmemopen(const_cast<std::uint8_t*>(bytes.data()), bytes.size(), "rb"));
}

std::unique_ptr<CRgbImage> StrictDecode(const std::vector<std::uint8_t>& bytes, std::uint64_t maxPixels,
                                        std::string& problem)
{
    platform::FilePtr stream = ReadStreamOver(bytes);
    if (!stream) {
        problem = "out of memory";
        return nullptr;
    }
    auto picture = std::make_unique<CRgbImage>();
    try {
        picture->DecodeJpeg(stream.get(), CRgbImage::DecodeRules{maxPixels, true});
    } catch (const CJPEGException& error) {
        problem = error.what();
        return nullptr;
    }
    if (!picture->HasPicture()) {
        problem = "no picture";
        return nullptr;
    }
    return picture;
}

}  // namespace

bool CJpegPicture::Compress(const CRgbImage& picture)
{
    char* buffer = nullptr;
    std::size_t size = 0;
    std::FILE* stream = open_memstream(&buffer, &size);
    if (stream == nullptr)
        return false;
    const bool encoded = picture.EncodeJpeg(stream);
    const bool closed = std::fclose(stream) == 0;  // sets buffer and size
    if (encoded && closed && size > 0) {
        bytes.assign(buffer, buffer + size);
        width = picture.width;
        height = picture.height;
    }
    std::free(buffer);
    return encoded && closed && size > 0;
}

bool CJpegPicture::Adopt(std::vector<std::uint8_t> jpeg, std::uint64_t maxPixels, std::string& problem)
{
    const std::unique_ptr<CRgbImage> picture = StrictDecode(jpeg, maxPixels, problem);
    if (!picture)
        return false;
    bytes = std::move(jpeg);
    width = picture->width;
    height = picture->height;
    return true;
}

bool CJpegPicture::ReadFile(const std::string& path, std::uint64_t maxPixels, std::string& problem,
                            std::size_t maxBytes)
{
    platform::FilePtr file = platform::OpenRegularFile(path);
    if (!file) {
        problem = "cannot be opened";
        return false;
    }
    std::vector<std::uint8_t> content;
    std::uint8_t chunk[65536];
    for (;;) {
        const std::size_t got = std::fread(chunk, 1, sizeof chunk, file.get());
        content.insert(content.end(), chunk, chunk + got);
        if (content.size() > maxBytes) {
            problem = "file too large for a thumbnail";
            return false;
        }
        if (got < sizeof chunk)
            break;
    }
    if (std::ferror(file.get())) {
        problem = "read error";
        return false;
    }
    return Adopt(std::move(content), maxPixels, problem);
}

std::unique_ptr<CRgbImage> CJpegPicture::Decode() const
{
    std::string ignored;
    return StrictDecode(bytes, CRgbImage::kMaxPixels, ignored);
}
