#include "platform/ReplacingFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace platform {
namespace {

constexpr const char* kSuffix = ".part";

// Flushes the folder that holds `path`, so a rename in it survives a power cut.
void SyncFolderOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}

}  // namespace

ReplacingFile::ReplacingFile(std::string target, mode_t mode) : target_(std::move(target))
{
    std::string name = target_ + ".XXXXXX" + kSuffix;
    // mkostemps opens with O_CREAT | O_EXCL, which never follows a link at the name.
    fd_ = mkostemps(name.data(), static_cast<int>(std::char_traits<char>::length(kSuffix)), O_CLOEXEC);
    if (fd_ < 0)
        return;
    temporary_ = std::move(name);
    if (fchmod(fd_, mode) != 0) {
        const int error = errno;
        close(fd_);
        fd_ = -1;
        unlink(temporary_.c_str());
        temporary_.clear();
        errno = error;
    }
}

ReplacingFile::~ReplacingFile()
{
    if (fd_ >= 0)
        close(fd_);
    if (!committed_ && !temporary_.empty())
        unlink(temporary_.c_str());
}

bool ReplacingFile::Write(std::span<const std::uint8_t> bytes)
{
    if (fd_ < 0) {
        errno = EBADF;
        return false;
    }
    while (!bytes.empty()) {
        const ssize_t put = write(fd_, bytes.data(), bytes.size());
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0) {
            if (put == 0)
                errno = EIO;
            return false;
        }
        bytes = bytes.subspan(static_cast<std::size_t>(put));
    }
    return true;
}

bool ReplacingFile::Write(std::string_view text)
{
    return Write({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
}

bool ReplacingFile::Commit(bool durable)
{
    if (fd_ < 0) {
        errno = EBADF;
        return false;
    }
    const bool synced = !durable || fsync(fd_) == 0;
    const int syncError = errno;
    const bool closed = close(fd_) == 0;  // a full disk may show only here
    fd_ = -1;
    if (!synced || !closed) {
        if (!synced)
            errno = syncError;
        return false;
    }
    if (rename(temporary_.c_str(), target_.c_str()) != 0)
        return false;
    committed_ = true;
    if (durable)
        SyncFolderOf(target_);
    return true;
}

bool ReplaceFileWith(const std::string& target, std::span<const std::uint8_t> bytes, mode_t mode, bool durable)
{
    ReplacingFile file(target, mode);
    return file.Opened() && file.Write(bytes) && file.Commit(durable);
}

}  // namespace platform
