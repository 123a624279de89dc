#include "imaging/JpegComment.h"

#include <optional>

namespace imaging {
namespace {

constexpr std::uint8_t kMarker = 0xFF;
constexpr std::uint8_t kStartOfImage = 0xD8;
constexpr std::uint8_t kComment = 0xFE;
constexpr std::uint8_t kStartOfScan = 0xDA;
constexpr std::size_t kLargestSegmentText = 0xFFFF - 2;

bool IsApplicationSegment(std::uint8_t marker)
{
    return marker >= 0xE0 && marker <= 0xEF;
}

// A marker segment of the header: its marker and the bytes of its content.
struct Segment {
    std::uint8_t marker = 0;
    std::size_t begin = 0;  // of the marker
    std::size_t contentBegin = 0;
    std::size_t end = 0;    // one past the segment
};

// The segment at `at`, or nothing when the bytes there are no whole segment.
std::optional<Segment> SegmentAt(std::span<const std::uint8_t> jpeg, std::size_t at)
{
    if (at + 4 > jpeg.size() || jpeg[at] != kMarker)
        return std::nullopt;
    const std::size_t length = static_cast<std::size_t>(jpeg[at + 2]) << 8 | jpeg[at + 3];
    if (length < 2 || at + 2 + length > jpeg.size())
        return std::nullopt;
    return Segment{jpeg[at + 1], at, at + 4, at + 2 + length};
}

bool StartsAsJpeg(std::span<const std::uint8_t> jpeg)
{
    return jpeg.size() >= 2 && jpeg[0] == kMarker && jpeg[1] == kStartOfImage;
}

}  // namespace

std::vector<std::uint8_t> WithComment(std::span<const std::uint8_t> jpeg, std::string_view text)
{
    std::vector<std::uint8_t> out(jpeg.begin(), jpeg.end());
    if (!StartsAsJpeg(jpeg) || text.size() > kLargestSegmentText)
        return out;
    std::size_t at = 2;
    while (const std::optional<Segment> segment = SegmentAt(jpeg, at)) {
        if (!IsApplicationSegment(segment->marker))
            break;
        at = segment->end;
    }
    const std::size_t length = text.size() + 2;
    std::vector<std::uint8_t> comment = {kMarker, kComment, static_cast<std::uint8_t>(length >> 8),
                                         static_cast<std::uint8_t>(length & 0xFF)};
    comment.insert(comment.end(), text.begin(), text.end());
    out.insert(out.begin() + static_cast<std::ptrdiff_t>(at), comment.begin(), comment.end());
    return out;
}

std::vector<std::string> Comments(std::span<const std::uint8_t> jpeg)
{
    std::vector<std::string> comments;
    if (!StartsAsJpeg(jpeg))
        return comments;
    std::size_t at = 2;
    while (const std::optional<Segment> segment = SegmentAt(jpeg, at)) {
        if (segment->marker == kStartOfScan)
            break;
        if (segment->marker == kComment)
            comments.emplace_back(jpeg.begin() + static_cast<std::ptrdiff_t>(segment->contentBegin),
                                  jpeg.begin() + static_cast<std::ptrdiff_t>(segment->end));
        at = segment->end;
    }
    return comments;
}

}  // namespace imaging
