#pragma once
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace testing_support {

// A folder served through FUSE at a mount point, in a thread of the test, that fails as a card
// does: pulled (every call answers EIO, as a reader sees a card that left), a read error in one
// file, or reads held until released (a card still being read when a program is ended). Served
// read-only, unless writes are passed through, which can be held as a hung disk holds them.
// Unmounted when it goes. Mounting needs /dev/fuse and the right to mount.
class FailingFs {
public:
    // Reads go past the kernel's page cache, each to the file system, unless it is asked to keep
    // the files' pages (as a card's own file system does, read ahead when asked, and kept when a
    // file is opened again).
    enum class Pages { PastTheCache, Cached };
    enum class Writes { Refused, PassedThrough };
    FailingFs(const std::string& source, const std::string& mountPoint, Pages pages = Pages::PastTheCache,
              Writes writes = Writes::Refused);
    ~FailingFs();
    FailingFs(const FailingFs&) = delete;
    FailingFs& operator=(const FailingFs&) = delete;

    bool Mounted() const;
    // After this many more bytes are read, every call fails: the card is pulled mid-read.
    void PullAfter(std::uint64_t bytes);
    // The card is back: calls pass through again.
    void PutBack();
    // Reads of files whose name is `name` fail with EIO, the others go on ("" for none).
    void FailReadsOf(const std::string& name);
    // After this many more bytes are read, reads wait until Release().
    void HoldAfter(std::uint64_t bytes);
    // Calls that change the folder (making folders and files, writing, renaming) wait from now
    // until Release().
    void HoldWrites();
    // Whether a read or a write is waiting.
    bool Holding() const;
    void Release();
    std::uint64_t BytesRead() const;
    // Every read asked for, in the order it came (before it was held or failed).
    struct Read {
        std::string path;  // from the mount's root ("/00000.MTS")
        std::uint64_t offset = 0;
    };
    std::vector<Read> Reads() const;

    struct State;

private:
    std::unique_ptr<State> state_;
};

// Whether this machine lets the tests mount FUSE file systems and tmpfs (root, /dev/fuse).
bool CanMount();

// A tmpfs of `megabytes` at a folder, read-only if asked; unmounted when it goes.
class SmallTmpfs {
public:
    SmallTmpfs(const std::string& mountPoint, int megabytes, bool readOnly = false);
    ~SmallTmpfs();
    bool Mounted() const { return mounted_; }

private:
    std::string mountPoint_;
    bool mounted_ = false;
};

}  // namespace testing_support
