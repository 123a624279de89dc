#pragma once
#include "platform/FileDescriptor.h"

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// One entry of a directory listing. Names are the bytes the file system gives, never converted.
struct DirEntry {
    std::string name;
    std::int64_t mtimeSeconds = 0;      // last modification, seconds since 1970 (UTC)
    std::int32_t mtimeNanoseconds = 0;
    std::uint64_t size = 0;
    bool isDirectory = false;           // after following a symbolic link
    bool statFailed = false;            // a dangling link or a vanished entry: size and time are 0
    bool hasDetails = false;            // size and time were read
};

// Chooses the entries of a listing whose size and time are wanted (one stat each).
using DetailFilter = std::function<bool(std::string_view name)>;

// Wildcard match in the manner of the Windows listing patterns: '*' and '?', ASCII case ignored.
// "*.*" matches every name, with or without a dot.
bool MatchesPattern(std::string_view name, std::string_view pattern);

// True when the two names are equal without regard to ASCII case.
bool EqualsIgnoreCase(std::string_view a, std::string_view b);

// Lists the entries of a directory (without "." and "..") sorted by name in byte order, links followed.
// Every entry says whether it is a directory; size and time are read for the entries that
// `withDetails` chooses (all of them without a filter). An unreadable or missing directory
// gives an empty list and false.
bool ListDirectory(const std::string& directory, std::vector<DirEntry>& entries,
                   const DetailFilter& withDetails = {});

// Device and inode of a directory, links followed; false when it cannot be read.
bool DirectoryIdentity(const std::string& directory, std::uint64_t& device, std::uint64_t& inode);

// A directory held open, so that what lies inside it is reached by name alone instead of by
// walking its whole path again (a scan of thousands of folders spent much of its time in path
// lookups). An invalid descriptor when it cannot be opened; links are followed.
FileDescriptor OpenDirectory(const std::string& path);
FileDescriptor OpenDirectoryAt(const FileDescriptor& parent, const std::string& name);
// The same listing and identity for a directory held open (listed once, from its start).
bool ListDirectory(const FileDescriptor& directory, std::vector<DirEntry>& entries,
                   const DetailFilter& withDetails = {});
bool DirectoryIdentity(const FileDescriptor& directory, std::uint64_t& device, std::uint64_t& inode);

// The entries of a listing that match a pattern, in listing order.
std::vector<const DirEntry*> FilterEntries(const std::vector<DirEntry>& entries,
                                           std::string_view pattern);

// The first entry of a listing whose name equals `name` without regard to case.
const DirEntry* FindEntryIgnoreCase(const std::vector<DirEntry>& entries, std::string_view name);
// The same, looking for a folder to descend into: a folder is preferred to a file whose name
// differs only in case ("private" the folder over "PRIVATE" the file).
const DirEntry* FindDirectoryIgnoreCase(const std::vector<DirEntry>& entries, std::string_view name);

// Looks `name` up in `directory` without regard to case and returns the full path of the entry
// as the file system spells it ("/card/PRIVATE" for "private"), or nothing.
// An exact match is tried first, so the common case costs one stat and no listing.
std::optional<std::string> FindChildIgnoreCase(const std::string& directory, std::string_view name);

// A folder's path with one "/" at its end ("" stays ""), and without it ("/" stays "/").
std::string WithTrailingSlash(const std::string& path);
std::string WithoutTrailingSlash(const std::string& path);

// directory + "/" + name, without doubling a separator that the directory already ends with.
std::string JoinPath(const std::string& directory, std::string_view name);

// An absolute path in the one form the file system resolves it to (links, "." and ".."
// followed), as a file manager names the folder; a path that does not resolve (a folder not
// there) is only made plain: "." and empty parts dropped, ".." taking off the part before it.
std::string CanonicalPath(const std::string& absolutePath);

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Opens a file for reading only when it is a regular file: a FIFO, device or folder of that
// name would block or mislead a reader, so it gives null (errno EINVAL) without waiting. The
// descriptor is close-on-exec, so no child process inherits it.
FilePtr OpenRegularFile(const std::string& path);
// The same for read(2) without stdio, where a reader makes many small opens: a descriptor, or
// none (errno EINVAL for a file that is not regular). It stays non-blocking, which changes
// nothing for a regular file.
FileDescriptor OpenRegularDescriptor(const std::string& path);

// Reads up to `wanted` bytes at `offset`, as many reads as it takes; fewer only at the end of
// the file or on an error, which sets `failed` (a card pulled mid-read). The bytes read.
std::size_t ReadAt(int fd, void* buffer, std::size_t wanted, std::uint64_t offset, bool& failed);
// Whether the kernel holds the first page of the open file in its page cache: true once it was
// read through the cache, false for a file whose reads go past the cache (direct I/O) or whose
// first page was never read or was let go of. Nothing is read to tell.
bool FirstPageCached(int fd);

bool FileExists(const std::string& path);
// Copies a file to a new name; never replaces an existing file (false then). A copy that fails
// part way is removed, so no half file is left. Only a regular file is copied.
bool CopyFileNoReplace(const std::string& from, const std::string& to);
bool IsDirectory(const std::string& path);
// True for a regular file, links followed (not a FIFO, device or folder).
bool IsRegularFile(const std::string& path);

}  // namespace platform
