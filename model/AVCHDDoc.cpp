#include "model/AVCHDDoc.h"

#include "log/EventLog.h"
#include "platform/BusyCursor.h"
#include "platform/Format.h"
#include "platform/MessageBox.h"
#include "platform/Ticks.h"
#include "settings/Settings.h"

#include <boost/make_shared.hpp>

#include <exception>
#include <optional>

using platform::WithoutTrailingSlash;
using platform::WithTrailingSlash;

CAVCHDDoc::CAVCHDDoc(CThumbnailGenerator::Producer producer, std::chrono::milliseconds stopLimit)
    : generator_(producer ? CThumbnailGenerator(std::move(producer), stopLimit) : CThumbnailGenerator())
{
    ShareTheCard();
}

CAVCHDDoc::CAVCHDDoc(GrabPoolOptions options) : generator_(std::move(options))
{
    ShareTheCard();
}

void CAVCHDDoc::ShareTheCard()
{
    // The pictures of the clips are made first; the times and durations of the clips off the
    // screen are read once the card is free of them.
    recordingTimes_.HoldOffScreenReadsWhile(generator_.BusyProbe());
}

CAVCHDDoc::~CAVCHDDoc()
{
    requests_.clear();
    generator_.Stop();
}

void CAVCHDDoc::OpenDirectory(const std::string& path)
{
    platform::BusyCursor busy;
    const std::uint32_t start = platform::GetTickCount();
    ScanFolder(path);
    const std::uint32_t elapsed = platform::GetTickCount() - start;
    LogEvent("Opened directory [%s] in %.3f seconds", path.c_str(), elapsed / 1000.0);
    QueueRecordingTimes();
    if (settings::GenerateThumbnails.Read())
        QueueMissingThumbnails();
}

void CAVCHDDoc::ScanFolder(const std::string& path)
{
    Clear();
    joinRecordings_ = settings::JoinSplitRecordings.Read();
    visited_.clear();
    ScanDirectory(path, platform::OpenDirectory(WithoutTrailingSlash(path)));
    visited_.clear();
}

void CAVCHDDoc::OpenLastDirectory()
{
    const std::string last = settings::LastDirectory.Read();
    if (!last.empty())
        OpenDirectory(last);
}

void CAVCHDDoc::Clear()
{
    generator_.ClearAll();
    recordingTimes_.ClearAll();
    directories_.clear();
    requests_.clear();
    timeRequests_.clear();
}

const CAVCHDDoc::Listing& CAVCHDDoc::ListingOf(WorkDirectory& work)
{
    if (!work.listed) {
        // Sizes and times are read for stream files only; the rest need just their type.
        if (work.directory)
            platform::ListDirectory(*work.directory, work.listing, CClipDetails::IsStreamFileName);
        work.listed = true;
    }
    return work.listing;
}

bool CAVCHDDoc::DescendIfPresent(WorkDirectory& work, const char* name)
{
    const platform::DirEntry* entry = platform::FindDirectoryIgnoreCase(ListingOf(work), name);
    if (entry == nullptr || !entry->isDirectory)
        return false;
    work.directory = std::make_shared<const platform::FileDescriptor>(platform::OpenDirectoryAt(*work.directory, entry->name));
    work.path += entry->name + "/";
    work.listing.clear();
    work.listed = false;
    return true;
}

void CAVCHDDoc::LoadCameraThumbnails(WorkDirectory& avchd, VideoDirectory& record, const ClipFolderRead& how)
{
    try {
        // The listing is made here once and serves the step into BDMV too.
        const std::string file = CThumbnailSet::FindDataFile(avchd.path, &ListingOf(avchd));
        record.thumbnails = !file.empty()
                                ? boost::make_shared<CThumbnailSet>(file, CThumbnailSet::kMaxFolderPixels, how.onlyThumbnailSlot)
                                : boost::make_shared<CThumbnailSet>();
    } catch (const std::exception& error) {
        record.thumbnails.reset();
        if (how.showProblems)
            platform::ShowMessageBox(platform::FormatString("Failed to load thumbnails (%s)", error.what()), "Viewmere",
                                     platform::MessageBoxIcon::None);
    }
}

void CAVCHDDoc::TakePlaylist(const std::string& bdmv, const std::string& playlistFolder, CClipDetails& clips)
{
    CardPlaylist playlist;
    std::string file, problem;
    switch (playlistFolder.empty() ? PlaylistRead::Missing : ReadCardPlaylist(playlistFolder, playlist, file, problem)) {
    case PlaylistRead::Missing:
        LogEvent("No playlist in [%s]; recordings split across files are shown file by file", bdmv.c_str());
        break;
    case PlaylistRead::Damaged:
        LogEvent("Playlist [%s] is damaged (%s); recordings split across files are shown file by file",
                 file.c_str(), problem.c_str());
        break;
    case PlaylistRead::Read:
        if (!clips.ApplyPlaylist(playlist, problem))
            LogEvent("Playlist [%s] does not match its folder (%s); recordings split across files are shown file "
                     "by file",
                     file.c_str(), problem.c_str());
        break;
    }
}

