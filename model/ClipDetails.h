#pragma once
#include "model/RecordingTime.h"
#include "platform/CalendarTime.h"
#include "platform/FileSystem.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The clip list of one directory: its stream files by slot, and the texts the grid shows.
// A numbered list puts each file in the slot of the number its name starts with (as camcorders
// name them, 00012.MTS in slot 12); an unnumbered list keeps the listing order.
class CClipDetails {
public:
    struct ClipEntry {
        std::string name;                      // file name as listed, with extension
        platform::FileTime lastWriteTime = 0;  // 100 ns since 1601, UTC
        std::uint32_t sizeLow = 0;
        std::uint32_t sizeHigh = 0;
        bool valid = false;                    // false for an empty slot
        // The time the camera wrote into the clip, once read; its wall clock then stands in
        // for the file time in the caption, the date and the date key.
        std::optional<RecordingTime> recorded;
    };

    // Highest number taken from a file name as a slot. A file whose number is negative or larger
    // is appended after the highest slot instead, so it is never lost and the list stays bounded.
    static constexpr int kMaxNumberedSlot = 99999;

    CClipDetails(bool numbered, const std::string& directory);
    // Takes the clips from a listing of the directory that was already made (the folder scan
    // lists each directory once).
    CClipDetails(bool numbered, const std::string& directory, const std::vector<platform::DirEntry>& listing);

    void Load(const std::string& directory);
    void Load(const std::string& directory, const std::vector<platform::DirEntry>& listing);

    // True for the names a clip list takes: *.MTS and *.m2ts in any case.
    static bool IsStreamFileName(std::string_view name);
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

private:
    void AddEntry(const ClipEntry& entry, std::vector<ClipEntry>& unplaced);

    std::vector<ClipEntry> slots_;
    std::string directory_;
    bool numbered_;
};
