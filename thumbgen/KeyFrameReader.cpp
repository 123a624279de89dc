#include "thumbgen/KeyFrameReader.h"

#include "platform/FileSystem.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>

namespace {

constexpr std::uint64_t kPtsMask = (1ull << 33) - 1;
// Packets read at once: about 400 KB of an M2TS file.
constexpr std::uint64_t kChunkPackets = 2048;
// Bytes of the start that hold the first pictures, and of the end that hold the last ones.
constexpr std::uint64_t kHeadBytes = 2 * 1024 * 1024;
constexpr std::uint64_t kTailBytes = 2 * 1024 * 1024;
// How far before a time the search for its key picture starts: more than half a camcorder's
// group of pictures (half a second at most), so the key before the time is seen too.
constexpr double kLookBehindSeconds = 0.6;
// Past the time by this much without a key picture, the one before it is the nearest.
constexpr double kLookAheadSeconds = 3.0;
// A search reads at most this much of the stream, and takes at most this many tries.
constexpr std::uint64_t kMaxSearchPackets = 48 * 1024 * 1024 / 192;
constexpr int kMaxTries = 8;
// One picture's coded bytes: far above a camcorder's largest.
constexpr std::size_t kMaxPictureBytes = 8 * 1024 * 1024;
// The other field of a frame is shown 1/50 or 1/60 s after the first: within this many ticks.
constexpr std::int64_t kFieldTicks = 1800;

bool HasRandomAccessMark(const std::uint8_t* packet)
{
    const bool adaptation = (packet[3] & 0x20) != 0;
    return adaptation && packet[4] > 0 && (packet[5] & 0x40) != 0;
}

// The NAL unit types in an H.264 byte stream, in order, until `stop` answers true.
template <typename Stop>
void ForEachNalType(std::span<const std::uint8_t> stream, Stop stop)
{
    for (std::size_t i = 0; i + 3 < stream.size(); ++i)
        if (stream[i] == 0 && stream[i + 1] == 0 && stream[i + 2] == 1) {
            if (stop(stream[i + 3] & 0x1f, i))
                return;
            i += 2;
        }
}

constexpr unsigned kSlice = 1, kIdrSlice = 5, kSequenceParameters = 7;

// The first bytes of a picture tell a key picture: parameters or an IDR slice before any
// other slice.
bool StartsKeyPicture(std::span<const std::uint8_t> stream)
{
    bool key = false;
    ForEachNalType(stream, [&](unsigned type, std::size_t) {
        key = type == kIdrSlice || type == kSequenceParameters;
        return key || type == kSlice;
    });
    return key;
}

bool HoldsSequenceParameters(std::span<const std::uint8_t> stream)
{
    bool found = false;
    ForEachNalType(stream, [&](unsigned type, std::size_t) {
        found = type == kSequenceParameters;
        return found || type == kSlice || type == kIdrSlice;
    });
    return found;
}

// The parameter sets at the head of a picture: the bytes from its first SPS to its first slice.
std::vector<std::uint8_t> ParameterSetsOf(std::span<const std::uint8_t> stream)
{
    std::size_t begin = stream.size(), end = stream.size();
    ForEachNalType(stream, [&](unsigned type, std::size_t at) {
        if (type == kSequenceParameters && begin == stream.size())
            begin = at;
        if (type == kSlice || type == kIdrSlice) {
            end = at;
            return true;
        }
        return false;
    });
    if (begin >= end)
        return {};
    return {stream.begin() + static_cast<std::ptrdiff_t>(begin), stream.begin() + static_cast<std::ptrdiff_t>(end)};
}

}  // namespace

bool CKeyFrameReader::Fail(std::string why)
{
    problem_ = std::move(why);
    return false;
}

bool CKeyFrameReader::Open(const std::string& path)
{
    platform::FileDescriptor file = platform::OpenRegularDescriptor(path);
    if (!file)
        return Fail("cannot open the file");
    return Open(std::move(file));
}

bool CKeyFrameReader::Open(platform::FileDescriptor file)
{
    file_ = std::move(file);
    problem_.clear();
    struct stat info {};
    if (!file_ || fstat(file_.Get(), &info) != 0)
        return Fail("cannot read the file");
    size_ = static_cast<std::uint64_t>(info.st_size);
    if (!FindStart())
        return false;
    FindEnd();
    return true;
}

std::uint64_t CKeyFrameReader::PacketCount() const
{
    return size_ < layout_.first + ts::kPacketBytes ? 0 : (size_ - layout_.first - ts::kPacketBytes) / layout_.stride + 1;
}

std::int64_t CKeyFrameReader::TicksOf(std::uint64_t pts) const
{
    // A 33-bit clock that may wrap: the difference taken around it, pictures shown a little
    // before the first one (reordered ones) coming out negative.
    std::int64_t ticks = static_cast<std::int64_t>((pts - firstPts_) & kPtsMask);
    if (ticks >= static_cast<std::int64_t>(1ull << 32))
        ticks -= static_cast<std::int64_t>(1ull << 33);
    return ticks;
}

