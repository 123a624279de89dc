#pragma once
#include <sys/types.h>

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace platform {

// A file written whole under a temporary name beside its target, then renamed over it: a
// reader sees the old file or the whole new one, never a part. The temporary name is a fresh one
// ("<target>.XXXXXX.part"), created exclusively: an existing name of any kind, a link planted
// under it among them, is never followed, truncated or reused. What was not committed is
// removed when the owner goes.
class ReplacingFile {
public:
    // `mode` is the new file's permissions, set as they are (no umask applies).
    explicit ReplacingFile(std::string target, mode_t mode = 0644);
    ~ReplacingFile();
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    // False, with errno set, when the temporary file could not be made.
    bool Opened() const { return fd_ >= 0; }
    int Descriptor() const { return fd_; }
    const std::string& TemporaryPath() const { return temporary_; }
    // Appends bytes; false, with errno set, on a short or failed write (a full disk).
    bool Write(std::span<const std::uint8_t> bytes);
    bool Write(std::string_view text);
    // Closes the file (flushed to the disk first when `durable`, and the folder after the
    // rename) and renames it over the target. False, with errno set, when any step fails; the
    // target is then untouched.
    bool Commit(bool durable = false);

private:
    std::string target_;
    std::string temporary_;
    int fd_ = -1;
    bool committed_ = false;
};

// Writes the bytes as the whole of `target` through a ReplacingFile; false, with errno set.
bool ReplaceFileWith(const std::string& target, std::span<const std::uint8_t> bytes, mode_t mode = 0644,
                     bool durable = false);

}  // namespace platform
