#define FUSE_USE_VERSION 31
#include "support/FailingFs.h"

#include <fuse3/fuse.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

namespace testing_support {

struct FailingFs::State {
    std::string source;
    std::string mountPoint;
    fuse* session = nullptr;
    std::thread loop;
    mutable std::mutex lock;
    std::condition_variable released;
    bool pulled = false;
    std::uint64_t read = 0;
    std::uint64_t pullAt = UINT64_MAX;
    std::uint64_t holdAt = UINT64_MAX;
    bool holding = false;
    bool holdWrites = false;
    std::string failing;
    bool cached = false;
    bool writable = false;
    std::vector<FailingFs::Read> reads;  // guarded by lock: in the order they came

    std::string Real(const char* path) const { return source + path; }

    bool Pulled()
    {
        std::lock_guard<std::mutex> guard(lock);
        return pulled;
    }

    // Waits while writes are held; false when the card is pulled.
    bool MayWrite()
    {
        std::unique_lock<std::mutex> guard(lock);
        if (holdWrites) {
            holding = true;
            released.wait(guard, [&] { return !holdWrites; });
            holding = false;
        }
        return !pulled;
    }
};

namespace {

FailingFs::State& Fs()
{
    return *static_cast<FailingFs::State*>(fuse_get_context()->private_data);
}

void* Init(fuse_conn_info*, fuse_config* config)
{
    // Every call reaches the file system, so a pulled card shows at once.
    config->entry_timeout = 0;
    config->attr_timeout = 0;
    config->negative_timeout = 0;
    config->direct_io = Fs().cached ? 0 : 1;
    return fuse_get_context()->private_data;
}

int GetAttr(const char* path, struct stat* info, fuse_file_info*)
{
    if (Fs().Pulled())
        return -EIO;
    return lstat(Fs().Real(path).c_str(), info) == 0 ? 0 : -errno;
}

int ReadDir(const char* path, void* buffer, fuse_fill_dir_t fill, off_t, fuse_file_info*, fuse_readdir_flags)
{
    if (Fs().Pulled())
        return -EIO;
    DIR* directory = opendir(Fs().Real(path).c_str());
    if (directory == nullptr)
        return -errno;
    while (const dirent* entry = readdir(directory))
        fill(buffer, entry->d_name, nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
    closedir(directory);
    return 0;
}

int Open(const char* path, fuse_file_info* file)
{
    if (Fs().Pulled())
        return -EIO;
    if ((file->flags & O_ACCMODE) != O_RDONLY && !Fs().writable)
        return -EROFS;
    const int fd = open(Fs().Real(path).c_str(), file->flags & (O_ACCMODE | O_APPEND | O_TRUNC));
    if (fd < 0)
        return -errno;
    file->fh = static_cast<std::uint64_t>(fd);
    file->direct_io = Fs().cached ? 0 : 1;
    file->keep_cache = Fs().cached ? 1 : 0;  // a card's files do not change: opening one drops no page
    return 0;
}

int ReadPiece(const char* path, char* buffer, size_t size, off_t offset, fuse_file_info* file)
{
    FailingFs::State& fs = Fs();
    {
        std::unique_lock<std::mutex> guard(fs.lock);
        fs.reads.push_back({path, static_cast<std::uint64_t>(offset)});
        if (fs.pulled)
            return -EIO;
        const char* name = std::strrchr(path, '/');
        if (!fs.failing.empty() && name != nullptr && fs.failing == name + 1)
            return -EIO;
        if (fs.read + size > fs.pullAt) {
            fs.pulled = true;
            return -EIO;
        }
        if (fs.read + size > fs.holdAt) {
            fs.holding = true;
            fs.released.wait(guard, [&] { return fs.holdAt == UINT64_MAX; });
            fs.holding = false;
        }
        fs.read += size;
    }
    const ssize_t got = pread(static_cast<int>(file->fh), buffer, size, offset);
    return got < 0 ? -errno : static_cast<int>(got);
}

// The calls that change the folder, passed through once writes are not held.
int MakeFolder(const char* path, mode_t mode)
{
    if (!Fs().MayWrite())
        return -EIO;
    return mkdir(Fs().Real(path).c_str(), mode) == 0 ? 0 : -errno;
}

int Create(const char* path, mode_t mode, fuse_file_info* file)
{
    if (!Fs().MayWrite())
        return -EIO;
    const int fd = open(Fs().Real(path).c_str(), (file->flags & ~O_CLOEXEC) | O_CREAT, mode);
    if (fd < 0)
        return -errno;
    file->fh = static_cast<std::uint64_t>(fd);
    return 0;
}

int WritePiece(const char*, const char* bytes, size_t size, off_t offset, fuse_file_info* file)
{
    if (!Fs().MayWrite())
        return -EIO;
    const ssize_t put = pwrite(static_cast<int>(file->fh), bytes, size, offset);
    return put < 0 ? -errno : static_cast<int>(put);
}

int Rename(const char* from, const char* to, unsigned int flags)
{
    if (flags != 0)
        return -EINVAL;
    if (!Fs().MayWrite())
        return -EIO;
    return rename(Fs().Real(from).c_str(), Fs().Real(to).c_str()) == 0 ? 0 : -errno;
}

int ChangeMode(const char* path, mode_t mode, fuse_file_info* file)
{
    if (!Fs().MayWrite())
        return -EIO;
    const int done = file != nullptr ? fchmod(static_cast<int>(file->fh), mode) : chmod(Fs().Real(path).c_str(), mode);
    return done == 0 ? 0 : -errno;
}

int ReleaseFile(const char*, fuse_file_info* file)
{
    close(static_cast<int>(file->fh));
    return 0;
}

int StatFs(const char* path, struct statvfs* info)
{
    if (Fs().Pulled())
        return -EIO;
    return statvfs(Fs().Real(path).c_str(), info) == 0 ? 0 : -errno;
}

}  // namespace

FailingFs::FailingFs(const std::string& source, const std::string& mountPoint, Pages pages, Writes writes)
    : state_(std::make_unique<State>())
{
    state_->source = source;
    state_->cached = pages == Pages::Cached;
    state_->writable = writes == Writes::PassedThrough;
    state_->mountPoint = mountPoint;
    static fuse_operations operations = [] {
        fuse_operations ops{};
        ops.init = Init;
        ops.getattr = GetAttr;
        ops.readdir = ReadDir;
        ops.open = Open;
        ops.read = ReadPiece;
        ops.release = ReleaseFile;
        ops.statfs = StatFs;
        ops.mkdir = MakeFolder;
        ops.create = Create;
        ops.write = WritePiece;
        ops.rename = Rename;
        ops.chmod = ChangeMode;
        return ops;
    }();
    mkdir(mountPoint.c_str(), 0755);
    const char* arguments[] = {"failing-fs", "-o", "ro"};
    fuse_args args = FUSE_ARGS_INIT(state_->writable ? 1 : 3, const_cast<char**>(arguments));
    state_->session = fuse_new(&args, &operations, sizeof operations, state_.get());
    fuse_opt_free_args(&args);  // the library copied them to add its own
    if (state_->session == nullptr)
        return;
    if (fuse_mount(state_->session, mountPoint.c_str()) != 0) {
        fuse_destroy(state_->session);
        state_->session = nullptr;
        return;
    }
    // Calls are answered on threads of their own: a read held does not hold the others.
    state_->loop = std::thread([session = state_->session] { fuse_loop_mt(session, 0); });
}

FailingFs::~FailingFs()
{
    if (state_->session == nullptr)
        return;
    Release();
    fuse_exit(state_->session);
    // The kernel ends the connection when it is unmounted, which ends the loop's wait; only then
    // is the connection's descriptor closed, so the loop never reads a closed one.
    umount2(state_->mountPoint.c_str(), MNT_DETACH);
    state_->loop.join();
    fuse_unmount(state_->session);
    fuse_destroy(state_->session);
}

bool FailingFs::Mounted() const
{
    return state_->session != nullptr;
}

void FailingFs::PullAfter(std::uint64_t bytes)
{
    std::lock_guard<std::mutex> guard(state_->lock);
    state_->pullAt = state_->read + bytes;
}

void FailingFs::PutBack()
{
    std::lock_guard<std::mutex> guard(state_->lock);
    state_->pulled = false;
    state_->pullAt = UINT64_MAX;
}

void FailingFs::FailReadsOf(const std::string& name)
{
    std::lock_guard<std::mutex> guard(state_->lock);
    state_->failing = name;
}

void FailingFs::HoldAfter(std::uint64_t bytes)
{
    std::lock_guard<std::mutex> guard(state_->lock);
    state_->holdAt = state_->read + bytes;
}

bool FailingFs::Holding() const
{
    std::lock_guard<std::mutex> guard(state_->lock);
    return state_->holding;
}

void FailingFs::HoldWrites()
{
    std::lock_guard<std::mutex> guard(state_->lock);
    state_->holdWrites = true;
}

void FailingFs::Release()
{
    std::lock_guard<std::mutex> guard(state_->lock);
    state_->holdAt = UINT64_MAX;
    state_->holdWrites = false;
    state_->released.notify_all();
}

std::uint64_t FailingFs::BytesRead() const
{
    std::lock_guard<std::mutex> guard(state_->lock);
    return state_->read;
}

std::vector<FailingFs::Read> FailingFs::Reads() const
{
    std::lock_guard<std::mutex> guard(state_->lock);
    return state_->reads;
}

bool CanMount()
{
    return geteuid() == 0 && access("/dev/fuse", R_OK | W_OK) == 0;
}

SmallTmpfs::SmallTmpfs(const std::string& mountPoint, int megabytes, bool readOnly) : mountPoint_(mountPoint)
{
    mkdir(mountPoint.c_str(), 0755);
    const std::string options = "size=" + std::to_string(megabytes) + "m";
    mounted_ = mount("tmpfs", mountPoint.c_str(), "tmpfs", readOnly ? MS_RDONLY : 0, options.c_str()) == 0;
}

SmallTmpfs::~SmallTmpfs()
{
    if (mounted_)
        umount2(mountPoint_.c_str(), MNT_DETACH);
}

}  // namespace testing_support
