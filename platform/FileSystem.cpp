#include "platform/FileSystem.h"

#include <algorithm>

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>

namespace platform {
namespace {

char FoldAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool MatchFrom(std::string_view name, std::string_view pattern)
{
    // Iterative glob with backtracking to the last '*': linear in practice, never recursive.
    std::size_t n = 0, p = 0;
    std::size_t starPattern = std::string_view::npos, starName = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || FoldAscii(pattern[p]) == FoldAscii(name[n]))) {
            ++n;
            ++p;
        } else if (p < pattern.size() && pattern[p] == '*') {
            starPattern = p++;
            starName = n;
        } else if (starPattern != std::string_view::npos) {
            p = starPattern + 1;
            n = ++starName;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};

}  // namespace

bool EqualsIgnoreCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (FoldAscii(a[i]) != FoldAscii(b[i]))
            return false;
    return true;
}

bool MatchesPattern(std::string_view name, std::string_view pattern)
{
    if (pattern == "*.*" || pattern == "*")
        return true;
    return MatchFrom(name, pattern);
}

namespace {

// Adds one entry of a listing: its type from the listing where it gives one, else from a stat;
// size and time from a stat where wanted.
void AddEntry(int dirFd, const char* rawName, unsigned char type, const DetailFilter& withDetails,
              std::vector<DirEntry>& entries)
{
    const std::string_view name(rawName);
    if (name == "." || name == "..")
        return;
    DirEntry entry;
    entry.name.assign(name);
    const bool wantDetails = !withDetails || withDetails(name);
    // The entry type from the listing saves a stat; links and unknown types are looked at.
    if (!wantDetails && type != DT_LNK && type != DT_UNKNOWN) {
        entry.isDirectory = type == DT_DIR;
    } else {
        struct stat info {};
        if (fstatat(dirFd, rawName, &info, 0) == 0) {
            entry.isDirectory = S_ISDIR(info.st_mode);
            if (wantDetails) {
                entry.mtimeSeconds = info.st_mtim.tv_sec;
                entry.mtimeNanoseconds = static_cast<std::int32_t>(info.st_mtim.tv_nsec);
                entry.size = static_cast<std::uint64_t>(info.st_size);
                entry.hasDetails = true;
            }
        } else {
            entry.statFailed = true;
        }
    }
    entries.push_back(std::move(entry));
}

// Raw readdir order is the file system's (hash order on ext4); clips and folders are shown in
// name order, as a card's own file system lists them.
void SortByName(std::vector<DirEntry>& entries)
{
    std::sort(entries.begin(), entries.end(), [](const DirEntry& a, const DirEntry& b) { return a.name < b.name; });
}

// The records getdents64 fills a buffer with.
struct LinuxDirent64 {
    std::uint64_t inode;
    std::int64_t offset;
    unsigned short length;
    unsigned char type;
    char name[1];
};

}  // namespace

bool ListDirectory(const std::string& directory, std::vector<DirEntry>& entries, const DetailFilter& withDetails)
{
    entries.clear();
    std::unique_ptr<DIR, DirCloser> dir(opendir(directory.empty() ? "." : directory.c_str()));
    if (!dir)
        return false;
    while (const dirent* item = readdir(dir.get()))
        AddEntry(dirfd(dir.get()), item->d_name, item->d_type, withDetails, entries);
    SortByName(entries);
    return true;
}

