#include "platform/ClipFeed.h"

#include "platform/FileSystem.h"

#include <fcntl.h>

#include <algorithm>
#include <atomic>

namespace platform {

namespace {

// The bytes that the last first picture found in this process needed; 0 before the first.
std::atomic<std::uint64_t> expectedEnd{0};

constexpr std::uint64_t kPageBytes = 4096;  // what the kernel reads of a file at the least

}  // namespace

void ClipFeed::ForgetExpectedEnd()
{
    expectedEnd.store(0, std::memory_order_relaxed);
}

std::size_t ClipFeed::PieceBytes() const
{
    const std::uint64_t expected = expectedEnd.load(std::memory_order_relaxed);
    if (expected == 0)
        return kPieceBytes;
    const std::uint64_t cut = (expected + kExpectedEndMargin + kPageBytes - 1) / kPageBytes * kPageBytes;
    if (cut <= offset_ || cut - offset_ >= kPieceBytes)
        return kPieceBytes;  // short of it, or past it already: a picture larger than expected
    return static_cast<std::size_t>(cut - offset_);
}

bool ClipFeed::Open(const std::string& path)
{
    Close();
    file_ = OpenRegularDescriptor(path);
    if (!file_)
        return false;
    // Read ahead, a card would be asked for bytes past the first picture; the pieces are sized
    // for it instead.
    posix_fadvise(file_.Get(), 0, 0, POSIX_FADV_RANDOM);
    // Only the first packets are read here: the pieces are read while the graph waits for its
    // frame, within the time it is given for it (a card that stops answering costs no more).
    head_.resize(kProbeBytes);
    bool failed = false;
    head_.resize(ReadAt(file_.Get(), head_.data(), head_.size(), 0, failed));
    if (failed) {
        Close();
        return false;
    }
    if (const std::optional<ts::PacketLayout> layout = Layout())
        firstPicture_.emplace(*layout);
    return true;
}

void ClipFeed::Close()
{
    file_ = FileDescriptor();
    head_.clear();
    firstPicture_.reset();
    offset_ = 0;
    cut_ = false;
}

std::optional<ts::PacketLayout> ClipFeed::Layout() const
{
    return ts::DetectLayout(head_);
}

ClipFeed::Piece ClipFeed::Next(std::uint8_t* buffer, std::size_t& bytes)
{
    bytes = 0;
    if (!file_ || cut_)
        return Piece::End;
    bool failed = false;
    bytes = ReadAt(file_.Get(), buffer, PieceBytes(), offset_, failed);
    if (failed)
        return Piece::Failed;
    if (bytes == 0)
        return Piece::End;
    if (firstPicture_ && firstPicture_->Add({buffer, bytes}) == ts::FirstPictureEnd::State::Found) {
        // The cut may fall in a packet that began in the piece before: the demuxer drops the
        // part of it that it was given, as it does any packet cut off by the end.
        cut_ = true;
        // What the finder had to read: up to the end of the packet that starts the next unit.
        expectedEnd.store(firstPicture_->End() + Layout()->stride, std::memory_order_relaxed);
        bytes = static_cast<std::size_t>(std::max(firstPicture_->End(), offset_) - offset_);
        if (bytes == 0)
            return Piece::End;
    }
    offset_ += bytes;
    return Piece::Bytes;
}

}  // namespace platform