void CAVCHDDoc::SetJoinedRecordings(bool joined)
{
    for (const boost::shared_ptr<VideoDirectory>& directory : directories_)
        directory->clips->SetJoinedRecordings(joined);
}

bool CAVCHDDoc::FirstVisit(const platform::FileDescriptor& directory)
{
    std::uint64_t device = 0, inode = 0;
    if (!platform::DirectoryIdentity(directory, device, inode))
        return true;  // not a directory, or unreadable: nothing to loop through
    return visited_.insert({device, inode}).second;
}

bool CAVCHDDoc::ReadClipFolder(WorkDirectory& work, VideoDirectory& record, const ClipFolderRead& how)
{
    DescendIfPresent(work, "PRIVATE");
    if (!DescendIfPresent(work, "AVCHDL"))
        DescendIfPresent(work, "AVCHD");
    LoadCameraThumbnails(work, record, how);

    const bool inBdmv = DescendIfPresent(work, "BDMV");
    const std::string bdmv = WithoutTrailingSlash(work.path);
    // Found in the listing the step into STREAM makes anyway.
    const platform::DirEntry* playlists = inBdmv ? platform::FindDirectoryIgnoreCase(ListingOf(work), "PLAYLIST") : nullptr;
    const std::string playlistFolder = playlists != nullptr && playlists->isDirectory ? work.path + playlists->name : "";
    const bool inStream = DescendIfPresent(work, "STREAM");

    const bool numbered = record.thumbnails && record.thumbnails->GetCount() > 0;
    auto clips = boost::make_shared<CClipDetails>(numbered, work.path, ListingOf(work));
    if (clips->GetCount() == 0)
        return false;
    if (inBdmv && inStream)
        TakePlaylist(bdmv, playlistFolder, *clips);
    clips->SetJoinedRecordings(how.joinRecordings);
    record.clips = clips;
    return true;
}

boost::shared_ptr<CAVCHDDoc::VideoDirectory> CAVCHDDoc::ReadClipTree(const std::string& root, const ClipFolderRead& how)
{
    WorkDirectory work;
    work.path = WithTrailingSlash(root);
    work.directory = std::make_shared<const platform::FileDescriptor>(platform::OpenDirectory(WithoutTrailingSlash(root)));
    if (!*work.directory)
        return nullptr;
    auto record = boost::make_shared<VideoDirectory>();
    record->path = root;
    return ReadClipFolder(work, *record, how) ? record : nullptr;
}

void CAVCHDDoc::ScanDirectory(const std::string& path, platform::FileDescriptor directory)
{
    if (!FirstVisit(directory))
        return;
    auto record = boost::make_shared<VideoDirectory>();
    record->path = path;

    WorkDirectory work;
    work.path = WithTrailingSlash(path);
    work.directory = std::make_shared<const platform::FileDescriptor>(std::move(directory));
    ClipFolderRead how;
    how.joinRecordings = joinRecordings_;
    if (ReadClipFolder(work, *record, how)) {
        directories_.push_back(record);
        return;  // the subdirectories of a directory with clips are never searched
    }
    record.reset();
    const Listing listing = ListingOf(work);  // a copy: the recursion may not keep it alive
    for (const platform::DirEntry& entry : listing)
        if (entry.isDirectory)
            ScanDirectory(work.path + entry.name, platform::OpenDirectoryAt(*work.directory, entry.name));
}

void CAVCHDDoc::QueueMissingThumbnails()
{
    for (const boost::shared_ptr<VideoDirectory>& directory : directories_) {
        const CThumbnailSet* thumbnails = directory->thumbnails.get();
        for (int slot = 0; slot < directory->clips->GetCount(); ++slot) {
            if (thumbnails != nullptr && thumbnails->GetEntry(slot) != nullptr)
                continue;
            if (directory->clips->IsContinuation(slot))
                continue;  // its recording is pictured by its first file
            std::string clipPath;
            if (!directory->clips->GetClipPath(slot, clipPath))
                continue;
            const auto [request, added] = requests_.try_emplace(clipPath, ThumbnailRequest{directory, slot});
            if (!added && request->second.queued)
                continue;
            request->second.queued = true;
            generator_.Enqueue(clipPath);
        }
    }
}