std::span<const std::uint8_t> CKeyFrameReader::ReadPackets(std::uint64_t first, std::uint64_t count, bool& failed)
{
    // From the packet's sync byte: an M2TS file's arrival time in front of it is never needed.
    const std::uint64_t offset = layout_.first + first * layout_.stride;
    buffer_.resize(static_cast<std::size_t>(count * layout_.stride));
    const std::size_t got = platform::ReadAt(file_.Get(), buffer_.data(), buffer_.size(), offset, failed);
    return {buffer_.data(), got};
}

bool CKeyFrameReader::ForEachPesStart(std::uint64_t from, std::uint64_t maxPackets,
                                      const std::function<bool(const PesStart&)>& visit)
{
    const std::uint64_t end = std::min(PacketCount(), from + maxPackets);
    for (std::uint64_t chunk = from; chunk < end; chunk += kChunkPackets) {
        bool failed = false;
        const std::span<const std::uint8_t> bytes = ReadPackets(chunk, std::min(kChunkPackets, end - chunk), failed);
        if (failed)
            return Fail("the file could not be read");
        for (std::size_t at = 0; at + ts::kPacketBytes <= bytes.size(); at += layout_.stride) {
            const ts::Packet packet = ts::ReadPacket(bytes.data() + at);
            if (!packet.usable || !packet.unitStart || packet.pid != pid_)
                continue;
            const std::optional<ts::PesHeader> header = ts::ReadPesHeader(packet.payload, packet.payloadBytes);
            if (!header || !header->video || !header->pts)
                continue;
            const std::span<const std::uint8_t> stream(packet.payload + header->headerBytes,
                                                       packet.payloadBytes - header->headerBytes);
            const PesStart start{chunk + at / layout_.stride, TicksOf(*header->pts),
                                 HasRandomAccessMark(bytes.data() + at) || StartsKeyPicture(stream)};
            if (!visit(start))
                return true;
        }
        if (bytes.size() < std::min(kChunkPackets, end - chunk) * layout_.stride)
            break;  // the file ended early
    }
    return true;
}

bool CKeyFrameReader::FindStart()
{
    buffer_.resize(static_cast<std::size_t>(std::min(size_, kHeadBytes)));
    bool failed = false;
    const std::size_t got = platform::ReadAt(file_.Get(), buffer_.data(), buffer_.size(), 0, failed);
    if (failed)
        return Fail("the file could not be read");
    const std::optional<ts::PacketLayout> layout = ts::DetectLayout({buffer_.data(), got});
    if (!layout)
        return Fail("not a transport stream");
    layout_ = *layout;
    // The video stream is the first that carries a video PES; its first picture is the one of
    // the earliest time among those at the start (the first in decode order may be shown later).
    std::optional<std::uint64_t> first;
    for (std::size_t at = layout_.first; at + ts::kPacketBytes <= got; at += layout_.stride) {
        const ts::Packet packet = ts::ReadPacket(buffer_.data() + at);
        if (!packet.usable || !packet.unitStart || (pid_ != 0 && packet.pid != pid_))
            continue;
        const std::optional<ts::PesHeader> header = ts::ReadPesHeader(packet.payload, packet.payloadBytes);
        if (!header || !header->video || !header->pts)
            continue;
        pid_ = packet.pid;
        if (!first || static_cast<std::int64_t>((*header->pts - *first) & kPtsMask) >= static_cast<std::int64_t>(1ull << 32))
            first = *header->pts;
    }
    if (!first)
        return Fail("no video stream");
    firstPts_ = *first;
    return true;
}

void CKeyFrameReader::FindEnd()
{
    const std::uint64_t count = PacketCount();
    const std::uint64_t tailPackets = kTailBytes / layout_.stride;
    lastTicks_ = 0;
    ForEachPesStart(count > tailPackets ? count - tailPackets : 0, tailPackets + 1, [this](const PesStart& start) {
        lastTicks_ = std::max(lastTicks_, start.ticks);
        return true;
    });
}

std::uint64_t CKeyFrameReader::PacketNear(double seconds) const
{
    // Camcorders record at an about constant rate: the time's share of the whole.
    const double duration = Duration();
    if (seconds <= 0 || duration <= 0)
        return 0;
    const double share = std::min(1.0, seconds / duration);
    return static_cast<std::uint64_t>(share * static_cast<double>(PacketCount()));
}

