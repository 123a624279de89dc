// Decoding and encoding through the IJG v6 interface. Every function that arms `setjmp` touches
// only the library: after a jump its locals are undefined, so no C++ object lives there.
#include "imaging/JPEGException.h"
#include "imaging/JpegErrorManager.h"
#include "imaging/JpegPicture.h"
#include "imaging/RgbImage.h"
#include "platform/FileSystem.h"
#include "platform/ReplacingFile.h"

#include <cstring>
#include <new>
#include <vector>

// Where the compressed bytes come from: a stdio stream, or bytes in memory (which the library's
// Huffman decoder reads on its fast path throughout, instead of 4 KB at a time).
struct JpegSource {
    std::FILE* stream = nullptr;
    const std::uint8_t* bytes = nullptr;
    std::size_t size = 0;

    void Attach(jpeg_decompress_struct* info) const
    {
        if (stream != nullptr)
            jpeg_stdio_src(info, stream);
        else
            jpeg_mem_src(info, bytes, static_cast<unsigned long>(size));
    }
};

namespace {

using imaging::JpegErrorManager;

// Owns a decompressor for the duration of one decode; destroying a never-created one is safe.
struct Decompressor {
    jpeg_decompress_struct info{};
    JpegErrorManager errors;
    jpeg_progress_mgr progress{};  // installed once the decompressor is created
    Decompressor() { info.err = imaging::InstallErrorManager(errors); }
    ~Decompressor() { jpeg_destroy_decompress(&info); }
    Decompressor(const Decompressor&) = delete;
    Decompressor& operator=(const Decompressor&) = delete;
};

struct Compressor {
    jpeg_compress_struct info{};
    JpegErrorManager errors;
    Compressor() { info.err = imaging::InstallErrorManager(errors); }
    ~Compressor() { jpeg_destroy_compress(&info); }
    Compressor(const Compressor&) = delete;
    Compressor& operator=(const Compressor&) = delete;
};

// ---- library calls, each under its own recovery point ----

bool ReadHeader(jpeg_decompress_struct* info, JpegErrorManager* errors, jpeg_progress_mgr* progress,
                const JpegSource& source)
{
    if (setjmp(errors->recovery))
        return false;
    jpeg_create_decompress(info);
    imaging::LimitScans(*info, *progress);
    source.Attach(info);
    jpeg_read_header(info, TRUE);
    return true;
}

bool StartDecompress(jpeg_decompress_struct* info, JpegErrorManager* errors, J_COLOR_SPACE output)
{
    if (setjmp(errors->recovery))
        return false;
    info->out_color_space = output;
    jpeg_start_decompress(info);
    return true;
}

bool ReadScanlines(jpeg_decompress_struct* info, JpegErrorManager* errors, JSAMPARRAY rows, JDIMENSION count)
{
    if (setjmp(errors->recovery))
        return false;
    jpeg_read_scanlines(info, rows, count);
    return true;
}

bool FinishDecompress(jpeg_decompress_struct* info, JpegErrorManager* errors)
{
    if (setjmp(errors->recovery))
        return false;
    jpeg_finish_decompress(info);
    return true;
}

bool CompressRows(jpeg_compress_struct* info, JpegErrorManager* errors, std::FILE* stream, JSAMPLE* rgbRows,
                  JDIMENSION width, JDIMENSION height)
{
    if (setjmp(errors->recovery))
        return false;
    jpeg_create_compress(info);
    jpeg_stdio_dest(info, stream);
    info->image_width = width;
    info->image_height = height;
    info->input_components = 3;
    info->in_color_space = JCS_RGB;
    jpeg_set_defaults(info);
    jpeg_set_quality(info, 85, TRUE);
    jpeg_start_compress(info, TRUE);
    while (info->next_scanline < info->image_height) {
        JSAMPROW row = rgbRows + static_cast<std::size_t>(info->next_scanline) * width * 3u;
        jpeg_write_scanlines(info, &row, 1);
    }
    jpeg_finish_compress(info);
    return true;
}

// ---- decode ----

[[noreturn]] void ThrowCollected(const JpegErrorManager& errors)
{
    throw CJPEGException(errors.collected);
}

// The library writes blue, green, red straight into the picture for the colour spaces it can
// convert; four-component files come out as CMYK and are converted here.
J_COLOR_SPACE OutputSpaceFor(J_COLOR_SPACE source)
{
    switch (source) {
    case JCS_GRAYSCALE:
    case JCS_YCbCr:
    case JCS_RGB:
        return JCS_EXT_BGR;
    case JCS_CMYK:
    case JCS_YCCK:
        return JCS_CMYK;
    default:
        return JCS_UNKNOWN;  // keep the library's choice
    }
}

std::uint8_t Scale(unsigned a, unsigned b)
{
    return static_cast<std::uint8_t>((a * b + 127) / 255);
}

// One decoded scanline of a component layout the library cannot turn into BGR, converted.
void ConvertRow(const JSAMPLE* source, int components, bool adobeInverted, int width, std::uint8_t* target)
{
    for (int x = 0; x < width; ++x) {
        std::uint8_t* pixel = target + x * 3;
        const JSAMPLE* s = source + x * components;
        if (components == 3) {  // red, green, blue as the file has them
            pixel[0] = s[2];
            pixel[1] = s[1];
            pixel[2] = s[0];
        } else if (components == 1) {
            pixel[0] = pixel[1] = pixel[2] = s[0];
        } else if (components == 4) {
            // Adobe writes CMYK inverted (0 = full ink); others write it plainly.
            const unsigned c = adobeInverted ? s[0] : 255u - s[0];
            const unsigned m = adobeInverted ? s[1] : 255u - s[1];
            const unsigned y = adobeInverted ? s[2] : 255u - s[2];
            const unsigned k = adobeInverted ? s[3] : 255u - s[3];
            pixel[0] = Scale(y, k);
            pixel[1] = Scale(m, k);
            pixel[2] = Scale(c, k);
        } else {
            pixel[0] = pixel[1] = pixel[2] = 0;
        }
    }
}


}  // namespace