bool ListDirectory(const FileDescriptor& directory, std::vector<DirEntry>& entries, const DetailFilter& withDetails)
{
    // Straight from the descriptor, which is at the start of the directory once opened: no
    // second descriptor and no directory stream are made for it.
    entries.clear();
    if (!directory)
        return false;
    alignas(LinuxDirent64) char buffer[32768];
    for (;;) {
        const long got = syscall(SYS_getdents64, directory.Get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return false;
        if (got == 0)
            break;
        for (long at = 0; at < got;) {
            const auto* record = reinterpret_cast<const LinuxDirent64*>(buffer + at);
            AddEntry(directory.Get(), record->name, record->type, withDetails, entries);
            at += record->length;
        }
    }
    SortByName(entries);
    return true;
}

FileDescriptor OpenDirectory(const std::string& path)
{
    return FileDescriptor(open(path.empty() ? "." : path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

FileDescriptor OpenDirectoryAt(const FileDescriptor& parent, const std::string& name)
{
    return FileDescriptor(parent ? openat(parent.Get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1);
}

bool DirectoryIdentity(const FileDescriptor& directory, std::uint64_t& device, std::uint64_t& inode)
{
    struct stat info {};
    if (!directory || fstat(directory.Get(), &info) != 0 || !S_ISDIR(info.st_mode))
        return false;
    device = static_cast<std::uint64_t>(info.st_dev);
    inode = static_cast<std::uint64_t>(info.st_ino);
    return true;
}

bool DirectoryIdentity(const std::string& directory, std::uint64_t& device, std::uint64_t& inode)
{
    struct stat info {};
    if (stat(directory.empty() ? "." : directory.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        return false;
    device = static_cast<std::uint64_t>(info.st_dev);
    inode = static_cast<std::uint64_t>(info.st_ino);
    return true;
}

std::vector<const DirEntry*> FilterEntries(const std::vector<DirEntry>& entries, std::string_view pattern)
{
    std::vector<const DirEntry*> matches;
    for (const DirEntry& entry : entries)
        if (MatchesPattern(entry.name, pattern))
            matches.push_back(&entry);
    return matches;
}

const DirEntry* FindEntryIgnoreCase(const std::vector<DirEntry>& entries, std::string_view name)
{
    for (const DirEntry& entry : entries)
        if (EqualsIgnoreCase(entry.name, name))
            return &entry;
    return nullptr;
}

const DirEntry* FindDirectoryIgnoreCase(const std::vector<DirEntry>& entries, std::string_view name)
{
    const DirEntry* first = nullptr;
    for (const DirEntry& entry : entries)
        if (EqualsIgnoreCase(entry.name, name)) {
            if (entry.isDirectory)
                return &entry;
            if (first == nullptr)
                first = &entry;
        }
    return first;
}

std::optional<std::string> FindChildIgnoreCase(const std::string& directory, std::string_view name)
{
    std::string exact = JoinPath(directory, name);
    struct stat info {};
    if (stat(exact.c_str(), &info) == 0)
        return exact;
    std::unique_ptr<DIR, DirCloser> dir(opendir(directory.empty() ? "." : directory.c_str()));
    if (!dir)
        return std::nullopt;
    while (const dirent* item = readdir(dir.get()))
        if (EqualsIgnoreCase(item->d_name, name))
            return JoinPath(directory, item->d_name);
    return std::nullopt;
}

std::string CanonicalPath(const std::string& absolutePath)
{
    if (char* resolved = realpath(absolutePath.c_str(), nullptr)) {
        std::string canonical = resolved;
        std::free(resolved);
        return canonical;
    }
    std::vector<std::string> parts;
    for (std::size_t start = 0; start <= absolutePath.size();) {
        const std::size_t end = std::min(absolutePath.find('/', start), absolutePath.size());
        const std::string part = absolutePath.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    std::string plain;
    for (const std::string& part : parts)
        plain += "/" + part;
    return plain.empty() ? "/" : plain;
}

std::string JoinPath(const std::string& directory, std::string_view name)
{
    std::string path = directory;
    if (!path.empty() && path.back() != '/')
        path += '/';
    path += name;
    return path;
}

namespace {

// A read-only, non-blocking descriptor of a regular file, or -1. O_NONBLOCK keeps the open of a
// FIFO from waiting for a writer.
int OpenRegularNonBlocking(const std::string& path)
{
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        errno = EINVAL;
        return -1;
    }
    return fd;
}

// The same, with O_NONBLOCK cleared again for stdio's reads.
int OpenRegularBlocking(const std::string& path)
{
    const int fd = OpenRegularNonBlocking(path);
    if (fd < 0)
        return -1;
    const int flags = fcntl(fd, F_GETFL);
    if (flags >= 0)
        fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return fd;
}

}  // namespace

std::string WithTrailingSlash(const std::string& path)
{
    return path.empty() || path.back() == '/' ? path : path + "/";
}

std::string WithoutTrailingSlash(const std::string& path)
{
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/')
        trimmed.pop_back();
    return trimmed;
}

std::size_t ReadAt(int fd, void* buffer, std::size_t wanted, std::uint64_t offset, bool& failed)
{
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    std::size_t got = 0;
    while (got < wanted) {
        const ssize_t n = pread(fd, bytes + got, wanted - got, static_cast<off_t>(offset + got));
        if (n < 0 && errno == EINTR)
            continue;
        failed = failed || n < 0;
        if (n <= 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    return got;
}

bool FirstPageCached(int fd)
{
    const long pageBytes = sysconf(_SC_PAGESIZE);
    // A shared mapping shows the page cache itself; a file read past the cache refuses one.
    void* page = mmap(nullptr, static_cast<std::size_t>(pageBytes), PROT_READ, MAP_SHARED, fd, 0);
    if (page == MAP_FAILED)
        return false;
    unsigned char resident = 0;
    const bool cached = mincore(page, static_cast<std::size_t>(pageBytes), &resident) == 0 && (resident & 1) != 0;
    munmap(page, static_cast<std::size_t>(pageBytes));
    return cached;
}

FilePtr OpenRegularFile(const std::string& path)
{
    const int fd = OpenRegularBlocking(path);
    if (fd < 0)
        return nullptr;
    std::FILE* file = fdopen(fd, "rb");
    if (file == nullptr)
        close(fd);
    return FilePtr(file);
}

FileDescriptor OpenRegularDescriptor(const std::string& path)
{
    return FileDescriptor(OpenRegularNonBlocking(path));
}

bool CopyFileNoReplace(const std::string& from, const std::string& to)
{
    const int in = OpenRegularBlocking(from);
    if (in < 0)
        return false;
    const int out = open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (out < 0) {
        close(in);
        return false;
    }
    bool ok = true;
    char buffer[65536];
    for (;;) {
        const ssize_t got = read(in, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            ok = got == 0;
            break;
        }
        for (ssize_t done = 0; done < got && ok;) {
            const ssize_t put = write(out, buffer + done, static_cast<std::size_t>(got - done));
            if (put < 0 && errno == EINTR)
                continue;
            ok = put > 0;
            done += put > 0 ? put : 0;
        }
        if (!ok)
            break;
    }
    close(in);
    ok = close(out) == 0 && ok;
    if (!ok) {
        const int error = errno;
        unlink(to.c_str());  // only the file this call created
        errno = error;
    }
    return ok;
}

bool FileExists(const std::string& path)
{
    struct stat info {};
    return stat(path.c_str(), &info) == 0;
}

bool IsDirectory(const std::string& path)
{
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool IsRegularFile(const std::string& path)
{
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace platform
