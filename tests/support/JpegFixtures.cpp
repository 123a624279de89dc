#include "support/JpegFixtures.h"

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <stdexcept>

#include <jpeglib.h>

namespace testing_support {
namespace {

std::string Compress(int width, int height, int components, J_COLOR_SPACE space, const std::vector<std::uint8_t>& rows,
                     Sampling sampling, int quality,
                     const std::function<void(jpeg_compress_struct&)>& configure = {})
{
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = static_cast<JDIMENSION>(width);
    info.image_height = static_cast<JDIMENSION>(height);
    info.input_components = components;
    info.in_color_space = space;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    if (space == JCS_RGB) {
        info.comp_info[0].h_samp_factor = sampling == Sampling::k444 ? 1 : 2;
        info.comp_info[0].v_samp_factor = sampling == Sampling::k420 ? 2 : 1;
    }
    if (configure)
        configure(info);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<std::uint8_t*>(rows.data()) +
                       static_cast<std::size_t>(info.next_scanline) * static_cast<std::size_t>(width * components);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::string jpeg(reinterpret_cast<char*>(buffer), size);
    std::free(buffer);
    return jpeg;
}

// DC of all components in one scan, then each AC coefficient of each component alone: first
// from bit 10 down, then one refining scan per lower bit.
std::vector<jpeg_scan_info> BitByBitScript()
{
    std::vector<jpeg_scan_info> script;
    script.push_back(jpeg_scan_info{3, {0, 1, 2, 0}, 0, 0, 0, 0});
    for (int component = 0; component < 3; ++component)
        for (int k = 1; k < 64; ++k)
            for (int bit = 10; bit >= 0; --bit)
                script.push_back(jpeg_scan_info{1, {component, 0, 0, 0}, k, k, bit == 10 ? 0 : bit + 1, bit});
    return script;
}

}  // namespace

std::string ProgressiveJpeg(int width, int height, bool bitByBit)
{
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width * height * 3));
    for (std::size_t i = 0; i < rgb.size(); ++i)
        rgb[i] = static_cast<std::uint8_t>(i * 7 % 251);  // detail in every coefficient
    const std::vector<jpeg_scan_info> script = BitByBitScript();
    return Compress(width, height, 3, JCS_RGB, rgb, Sampling::k444, 95, [&](jpeg_compress_struct& info) {
        jpeg_simple_progression(&info);
        if (bitByBit) {
            info.scan_info = script.data();
            info.num_scans = static_cast<int>(script.size());
        }
    });
}

std::string EncodeRgbJpeg(int width, int height, const std::vector<std::uint8_t>& rgb, Sampling sampling, int quality)
{
    return Compress(width, height, 3, JCS_RGB, rgb, sampling, quality);
}

std::string EncodeGreyJpeg(int width, int height, const std::vector<std::uint8_t>& grey)
{
    return Compress(width, height, 1, JCS_GRAYSCALE, grey, Sampling::k444, 95);
}

std::string EncodeCmykJpeg(int width, int height, const std::vector<std::uint8_t>& cmyk)
{
    return Compress(width, height, 4, JCS_CMYK, cmyk, Sampling::k444, 95);
}

std::string SolidJpeg(int width, int height, std::uint8_t r, std::uint8_t g, std::uint8_t b, Sampling sampling)
{
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width * height * 3));
    for (std::size_t i = 0; i < rgb.size(); i += 3) {
        rgb[i] = r;
        rgb[i + 1] = g;
        rgb[i + 2] = b;
    }
    return EncodeRgbJpeg(width, height, rgb, sampling, 90);
}

ReferenceImage ReferenceDecode(const std::string& jpeg)
{
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(jpeg.data()), jpeg.size());
    jpeg_read_header(&info, TRUE);
    jpeg_start_decompress(&info);
    ReferenceImage image;
    image.width = static_cast<int>(info.output_width);
    image.height = static_cast<int>(info.output_height);
    image.components = info.output_components;
    const std::size_t rowLength = static_cast<std::size_t>(image.width * image.components);
    image.samples.resize(rowLength * static_cast<std::size_t>(image.height));
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = image.samples.data() + info.output_scanline * rowLength;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return image;
}

std::string PackBlocks(const std::vector<std::string>& jpegs)
{
    std::string data;
    for (const std::string& jpeg : jpegs) {
        if (jpeg.size() > 16384)
            throw std::runtime_error("fixture JPEG larger than a block");
        data += jpeg;
        data.append(16384 - jpeg.size(), '\0');
    }
    return data;
}

std::string IndexFile(const std::vector<std::pair<int, int>>& clipAndBlock)
{
    std::string index(72, 'H');
    for (const auto& [clip, block] : clipAndBlock) {
        index.push_back(static_cast<char>(clip >> 8));
        index.push_back(static_cast<char>(clip & 0xff));
        index.push_back(static_cast<char>(block >> 8));
        index.push_back(static_cast<char>(block & 0xff));
        index.append(8, '\x5a');
    }
    return index;
}

}  // namespace testing_support
