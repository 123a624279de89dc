#define FUSE_USE_VERSION 31
#include "support/SlowCard.h"

#include <fuse3/fuse.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <thread>

namespace bench {

struct SlowCard::State {
    std::string source;
    std::string mountPoint;
    Speed speed;
    fuse* session = nullptr;
    std::thread loop;
    std::chrono::steady_clock::time_point mounted = std::chrono::steady_clock::now();
    // The card's single queue: reads are served one at a time, in the order they came, each
    // starting when the card is done with the one before (or when it comes, if the card is idle).
    std::mutex queue;
    std::chrono::steady_clock::time_point idleFrom = std::chrono::steady_clock::now();  // guarded by queue
    mutable std::mutex lock;
    std::vector<Read> reads;  // guarded by lock

    std::string Real(const char* path) const { return source + path; }
};

namespace {

SlowCard::State& Card()
{
    return *static_cast<SlowCard::State*>(fuse_get_context()->private_data);
}

void* Init(fuse_conn_info*, fuse_config* config)
{
    // The card does not change while it is mounted: its pages and names stay cached, as they do
    // for a card's own file system, and only reads of pages not yet read reach the card.
    config->kernel_cache = 1;
    config->entry_timeout = 3600;
    config->attr_timeout = 3600;
    config->negative_timeout = 3600;
    return fuse_get_context()->private_data;
}

int GetAttr(const char* path, struct stat* info, fuse_file_info*)
{
    return lstat(Card().Real(path).c_str(), info) == 0 ? 0 : -errno;
}

int ReadDir(const char* path, void* buffer, fuse_fill_dir_t fill, off_t, fuse_file_info*, fuse_readdir_flags)
{
    DIR* directory = opendir(Card().Real(path).c_str());
    if (directory == nullptr)
        return -errno;
    while (const dirent* entry = readdir(directory))
        fill(buffer, entry->d_name, nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
    closedir(directory);
    return 0;
}

int Open(const char* path, fuse_file_info* file)
{
    if ((file->flags & O_ACCMODE) != O_RDONLY)
        return -EROFS;
    const int fd = open(Card().Real(path).c_str(), O_RDONLY);
    if (fd < 0)
        return -errno;
    file->fh = static_cast<std::uint64_t>(fd);
    file->keep_cache = 1;
    return 0;
}

// Reads take the card's queue one at a time, each after the one before. The card keeps its own
// time: a read starts the moment the card is done with the read before it, however late the
// host schedules the thread that answers it, as a reader's controller goes on with its queue
// while the computer is busy. Names, attributes and opens are answered at once by the loop's
// other threads: a card's directory is read once and then served from memory by the kernel, and
// a file's opening asks the card for nothing.
int ReadPiece(const char* path, char* buffer, size_t size, off_t offset, fuse_file_info* file)
{
    using Clock = std::chrono::steady_clock;
    SlowCard::State& card = Card();
    const auto came = Clock::now();
    const auto transfer = std::chrono::duration<double>(static_cast<double>(size) / card.speed.bytesPerSecond);
    Clock::time_point start, done;
    {
        std::lock_guard<std::mutex> inQueue(card.queue);
        start = std::max(came, card.idleFrom);
        done = start + card.speed.perRequest + std::chrono::duration_cast<Clock::duration>(transfer);
        card.idleFrom = done;
    }
    const ssize_t got = pread(static_cast<int>(file->fh), buffer, size, offset);
    const int error = errno;
    // Slept to just before the end and waited out the rest: a sleep alone overshoots by the
    // timer's slack and the scheduler's delay, and each answer would come later than the card
    // gives it.
    std::this_thread::sleep_until(done - std::chrono::microseconds(200));
    while (Clock::now() < done) {
    }
    if (got < 0)
        return -error;
    std::lock_guard<std::mutex> guard(card.lock);
    card.reads.push_back({path, static_cast<std::uint64_t>(offset), static_cast<std::uint32_t>(got),
                          static_cast<int>(fuse_get_context()->pid),
                          std::chrono::duration<double>(start - card.mounted).count(),
                          std::chrono::duration<double>(done - card.mounted).count()});
    return static_cast<int>(got);
}

int ReleaseFile(const char*, fuse_file_info* file)
{
    close(static_cast<int>(file->fh));
    return 0;
}

int StatFs(const char* path, struct statvfs* info)
{
    return statvfs(Card().Real(path).c_str(), info) == 0 ? 0 : -errno;
}

}  // namespace

SlowCard::SlowCard(const std::string& source, const std::string& mountPoint, Speed speed)
    : state_(std::make_unique<State>())
{
    state_->source = source;
    state_->mountPoint = mountPoint;
    state_->speed = speed;
    static const fuse_operations operations = [] {
        fuse_operations ops{};
        ops.init = Init;
        ops.getattr = GetAttr;
        ops.readdir = ReadDir;
        ops.open = Open;
        ops.read = ReadPiece;
        ops.release = ReleaseFile;
        ops.statfs = StatFs;
        return ops;
    }();
    mkdir(mountPoint.c_str(), 0755);
    const char* arguments[] = {"slow-card", "-o", "ro"};
    fuse_args args = FUSE_ARGS_INIT(3, const_cast<char**>(arguments));
    state_->session = fuse_new(&args, &operations, sizeof operations, state_.get());
    fuse_opt_free_args(&args);
    if (state_->session == nullptr)
        return;
    if (fuse_mount(state_->session, mountPoint.c_str()) != 0) {
        fuse_destroy(state_->session);
        state_->session = nullptr;
        return;
    }
    state_->mounted = std::chrono::steady_clock::now();
    state_->loop = std::thread([session = state_->session] {
        prctl(PR_SET_TIMERSLACK, 1);  // the loop's sleeps end when asked, not up to 50 us later
        fuse_loop_mt(session, 0);
    });
}

SlowCard::~SlowCard()
{
    if (state_->session == nullptr)
        return;
    fuse_exit(state_->session);
    // Unmounting ends the connection, which ends the loop's wait; only then is its descriptor
    // closed, so the loop never reads a closed one.
    umount2(state_->mountPoint.c_str(), MNT_DETACH);
    state_->loop.join();
    fuse_unmount(state_->session);
    fuse_destroy(state_->session);
}

bool SlowCard::Mounted() const
{
    return state_->session != nullptr;
}

std::vector<SlowCard::Read> SlowCard::Reads() const
{
    std::lock_guard<std::mutex> guard(state_->lock);
    return state_->reads;
}

}  // namespace bench
