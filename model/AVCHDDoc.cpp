#include "model/AVCHDDoc.h"

#include "log/EventLog.h"
#include "model/VideoClipFolder.h"
#include "platform/BusyCursor.h"
#include "platform/Format.h"
#include "platform/MessageBox.h"
#include "platform/Ticks.h"
#include "settings/Settings.h"

#include <boost/make_shared.hpp>

#include <algorithm>
#include <exception>
#include <optional>

using platform::WithoutTrailingSlash;
using platform::WithTrailingSlash;

namespace {

std::string ParentOf(const std::string& path)
{
    const std::string plain = WithoutTrailingSlash(path);
    const std::size_t slash = plain.rfind('/');
    return slash == std::string::npos ? std::string(".") : slash == 0 ? std::string("/") : plain.substr(0, slash);
}

std::string NameOf(const std::string& path)
{
    const std::string plain = WithoutTrailingSlash(path);
    return plain.substr(plain.rfind('/') + 1);
}

}  // namespace

struct CAVCHDDoc::VideoFolders {
    std::optional<WorkDirectory> m4root;  // PRIVATE/M4ROOT, or M4ROOT itself
    std::optional<WorkDirectory> dcim;    // DCIM, or DCIM itself

    // Notes what the folder the AVCHD steps are in holds: the card's root (`top`), or its PRIVATE.
    void Note(WorkDirectory& work, bool top)
    {
        if (!m4root)
            m4root = ChildIfPresent(work, "M4ROOT");
        if (top && !dcim)
            dcim = ChildIfPresent(work, "DCIM");
    }
};

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
    else
        QueueStoredThumbnails();
}

