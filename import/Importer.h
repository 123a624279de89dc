#pragma once
#include "import/CardRecordings.h"
#include "import/ImportCatalog.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// Importing a card's recordings: each one whole, into one file named by its time, copied one at
// a time (a card reads fastest in order), proven before it is named (see RecordingCopy.h), listed
// in its folder's SHA256SUMS and remembered in the database of imports, so that it is never
// imported twice. Faults stop only what they must: a recording that cannot be read fails alone,
// a pulled card, a full or unwritable destination stop the import; nothing is ever left
// half-done under a final name, and the next import takes only what is missing.

enum class ImportOutcome {
    Imported,
    Already,  // imported before, its file still at the destination
    Failed,
    NotTried,  // the import was cancelled first
};

struct RecordingImport {
    CardRecording recording;
    ImportOutcome outcome = ImportOutcome::NotTried;
    std::string path;     // the file it was imported to, or would have been
    std::string sha256;   // once imported
    std::string problem;  // why it failed
    bool stopped = false;  // failed untried: the import stopped before it (for `problem`)
};

struct ImportRequest {
    std::vector<CardRecording> recordings;
    std::string destination;  // the folder the names are made below
    std::string pattern;      // the name pattern (ImportNames)
    // The folder read: a removed card is told from a read error by its files being gone.
    std::string source;
    // Every recording of the card was asked for: when all are imported, it can be formatted.
    bool wholeCard = true;
    std::string catalogPath;  // "" for the user's database
    // Called on the import's thread once for each recording, as soon as its outcome is known
    // (imported before, imported, failed; at the end, those not tried), with its index.
    std::function<void(std::size_t index, const RecordingImport&)> settled;
};

struct ImportProgress {
    bool checking = true;  // still finding which recordings were imported before
    int current = 0;       // the recording being copied, from 1
    int count = 0;         // of the recordings to copy
    std::string label;     // its first file's name
    std::uint64_t workDone = 0;   // bytes copied and read back
    std::uint64_t workTotal = 0;
};

struct ImportReport {
    std::vector<RecordingImport> recordings;
    std::string destination;
    bool wholeCard = true;
    bool cancelled = false;
    std::string stopReason;  // why the import stopped before its end
    std::string catalogProblem;  // the database could not be used: imports are not remembered

    int Count(ImportOutcome outcome) const;
    // Every recording asked for is at the destination, verified.
    bool Complete() const;
    // One message naming what was imported and what was not, and why.
    std::string Message() const;
};

using ImportProgressListener = std::function<void(const ImportProgress&)>;

// Runs an import on the calling thread.
ImportReport RunImport(const ImportRequest& request, const ImportProgressListener& progress,
                       const std::atomic<bool>& cancel);

// The destination of imports: the ImportFolder setting, else "Camcorder" in the user's videos
// folder.
std::string ImportDestination();
std::string ImportNamePattern();

// Where a recording was imported to, when it was and its file is still there with its size.
// Reads the recording's time, and its ends when the database holds a recording of its size.
std::optional<ImportRecord> FindImport(CImportCatalog& catalog, CardRecording& recording);

// The free bytes where a folder is, or would be made (its nearest existing folder's file system).
std::optional<std::uint64_t> FreeSpaceAt(std::string folder);

// "1.2 GB", "350.0 MB", "12 KB", counted in 1024s as the grid's labels count.
std::string FormatBytes(std::uint64_t bytes);
// "412.0 MB of 1.2 GB, 35.2 MB/s, 0:23 left" for a progress after `seconds`.
std::string FormatProgress(const ImportProgress& progress, double seconds);
