#include "thumbgen/GrabWorkerProtocol.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <span>

namespace grab_protocol {
namespace {

constexpr std::size_t kHeaderBytes = 5;
constexpr int kPollSliceMs = 20;

bool WriteAll(int fd, const void* data, std::size_t size)
{
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    while (size > 0) {
        const ssize_t written = write(fd, bytes, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

bool ReadAll(int fd, void* data, std::size_t size)
{
    auto* bytes = static_cast<std::uint8_t*>(data);
    while (size > 0) {
        const ssize_t got = read(fd, bytes, size);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        bytes += got;
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

void PutLength(std::uint8_t* out, std::uint32_t length)
{
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<std::uint8_t>(length >> (8 * i));
}

std::uint32_t GetLength(const std::uint8_t* in)
{
    std::uint32_t length = 0;
    for (int i = 0; i < 4; ++i)
        length |= static_cast<std::uint32_t>(in[i]) << (8 * i);
    return length;
}

bool IsKnownKind(std::uint8_t kind)
{
    for (RecordKind known : {RecordKind::Ready, RecordKind::Acknowledged, RecordKind::LogLine, RecordKind::Picture,
                             RecordKind::Frame, RecordKind::End})
        if (kind == static_cast<std::uint8_t>(known))
            return true;
    return false;
}

// Little-endian numbers written and read in a request's or record's bytes.
void PutNumber(std::string& out, std::uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<char>(value >> (8 * i)));
}

class NumberReader {
public:
    explicit NumberReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    bool Take(std::uint64_t& value, int bytes)
    {
        if (bytes_.size() - at_ < static_cast<std::size_t>(bytes))
            return false;
        value = 0;
        for (int i = 0; i < bytes; ++i)
            value |= static_cast<std::uint64_t>(bytes_[at_++]) << (8 * i);
        return true;
    }
    bool TakeText(std::string& text, std::size_t size)
    {
        if (bytes_.size() - at_ < size)
            return false;
        text.assign(reinterpret_cast<const char*>(bytes_.data() + at_), size);
        at_ += size;
        return true;
    }
    std::span<const std::uint8_t> Rest() const { return bytes_.subspan(at_); }

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t at_ = 0;
};

std::uint64_t Microseconds(double seconds)
{
    return seconds > 0 && seconds < 1e9 ? static_cast<std::uint64_t>(std::llround(seconds * 1e6)) : 0;
}

bool SendTypedRequest(int fd, RequestKind kind, const std::string& payload)
{
    if (payload.size() > kMaxRequestBytes)
        return false;
    std::string message(1, static_cast<char>(kind));
    PutNumber(message, payload.size(), 4);
    message += payload;
    return WriteAll(fd, message.data(), message.size());
}

}  // namespace

bool SendRequest(int fd, const std::string& clipPath)
{
    return clipPath.size() <= kMaxPathBytes && SendTypedRequest(fd, RequestKind::Thumbnail, clipPath);
}

bool SendStripRequest(int fd, const StripRequest& strip)
{
    const std::string payload = EncodeStripRequest(strip);
    return !payload.empty() && SendTypedRequest(fd, RequestKind::Strip, payload);
}

std::string EncodeStripRequest(const StripRequest& strip)
{
    if (strip.parts.empty() || strip.parts.size() > StripRequest::kMaxParts || strip.frames < 1 ||
        strip.frames > StripRequest::kMaxFrames || strip.width < 1 || strip.width > 0xffff || strip.height < 1 ||
        strip.height > 0xffff)
        return {};
    std::string out;
    for (const int value : {strip.frames, std::clamp(strip.first, 0, strip.frames - 1), strip.width, strip.height,
                            static_cast<int>(strip.parts.size())})
        PutNumber(out, static_cast<std::uint64_t>(value), 2);
    for (const StripPart& part : strip.parts) {
        if (part.path.size() > kMaxPathBytes)
            return {};
        PutNumber(out, Microseconds(part.seconds), 8);
        PutNumber(out, part.path.size(), 4);
        out += part.path;
    }
    return out;
}

bool DecodeStripRequest(const std::string& bytes, StripRequest& strip)
{
    NumberReader in({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
    std::uint64_t frames = 0, first = 0, width = 0, height = 0, parts = 0;
    if (!in.Take(frames, 2) || !in.Take(first, 2) || !in.Take(width, 2) || !in.Take(height, 2) || !in.Take(parts, 2) ||
        frames < 1 || frames > StripRequest::kMaxFrames || first >= frames || width < 1 || height < 1 || parts < 1 ||
        parts > StripRequest::kMaxParts)
        return false;
    strip = StripRequest{};
    strip.frames = static_cast<int>(frames);
    strip.first = static_cast<int>(first);
    strip.width = static_cast<int>(width);
    strip.height = static_cast<int>(height);
    for (std::uint64_t i = 0; i < parts; ++i) {
        std::uint64_t micros = 0, length = 0;
        StripPart part;
        if (!in.Take(micros, 8) || !in.Take(length, 4) || length > kMaxPathBytes || !in.TakeText(part.path, length))
            return false;
        part.seconds = static_cast<double>(micros) / 1e6;
        strip.parts.push_back(std::move(part));
    }
    return in.Rest().empty();
}

std::vector<std::uint8_t> EncodeFrame(const StripFrame& frame)
{
    std::string head;
    PutNumber(head, static_cast<std::uint64_t>(frame.index), 2);
    PutNumber(head, Microseconds(frame.seconds), 8);
    PutNumber(head, Microseconds(frame.duration), 8);
    std::vector<std::uint8_t> out(head.begin(), head.end());
    out.insert(out.end(), frame.picture.bytes.begin(), frame.picture.bytes.end());
    return out;
}

bool DecodeFrame(const std::vector<std::uint8_t>& payload, StripFrame& frame, std::vector<std::uint8_t>& jpeg)
{
    NumberReader in(payload);
    std::uint64_t index = 0, seconds = 0, duration = 0;
    if (!in.Take(index, 2) || !in.Take(seconds, 8) || !in.Take(duration, 8) || index >= StripRequest::kMaxFrames)
        return false;
    frame.index = static_cast<int>(index);
    frame.seconds = static_cast<double>(seconds) / 1e6;
    frame.duration = static_cast<double>(duration) / 1e6;
    jpeg.assign(in.Rest().begin(), in.Rest().end());
    return true;
}

bool ReadRequest(int fd, Request& request)
{
    std::uint8_t header[5];
    if (!ReadAll(fd, header, sizeof header))
        return false;
    const std::uint32_t size = GetLength(header + 1);
    if (size > kMaxRequestBytes)
        return false;
    std::string payload(size, '\0');
    if (!ReadAll(fd, payload.data(), size))
        return false;
    request.kind = static_cast<RequestKind>(header[0]);
    switch (request.kind) {
    case RequestKind::Thumbnail:
        request.clipPath = std::move(payload);
        return size <= kMaxPathBytes;
    case RequestKind::Strip:
        return DecodeStripRequest(payload, request.strip);
    }
    return false;
}

bool SendRecord(int fd, RecordKind kind, const void* data, std::size_t size)
{
    if (size > kMaxRecordBytes)
        return false;
    std::uint8_t header[kHeaderBytes];
    header[0] = static_cast<std::uint8_t>(kind);
    PutLength(header + 1, static_cast<std::uint32_t>(size));
    return WriteAll(fd, header, sizeof header) && WriteAll(fd, data, size);
}

bool RecordReader::TakeBuffered(Record& record, bool& malformed)
{
    malformed = false;
    if (buffer_.size() < kHeaderBytes)
        return false;
    const std::uint32_t size = GetLength(buffer_.data() + 1);
    if (!IsKnownKind(buffer_[0]) || size > kMaxRecordBytes) {
        malformed = true;
        return false;
    }
    if (buffer_.size() < kHeaderBytes + size)
        return false;
    record.kind = static_cast<RecordKind>(buffer_[0]);
    record.payload.assign(buffer_.begin() + kHeaderBytes, buffer_.begin() + kHeaderBytes + size);
    buffer_.erase(buffer_.begin(), buffer_.begin() + kHeaderBytes + size);
    return true;
}

ReadOutcome RecordReader::Next(Record& record, std::chrono::steady_clock::time_point deadline,
                               const std::function<bool()>& cancelled)
{
    for (;;) {
        bool malformed = false;
        if (TakeBuffered(record, malformed))
            return ReadOutcome::Record;
        if (malformed)
            return ReadOutcome::Malformed;
        if (cancelled && cancelled())
            return ReadOutcome::Cancelled;
        if (std::chrono::steady_clock::now() >= deadline)
            return ReadOutcome::TimedOut;
        pollfd waiting{fd_, POLLIN, 0};
        const int ready = poll(&waiting, 1, kPollSliceMs);
        if (ready < 0 && errno != EINTR)
            return ReadOutcome::Closed;
        if (ready <= 0)
            continue;
        std::uint8_t chunk[65536];
        const ssize_t got = read(fd_, chunk, sizeof chunk);
        if (got < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (got <= 0)
            return ReadOutcome::Closed;
        buffer_.insert(buffer_.end(), chunk, chunk + got);
    }
}

}  // namespace grab_protocol
