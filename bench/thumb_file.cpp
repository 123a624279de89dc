// Loading a camera thumbnail file of 999 blocks of 416 × 240 JPEGs through the thumbnail set,
// against a plain libjpeg-turbo loop that decodes the same 999 streams from the same file into
// one reused buffer. The set's decode runs on the UI thread while a card opens.
#include "model/ThumbnailSet.h"
#include "support/BenchTimer.h"
#include "support/ScratchFolder.h"
#include "support/CameraJpeg.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <jpeglib.h>

namespace {

constexpr int kBlocks = 999;
constexpr int kWidth = 416, kHeight = 240;  // as the benchmark thumbnails

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
    const bench::ScratchFolder scratch;
    if (!scratch.Ok())
        return 1;
    const std::string path = scratch.Path() + "/THUMB.TDT";
    {
        std::FILE* file = std::fopen(path.c_str(), "wb");
        for (int k = 0; k < kBlocks; ++k) {
            std::string block = bench::CameraThumbnailJpeg(k);
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
    bench::PrintRatio("thumb_file", result.Ratio(), 1.0);
    return 0;
}
