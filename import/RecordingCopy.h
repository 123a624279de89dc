#pragma once
#include "import/CardRecordings.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

// Copying one recording so that the copy is proven before it gets its name:
//  1. written under a temporary name (".viewmere-import-<random>.part") in its destination
//     folder, created exclusively and never through a link, and locked while it is written;
//  2. hashed (SHA-256) as it is read from the card, its files one after the other;
//  3. given the recording's time, flushed to the disk;
//  4. read back from the disk, not from memory (its cached pages dropped first), and compared;
//  5. only then renamed to its final name without replacing anything (" (2)", " (3)"... when the
//     name is taken), the folder flushed, and its line added to the folder's SHA256SUMS.
// The card is only read. On any failure or a cancel the temporary file is removed.

// How a copy ended.
enum class CopyEnd {
    Done,
    SourceFailed,  // a file of the recording could not be read (a read error, a pulled card)
    NoSpace,       // the destination is full
    TargetFailed,  // the destination cannot be written
    Mismatch,      // what was read back differs from what was written
    Cancelled,
};

struct CopyResult {
    CopyEnd end = CopyEnd::Done;
    std::string path;    // the final path, once done
    std::string sha256;  // of the whole recording, once done
    std::string problem; // what went wrong, in words
    std::string manifestProblem;  // the file is done, but its SHA256SUMS line could not be written
};

struct CopyHooks {
    // Bytes read or read back so far for this recording (each byte counts twice: once copied,
    // once verified).
    std::function<void(std::uint64_t workDone)> progress;
    const std::atomic<bool>* cancel = nullptr;
    // A temporary file is about to be made at this path, and is gone again: recorded so that one
    // left by a power cut is found.
    std::function<void(const std::string& path)> tempCreated;
    std::function<void(const std::string& path)> tempGone;
};

// Copies `recording` to `folder`/`name` (the folder must exist), with the modification time of
// `unixSeconds`.
CopyResult CopyRecording(const CardRecording& recording, const std::string& folder, const std::string& name,
                         std::int64_t unixSeconds, const CopyHooks& hooks);

// The SHA-256 of a recording's first and last MiB (its whole bytes when it is shorter than two
// MiB); nothing when a file cannot be read, with the reason in `problem`.
std::optional<std::string> HashOfEnds(const CardRecording& recording, std::string& problem);

// The SHA-256 of a whole file read from the disk (its cached pages dropped first) and of the
// recording read from the card: used to tell whether a file already at the destination is the
// recording. Nothing when either cannot be read or they differ in size.
bool SameBytes(const std::string& file, const CardRecording& recording, std::string& sha256,
               const std::atomic<bool>* cancel);

// Whether a name is one of this program's temporary files.
bool IsImportTempName(const std::string& name);
// Removes a temporary file that no import is writing any more (nobody holds its lock): one left
// by a power cut or a killed program. True when it was removed or is gone.
bool RemoveAbandonedTemp(const std::string& path);
// The same for every such file in a folder; how many were removed.
int RemoveAbandonedTemps(const std::string& folder);

// The size of the largest buffer a copy holds.
inline constexpr std::size_t kCopyBufferBytes = 8 * 1024 * 1024;