bool CAVCHDDoc::CollectGeneratedThumbnails()
{
    bool any = false;
    std::string clipPath;
    ThumbnailResult result;
    while (generator_.TakeResult(clipPath, result)) {
        const auto request = requests_.find(clipPath);
        if (request == requests_.end())
            continue;  // a folder closed since: the result is freed with `result`
        VideoDirectory& directory = *request->second.directory;
        if (!result.failure.empty()) {
            directory.clips->SetPictureProblem(request->second.slot, std::move(result.failure));
            result = ThumbnailResult{};
            continue;
        }
        if (!directory.thumbnails)
            directory.thumbnails = boost::make_shared<CThumbnailSet>();  // its camera files failed to load
        any = true;
        if (result.bitmap)
            directory.thumbnails->SetBitmap(request->second.slot, std::move(result.bitmap));
        else if (result.image)
            directory.thumbnails->SetImage(request->second.slot, std::move(result.image));
        else if (!result.jpeg.Empty())
            directory.thumbnails->SetJpeg(request->second.slot, std::move(result.jpeg));
        result = ThumbnailResult{};
    }
    return any;
}

void CAVCHDDoc::QueueRecordingTimes()
{
    std::vector<CRecordingTimeReader::ClipFile> files;
    for (const boost::shared_ptr<VideoDirectory>& directory : directories_) {
        CClipDetails& clips = *directory->clips;
        for (int slot = 0; slot < clips.GetCount(); ++slot) {
            const CClipDetails::ClipEntry* entry = clips.GetEntry(slot);
            if (entry == nullptr)
                continue;
            CRecordingTimeReader::ClipFile file;
            clips.GetClipPath(slot, file.path);
            file.size = entry->Size();
            file.modified = entry->lastWriteTime;
            file.wantDuration = !entry->durationFromPlaylist;
            file.token = static_cast<std::uint32_t>(timeRequests_.size());
            timeRequests_.push_back(ClipSlot{directory, slot});
            files.push_back(std::move(file));
        }
    }
    // A clip read before, unchanged since, shows its time from the start.
    recordingTimes_.Enqueue(std::move(files), [this](const CRecordingTimeReader::ClipFile& file, const ClipStreamFacts& facts) {
        const ClipSlot& clip = timeRequests_[file.token];
        if (facts.time)
            clip.directory->clips->SetRecordingTime(clip.slot, *facts.time);
        if (facts.duration)
            clip.directory->clips->SetStreamDuration(clip.slot, *facts.duration);
    });
}

void CAVCHDDoc::SetVisibleClips(const std::vector<std::string>& clipPaths)
{
    generator_.Prioritize(clipPaths);
    recordingTimes_.SetVisible(clipPaths);
}

CAVCHDDoc::RecordingTimeChanges CAVCHDDoc::CollectRecordingTimes()
{
    RecordingTimeChanges changes;
    CRecordingTimeReader::Result result;
    while (recordingTimes_.TakeResult(result)) {
        if (result.token >= timeRequests_.size())
            continue;  // a folder closed since
        const ClipSlot& clip = timeRequests_[result.token];
        CClipDetails& clips = *clip.directory->clips;
        if (result.facts.duration && clips.SetStreamDuration(clip.slot, *result.facts.duration))
            changes.durations = true;
        if (!result.facts.time)
            continue;
        const int dateBefore = clips.GetDateKey(clip.slot);
        clips.SetRecordingTime(clip.slot, *result.facts.time);
        changes.labels = true;
        changes.dateGroups = changes.dateGroups || clips.GetDateKey(clip.slot) != dateBefore;
    }
    return changes;
}

void CAVCHDDoc::DropQueuedThumbnails()
{
    CollectGeneratedThumbnails();
    generator_.ClearAll();
    for (auto& request : requests_)
        request.second.queued = false;
    // Reads of a card that is gone would only fail; the ones in flight are never handed out.
    recordingTimes_.ClearAll();
    timeRequests_.clear();
}

bool CAVCHDDoc::HoldsClipTree(const std::string& root)
{
    auto folder = [](const std::optional<std::string>& parent, const char* name) -> std::optional<std::string> {
        if (!parent)
            return std::nullopt;
        std::optional<std::string> child = platform::FindChildIgnoreCase(*parent, name);
        return child && platform::IsDirectory(*child) ? child : std::nullopt;
    };
    const std::optional<std::string> top = root;
    return folder(folder(top, "PRIVATE"), "AVCHD") || folder(top, "AVCHD") || folder(folder(top, "BDMV"), "STREAM");
}

boost::shared_ptr<CAVCHDDoc::VideoDirectory> CAVCHDDoc::GetDirectory(int index) const
{
    if (index < 0 || index >= GetDirectoryCount())
        return {};
    return directories_[static_cast<std::size_t>(index)];
}

int CAVCHDDoc::GetClipCount() const
{
    int count = 0;
    for (const auto& directory : directories_)
        count += directory->clips->ClipCount();
    return count;
}

int CAVCHDDoc::CountClipsWithoutPicture() const
{
    int count = 0;
    for (const auto& directory : directories_)
        for (int slot = 0; slot < directory->clips->GetCount(); ++slot)
            count += directory->clips->GetEntry(slot) != nullptr && !directory->clips->IsContinuation(slot) &&
                     (!directory->thumbnails || directory->thumbnails->GetEntry(slot) == nullptr);
    return count;
}
