#pragma once
#include "imaging/JpegPicture.h"
#include "imaging/RgbImage.h"
#include "platform/DeviceBitmap.h"
#include "platform/FileSystem.h"

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// The thumbnails of one video directory by clip slot: the camera's own, read from its thumbnail
// data file (JPEG streams in 16384-byte blocks) and index file, and later the generated ones.
class CThumbnailSet {
public:
    struct ThumbnailEntry {
        std::int32_t clipNumber = 0;
        bool selected = false;
        std::unique_ptr<CRgbImage> picture;                 // a decoded picture, or
        std::unique_ptr<platform::DeviceBitmap> bitmap;     // a grabbed frame, or
        CJpegPicture jpeg;                                  // a picture kept compressed
        std::int32_t bitmapWidth = 0;
        std::int32_t bitmapHeight = 0;
        // Picture pixels per grid pixel in each direction: 2 for a picture made for a display
        // scaled by two (768 x 432 shown in a 384 x 216 place), else 1.
        std::int32_t scale = 1;
        // A camera's picture file of whatever size: drawn fitted into the grid's place for a
        // picture (kFittedWidth x kFittedHeight), keeping its shape, as a grabbed one is.
        bool fitted = false;
        // Whatever the GUI made once to draw this thumbnail quickly; it lives and dies with the
        // entry, so a replaced thumbnail is never drawn from a stale copy.
        std::shared_ptr<void> drawCache;
        // For a compressed picture: its decoded form while the GUI's small cache of decoded
        // thumbnails keeps it, so only what is on screen and near it stays decoded.
        std::weak_ptr<void> decodedCache;

        // Takes the JPEG stream at the file's current position: kept compressed when it decodes
        // cleanly within its block, else decoded (showing a library warning) into `picture`.
        void LoadJpeg(std::FILE* file);
        int Width() const { return picture ? picture->width : !jpeg.Empty() ? jpeg.width : bitmapWidth; }
        int Height() const { return picture ? picture->height : !jpeg.Empty() ? jpeg.height : bitmapHeight; }
        // The place the picture takes in the grid.
        int GridWidth() const { return fitted ? FittedSize(Width(), Height()).first : Width() / scale; }
        int GridHeight() const { return fitted ? FittedSize(Width(), Height()).second : Height() / scale; }
    };

    // The grid's place for a picture, which a fitted one fills as far as its shape allows.
    static constexpr int kFittedWidth = 384;
    static constexpr int kFittedHeight = 216;
    // The size a picture of `width` x `height` takes in that place (at least 1 x 1).
    static std::pair<int, int> FittedSize(int width, int height);

    static constexpr long kBlockSize = 16384;      // the thumbnail offset multiple
    static constexpr long kIndexHeaderSize = 72;   // ignored header of an index file
    static constexpr long kIndexRecordSize = 12;
    // The most pixels one folder's camera thumbnails may hold (about 2,000 thumbnails of
    // 416 x 240, 600 MB); blocks past it are not read.
    static constexpr std::uint64_t kMaxFolderPixels = 200ull * 1000 * 1000;

    CThumbnailSet() = default;
    // Loads the data file; passes on what Load raises.
    explicit CThumbnailSet(const std::string& dataFilePath, std::uint64_t maxFolderPixels = kMaxFolderPixels,
                           int onlySlot = kAllSlots);

    // Reads the data file and its index. Raises CAVCHDException when the data file cannot be
    // opened or its size is not a whole number of blocks, and a std::runtime_error with the JPEG
    // layer's text when a named block does not decode. Only regular files are read. Once the
    // pictures hold `maxFolderPixels`, the remaining blocks are left unread and a line is logged.
    // With `onlySlot`, only the blocks of that clip slot are decoded (one clip's picture costs
    // one decode, not the whole card's).
    void Load(const std::string& dataFilePath, std::uint64_t maxFolderPixels = kMaxFolderPixels,
              int onlySlot = kAllSlots);
    static constexpr int kAllSlots = -1;
    // Reads the index that belongs to the data file ("TID", else "tidx"); false without one.
    bool ReadIndex(const std::string& dataFilePath);
    void Clear();

    int GetCount() const { return static_cast<int>(slots_.size()); }
    ThumbnailEntry* GetEntry(int index);
    const ThumbnailEntry* GetEntry(int index) const;
    // A new, unselected entry for the slot, replacing any there; the set grows as needed.
    // `scale` is the picture's pixels per grid pixel (see ThumbnailEntry::scale).
    void SetBitmap(int index, std::unique_ptr<platform::DeviceBitmap> bitmap, int scale = 1);
    void SetImage(int index, std::unique_ptr<CRgbImage> picture, int scale = 1);
    void SetJpeg(int index, CJpegPicture jpeg, int scale = 1);
    // A camera's picture file, drawn fitted into the grid's place whatever its size.
    void SetFittedJpeg(int index, CJpegPicture jpeg);

    // The size of the place a slot's picture takes in the grid; false when the slot has no
    // entry. Kept beside the entries, so that laying out thousands of clips reads a few bytes a
    // clip instead of its entry and picture.
    bool GetSize(int index, std::int32_t& width, std::int32_t& height) const;

    const std::map<std::int32_t, std::int32_t>& BlockToClip() const { return blockToClip_; }

    // The index file names for a data file: the text after the file name's last dot replaced.
    static std::string IndexPath(const std::string& dataFilePath, const char* extension);
    // Where the camera keeps the thumbnails of a clip tree, given its AVCHD folder (ending in
    // "/"): THUMB.TDT, else thumbnail.tdt2, in its AVCHDTN folder when it has one, else in the
    // folder itself, names matched without regard to case. "" when there is none.
    // `listing`, when given, is the AVCHD folder's own, already made.
    static std::string FindDataFile(const std::string& avchdFolder,
                                    const std::vector<platform::DirEntry>* listing = nullptr);

private:
    std::unique_ptr<ThumbnailEntry>& SlotFor(int index);
    // Puts an entry into its slot and notes its size.
    void Place(int index, std::unique_ptr<ThumbnailEntry> entry);

    struct Size {
        std::int32_t width = 0, height = 0;
        bool present = false;
    };
    std::vector<std::unique_ptr<ThumbnailEntry>> slots_;
    std::vector<Size> sizes_;  // by slot, beside slots_
    std::map<std::int32_t, std::int32_t> blockToClip_;
};

using ThumbnailEntry = CThumbnailSet::ThumbnailEntry;
