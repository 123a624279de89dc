#include "thumbgen/GrabWorkerProtocol.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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
                             RecordKind::End})
        if (kind == static_cast<std::uint8_t>(known))
            return true;
    return false;
}

}  // namespace

bool SendRequest(int fd, const std::string& clipPath)
{
    if (clipPath.size() > kMaxPathBytes)
        return false;
    std::uint8_t length[4];
    PutLength(length, static_cast<std::uint32_t>(clipPath.size()));
    std::string message(reinterpret_cast<const char*>(length), 4);
    message += clipPath;
    return WriteAll(fd, message.data(), message.size());
}

bool ReadRequest(int fd, std::string& clipPath)
{
    std::uint8_t length[4];
    if (!ReadAll(fd, length, sizeof length))
        return false;
    const std::uint32_t size = GetLength(length);
    if (size > kMaxPathBytes)
        return false;
    clipPath.assign(size, '\0');
    return ReadAll(fd, clipPath.data(), size);
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
