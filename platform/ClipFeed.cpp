#include "platform/ClipFeed.h"

#include "platform/FileSystem.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cctype>

namespace platform {

namespace {

// The bytes that the last first picture found in this process needed; 0 before the first.
std::atomic<std::uint64_t> expectedEnd{0};
// The device whose last clip was read through the page cache, plus one; 0 for none.
std::atomic<std::uint64_t> cachedDevice{0};

constexpr std::uint64_t kPageBytes = 4096;  // what the kernel reads of a file at the least

}  // namespace

void ClipFeed::ForgetExpectedEnd()
{
    expectedEnd.store(0, std::memory_order_relaxed);
    cachedDevice.store(0, std::memory_order_relaxed);
}

namespace {

// Where the pieces are expected to end, in whole pages: where the first picture of the clip
// before ended, and the margin; 0 before the first.
std::uint64_t ExpectedCut()
{
    const std::uint64_t expected = expectedEnd.load(std::memory_order_relaxed);
    if (expected == 0)
        return 0;
    return (expected + ClipFeed::kExpectedEndMargin + kPageBytes - 1) / kPageBytes * kPageBytes;
}

}  // namespace

std::size_t ClipFeed::PieceBytes() const
{
    const std::uint64_t cut = ExpectedCut();
    if (cut == 0)
        return kPieceBytes;
    if (cut <= offset_ || cut - offset_ >= kPieceBytes)
        return kPieceBytes;  // short of it, or past it already: a picture larger than expected
    return static_cast<std::size_t>(cut - offset_);
}

bool ClipFeed::DeviceReadThroughCache() const
{
    return cachedDevice.load(std::memory_order_relaxed) == device_ + 1;
}

void ClipFeed::AskAheadForExpectedPieces(std::uint64_t from)
{
    const std::uint64_t cut = ExpectedCut();
    if (cut <= from)
        return;
    for (std::uint64_t at = from; at < cut; at += kPieceBytes) {
        const std::uint64_t piece = std::min<std::uint64_t>(kPieceBytes, cut - at);
        posix_fadvise(file_.Get(), static_cast<off_t>(at), static_cast<off_t>(piece), POSIX_FADV_WILLNEED);
    }
    askedUpTo_ = cut;
    Finish();
}

void ClipFeed::AskAheadAfterFirstPiece(std::size_t firstBytes)
{
    // Pieces can be queued only where the kernel reads the file through its cache; elsewhere
    // (a file read past it) they would be read twice, and are read one by one in the turn.
    const bool cached = FirstPageCached(file_.Get());
    std::uint64_t expected = device_ + 1;
    if (cached)
        cachedDevice.store(device_ + 1, std::memory_order_relaxed);
    else
        cachedDevice.compare_exchange_strong(expected, 0, std::memory_order_relaxed);
    if (!cached)
        askedUpTo_ = 0;  // any piece asked before is read again, in the turn
    else if (askedUpTo_ == 0)
        AskAheadForExpectedPieces(firstBytes);
}

bool ClipFeed::NamesTransportStream(const std::string& path)
{
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || path.find('/', dot) != std::string::npos)
        return false;
    std::string extension = path.substr(dot + 1);
    for (char& c : extension)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension == "mts" || extension == "m2ts" || extension == "ts";
}

bool ClipFeed::Open(const std::string& path)
{
    Close();
    file_ = OpenRegularDescriptor(path);
    struct stat info {};
    if (!file_ || fstat(file_.Get(), &info) != 0)
        return false;
    device_ = static_cast<std::uint64_t>(info.st_dev);
    // Read ahead, a card would be asked for bytes past the first picture; the pieces are sized
    // for it instead.
    posix_fadvise(file_.Get(), 0, 0, POSIX_FADV_RANDOM);
    abandoned_.store(false, std::memory_order_release);
    deadline_ = std::chrono::steady_clock::time_point::max();
    return true;
}

void ClipFeed::Close()
{
    Finish();
    file_ = FileDescriptor();
    layout_.reset();
    firstPicture_.reset();
    offset_ = 0;
    askedUpTo_ = 0;
    cut_ = false;
}

void ClipFeed::Finish()
{
    turn_.Give();
}

bool ClipFeed::AwaitTurn()
{
    return turn_.Held() || turn_.Take(file_.Get(), deadline_, abandoned_);
}

bool ClipFeed::TellPackets(std::span<const std::uint8_t> first)
{
    layout_ = ts::DetectLayout(first);
    if (!layout_)
        return false;
    firstPicture_.emplace(*layout_);
    return true;
}

ClipFeed::Piece ClipFeed::Next(std::uint8_t* buffer, std::size_t& bytes)
{
    bytes = 0;
    if (!file_ || cut_)
        return Piece::End;
    if (offset_ >= askedUpTo_ && !AwaitTurn())
        return Piece::Failed;
    // The clip before on this card was read through the cache: the first piece is asked with the
    // others, so that the card serves them back to back without waiting for this grab in between.
    if (offset_ == 0 && DeviceReadThroughCache())
        AskAheadForExpectedPieces(0);
    bool failed = false;
    bytes = ReadAt(file_.Get(), buffer, PieceBytes(), offset_, failed);
    if (failed || (offset_ == 0 && !TellPackets({buffer, bytes}))) {
        Finish();
        return Piece::Failed;
    }
    if (bytes == 0) {
        Finish();
        return Piece::End;
    }
    if (offset_ == 0)
        AskAheadAfterFirstPiece(bytes);  // before the piece is looked through: the card waits
    if (firstPicture_ && firstPicture_->Add({buffer, bytes}) == ts::FirstPictureEnd::State::Found) {
        // The cut may fall in a packet that began in the piece before: the demuxer drops the
        // part of it that it was given, as it does any packet cut off by the end.
        cut_ = true;
        Finish();
        // What the finder had to read: up to the end of the packet that starts the next unit.
        expectedEnd.store(firstPicture_->End() + layout_->stride, std::memory_order_relaxed);
        bytes = static_cast<std::size_t>(std::max(firstPicture_->End(), offset_) - offset_);
        if (bytes == 0)
            return Piece::End;
    }
    offset_ += bytes;
    return Piece::Bytes;
}

}  // namespace platform
