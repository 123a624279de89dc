// Arbitrary bytes as a kept strip file: one that is taken must hold frames in their places
// within the strip and the recording, and write back to the very same bytes.
#include "thumbgen/StripCache.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::string key = "files 1\nsize 4\nmtime 1.000000000\npath 5\n/clip\n";
    const std::shared_ptr<Strip> strip = CStripFiles::Decode({data, size}, key);
    if (!strip)
        return 0;
    if (strip->Count() > StripRequest::kMaxFrames)
        std::abort();
    for (int i = 0; i < strip->Count(); ++i) {
        const auto& frame = strip->frames[static_cast<std::size_t>(i)];
        if (frame && (frame->index != i || frame->seconds < 0 || frame->seconds > strip->duration))
            std::abort();
    }
    const std::string again = CStripFiles::Encode(key, *strip);
    const std::shared_ptr<Strip> reread =
        CStripFiles::Decode({reinterpret_cast<const std::uint8_t*>(again.data()), again.size()}, key);
    if (!reread || CStripFiles::Encode(key, *reread) != again)
        std::abort();
    return 0;
}
