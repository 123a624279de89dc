#pragma once
// Clip files for the benchmarks that read clips: an owned descriptor, and dropping a set of
// files from the page cache so that a pass reads them as from a card put in for the first time.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace bench {

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor()
    {
        if (fd_ >= 0)
            close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int Get() const { return fd_; }

private:
    int fd_;
};

// Drops the files' cached pages with posix_fadvise(POSIX_FADV_DONTNEED), which needs no
// privilege and leaves the rest of a shared machine's cache alone. True when none of the first
// `checked` bytes of the first file is cached afterwards (the kernel may keep them).
inline bool DropCachedPages(const std::vector<std::string>& paths, std::size_t checked)
{
    for (const std::string& path : paths) {
        const Descriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
        if (file.Get() >= 0)
            posix_fadvise(file.Get(), 0, 0, POSIX_FADV_DONTNEED);
    }
    const Descriptor file(open(paths.front().c_str(), O_RDONLY | O_CLOEXEC));
    void* map = mmap(nullptr, checked, PROT_READ, MAP_SHARED, file.Get(), 0);
    if (map == MAP_FAILED)
        return false;
    std::vector<unsigned char> resident((checked + 4095) / 4096);
    const bool ok = mincore(map, checked, resident.data()) == 0;
    munmap(map, checked);
    for (const unsigned char page : resident)
        if (page & 1)
            return false;
    return ok;
}

// Written pages are clean once synced, so they can be dropped.
inline void SyncFolder(const std::string& folder)
{
    const Descriptor directory(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    syncfs(directory.Get());
}

}  // namespace bench
