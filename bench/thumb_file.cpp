// Loading a camera thumbnail file of 999 blocks of 416 × 240 JPEGs through the thumbnail set,
// against a plain libjpeg-turbo loop that decodes the same 999 streams from the same file into
// one reused buffer. The set's decode runs on the UI thread while a card opens.
#include "model/ThumbnailSet.h"
#include "support/BenchTimer.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <jpeglib.h>

namespace {

constexpr int kBlocks = 999;
constexpr int kWidth = 416, kHeight = 240;

// A camera-like thumbnail: 4:2:2 chroma, a scene with detail so the entropy decoder works.
std::string CameraJpeg(int seed)
{
    std::vector<unsigned char> rgb(kWidth * kHeight * 3);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            unsigned char* p = rgb.data() + (y * kWidth + x) * 3;
            p[0] = static_cast<unsigned char>(x * 255 / kWidth + seed);
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
    info.image_width = kWidth;
    info.image_height = kHeight;
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 85, TRUE);
    info.comp_info[0].h_samp_factor = 2;
    info.comp_info[0].v_samp_factor = 1;
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = rgb.data() + info.next_scanline * kWidth * 3;
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::string jpeg(reinterpret_cast<char*>(buffer), size);
    std::free(buffer);
    return jpeg;
}

// The reference: one decompressor per stream as the library's example does, the library's
// default RGB output, one reused buffer, the same file read through stdio.
std::size_t PlainLoop(const std::string& path, std::vector<unsigned char>& buffer)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    std::size_t checksum = 0;
    for (int k = 0; k < kBlocks; ++k) {
        std::fseek(file, static_cast<long>(k) * 16384, SEEK_SET);
        jpeg_decompress_struct info{};
        jpeg_error_mgr errors{};
        info.err = jpeg_std_error(&errors);
        jpeg_create_decompress(&info);
        jpeg_stdio_src(&info, file);
        jpeg_read_header(&info, TRUE);
        jpeg_start_decompress(&info);
        const std::size_t rowLength = info.output_width * info.output_components;
        buffer.resize(rowLength * info.output_height);
        while (info.output_scanline < info.output_height) {
            JSAMPROW row = buffer.data() + info.output_scanline * rowLength;
            jpeg_read_scanlines(&info, &row, 1);
        }
        jpeg_finish_decompress(&info);
        jpeg_destroy_decompress(&info);
        checksum += buffer[buffer.size() / 2];
    }
    std::fclose(file);
    return checksum;
}

}  // namespace

int main()
{
    char folder[] = "/tmp/viewmere-bench-XXXXXX";
    if (mkdtemp(folder) == nullptr)
        return 1;
    const std::string path = std::string(folder) + "/THUMB.TDT";
    {
        std::FILE* file = std::fopen(path.c_str(), "wb");
        for (int k = 0; k < kBlocks; ++k) {
            std::string block = CameraJpeg(k);
            if (block.size() > 16384) {
                std::fprintf(stderr, "thumbnail %d does not fit a block (%zu bytes)\n", k, block.size());
                return 1;
            }
            block.resize(16384, '\0');
            std::fwrite(block.data(), 1, block.size(), file);
        }
        std::fclose(file);
    }

    std::size_t sink = 0;
    std::vector<unsigned char> buffer;
    auto setLoad = [&] {
        CThumbnailSet set(path);
        sink += static_cast<std::size_t>(set.GetCount());
    };
    auto plain = [&] { sink += PlainLoop(path, buffer); };
    const bench::PairResult result = bench::MeasurePair(setLoad, plain, 1, 15);

    std::printf("999 blocks of %d x %d (4:2:2)\n", kWidth, kHeight);
    std::printf("CThumbnailSet::Load:  %.1f ms (%.3f ms per thumbnail)\n", result.candidate * 1e3,
                result.candidate * 1e3 / kBlocks);
    std::printf("plain libjpeg loop:   %.1f ms (%.3f ms per thumbnail)\n", result.reference * 1e3,
                result.reference * 1e3 / kBlocks);
    std::printf("(checksum %zu)\n", sink);
    std::remove(path.c_str());
    std::remove(folder);
    bench::PrintRatio("thumb_file", result.Ratio(), 1.15);
    return 0;
}
