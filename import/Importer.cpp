#include "import/Importer.h"

#include "import/ImportNames.h"
#include "import/RecordingCopy.h"
#include "log/EventLog.h"
#include "platform/FileSystem.h"
#include "platform/Format.h"
#include "platform/UserDirectories.h"
#include "settings/Settings.h"

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <memory>
#include <set>

namespace {

// Kept free beyond the recordings' bytes: their folders and manifests, and the file system's own.
constexpr std::uint64_t kSpaceMargin = 1024 * 1024;
constexpr std::size_t kNamesInMessage = 8;

std::string Plural(int count, const char* one, const char* many)
{
    return platform::FormatString("%d %s", count, count == 1 ? one : many);
}

std::string ParentOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string NameOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool IsFileOfSize(const std::string& path, std::uint64_t size)
{
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && static_cast<std::uint64_t>(info.st_size) == size;
}

// The files of a recording are gone (the card was pulled), as opposed to one that cannot be read.
bool SourceGone(const RecordingImport& item, const std::string& source)
{
    struct stat info {};
    if (!source.empty() && stat(source.c_str(), &info) != 0)
        return true;
    for (const std::string& part : item.recording.parts)
        if (stat(part.c_str(), &info) != 0)
            return true;
    return false;
}

// One import run: the request, the database and what was done so far.
class ImportRun {
public:
    ImportRun(const ImportRequest& request, const ImportProgressListener& progress, const std::atomic<bool>& cancel)
        : request_(request), listener_(progress), cancel_(cancel)
    {
        report_.destination = request.destination;
        report_.wholeCard = request.wholeCard;
    }

    ImportReport Run()
    {
        OpenCatalog();
        for (const CardRecording& recording : request_.recordings)
            report_.recordings.push_back(RecordingImport{recording, ImportOutcome::NotTried, {}, {}, {}});
        if (!request_.destination.empty() && request_.destination[0] == '/') {
            Check();
            if (!cancel_.load() && CheckDestination())
                CopyAll();
        } else {
            Stop("the destination is not an absolute folder path", 0);
        }
        if (cancel_.load())
            report_.cancelled = true;
        ReportSettled(true);
        LogEvent("Import into [%s]: %s", request_.destination.c_str(), report_.Message().c_str());
        return std::move(report_);
    }

private:
    struct Plan {
        std::string relative;  // the name below the destination, before any " (n)"
        std::optional<std::string> endsHash;
        bool maybeThere = false;  // a file of its size is at the name: compared before copying
    };

    void OpenCatalog()
    {
        const std::string path = request_.catalogPath.empty() ? CImportCatalog::DefaultPath() : request_.catalogPath;
        catalog_ = CImportCatalog::Open(path, report_.catalogProblem);
        if (!catalog_) {
            report_.catalogProblem = "the database of imports [" + path + "] cannot be used (" + report_.catalogProblem + ")";
            LogEvent("Import: %s", report_.catalogProblem.c_str());
            return;
        }
        // Temporary files of imports that were cut off (a power cut, a killed program).
        for (const std::string& temp : catalog_->Pending())
            if (RemoveAbandonedTemp(temp) || !IsImportTempName(NameOf(temp))) {
                catalog_->RemovePending(temp);
                LogEvent("Import: removed [%s], left by an import that was cut off", temp.c_str());
            }
    }

    void Notify()
    {
        if (listener_)
            listener_(progress_);
    }

    // Tells the request's listener of each recording whose outcome became known since the last
    // call; at the end, of those never tried too.
    void ReportSettled(bool atTheEnd = false)
    {
        reported_.resize(report_.recordings.size());
        for (std::size_t i = 0; i < report_.recordings.size(); ++i)
            if (!reported_[i] && (atTheEnd || report_.recordings[i].outcome != ImportOutcome::NotTried)) {
                reported_[i] = true;
                if (request_.settled)
                    request_.settled(i, report_.recordings[i]);
            }
    }

    // Which recordings were imported before, and what the others will be named.
    void Check()
    {
        plans_.resize(report_.recordings.size());
        for (std::size_t i = 0; i < report_.recordings.size() && !cancel_.load(); ++i) {
            RecordingImport& item = report_.recordings[i];
            Plan& plan = plans_[i];
            item.recording.ReadTime();
            plan.relative = ExpandImportName(request_.pattern, item.recording.TimeForName(), item.recording.Extension());
            item.path = platform::JoinPath(request_.destination, plan.relative);
            if (catalog_ && catalog_->MayHold(item.recording.RecordedText(), item.recording.Size())) {
                std::string problem;
                plan.endsHash = HashOfEnds(item.recording, problem);
                if (!plan.endsHash) {
                    Fail(item, problem);
                    continue;
                }
                if (std::optional<ImportRecord> record = ImportedBefore(item, *plan.endsHash)) {
                    item.outcome = ImportOutcome::Already;
                    item.path = record->destination;
                    item.sha256 = record->sha256;
                    ReportSettled();
                    continue;
                }
            }
            // Without a record (the database is new or was lost), a file of its size under its
            // name may be this very recording: it is compared in full before anything is copied.
            for (int n = 1; n < 10000; ++n) {
                struct stat info {};
                const std::string candidate = NumberedName(item.path, n);
                if (lstat(candidate.c_str(), &info) != 0)
                    break;
                plan.maybeThere = plan.maybeThere || static_cast<std::uint64_t>(info.st_size) == item.recording.Size();
            }
        }
        progress_.checking = false;
    }

