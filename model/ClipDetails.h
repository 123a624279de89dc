#pragma once
#include "model/CardPlaylist.h"
#include "model/RecordingTime.h"
#include "platform/CalendarTime.h"
#include "platform/FileSystem.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The clip list of one directory: its stream files (or, for the folders where cameras keep MP4
// clips, its .MP4 and .MOV files) by slot, and the texts the grid shows. A numbered list puts each file in the slot of the number its name starts with (as camcorders
// name them, 00012.MTS in slot 12); an unnumbered list keeps the listing order.
// A recording that the camera split across files (as its playlist says) is one clip once the
// list joins recordings: it stands in the slot of its first file, whose picture, time and date
// it shows, with the size and duration of all its files; the files that continue it are no
// clips of their own.
class CClipDetails {
public:
    struct ClipEntry {
        // What laying out the grid reads of every clip comes first, within one cache line.
        bool valid = false;  // false for an empty slot
        // For a file that continues a split recording: the slot of the recording's first file,
        // else -1.
        int continues = -1;
        // year * 10000 + month * 100 + day of the time shown (the recording's, else the file's),
        // kept so that laying out a grid of thousands converts no time.
        int dateKey = 0;
        std::string name;                      // file name as listed, with extension
        platform::FileTime lastWriteTime = 0;  // 100 ns since 1601, UTC
        std::uint32_t sizeLow = 0;
        std::uint32_t sizeHigh = 0;
        // The time the camera wrote into the clip, once read; its wall clock then stands in
        // for the file time in the caption, the date and the date key.
        std::optional<RecordingTime> recorded;
        // The file's duration in seconds: from the playlist, or read from the stream.
        std::optional<double> duration;
        bool durationFromPlaylist = false;
        // For the first file of a split recording: the slots of the files that continue it, in
        // playlist order.
        std::vector<int> continuations;
        // Why no picture of the clip could be made, once that is known.
        std::string pictureProblem;
        // The file the clip's recording was imported to, once that is known.
        std::string importedTo;
        // The camera's maker and model, where the clip's description names them.
        std::string camera;

        std::uint64_t Size() const { return static_cast<std::uint64_t>(sizeHigh) << 32 | sizeLow; }
    };

    // Highest number taken from a file name as a slot. A file whose number is negative or larger
    // is appended after the highest slot instead, so it is never lost and the list stays bounded.
    static constexpr int kMaxNumberedSlot = 99999;

    // The files a list takes: transport streams, or the MP4 and QuickTime clips of a folder
    // where cameras keep those (listed in name order).
    enum class Files { Streams, Videos };

    CClipDetails(bool numbered, const std::string& directory);
    // Takes the clips from a listing of the directory that was already made (the folder scan
    // lists each directory once).
    CClipDetails(bool numbered, const std::string& directory, const std::vector<platform::DirEntry>& listing,
                 Files files = Files::Streams);

    void Load(const std::string& directory);
    void Load(const std::string& directory, const std::vector<platform::DirEntry>& listing);

    // True for the names a clip list of streams takes: *.MTS and *.m2ts in any case.
    static bool IsStreamFileName(std::string_view name);
    // True for the names a clip list of videos takes: *.MP4 and *.MOV in any case.
    static bool IsVideoFileName(std::string_view name);
    // Either.
    static bool IsClipFileName(std::string_view name) { return IsStreamFileName(name) || IsVideoFileName(name); }
    // The slot a numbered list gives a file of this name (the number it starts with), or
    // nothing when its number is no slot.
    static std::optional<int> NumberedSlotOf(const std::string& name);
    int GetCount() const { return static_cast<int>(slots_.size()); }
    bool GetClipPath(int index, std::string& path) const;
    bool FormatCaption(int index, std::string& caption) const;
    int GetDateKey(int index) const;
    std::string FormatDate(int index) const;

    bool IsNumbered() const { return numbered_; }
    const std::string& GetDirectory() const { return directory_; }
    // The slot, or nullptr when the index is out of range or the slot is empty.
    const ClipEntry* GetEntry(int index) const;
    // Gives a clip the recording time read from its stream; false for an empty slot.
    bool SetRecordingTime(int index, const RecordingTime& time);
    // Gives a file its duration read from the stream, unless the playlist gave one.
    bool SetStreamDuration(int index, double seconds);
    // Says why no picture of a clip could be made ("missing decoder for video/x-h265").
    bool SetPictureProblem(int index, std::string why);
    // Says which file the clip's recording was imported to ("" for none).
    bool SetImportedTo(int index, std::string file);
    // Names the camera that made a clip ("Sony ILCE-7M3").
    bool SetCamera(int index, std::string camera);

    // Takes from the folder's playlist which files continue a recording, and every named
    // file's duration. Nothing is taken when the playlist and the folder disagree (a file it
    // names is missing or named twice, a continuation whose file does not follow its recording's
    // last one on the card): false, with the reason in `problem`.
    bool ApplyPlaylist(const CardPlaylist& playlist, std::string& problem);
    // Whether the files of a split recording are shown as one clip.
    void SetJoinedRecordings(bool joined) { joined_ = joined; }
    // A file that continues a recording shown in its first file's slot: not a clip of its own.
    bool IsContinuation(int index) const;
    // How many clips the list shows: the slots that hold a file, less those that continue a
    // recording (a numbered list's empty slots are no clips).
    int ClipCount() const;
    // The slots of a clip's files, in order: its own and, for a joined recording, those that
    // continue it. Empty for an empty slot.
    std::vector<int> RecordingParts(int index) const;
    // The paths of a clip's files, in order; false (nothing added) for an empty slot.
    bool GetRecordingPaths(int index, std::vector<std::string>& paths) const;
    // The size of all of a clip's files.
    std::uint64_t RecordingSize(int index) const;
    // The duration of all of a clip's files, once every one is known.
    std::optional<double> RecordingDuration(int index) const;
    // Which file of its recording a file is, and of how many: {1, 1} for a clip of one file,
    // {2, 2} for the second of two. {0, 0} for an empty slot.
    std::pair<int, int> PartOfRecording(int index) const;
    // What hovering over a clip tells: its duration, its files and its time, with the zone
    // where the camera gave one ("00003.MTS: 22:41, 2 files, recorded 23:16:24 31-Dec-2008
    // UTC+01:00"), the camera where its description names it (", camera Sony ILCE-7M3"), why it
    // has no picture where none could be made, and the file it was imported to. Empty for an
    // empty slot.
    std::string FormatDetails(int index) const;

    // "22:41", or "1:02:05" from an hour on; seconds rounded.
    static std::string FormatDuration(double seconds);

private:
    void AddEntry(const ClipEntry& entry, std::vector<ClipEntry>& unplaced);
    ClipEntry& Slot(int index) { return slots_[static_cast<std::size_t>(index)]; }
    const ClipEntry& Slot(int index) const { return slots_[static_cast<std::size_t>(index)]; }
    // The nearest slot below `index` that holds a file, or -1.
    int PreviousFile(int index) const;

    std::vector<ClipEntry> slots_;
    std::string directory_;
    bool numbered_;
    Files files_ = Files::Streams;
    bool joined_ = false;
};
