#include "thumbgen/StripCache.h"

#include "platform/FileSystem.h"
#include "platform/Format.h"
#include "platform/ReplacingFile.h"
#include "platform/UserDirectories.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>

int Strip::Made() const
{
    return static_cast<int>(std::count_if(frames.begin(), frames.end(), [](const auto& frame) { return frame != nullptr; }));
}

std::size_t Strip::Bytes() const
{
    std::size_t bytes = 0;
    for (const auto& frame : frames)
        if (frame)
            bytes += frame->picture.bytes.size() + sizeof(StripFrame);
    return bytes;
}

bool Strip::Put(StripFrame frame)
{
    if (frame.index < 0 || frame.index >= Count())
        return false;
    if (frame.duration > 0)
        duration = frame.duration;
    const auto index = static_cast<std::size_t>(frame.index);
    frames[index] = std::make_shared<const StripFrame>(std::move(frame));
    return true;
}

int Strip::NearestMade(int index) const
{
    for (int distance = 0; distance < Count(); ++distance)
        for (const int candidate : {index - distance, index + distance})
            if (candidate >= 0 && candidate < Count() && frames[static_cast<std::size_t>(candidate)])
                return candidate;
    return -1;
}

std::string StripKeyOf(const std::vector<std::string>& files)
{
    std::string key = "files " + std::to_string(files.size()) + "\n";
    for (const std::string& file : files) {
        struct stat info {};
        if (file.empty() || stat(file.c_str(), &info) != 0)
            return {};
        key += platform::FormatString("size %lld\nmtime %lld.%09ld\npath %zu\n", static_cast<long long>(info.st_size),
                                      static_cast<long long>(info.st_mtim.tv_sec), static_cast<long>(info.st_mtim.tv_nsec),
                                      file.size()) +
               file + "\n";
    }
    return key;
}

namespace {

constexpr const char* kMagic = "viewmere strip 1\n";

// 64-bit FNV-1a: a stable file name for any identity; the file's content tells collisions apart.
std::uint64_t Hash(const std::string& text)
{
    std::uint64_t hash = 14695981039346656037ull;
    for (unsigned char byte : text) {
        hash ^= byte;
        hash *= 1099511628211ull;
    }
    return hash;
}

long long Microseconds(double seconds)
{
    return seconds > 0 && seconds < 1e9 ? std::llround(seconds * 1e6) : 0;
}

// Reads a strip file's fields in order; every read fails past the end or on a field out of form.
class FieldReader {
public:
    explicit FieldReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    bool Literal(std::string_view text)
    {
        if (bytes_.size() - at_ < text.size() ||
            !std::equal(text.begin(), text.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(at_)))
            return false;
        at_ += text.size();
        return true;
    }
    // A decimal number ended by `end`, within 0 .. limit.
    bool Number(long long& value, char end, long long limit)
    {
        const char* first = reinterpret_cast<const char*>(bytes_.data()) + at_;
        const char* last = reinterpret_cast<const char*>(bytes_.data()) + bytes_.size();
        const auto [stop, error] = std::from_chars(first, last, value);
        if (error != std::errc() || stop == first || stop == last || *stop != end || value < 0 || value > limit)
            return false;
        at_ += static_cast<std::size_t>(stop - first) + 1;
        return true;
    }
    bool Bytes(std::size_t size, std::span<const std::uint8_t>& out)
    {
        if (bytes_.size() - at_ < size)
            return false;
        out = bytes_.subspan(at_, size);
        at_ += size;
        return true;
    }
    bool AtEnd() const { return at_ == bytes_.size(); }

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t at_ = 0;
};

}  // namespace

CStripFiles::CStripFiles(std::string folder) : folder_(folder.empty() ? DefaultFolder() : std::move(folder)) {}

std::string CStripFiles::DefaultFolder()
{
    const std::string cache = platform::UserCacheDirectory();
    return cache.empty() ? std::string() : cache + "/viewmere/strips";
}

std::string CStripFiles::PathOf(const std::string& key) const
{
    return platform::FormatString("%s/%016llx.strip", folder_.c_str(), static_cast<unsigned long long>(Hash(key)));
}

std::string CStripFiles::Encode(const std::string& key, const Strip& strip)
{
    std::string out = kMagic;
    out += "identity " + std::to_string(key.size()) + "\n" + key + "\n";
    out += "frames " + std::to_string(strip.Count()) + "\n";
    out += "duration " + std::to_string(Microseconds(strip.duration)) + "\n";
    for (const auto& frame : strip.frames) {
        if (!frame)
            continue;
        out += platform::FormatString("frame %d %lld %d %d %zu\n", frame->index, Microseconds(frame->seconds),
                                      frame->picture.width, frame->picture.height, frame->picture.bytes.size());
        out.append(frame->picture.bytes.begin(), frame->picture.bytes.end());
    }
    return out + "end\n";
}

