// Any bytes through the JPEG decode: it must end in a picture or a CJPEGException, never in a
// crash, a hang or a read outside the buffers. The same bytes through the reader of a thumbnail
// file's comments, and with a comment added: the comment must then read back.
#include "imaging/JPEGException.h"
#include "imaging/JpegComment.h"
#include "imaging/RgbImage.h"
#include "platform/MessageBox.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const bool quiet = [] {
        platform::SetMessageBoxHandler([](const std::string&, const std::string&, platform::MessageBoxIcon) {});
        return true;
    }();
    (void)quiet;
    if (size == 0)
        return 0;
    const std::span<const std::uint8_t> bytes(data, size);
    imaging::Comments(bytes);
    const std::vector<std::uint8_t> commented = imaging::WithComment(bytes, "clip record");
    if (commented.size() != size) {
        const std::vector<std::string> comments = imaging::Comments(commented);
        if (std::find(comments.begin(), comments.end(), "clip record") == comments.end())
            std::abort();
    }
    std::FILE* stream = fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
    if (stream == nullptr)
        return 0;
    CRgbImage image;
    try {
        image.DecodeJpeg(stream);
        if (image.HasPicture()) {
            // Touch the corners: the whole buffer must be there.
            volatile std::uint8_t sink = image.pixels[0];
            sink = image.pixels[image.OffsetOf(image.width - 1, 0) + 2];
            (void)sink;
        }
    } catch (const CJPEGException&) {
    }
    std::fclose(stream);
    return 0;
}
