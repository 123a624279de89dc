#include "import/RecordingCopy.h"

#include "import/Sha256.h"
#include "platform/FileDescriptor.h"
#include "platform/FileSystem.h"
#include "platform/Format.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

using platform::FileDescriptor;

constexpr const char* kTempPrefix = ".viewmere-import-";
constexpr const char* kTempSuffix = ".part";
constexpr std::size_t kEndBytes = 1024 * 1024;
constexpr int kMaxNumberedNames = 9999;

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
using Buffer = std::unique_ptr<std::uint8_t, FreeDeleter>;

Buffer AllocateBuffer(std::size_t bytes)
{
    void* memory = nullptr;
    if (posix_memalign(&memory, 4096, bytes) != 0)
        throw std::bad_alloc();
    return Buffer(static_cast<std::uint8_t*>(memory));
}

std::string Reason(int error)
{
    return std::strerror(error);
}

bool Cancelled(const CopyHooks& hooks)
{
    return hooks.cancel != nullptr && hooks.cancel->load(std::memory_order_relaxed);
}

bool WriteFully(int fd, const std::uint8_t* from, std::size_t count)
{
    while (count > 0) {
        const ssize_t put = write(fd, from, count);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0) {
            if (put == 0)
                errno = ENOSPC;
            return false;
        }
        from += put;
        count -= static_cast<std::size_t>(put);
    }
    return true;
}

// Reads `count` bytes at `offset`, fewer only where the file ends; the bytes read, or -1 (errno
// set) on an error.
ssize_t PreadFully(int fd, std::uint8_t* into, std::size_t count, off_t offset)
{
    bool failed = false;
    const std::size_t got = platform::ReadAt(fd, into, count, static_cast<std::uint64_t>(offset), failed);
    return failed ? -1 : static_cast<ssize_t>(got);
}

std::string RandomSuffix()
{
    std::uint8_t bytes[8] = {};
    if (getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
        const std::uint64_t mixed = static_cast<std::uint64_t>(getpid()) * 0x9e3779b97f4a7c15ULL ^
                                    static_cast<std::uint64_t>(clock());
        std::memcpy(bytes, &mixed, sizeof bytes);
    }
    std::string hex;
    for (const std::uint8_t byte : bytes)
        hex += platform::FormatString("%02x", byte);
    return hex;
}