std::optional<CKeyFrameReader::KeyFrame> CKeyFrameReader::Nearest(double seconds)
{
    if (!file_) {
        Fail("the file is not open");
        return std::nullopt;
    }
    problem_.clear();
    const auto target = static_cast<std::int64_t>(std::llround(seconds * kTicksPerSecond));
    const auto behind = static_cast<std::int64_t>(kLookBehindSeconds * kTicksPerSecond);
    const auto ahead = static_cast<std::int64_t>(kLookAheadSeconds * kTicksPerSecond);
    const double packetsPerTick =
        static_cast<double>(PacketCount()) / static_cast<double>(std::max<std::int64_t>(lastTicks_, kTicksPerSecond));
    std::uint64_t from = PacketNear(seconds - kLookBehindSeconds);
    std::optional<PesStart> before, after;
    for (int attempt = 0; attempt < kMaxTries; ++attempt) {
        std::optional<std::int64_t> firstSeen;
        bool farBefore = false;
        before.reset();
        after.reset();
        if (!ForEachPesStart(from, kMaxSearchPackets, [&](const PesStart& start) {
                if (!firstSeen) {
                    firstSeen = start.ticks;
                    // The estimate fell far before the time: jump closer instead of reading on.
                    if (start.ticks < target - 4 * behind)
                        return !(farBefore = true);
                }
                if (start.ticks <= target) {
                    if (start.key)
                        before = start;
                    return true;
                }
                if (start.key) {
                    after = start;
                    return false;
                }
                return start.ticks <= target + ahead;
            }))
            return std::nullopt;
        const auto packetsFor = [&](std::int64_t ticks) {
            return static_cast<std::uint64_t>(std::max(1.0, static_cast<double>(ticks) * packetsPerTick));
        };
        if (!firstSeen) {  // nothing from here on: the end of the file
            if (from == 0)
                break;
            from -= std::min(from, packetsFor(behind * 2));
            continue;
        }
        if (farBefore) {
            from += packetsFor(target - behind - *firstSeen);
            continue;
        }
        // Started past the time, or too close before it to know the key picture before it,
        // which may be nearer than the one after: start earlier.
        const bool mayMissNearer = !before && (!after || after->ticks - target > target - *firstSeen);
        if (from > 0 && mayMissNearer) {
            from -= std::min(from, packetsFor(std::max<std::int64_t>(*firstSeen - target, 0) + behind));
            continue;
        }
        break;
    }
    const PesStart* nearest = nullptr;
    if (before && after)
        nearest = target - before->ticks <= after->ticks - target ? &*before : &*after;
    else if (before || after)
        nearest = before ? &*before : &*after;
    if (nearest == nullptr) {
        Fail("no key picture near " + std::to_string(seconds) + " s");
        return std::nullopt;
    }
    return Extract(*nearest);
}

std::optional<CKeyFrameReader::KeyFrame> CKeyFrameReader::Extract(const PesStart& start)
{
    KeyFrame frame;
    frame.seconds = std::max<double>(0.0, static_cast<double>(start.ticks) / kTicksPerSecond);
    const std::uint64_t end = PacketCount();
    bool complete = false;
    for (std::uint64_t chunk = start.packet; chunk < end && !complete; chunk += kChunkPackets) {
        bool failed = false;
        const std::span<const std::uint8_t> bytes = ReadPackets(chunk, std::min(kChunkPackets, end - chunk), failed);
        if (failed) {
            Fail("the file could not be read");
            return std::nullopt;
        }
        for (std::size_t at = 0; at + ts::kPacketBytes <= bytes.size() && !complete; at += layout_.stride) {
            const ts::Packet packet = ts::ReadPacket(bytes.data() + at);
            if (!packet.usable || packet.pid != pid_)
                continue;
            std::span<const std::uint8_t> payload(packet.payload, packet.payloadBytes);
            if (packet.unitStart) {
                const std::optional<ts::PesHeader> header = ts::ReadPesHeader(payload.data(), payload.size());
                // The next picture is taken along only as the other field of this frame.
                const std::int64_t after = header && header->pts ? TicksOf(*header->pts) - start.ticks : 1;
                complete = !header || (!frame.pictures.empty() &&
                                       (frame.pictures.size() > 1 || after <= 0 || after > kFieldTicks));
                if (complete)
                    break;
                frame.pictures.push_back(
                    CodedPicture{header->pts.value_or(firstPts_ + static_cast<std::uint64_t>(start.ticks)), {}});
                payload = payload.subspan(header->headerBytes);
            }
            if (frame.pictures.empty())
                continue;
            std::vector<std::uint8_t>& coded = frame.pictures.back().bytes;
            if (coded.size() + payload.size() > kMaxPictureBytes) {
                Fail("a picture larger than " + std::to_string(kMaxPictureBytes) + " bytes");
                return std::nullopt;
            }
            coded.insert(coded.end(), payload.begin(), payload.end());
        }
    }
    if (frame.pictures.empty() || frame.pictures.front().bytes.empty()) {
        Fail("the key picture could not be read");
        return std::nullopt;
    }
    // A key picture without parameter sets of its own gets the stream's, so it decodes alone.
    std::vector<std::uint8_t>& key = frame.pictures.front().bytes;
    if (HoldsSequenceParameters(key)) {
        if (parameterSets_.empty())
            parameterSets_ = ParameterSetsOf(key);
    } else if (!parameterSets_.empty()) {
        key.insert(key.begin(), parameterSets_.begin(), parameterSets_.end());
    }
    return frame;
}