std::shared_ptr<Strip> CStripFiles::Decode(std::span<const std::uint8_t> bytes, const std::string& key)
{
    FieldReader in(bytes);
    long long keyBytes = 0, count = 0, duration = 0;
    std::span<const std::uint8_t> identity;
    if (!in.Literal(kMagic) || !in.Literal("identity ") || !in.Number(keyBytes, '\n', static_cast<long long>(kMaxFileBytes)) ||
        !in.Bytes(static_cast<std::size_t>(keyBytes), identity) || !in.Literal("\n") ||
        !std::equal(identity.begin(), identity.end(), key.begin(), key.end()) || !in.Literal("frames ") ||
        !in.Number(count, '\n', StripRequest::kMaxFrames) || !in.Literal("duration ") ||
        !in.Number(duration, '\n', 1000000ll * 1000000))
        return nullptr;
    auto strip = std::make_shared<Strip>(static_cast<int>(count));
    strip->duration = static_cast<double>(duration) / 1e6;
    while (!in.Literal("end\n")) {
        long long index = 0, seconds = 0, width = 0, height = 0, size = 0;
        std::span<const std::uint8_t> jpeg;
        if (!in.Literal("frame ") || !in.Number(index, ' ', count - 1) || !in.Number(seconds, ' ', duration) ||
            !in.Number(width, ' ', 0xffff) || !in.Number(height, ' ', 0xffff) ||
            !in.Number(size, '\n', static_cast<long long>(kMaxFileBytes)) || !in.Bytes(static_cast<std::size_t>(size), jpeg))
            return nullptr;
        StripFrame frame;
        frame.index = static_cast<int>(index);
        frame.seconds = static_cast<double>(seconds) / 1e6;
        frame.duration = strip->duration;
        frame.picture.bytes.assign(jpeg.begin(), jpeg.end());
        frame.picture.width = static_cast<std::int32_t>(width);
        frame.picture.height = static_cast<std::int32_t>(height);
        strip->Put(std::move(frame));
    }
    return in.AtEnd() ? strip : nullptr;
}

bool CStripFiles::Save(const std::string& key, const Strip& strip) const
{
    if (folder_.empty() || key.empty() || strip.Made() == 0 || !platform::MakeDirectories(folder_, 0700))
        return false;
    const std::string bytes = Encode(key, strip);
    return platform::ReplaceFileWith(PathOf(key), {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()},
                                     0600);
}

std::shared_ptr<Strip> CStripFiles::Load(const std::string& key) const
{
    if (folder_.empty() || key.empty())
        return nullptr;
    // A link or anything but a regular file at the name is not read.
    const platform::FileDescriptor file(open(PathOf(key).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat info {};
    if (!file || fstat(file.Get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0 ||
        static_cast<std::uint64_t>(info.st_size) > kMaxFileBytes)
        return nullptr;
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(info.st_size));
    bool failed = false;
    if (platform::ReadAt(file.Get(), bytes.data(), bytes.size(), 0, failed) != bytes.size() || failed)
        return nullptr;
    return Decode(bytes, key);
}

std::shared_ptr<Strip> CStripCache::Find(const std::string& key)
{
    const auto found = where_.find(key);
    if (found == where_.end())
        return nullptr;
    order_.splice(order_.begin(), order_, found->second);
    return found->second->strip;
}

void CStripCache::Keep(const std::string& key, std::shared_ptr<Strip> strip)
{
    if (!strip)
        return;
    if (const auto found = where_.find(key); found != where_.end()) {
        bytes_ -= found->second->bytes;
        order_.erase(found->second);
        where_.erase(found);
    }
    const std::size_t bytes = strip->Bytes();
    order_.push_front(Kept{key, std::move(strip), bytes});
    where_[key] = order_.begin();
    bytes_ += bytes;
    Trim();
}

void CStripCache::Grew(const std::string& key)
{
    const auto found = where_.find(key);
    if (found == where_.end())
        return;
    const std::size_t bytes = found->second->strip->Bytes();
    bytes_ = bytes_ - found->second->bytes + bytes;
    found->second->bytes = bytes;
    Trim();
}

void CStripCache::Trim()
{
    while (order_.size() > 1 && (order_.size() > capacity_ || bytes_ > byteCapacity_)) {
        bytes_ -= order_.back().bytes;
        where_.erase(order_.back().key);
        order_.pop_back();
    }
}

void CStripCache::Clear()
{
    where_.clear();
    order_.clear();
    bytes_ = 0;
}
