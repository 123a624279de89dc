#include "imaging/JpegPicture.h"

#include "imaging/JPEGException.h"
#include "imaging/JpegErrorManager.h"
#include "platform/FileSystem.h"

#include <cstdio>
#include <cstdlib>

namespace {

using imaging::JpegErrorManager;

// A decompressor that reads a stream as far as its coefficients. Each function that arms
// `setjmp` touches only the library: after a jump its locals are undefined.
struct CoefficientReader {
    jpeg_decompress_struct info{};
    JpegErrorManager errors;
    jpeg_progress_mgr progress{};
    CoefficientReader() { info.err = imaging::InstallErrorManager(errors); }
    ~CoefficientReader() { jpeg_destroy_decompress(&info); }
    CoefficientReader(const CoefficientReader&) = delete;
    CoefficientReader& operator=(const CoefficientReader&) = delete;
};

bool ReadHeader(CoefficientReader& reader, const std::vector<std::uint8_t>& bytes)
{
    if (setjmp(reader.errors.recovery))
        return false;
    jpeg_create_decompress(&reader.info);
    imaging::LimitScans(reader.info, reader.progress);
    jpeg_mem_src(&reader.info, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&reader.info, TRUE);
    return true;
}

bool ReadToTheEnd(CoefficientReader& reader)
{
    if (setjmp(reader.errors.recovery))
        return false;
    jpeg_read_coefficients(&reader.info);
    jpeg_finish_decompress(&reader.info);
    return true;
}

// Whether the bytes are one JPEG stream that decodes without any library warning, to a picture
// of at most `maxPixels`. Every marker, scan and Huffman code is read, which is where a damaged
// stream shows; the inverse transform, upsampling and colour conversion that a full decode adds
// cannot fail, and cost twice as much again, so a picture is checked for a third of its decode.
bool StrictCheck(const std::vector<std::uint8_t>& bytes, std::uint64_t maxPixels, std::int32_t& width,
                 std::int32_t& height, std::string& problem)
{
    CoefficientReader reader;
    reader.errors.warningsAreErrors = true;
    // Said as a failed decode says it.
    const auto fail = [&problem](const std::string& text) {
        problem = CJPEGException(text).what();
        return false;
    };
    if (!ReadHeader(reader, bytes))
        return fail(reader.errors.collected);
    const std::uint64_t pixels = static_cast<std::uint64_t>(reader.info.image_width) * reader.info.image_height;
    if (pixels == 0)
        return fail("\r\nThe stream holds no image");
    if (pixels > maxPixels)
        return fail("\r\nImage of " + std::to_string(reader.info.image_width) + " x " +
                    std::to_string(reader.info.image_height) + " pixels is larger than the limit of " +
                    std::to_string(maxPixels) + " pixels");
    if (!ReadToTheEnd(reader))
        return fail(reader.errors.collected);
    width = static_cast<std::int32_t>(reader.info.image_width);
    height = static_cast<std::int32_t>(reader.info.image_height);
    return true;
}

std::unique_ptr<CRgbImage> StrictDecode(const std::vector<std::uint8_t>& bytes, std::uint64_t maxPixels,
                                        std::string& problem)
{
    auto picture = std::make_unique<CRgbImage>();
    try {
        picture->DecodeJpeg(bytes.data(), bytes.size(), CRgbImage::DecodeRules{maxPixels, true});
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
    std::int32_t checkedWidth = 0, checkedHeight = 0;
    if (!StrictCheck(jpeg, maxPixels, checkedWidth, checkedHeight, problem))
        return false;
    bytes = std::move(jpeg);
    width = checkedWidth;
    height = checkedHeight;
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
