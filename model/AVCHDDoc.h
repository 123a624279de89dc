#pragma once
#include "model/ClipDetails.h"
#include "model/ClipFacts.h"
#include "model/RecordingTimeReader.h"
#include "model/ThumbnailSet.h"
#include "thumbgen/ThumbnailGenerator.h"

#include <boost/shared_ptr.hpp>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

// The open folder: every directory below it that holds clips, with its clip list and
// thumbnails, and the exchange of generation requests and results with the generator.
// All operations run on the UI thread.
class CAVCHDDoc {
public:
    struct VideoDirectory {
        std::string path;                              // as passed to the scan
        boost::shared_ptr<CClipDetails> clips;
        boost::shared_ptr<CThumbnailSet> thumbnails;   // null when the camera's files failed to load
    };
    struct ThumbnailRequest {
        boost::shared_ptr<VideoDirectory> directory;
        int slot = 0;
        bool queued = true;  // false once dropped: asked for again by the next queueing
        bool storedOnly = false;  // only a kept picture was asked for: generation asks again
    };
    // What the recording times taken by one collection changed.
    struct RecordingTimeChanges {
        bool labels = false;      // some clip's label text
        bool dateGroups = false;  // some clip's date, so the date captions
        bool durations = false;   // some clip's duration
    };

    CAVCHDDoc() = default;
    // For tests and tools: a generator with its own producer (an empty one: the usual grabs).
    explicit CAVCHDDoc(CThumbnailGenerator::Producer producer,
                       std::chrono::milliseconds stopLimit = CThumbnailGenerator::kStopLimit);
    // For tests and tools: the usual grabs, run as the options say.
    explicit CAVCHDDoc(GrabPoolOptions options);
    ~CAVCHDDoc();
    CAVCHDDoc(const CAVCHDDoc&) = delete;
    CAVCHDDoc& operator=(const CAVCHDDoc&) = delete;

    void OpenDirectory(const std::string& path);
    // Finds the clips below a folder as OpenDirectory does, and nothing more: no log line, no
    // work for the background (a listing for scripts reads what it needs itself).
    void ScanFolder(const std::string& path);
    void OpenLastDirectory();
    void Clear();
    // Asks the generator for the pictures the clips lack: made where none is kept.
    void QueueMissingThumbnails();
    // Asks only for the pictures kept for the clips (thumbnail files, the shared cache), as a
    // folder opened while generation is off is shown.
    void QueueStoredThumbnails();
    // Attaches the pictures made since the last call; true when any was. A clip whose picture
    // could not be made keeps the reason, which its details tell.
    bool CollectGeneratedThumbnails();
    // Gives clips the recording times and durations read since the last call. A clip without
    // a recording time keeps its file time.
    RecordingTimeChanges CollectRecordingTimes();
    // Shows the files of each split recording as one clip, or each file as a clip of its own.
    // The JoinSplitRecordings setting decides it at every scan.
    void SetJoinedRecordings(bool joined);
    int GetPendingRecordingTimes() const { return recordingTimes_.PendingCount(); }
    // The clips now on screen, by path in grid order: their missing thumbnails and recording
    // times are worked on first.
    void SetVisibleClips(const std::vector<std::string>& clipPaths);
    // Called on a worker thread whenever a thumbnail is ready to collect; see ThumbnailQueue.
    void SetThumbnailListener(ThumbnailQueue::ResultListener listener)
    {
        generator_.SetResultListener(std::move(listener));
    }
    CThumbnailGenerator& Generator() { return generator_; }
    // The open folder's card was pulled: the thumbnails and recording times still queued are
    // dropped, and what was finished is kept. The clips stay listed; a grab still running may
    // still give its clip a thumbnail, and the next queueing asks for the dropped ones again.
    void DropQueuedThumbnails();

    // Whether a folder is the root of a camcorder's clip tree: PRIVATE/AVCHD, AVCHD or
    // BDMV/STREAM right below it, or a folder of MP4 clips at PRIVATE/M4ROOT/CLIP or
    // DCIM/<3 digits><5 characters>, names matched without regard to case.
    static bool HoldsClipTree(const std::string& root);
    // The folder to open to show a clip file with its card: the root of the camcorder's clip
    // tree it lies in (so the camera's thumbnails and playlist are read), else its own folder.
    static std::string FolderShowingClip(const std::string& clipPath);