    std::optional<ImportRecord> ImportedBefore(const RecordingImport& item, const std::string& endsHash)
    {
        for (ImportRecord& record : catalog_->Find(item.recording.RecordedText(), item.recording.Size(), endsHash))
            if (IsFileOfSize(record.destination, record.size))
                return std::move(record);
        return std::nullopt;
    }

    // Whether the recordings to copy fit where they go, checked before any folder is made.
    bool CheckDestination()
    {
        std::uint64_t needed = 0;
        for (const RecordingImport& item : report_.recordings)
            if (item.outcome == ImportOutcome::NotTried)
                needed += item.recording.Size();
        if (needed == 0)
            return true;
        const std::optional<std::uint64_t> free = FreeSpaceAt(request_.destination);
        if (free && *free < needed + kSpaceMargin) {
            Stop("the destination " + request_.destination + " has " + FormatBytes(*free) + " free, and the recordings need " +
                     FormatBytes(needed),
                 0);
            return false;
        }
        if (!platform::MakeDirectories(request_.destination, 0755)) {
            Stop("the destination " + request_.destination + " cannot be written: " + std::strerror(errno), 0);
            return false;
        }
        return true;
    }

    void CopyAll()
    {
        for (const RecordingImport& item : report_.recordings)
            if (item.outcome == ImportOutcome::NotTried) {
                ++progress_.count;
                progress_.workTotal += 2 * item.recording.Size();
            }
        Notify();
        for (std::size_t i = 0; i < report_.recordings.size(); ++i) {
            RecordingImport& item = report_.recordings[i];
            if (item.outcome != ImportOutcome::NotTried)
                continue;
            if (cancel_.load() || !report_.stopReason.empty())
                break;
            ++progress_.current;
            progress_.label = item.recording.Label();
            Notify();
            CopyOne(item, plans_[i], i);
            ReportSettled();
        }
    }

    void CopyOne(RecordingImport& item, Plan& plan, std::size_t index)
    {
        const std::string folder = ParentOf(item.path);
        const std::string firstMade = FirstMissingFolder(folder);
        CopyInto(item, plan, index, folder);
        // A folder made for a recording that was not copied (cancelled, failed) is not left
        // behind empty; one that holds anything stays.
        if (item.outcome != ImportOutcome::Imported && item.outcome != ImportOutcome::Already && !firstMade.empty())
            for (std::string made = folder; rmdir(made.c_str()) == 0 && made != firstMade;)
                made = ParentOf(made);
    }

    // The outermost folder of the path that is not there yet ("" when the folder is).
    static std::string FirstMissingFolder(const std::string& folder)
    {
        std::string missing;
        struct stat info {};
        for (std::string at = folder; at != "/" && at != "." && lstat(at.c_str(), &info) != 0; at = ParentOf(at))
            missing = at;
        return missing;
    }

    void CopyInto(RecordingImport& item, Plan& plan, std::size_t index, const std::string& folder)
    {
        if (!platform::MakeDirectories(folder, 0755)) {
            const int error = errno;
            Stop("the destination " + folder + " cannot be written: " + std::strerror(error), index);
            return;
        }
        if (sweptFolders_.insert(folder).second)
            RemoveAbandonedTemps(folder);
        const std::uint64_t workBefore = progress_.workDone;
        if (plan.maybeThere && FoundAtDestination(item, plan))
            return Advance(workBefore, item.recording.Size());
        CopyHooks hooks;
        hooks.cancel = &cancel_;
        hooks.progress = [&](std::uint64_t work) {
            progress_.workDone = workBefore + work;
            Notify();
        };
        if (catalog_) {
            hooks.tempCreated = [this](const std::string& path) { catalog_->AddPending(path); };
            hooks.tempGone = [this](const std::string& path) { catalog_->RemovePending(path); };
        }
        const CopyResult copy = CopyRecording(item.recording, folder, NameOf(item.path),
                                              item.recording.TimeForName().unixSeconds, hooks);
        Advance(workBefore, item.recording.Size());
        switch (copy.end) {
        case CopyEnd::Done:
            item.outcome = ImportOutcome::Imported;
            item.path = copy.path;
            item.sha256 = copy.sha256;
            if (!copy.manifestProblem.empty())
                LogEvent("Import: %s", copy.manifestProblem.c_str());
            Remember(item, plan);
            break;
        case CopyEnd::SourceFailed:
            if (SourceGone(item, request_.source)) {
                Fail(item, "the card was removed");
                Stop("the card was removed", index + 1);
            } else {
                Fail(item, copy.problem);
            }
            break;
        case CopyEnd::Mismatch:
            Fail(item, copy.problem);
            break;
        case CopyEnd::NoSpace:
            Fail(item, "the destination is full");
            Stop("the destination is full (" + copy.problem + ")", index + 1);
            break;
        case CopyEnd::TargetFailed:
            Fail(item, copy.problem);
            Stop("the destination cannot be written (" + copy.problem + ")", index + 1);
            break;
        case CopyEnd::Cancelled:
            Fail(item, "cancelled");
            break;
        }
    }

