#pragma once
// Camera-like thumbnails for the benchmarks: 416 x 240 JPEGs with 4:2:2 chroma and some detail,
// encoded straight through libjpeg.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <jpeglib.h>

namespace bench {

inline std::string CameraThumbnailJpeg(int seed, int width = 416, int height = 240)
{
    std::vector<unsigned char> rgb(static_cast<std::size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            unsigned char* p = rgb.data() + (static_cast<std::size_t>(y) * width + x) * 3;
            p[0] = static_cast<unsigned char>(x * 255 / width + seed);
            p[1] = static_cast<unsigned char>(y + ((x / 32 + y / 32 + seed) % 3) * 40);
            p[2] = static_cast<unsigned char>((x + y + seed * 13) / 3);
        }
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = static_cast<JDIMENSION>(width);
    info.image_height = static_cast<JDIMENSION>(height);
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 85, TRUE);
    info.comp_info[0].h_samp_factor = 2;
    info.comp_info[0].v_samp_factor = 1;
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = rgb.data() + static_cast<std::size_t>(info.next_scanline) * width * 3;
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::string jpeg(reinterpret_cast<char*>(buffer), size);
    std::free(buffer);
    return jpeg;
}

}  // namespace bench