    // How one folder of clips is read.
    struct ClipFolderRead {
        bool joinRecordings = true;  // the JoinSplitRecordings setting
        bool showProblems = true;    // a camera thumbnail file that fails to load shows a box
        int onlyThumbnailSlot = CThumbnailSet::kAllSlots;  // the camera's pictures of one slot only
        std::string onlyPictureOf;   // in a folder of MP4 clips, the camera's picture of this clip only
    };
    // The clip folders that the scan finds from `root` without searching further down, in grid
    // order: the folder itself, or the STREAM folder below its PRIVATE, AVCHD(L) and BDMV steps,
    // with the camera's thumbnails and the playlist's split recordings as the scan reads them;
    // then the MP4 clips' folders beside it (PRIVATE/M4ROOT/CLIP with the camera's pictures, the
    // folders of DCIM). Empty when none holds clips. For readers of one clip outside the viewer
    // (the desktop's thumbnailer), so that they see the clip as the grid does.
    static std::vector<boost::shared_ptr<VideoDirectory>> ReadClipTrees(const std::string& root,
                                                                        const ClipFolderRead& how);

    int GetDirectoryCount() const { return static_cast<int>(directories_.size()); }
    boost::shared_ptr<VideoDirectory> GetDirectory(int index) const;
    // The clips shown: a numbered list's empty slots are none, and the files that continue a
    // joined recording are part of its clip.
    int GetClipCount() const;
    // The clips whose cell has no picture yet: neither the camera's nor a generated one.
    int CountClipsWithoutPicture() const;
    int GetPendingCount() const { return generator_.PendingCount(); }

private:
    using Listing = std::vector<platform::DirEntry>;

    // A directory path that ends with "/", the directory held open (shared by copies), and its
    // listing, made once.
    struct WorkDirectory {
        std::string path;
        std::shared_ptr<const platform::FileDescriptor> directory;
        Listing listing;
        bool listed = false;
    };

    // The folders of MP4 clips that lie beside a card's AVCHD folder, met on the way down to it.
    struct VideoFolders;
    using Visited = std::set<std::pair<std::uint64_t, std::uint64_t>>;

    // `directory` is the folder at `path` held open; `parentName` the name of the folder it is in.
    void ScanDirectory(const std::string& path, platform::FileDescriptor directory, std::string_view parentName);
    // Reads the clip folders at or below the work directory, as ReadClipTrees says, into `found`.
    // `parentName` is the name of the folder that holds it. True when the folder holds clips of
    // its own (an AVCHD folder, or it is a folder of MP4 clips): nothing below it is searched.
    // Otherwise the work directory is left where the AVCHD steps ended, and with `searchFollows`
    // the folders of MP4 clips below it are left to the search. `visited`, where given, holds
    // the folders already read, by device and inode; the folders of MP4 clips read are added.
    static bool ReadClipFolders(WorkDirectory& work, const std::string& path, std::string_view parentName,
                                const ClipFolderRead& how, bool searchFollows, Visited* visited,
                                std::vector<boost::shared_ptr<VideoDirectory>>& found);
    static bool FirstVisitIn(Visited* visited, const platform::FileDescriptor& directory);
    // Reads the clip folder at or below the work directory into the record; false without clips.
    // The folders of MP4 clips met on the way are noted in `videos`.
    static bool ReadClipFolder(WorkDirectory& work, VideoDirectory& record, const ClipFolderRead& how,
                               VideoFolders& videos);
    // A folder of MP4 clips, with the camera's pictures from `m4root` where it is given; null
    // without clips.
    static boost::shared_ptr<VideoDirectory> ReadVideoFolder(WorkDirectory& folder, WorkDirectory* m4root,
                                                             const ClipFolderRead& how);
    static bool DescendIfPresent(WorkDirectory& work, const char* name);
    // The subfolder of this name, held open; nothing when there is none.
    static std::optional<WorkDirectory> ChildIfPresent(WorkDirectory& work, const char* name);
    static const Listing& ListingOf(WorkDirectory& work);
    static void LoadCameraThumbnails(WorkDirectory& avchd, VideoDirectory& record, const ClipFolderRead& how);
    // Takes the split recordings and durations from the playlist in a card's BDMV folder (its
    // PLAYLIST folder, "" when it has none).
    static void TakePlaylist(const std::string& bdmv, const std::string& playlistFolder, CClipDetails& clips);
    bool FirstVisit(const platform::FileDescriptor& directory);
    void QueueThumbnails(bool storedOnly);
    void QueueRecordingTimes();
    void ShareTheCard();

    std::vector<boost::shared_ptr<VideoDirectory>> directories_;
    CThumbnailGenerator generator_;
    std::map<std::string, ThumbnailRequest> requests_;
    // The clips whose recording time is being read, by path.
    struct ClipSlot {
        boost::shared_ptr<VideoDirectory> directory;
        int slot = 0;
    };
    CRecordingTimeReader recordingTimes_{&ReadClipFacts};
    std::vector<ClipSlot> timeRequests_;  // by the token the reader hands back
    // Directories entered during the running scan, by device and inode, so link loops end.
    Visited visited_;
    bool joinRecordings_ = true;  // the setting, read once per scan
};