    // A file at the recording's name (or a numbered one) holds its very bytes: it was imported
    // before, by a database that is gone.
    bool FoundAtDestination(RecordingImport& item, Plan& plan)
    {
        for (int n = 1; n < 10000; ++n) {
            const std::string candidate = NumberedName(item.path, n);
            struct stat info {};
            if (lstat(candidate.c_str(), &info) != 0)
                break;
            std::string sha256;
            if (S_ISREG(info.st_mode) && SameBytes(candidate, item.recording, sha256, &cancel_)) {
                item.outcome = ImportOutcome::Already;
                item.path = candidate;
                item.sha256 = sha256;
                Remember(item, plan);
                return true;
            }
        }
        return false;
    }

    void Advance(std::uint64_t workBefore, std::uint64_t size)
    {
        progress_.workDone = workBefore + 2 * size;
        Notify();
    }

    void Remember(const RecordingImport& item, Plan& plan)
    {
        if (!catalog_)
            return;
        std::string problem;
        if (!plan.endsHash)
            plan.endsHash = HashOfEnds(item.recording, problem);
        if (!plan.endsHash)
            return;  // the card went right after the copy: the file stands, found by its bytes later
        ImportRecord record;
        record.recorded = item.recording.RecordedText();
        record.size = item.recording.Size();
        record.endsHash = *plan.endsHash;
        record.destination = item.path;
        record.sha256 = item.sha256;
        record.parts = static_cast<int>(item.recording.parts.size());
        record.source = item.recording.parts.front();
        record.importedAt = static_cast<std::int64_t>(std::time(nullptr));
        if (!catalog_->Add(record))
            LogEvent("Import: [%s] is not remembered: %s", item.path.c_str(), catalog_->LastProblem().c_str());
    }

    void Fail(RecordingImport& item, const std::string& problem)
    {
        item.outcome = ImportOutcome::Failed;
        item.problem = problem;
        LogEvent("Import of [%s] failed: %s", item.recording.parts.front().c_str(), problem.c_str());
    }

    // Ends the import: every recording from `from` on that was not done fails for this reason.
    void Stop(const std::string& reason, std::size_t from)
    {
        report_.stopReason = reason;
        for (std::size_t i = from; i < report_.recordings.size(); ++i)
            if (report_.recordings[i].outcome == ImportOutcome::NotTried) {
                report_.recordings[i].outcome = ImportOutcome::Failed;
                report_.recordings[i].problem = reason;
                report_.recordings[i].stopped = true;
            }
    }

    const ImportRequest& request_;
    const ImportProgressListener& listener_;
    const std::atomic<bool>& cancel_;
    std::unique_ptr<CImportCatalog> catalog_;
    ImportReport report_;
    std::vector<Plan> plans_;
    ImportProgress progress_;
    std::set<std::string> sweptFolders_;
    std::vector<bool> reported_;  // the recordings whose outcome the listener was told
};

}  // namespace

int ImportReport::Count(ImportOutcome outcome) const
{
    int count = 0;
    for (const RecordingImport& item : recordings)
        count += item.outcome == outcome;
    return count;
}

bool ImportReport::Complete() const
{
    return !recordings.empty() &&
           Count(ImportOutcome::Imported) + Count(ImportOutcome::Already) == static_cast<int>(recordings.size());
}