// The temporary file of one copy: removed, and its record dropped, unless it was renamed.
class TempFile {
public:
    TempFile(const FileDescriptor& folder, std::string folderPath, const CopyHooks& hooks)
        : folder_(folder), folderPath_(std::move(folderPath)), hooks_(hooks)
    {
    }
    ~TempFile() { Discard(); }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    // Creates it exclusively, never through a link, and locks it: a lock nobody holds marks a
    // file abandoned. False, with errno set, when it cannot be made.
    bool Create()
    {
        for (int attempt = 0; attempt < 16; ++attempt) {
            name_ = kTempPrefix + RandomSuffix() + kTempSuffix;
            path_ = platform::JoinPath(folderPath_, name_);
            if (hooks_.tempCreated)
                hooks_.tempCreated(path_);
            fd_ = FileDescriptor(openat(folder_.Get(), name_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
            if (fd_) {
                flock(fd_.Get(), LOCK_EX | LOCK_NB);
                return true;
            }
            const int error = errno;
            if (hooks_.tempGone)
                hooks_.tempGone(path_);
            errno = error;
            if (error != EEXIST)
                break;
        }
        name_.clear();
        return false;
    }
    int Fd() const { return fd_.Get(); }
    const std::string& Name() const { return name_; }
    // It has its final name now: nothing to remove.
    void Keep()
    {
        fd_ = FileDescriptor();
        if (hooks_.tempGone)
            hooks_.tempGone(path_);
        name_.clear();
    }
    void Discard()
    {
        if (name_.empty())
            return;
        unlinkat(folder_.Get(), name_.c_str(), 0);
        fd_ = FileDescriptor();
        if (hooks_.tempGone)
            hooks_.tempGone(path_);
        name_.clear();
    }

private:
    const FileDescriptor& folder_;
    std::string folderPath_;
    const CopyHooks& hooks_;
    std::string name_;
    std::string path_;
    FileDescriptor fd_;
};

CopyResult Failure(CopyEnd end, std::string problem)
{
    CopyResult result;
    result.end = end;
    result.problem = std::move(problem);
    return result;
}

CopyResult WriteFailure(const std::string& what, int error)
{
    return Failure(error == ENOSPC || error == EDQUOT ? CopyEnd::NoSpace : CopyEnd::TargetFailed,
                   what + ": " + Reason(error));
}

// Copies every file of the recording into `target`, hashing what is read.
CopyResult CopyParts(const CardRecording& recording, int target, std::uint8_t* buffer, CSha256& hash,
                     const CopyHooks& hooks, std::uint64_t& copied)
{
    for (std::size_t i = 0; i < recording.parts.size(); ++i) {
        const std::string& part = recording.parts[i];
        const FileDescriptor source = platform::OpenRegularDescriptor(part);
        struct stat info {};
        if (!source || fstat(source.Get(), &info) != 0)
            return Failure(CopyEnd::SourceFailed, "cannot open " + part + ": " + Reason(errno));
        if (static_cast<std::uint64_t>(info.st_size) != recording.partSizes[i])
            return Failure(CopyEnd::SourceFailed, part + " changed its size since the card was read");
        posix_fadvise(source.Get(), 0, 0, POSIX_FADV_SEQUENTIAL);
        std::uint64_t left = recording.partSizes[i];
        while (left > 0) {
            if (Cancelled(hooks))
                return Failure(CopyEnd::Cancelled, "cancelled");
            const std::size_t want = left < kCopyBufferBytes ? static_cast<std::size_t>(left) : kCopyBufferBytes;
            const ssize_t got =
                PreadFully(source.Get(), buffer, want, static_cast<off_t>(recording.partSizes[i] - left));
            if (got < 0)
                return Failure(CopyEnd::SourceFailed, "cannot read " + part + ": " + Reason(errno));
            if (static_cast<std::size_t>(got) != want)
                return Failure(CopyEnd::SourceFailed, part + " ended before its size");
            hash.Add(buffer, want);
            if (!WriteFully(target, buffer, want))
                return WriteFailure("cannot write the copy", errno);
            left -= want;
            copied += want;
            if (hooks.progress)
                hooks.progress(copied);
        }
        // What was read from the card is not needed again: the cache keeps the user's files.
        posix_fadvise(source.Get(), 0, 0, POSIX_FADV_DONTNEED);
    }
    return CopyResult{};
}

// Reads the file back from the disk and hashes it.
CopyResult ReadBack(int fd, std::uint64_t size, std::uint8_t* buffer, CSha256& hash, const CopyHooks& hooks,
                    std::uint64_t& work)
{
    posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    std::uint64_t offset = 0;
    while (offset < size) {
        if (Cancelled(hooks))
            return Failure(CopyEnd::Cancelled, "cancelled");
        const std::uint64_t left = size - offset;
        const std::size_t want = left < kCopyBufferBytes ? static_cast<std::size_t>(left) : kCopyBufferBytes;
        const ssize_t got = PreadFully(fd, buffer, want, static_cast<off_t>(offset));
        if (got < 0)
            return Failure(CopyEnd::TargetFailed, "cannot read the copy back: " + Reason(errno));
        if (static_cast<std::size_t>(got) != want)
            return Failure(CopyEnd::Mismatch, "the copy read back is shorter than the recording");
        hash.Add(buffer, want);
        offset += want;
        work += want;
        if (hooks.progress)
            hooks.progress(work);
    }
    posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    return CopyResult{};
}

// Gives the temporary file its final name without replacing anything: the first of name,
// "name (2)", "name (3)"... that is free. The name taken, or "" with errno set.
std::string RenameNoReplace(int folder, const std::string& temp, const std::string& name)
{
    for (int n = 1; n <= kMaxNumberedNames; ++n) {
        const std::string candidate = NumberedName(name, n);
        if (renameat2(folder, temp.c_str(), folder, candidate.c_str(), RENAME_NOREPLACE) == 0)
            return candidate;
        if (errno == EEXIST)
            continue;
        if (errno != EINVAL && errno != ENOSYS)
            return {};
        // A file system without the no-replace flag: a hard link fails on a taken name.
        if (linkat(folder, temp.c_str(), folder, candidate.c_str(), 0) == 0) {
            unlinkat(folder, temp.c_str(), 0);
            return candidate;
        }
        if (errno == EEXIST)
            continue;
        // Nor links (FAT): look, then rename; nothing else writes these names.
        struct stat info {};
        if (fstatat(folder, candidate.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0)
            continue;
        if (renameat(folder, temp.c_str(), folder, candidate.c_str()) == 0)
            return candidate;
        return {};
    }
    errno = EEXIST;
    return {};
}

// Adds the file's line to the folder's SHA256SUMS, in the form sha256sum -c reads.
std::string AddManifestLine(int folder, const std::string& name, const std::string& sha256)
{
    const FileDescriptor manifest(openat(folder, "SHA256SUMS", O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (!manifest)
        return "SHA256SUMS cannot be opened: " + Reason(errno);
    const std::string line = sha256 + "  " + name + "\n";
    if (!WriteFully(manifest.Get(), reinterpret_cast<const std::uint8_t*>(line.data()), line.size()) ||
        fsync(manifest.Get()) != 0)
        return "SHA256SUMS cannot be written: " + Reason(errno);
    return {};
}

}  // namespace

CopyResult CopyRecording(const CardRecording& recording, const std::string& folder, const std::string& name,
                         std::int64_t unixSeconds, const CopyHooks& hooks)
{
    const FileDescriptor directory(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!directory)
        return WriteFailure("cannot open " + folder, errno);
    TempFile temp(directory, folder, hooks);
    if (!temp.Create())
        return WriteFailure("cannot create a file in " + folder, errno);
    const std::uint64_t size = recording.Size();
    // The space is taken at once: a full disk shows before anything is copied.
    if (size > 0) {
        const int error = posix_fallocate(temp.Fd(), 0, static_cast<off_t>(size));
        if (error == ENOSPC || error == EDQUOT || error == EFBIG)
            return WriteFailure("no room for the copy in " + folder, error);
    }
    const Buffer buffer = AllocateBuffer(kCopyBufferBytes);
    CSha256 hash;
    std::uint64_t work = 0;
    if (CopyResult copied = CopyParts(recording, temp.Fd(), buffer.get(), hash, hooks, work); copied.end != CopyEnd::Done)
        return copied;
    const std::string written = CSha256::Hex(hash.Finish());
    const timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(unixSeconds), 0}};
    if (futimens(temp.Fd(), times) != 0)
        return WriteFailure("cannot set the copy's time", errno);
    if (fsync(temp.Fd()) != 0)
        return WriteFailure("cannot flush the copy to the disk", errno);
    if (CopyResult read = ReadBack(temp.Fd(), size, buffer.get(), hash, hooks, work); read.end != CopyEnd::Done)
        return read;
    if (CSha256::Hex(hash.Finish()) != written)
        return Failure(CopyEnd::Mismatch, "the copy read back from the disk differs from the recording");
    const std::string taken = RenameNoReplace(directory.Get(), temp.Name(), name);
    if (taken.empty())
        return WriteFailure("cannot name the copy " + name, errno);
    temp.Keep();
    if (fsync(directory.Get()) != 0)
        return WriteFailure("cannot flush " + folder, errno);
    CopyResult result;
    result.path = platform::JoinPath(folder, taken);
    result.sha256 = written;
    result.manifestProblem = AddManifestLine(directory.Get(), taken, written);
    return result;
}

std::optional<std::string> HashOfEnds(const CardRecording& recording, std::string& problem)
{
    const std::uint64_t size = recording.Size();
    // The byte ranges of the joined stream that are hashed: its head, and its tail beyond the head.
    const std::uint64_t headEnd = std::min<std::uint64_t>(size, kEndBytes);
    const std::uint64_t tailStart = std::max<std::uint64_t>(headEnd, size - headEnd);
    std::vector<std::uint8_t> buffer(kEndBytes);
    CSha256 hash;
    std::uint64_t partStart = 0;
    for (std::size_t i = 0; i < recording.parts.size(); ++i) {
        const std::uint64_t partEnd = partStart + recording.partSizes[i];
        for (const auto& [from, to] : {std::pair{std::uint64_t{0}, headEnd}, std::pair{tailStart, size}}) {
            const std::uint64_t start = from > partStart ? from : partStart;
            const std::uint64_t end = to < partEnd ? to : partEnd;
            if (start >= end)
                continue;
            const FileDescriptor file = platform::OpenRegularDescriptor(recording.parts[i]);
            const std::size_t count = static_cast<std::size_t>(end - start);
            if (!file || PreadFully(file.Get(), buffer.data(), count, static_cast<off_t>(start - partStart)) !=
                             static_cast<ssize_t>(count)) {
                problem = "cannot read " + recording.parts[i] + ": " + Reason(errno ? errno : EIO);
                return std::nullopt;
            }
            hash.Add(buffer.data(), count);
        }
        partStart = partEnd;
    }
    return CSha256::Hex(hash.Finish());
}

bool SameBytes(const std::string& file, const CardRecording& recording, std::string& sha256,
               const std::atomic<bool>* cancel)
{
    const FileDescriptor copy = platform::OpenRegularDescriptor(file);
    struct stat info {};
    if (!copy || fstat(copy.Get(), &info) != 0 || static_cast<std::uint64_t>(info.st_size) != recording.Size())
        return false;
    const Buffer buffer = AllocateBuffer(kCopyBufferBytes);
    CopyHooks hooks;
    hooks.cancel = cancel;
    CSha256 hash;
    std::uint64_t work = 0;
    if (ReadBack(copy.Get(), recording.Size(), buffer.get(), hash, hooks, work).end != CopyEnd::Done)
        return false;
    const std::string existing = CSha256::Hex(hash.Finish());
    for (std::size_t i = 0; i < recording.parts.size(); ++i) {
        const FileDescriptor part = platform::OpenRegularDescriptor(recording.parts[i]);
        if (!part)
            return false;
        std::uint64_t offset = 0;
        while (offset < recording.partSizes[i]) {
            if (cancel != nullptr && cancel->load())
                return false;
            const std::uint64_t left = recording.partSizes[i] - offset;
            const std::size_t want = left < kCopyBufferBytes ? static_cast<std::size_t>(left) : kCopyBufferBytes;
            if (PreadFully(part.Get(), buffer.get(), want, static_cast<off_t>(offset)) != static_cast<ssize_t>(want))
                return false;
            hash.Add(buffer.get(), want);
            offset += want;
        }
    }
    if (CSha256::Hex(hash.Finish()) != existing)
        return false;
    sha256 = existing;
    return true;
}

bool IsImportTempName(const std::string& name)
{
    const std::size_t prefix = std::strlen(kTempPrefix), suffix = std::strlen(kTempSuffix);
    return name.size() > prefix + suffix && name.rfind(kTempPrefix, 0) == 0 &&
           name.compare(name.size() - suffix, suffix, kTempSuffix) == 0;
}

bool RemoveAbandonedTemp(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (!IsImportTempName(slash == std::string::npos ? path : path.substr(slash + 1)))
        return false;  // never anything but this program's own temporary files
    const FileDescriptor file(open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!file)
        return errno == ENOENT;
    struct stat info {};
    if (fstat(file.Get(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    if (flock(file.Get(), LOCK_EX | LOCK_NB) != 0)
        return false;  // an import is writing it
    return unlink(path.c_str()) == 0 || errno == ENOENT;
}

int RemoveAbandonedTemps(const std::string& folder)
{
    std::vector<platform::DirEntry> entries;
    platform::ListDirectory(folder, entries, [](std::string_view) { return false; });
    int removed = 0;
    for (const platform::DirEntry& entry : entries)
        if (IsImportTempName(entry.name) && RemoveAbandonedTemp(platform::JoinPath(folder, entry.name)))
            ++removed;
    return removed;
}