void CAVCHDDoc::ScanFolder(const std::string& path)
{
    Clear();
    joinRecordings_ = settings::JoinSplitRecordings.Read();
    visited_.clear();
    ScanDirectory(path, platform::OpenDirectory(WithoutTrailingSlash(path)), NameOf(ParentOf(path)));
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
        // Sizes and times are read for clip files only; the rest need just their type.
        if (work.directory)
            platform::ListDirectory(*work.directory, work.listing, CClipDetails::IsClipFileName);
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

std::optional<CAVCHDDoc::WorkDirectory> CAVCHDDoc::ChildIfPresent(WorkDirectory& work, const char* name)
{
    const platform::DirEntry* entry = platform::FindDirectoryIgnoreCase(ListingOf(work), name);
    if (entry == nullptr || !entry->isDirectory)
        return std::nullopt;
    WorkDirectory child;
    child.path = work.path + entry->name + "/";
    child.directory = std::make_shared<const platform::FileDescriptor>(platform::OpenDirectoryAt(*work.directory, entry->name));
    return child;
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

bool CAVCHDDoc::FirstVisitIn(Visited* visited, const platform::FileDescriptor& directory)
{
    std::uint64_t device = 0, inode = 0;
    if (visited == nullptr || !platform::DirectoryIdentity(directory, device, inode))
        return true;  // no search to loop, or not a directory, or unreadable: nothing to loop through
    return visited->insert({device, inode}).second;
}

bool CAVCHDDoc::FirstVisit(const platform::FileDescriptor& directory)
{
    return FirstVisitIn(&visited_, directory);
}

bool CAVCHDDoc::ReadClipFolder(WorkDirectory& work, VideoDirectory& record, const ClipFolderRead& how,
                               VideoFolders& videos)
{
    videos.Note(work, true);
    if (DescendIfPresent(work, "PRIVATE"))
        videos.Note(work, false);
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

boost::shared_ptr<CAVCHDDoc::VideoDirectory> CAVCHDDoc::ReadVideoFolder(WorkDirectory& folder, WorkDirectory* m4root,
                                                                       const ClipFolderRead& how)
{
    auto clips = boost::make_shared<CClipDetails>(false, folder.path, ListingOf(folder), CClipDetails::Files::Videos);
    if (clips->GetCount() == 0)
        return nullptr;  // photos only, or nothing
    clips->SetJoinedRecordings(how.joinRecordings);
    auto record = boost::make_shared<VideoDirectory>();
    record->path = WithoutTrailingSlash(folder.path);
    record->clips = clips;
    record->thumbnails = boost::make_shared<CThumbnailSet>();
    if (m4root != nullptr)
        LoadCameraPictures(m4root->path, ListingOf(*m4root), *clips, *record->thumbnails, how.onlyPictureOf);
    return record;
}

bool CAVCHDDoc::ReadClipFolders(WorkDirectory& work, const std::string& path, std::string_view parentName,
                                const ClipFolderRead& how, bool searchFollows, Visited* visited,
                                std::vector<boost::shared_ptr<VideoDirectory>>& found)
{
    const std::string name = NameOf(path);
    if (IsVideoClipFolder(parentName, name)) {
        // Reached itself: an M4ROOT's pictures are beside it.
        std::optional<WorkDirectory> m4root;
        if (platform::EqualsIgnoreCase(parentName, "M4ROOT")) {
            m4root.emplace();
            m4root->path = WithTrailingSlash(ParentOf(path));
            m4root->directory = std::make_shared<const platform::FileDescriptor>(platform::OpenDirectoryAt(*work.directory, ".."));
        }
        if (auto record = ReadVideoFolder(work, m4root ? &*m4root : nullptr, how)) {
            found.push_back(record);
            return true;
        }
    }
    VideoFolders videos;
    ListingOf(work);  // made once, for the copies below too
    if (platform::EqualsIgnoreCase(name, "M4ROOT"))
        videos.m4root = work;
    else if (platform::EqualsIgnoreCase(name, "DCIM"))
        videos.dcim = work;

    auto record = boost::make_shared<VideoDirectory>();
    record->path = path;
    const bool hasClips = ReadClipFolder(work, *record, how, videos);
    if (hasClips)
        found.push_back(record);
    // The folders of MP4 clips beside it. Where the search goes on below (no AVCHD clips here),
    // it reaches those below the folder the AVCHD steps ended in by itself, in its order.
    const auto read = [&](const std::optional<WorkDirectory>& parent) {
        return parent && !(searchFollows && !hasClips && parent->path.starts_with(work.path));
    };
    const auto add = [&](WorkDirectory& folder, WorkDirectory* m4root) {
        if (FirstVisitIn(visited, *folder.directory))
            if (auto videoFolder = ReadVideoFolder(folder, m4root, how))
                found.push_back(videoFolder);
    };
    if (read(videos.m4root))
        if (std::optional<WorkDirectory> clip = ChildIfPresent(*videos.m4root, "CLIP"))
            add(*clip, &*videos.m4root);
    if (read(videos.dcim)) {
        const Listing listing = ListingOf(*videos.dcim);
        for (const platform::DirEntry& entry : listing)
            if (entry.isDirectory && IsCameraFolderName(entry.name))
                if (std::optional<WorkDirectory> camera = ChildIfPresent(*videos.dcim, entry.name.c_str()))
                    add(*camera, nullptr);
    }
    return hasClips;
}

std::vector<boost::shared_ptr<CAVCHDDoc::VideoDirectory>> CAVCHDDoc::ReadClipTrees(const std::string& root,
                                                                                   const ClipFolderRead& how)
{
    std::vector<boost::shared_ptr<VideoDirectory>> found;
    WorkDirectory work;
    work.path = WithTrailingSlash(root);
    work.directory = std::make_shared<const platform::FileDescriptor>(platform::OpenDirectory(WithoutTrailingSlash(root)));
    if (*work.directory)
        ReadClipFolders(work, root, NameOf(ParentOf(root)), how, false, nullptr, found);
    return found;
}

void CAVCHDDoc::ScanDirectory(const std::string& path, platform::FileDescriptor directory, std::string_view parentName)
{
    if (!FirstVisit(directory))
        return;
    WorkDirectory work;
    work.path = WithTrailingSlash(path);
    work.directory = std::make_shared<const platform::FileDescriptor>(std::move(directory));
    ClipFolderRead how;
    how.joinRecordings = joinRecordings_;
    std::vector<boost::shared_ptr<VideoDirectory>> found;
    const bool hasClips = ReadClipFolders(work, path, parentName, how, true, &visited_, found);
    if (!hasClips) {
        // The subdirectories of a directory with clips are never searched.
        const Listing listing = ListingOf(work);  // a copy: the recursion may not keep it alive
        const std::string name = NameOf(work.path);
        for (const platform::DirEntry& entry : listing)
            if (entry.isDirectory)
                ScanDirectory(work.path + entry.name, platform::OpenDirectoryAt(*work.directory, entry.name), name);
    }
    // What lies beside the AVCHD folder comes after it, and after what was found below.
    directories_.insert(directories_.end(), found.begin(), found.end());
}

void CAVCHDDoc::QueueMissingThumbnails()
{
    QueueThumbnails(false);
}

void CAVCHDDoc::QueueStoredThumbnails()
{
    QueueThumbnails(true);
}

void CAVCHDDoc::QueueThumbnails(bool storedOnly)
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
            // A clip looked up for a kept picture only is asked for again once generation is on.
            if (!added && request->second.queued && (storedOnly || !request->second.storedOnly))
                continue;
            request->second.queued = true;
            request->second.storedOnly = storedOnly;
            generator_.Enqueue(clipPath, storedOnly);
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
            directory.thumbnails->SetBitmap(request->second.slot, std::move(result.bitmap), result.scale);
        else if (result.image)
            directory.thumbnails->SetImage(request->second.slot, std::move(result.image), result.scale);
        else if (!result.jpeg.Empty())
            directory.thumbnails->SetJpeg(request->second.slot, std::move(result.jpeg), result.scale);
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
        if (!facts.camera.empty())
            clip.directory->clips->SetCamera(clip.slot, facts.camera);
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
        if (!result.facts.camera.empty())
            clips.SetCamera(clip.slot, result.facts.camera);
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
    // A DCIM folder holds a camera's photos as often as its clips: it counts with a clip in it.
    auto holdsVideo = [](const std::optional<std::string>& dcim) {
        std::vector<platform::DirEntry> folders, files;
        if (!dcim || !platform::ListDirectory(*dcim, folders, [](std::string_view) { return false; }))
            return false;
        for (const platform::DirEntry& entry : folders) {
            files.clear();
            if (entry.isDirectory && IsCameraFolderName(entry.name) &&
                platform::ListDirectory(platform::JoinPath(*dcim, entry.name), files, [](std::string_view) { return false; }) &&
                std::any_of(files.begin(), files.end(), [](const platform::DirEntry& file) {
                    return !file.isDirectory && CClipDetails::IsVideoFileName(file.name);
                }))
                return true;
        }
        return false;
    };
    const std::optional<std::string> top = root;
    return folder(folder(top, "PRIVATE"), "AVCHD") || folder(top, "AVCHD") || folder(folder(top, "BDMV"), "STREAM") ||
           folder(folder(folder(top, "PRIVATE"), "M4ROOT"), "CLIP") || holdsVideo(folder(top, "DCIM"));
}

namespace {

// The folder a scan of `root` takes its clips from: down PRIVATE, AVCHDL or AVCHD, BDMV and
// STREAM where each is there, as ScanDirectory goes.
std::string ClipFolderScannedFrom(const std::string& root)
{
    std::string folder = root;
    auto descend = [&](const char* name) {
        const std::optional<std::string> child = platform::FindChildIgnoreCase(folder, name);
        if (child && platform::IsDirectory(*child)) {
            folder = *child;
            return true;
        }
        return false;
    };
    descend("PRIVATE");
    if (!descend("AVCHDL"))
        descend("AVCHD");
    descend("BDMV");
    descend("STREAM");
    return folder;
}

}  // namespace

std::string CAVCHDDoc::FolderShowingClip(const std::string& clipPath)
{
    const std::string own = ParentOf(clipPath);
    if (const std::string parent = ParentOf(own); IsVideoClipFolder(NameOf(parent), NameOf(own))) {
        // A camera's folder of MP4 clips: the card's root holds DCIM, or PRIVATE/M4ROOT.
        std::string root = ParentOf(parent);
        if (platform::EqualsIgnoreCase(NameOf(parent), "M4ROOT") && platform::EqualsIgnoreCase(NameOf(root), "PRIVATE"))
            root = ParentOf(root);
        return root;
    }
    // The card's root lies at most four folders up (PRIVATE/AVCHD/BDMV/STREAM); the highest
    // folder whose scan reaches the clip's is it.
    std::vector<std::string> candidates{own};
    for (int up = 0; up < 4 && candidates.back().size() > 1; ++up)
        candidates.push_back(ParentOf(candidates.back()));
    for (auto folder = candidates.rbegin(); folder != candidates.rend(); ++folder)
        if (ClipFolderScannedFrom(*folder) == own)
            return *folder;
    return own;
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