void CRgbImage::DecodeJpeg(std::FILE* stream, const DecodeRules& rules)
{
    Decode(JpegSource{stream, nullptr, 0}, rules);
}

void CRgbImage::DecodeJpeg(const std::uint8_t* bytes, std::size_t size, const DecodeRules& rules)
{
    Decode(JpegSource{nullptr, bytes, size}, rules);
}

void CRgbImage::Decode(const JpegSource& source, const DecodeRules& rules)
{
    pixels.reset();
    Decompressor decoder;
    decoder.errors.warningsAreErrors = rules.warningsAreErrors;
    jpeg_decompress_struct* info = &decoder.info;
    if (!ReadHeader(info, &decoder.errors, &decoder.progress, source))
        ThrowCollected(decoder.errors);

    const std::uint64_t pixelCount = static_cast<std::uint64_t>(info->image_width) * info->image_height;
    if (pixelCount > rules.maxPixels)
        throw CJPEGException("\r\nImage of " + std::to_string(info->image_width) + " x " +
                             std::to_string(info->image_height) + " pixels is larger than the limit of " +
                             std::to_string(rules.maxPixels) + " pixels");
    if (pixelCount == 0)
        throw CJPEGException("\r\nThe stream holds no image");

    const J_COLOR_SPACE output = OutputSpaceFor(info->jpeg_color_space);
    if (!StartDecompress(info, &decoder.errors, output == JCS_UNKNOWN ? info->out_color_space : output))
        ThrowCollected(decoder.errors);

    const int newWidth = static_cast<int>(info->output_width);
    const int newHeight = static_cast<int>(info->output_height);
    const auto newStride = static_cast<std::size_t>(StrideFor(newWidth));
    const std::size_t rowBytes = static_cast<std::size_t>(newWidth) * 3u;
    imaging::PixelBuffer buffer = imaging::AllocatePixels(newStride * static_cast<std::size_t>(newHeight));
    if (!buffer)
        throw CJPEGException("\r\nOut of memory for an image of " + std::to_string(newWidth) + " x " +
                             std::to_string(newHeight) + " pixels");
    // Rows are filled from the bottom of the buffer up; the pad bytes are cleared.
    auto rowFromTop = [&](JDIMENSION r) {
        return buffer.get() + static_cast<std::size_t>(newHeight - 1 - static_cast<int>(r)) * newStride;
    };
    for (int r = 0; r < newHeight; ++r)
        std::memset(rowFromTop(static_cast<JDIMENSION>(r)) + rowBytes, 0, newStride - rowBytes);

    if (info->out_color_space == JCS_EXT_BGR) {
        std::vector<JSAMPROW> rows(static_cast<std::size_t>(newHeight));
        for (int r = 0; r < newHeight; ++r)
            rows[static_cast<std::size_t>(r)] = rowFromTop(static_cast<JDIMENSION>(r));
        while (info->output_scanline < info->output_height)
            if (!ReadScanlines(info, &decoder.errors, rows.data() + info->output_scanline,
                               info->output_height - info->output_scanline))
                ThrowCollected(decoder.errors);
    } else {
        const int components = info->out_color_components;
        const bool adobeInverted = info->saw_Adobe_marker != 0;
        std::vector<JSAMPLE> scanline(static_cast<std::size_t>(newWidth) * static_cast<std::size_t>(components));
        JSAMPROW row = scanline.data();
        while (info->output_scanline < info->output_height) {
            const JDIMENSION r = info->output_scanline;
            if (!ReadScanlines(info, &decoder.errors, &row, 1))
                ThrowCollected(decoder.errors);
            ConvertRow(scanline.data(), components, adobeInverted, newWidth, rowFromTop(r));
        }
    }
    if (!FinishDecompress(info, &decoder.errors))
        ThrowCollected(decoder.errors);

    pixels = std::move(buffer);
    width = newWidth;
    height = newHeight;
    stride = static_cast<std::int32_t>(newStride);
}

bool CRgbImage::LoadJpegFile(const std::string& path, const DecodeRules& rules)
{
    platform::FilePtr file = platform::OpenRegularFile(path);
    if (!file)
        return false;
    DecodeJpeg(file.get(), rules);
    return true;
}

bool CRgbImage::EncodeJpeg(std::FILE* stream) const
{
    if (!pixels || width <= 0 || height <= 0)
        return false;
    imaging::PackedBuffer rgb = imaging::PackedCopy(*this);
    if (!rgb)
        return false;
    if (!imaging::FlipRows(width, height, rgb.get()))
        return false;
    imaging::SwapRedBlue(width, height, rgb.get());
    Compressor encoder;
    return CompressRows(&encoder.info, &encoder.errors, stream, rgb.get(), static_cast<JDIMENSION>(width),
                        static_cast<JDIMENSION>(height));
}

bool CRgbImage::SaveJpegFile(const std::string& path) const
{
    // Written whole under a fresh name and renamed: a link planted at the name is replaced, not
    // followed, and a failed write (a full disk) leaves no half file.
    CJpegPicture compressed;
    return compressed.Compress(*this) && platform::ReplaceFileWith(path, compressed.bytes);
}