std::string ImportReport::Message() const
{
    if (recordings.empty())
        return "There are no recordings to import.";
    std::uint64_t bytes = 0;
    for (const RecordingImport& item : recordings)
        if (item.outcome == ImportOutcome::Imported)
            bytes += item.recording.Size();
    const int imported = Count(ImportOutcome::Imported), already = Count(ImportOutcome::Already);
    const int failed = Count(ImportOutcome::Failed), notTried = Count(ImportOutcome::NotTried);
    std::string message;
    if (cancelled)
        message = "The import was cancelled. ";
    else if (!stopReason.empty())
        message = "The import stopped: " + stopReason + ". ";
    if (imported == 0 && failed + notTried == 0)
        message += already == 1 ? "The recording was imported before, as " + recordings.front().path + "."
                                 : platform::FormatString("All %d recordings were imported before.", already);
    else if (imported == 0)
        message += "No recording was imported.";
    else
        message += "Imported " + Plural(imported, "recording", "recordings") + " (" + FormatBytes(bytes) + ") into " +
                   destination + ", each verified against the card.";
    if (already > 0 && (imported > 0 || failed + notTried > 0))
        message += " " + Plural(already, "recording was", "recordings were") + " imported before.";
    if (failed + notTried > 0) {
        message += " Not imported: ";
        std::size_t listed = 0;
        for (const RecordingImport& item : recordings) {
            if (item.outcome != ImportOutcome::Failed && item.outcome != ImportOutcome::NotTried)
                continue;
            if (listed++ == kNamesInMessage) {
                message += platform::FormatString(", and %d more", failed + notTried - static_cast<int>(kNamesInMessage));
                break;
            }
            // Those the stop left untried say so; the stop's reason is told once, above.
            const bool untried = item.outcome == ImportOutcome::NotTried || item.stopped;
            message += (listed > 1 ? ", " : "") + item.recording.Label() + " (" +
                       (untried ? std::string("not tried") : item.problem) + ")";
        }
        message += ". Nothing was left half-copied: the next import takes only what is missing.";
    }
    if (!catalogProblem.empty())
        message += " Imports are not remembered: " + catalogProblem + ".";
    if (Complete() && wholeCard)
        message += " Every recording of the card is imported and verified: the card can be formatted.";
    return message;
}

ImportReport RunImport(const ImportRequest& request, const ImportProgressListener& progress,
                       const std::atomic<bool>& cancel)
{
    return ImportRun(request, progress, cancel).Run();
}

std::string ImportDestination()
{
    const std::string chosen = settings::ImportFolder.Read();
    if (!chosen.empty())
        return chosen;
    const std::string videos = platform::UserVideosDirectory();
    return videos.empty() ? std::string() : videos + "/Camcorder";
}

std::string ImportNamePattern()
{
    std::string pattern = settings::ImportNames.Read();
    std::string problem;
    return IsUsableNamePattern(pattern, problem) ? pattern : std::string(settings::ImportNames.defaultValue);
}

std::optional<ImportRecord> FindImport(CImportCatalog& catalog, CardRecording& recording)
{
    recording.ReadTime();
    if (!catalog.MayHold(recording.RecordedText(), recording.Size()))
        return std::nullopt;
    std::string problem;
    const std::optional<std::string> ends = HashOfEnds(recording, problem);
    if (!ends)
        return std::nullopt;
    for (ImportRecord& record : catalog.Find(recording.RecordedText(), recording.Size(), *ends))
        if (IsFileOfSize(record.destination, record.size))
            return std::move(record);
    return std::nullopt;
}

std::optional<std::uint64_t> FreeSpaceAt(std::string folder)
{
    for (;;) {
        struct statvfs info {};
        if (statvfs(folder.c_str(), &info) == 0)
            return static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
        if (errno != ENOENT || folder == "/" || folder == ".")
            return std::nullopt;
        folder = ParentOf(folder);
    }
}

std::string FormatBytes(std::uint64_t bytes)
{
    constexpr std::uint64_t kKilo = 1024, kMega = kKilo * 1024, kGiga = kMega * 1024;
    const double value = static_cast<double>(bytes);
    if (bytes >= kGiga)
        return platform::FormatString("%.1f GB", value / kGiga);
    if (bytes >= kMega)
        return platform::FormatString("%.1f MB", value / kMega);
    if (bytes >= kKilo)
        return platform::FormatString("%.0f KB", value / kKilo);
    return platform::FormatString("%llu bytes", static_cast<unsigned long long>(bytes));
}

std::string FormatProgress(const ImportProgress& progress, double seconds)
{
    // A recording is read once and read back once: its bytes are half the work.
    const std::uint64_t done = progress.workDone / 2, total = progress.workTotal / 2;
    std::string text = FormatBytes(done) + " of " + FormatBytes(total);
    if (seconds < 1 || progress.workDone == 0)
        return text;
    const double rate = static_cast<double>(done) / seconds;
    const long left = static_cast<long>(static_cast<double>(total - done) / rate + 0.5);
    return text + ", " + FormatBytes(static_cast<std::uint64_t>(rate)) + "/s, " +
           platform::FormatString("%ld:%02ld left", left / 60, left % 60);
}
