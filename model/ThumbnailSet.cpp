#include "model/ThumbnailSet.h"

#include "model/AVCHDException.h"
#include "log/EventLog.h"
#include "model/ClipDetails.h"
#include "platform/FileSystem.h"
#include "platform/Format.h"
#include "platform/MessageBox.h"

#include <algorithm>
#include <cerrno>
#include <optional>
#include <stdexcept>

namespace {

using platform::FilePtr;

long long FileSize(std::FILE* file)
{
    if (std::fseek(file, 0, SEEK_END) != 0)
        return -1;
    return static_cast<long long>(ftello(file));
}

void ShowIndexWarning(const std::string& text)
{
    platform::ShowMessageBox(text, "Viewmere", platform::MessageBoxIcon::Warning);
}

}  // namespace

void ThumbnailEntry::LoadJpeg(std::FILE* file)
{
    bitmap.reset();
    picture.reset();
    jpeg = CJpegPicture();
    // A picture that decodes cleanly within its block is kept as its bytes, as generated
    // thumbnails are: a card's thousand pictures hold 20 MB instead of 300 MB, and the grid
    // decodes only what it shows. The block's zero padding after the end marker is dropped.
    const long start = std::ftell(file);
    std::vector<std::uint8_t> block(static_cast<std::size_t>(CThumbnailSet::kBlockSize));
    block.resize(std::fread(block.data(), 1, block.size(), file));
    block.erase(std::find_if(block.rbegin(), block.rend(), [](std::uint8_t byte) { return byte != 0; }).base(),
                block.end());
    std::string problem;
    if (jpeg.Adopt(std::move(block), CRgbImage::kMaxThumbnailPixels, problem))
        return;
    // Anything else (a library warning, a stream longer than its block) is decoded from the file
    // as it always was, showing the warning, and kept decoded. A camera thumbnail fits a 16 KB
    // block: one that declares a huge picture is refused before its pixels are allocated.
    if (start < 0 || std::fseek(file, start, SEEK_SET) != 0)
        throw std::runtime_error("the thumbnail file cannot be read again");
    picture = std::make_unique<CRgbImage>();
    picture->DecodeJpeg(file, CRgbImage::DecodeRules{CRgbImage::kMaxThumbnailPixels, false});
}

CThumbnailSet::CThumbnailSet(const std::string& dataFilePath, std::uint64_t maxFolderPixels, int onlySlot)
{
    Load(dataFilePath, maxFolderPixels, onlySlot);
}

std::string CThumbnailSet::IndexPath(const std::string& dataFilePath, const char* extension)
{
    const std::size_t nameStart = dataFilePath.rfind('/') == std::string::npos ? 0 : dataFilePath.rfind('/') + 1;
    const std::size_t dot = dataFilePath.rfind('.');
    if (dot == std::string::npos || dot < nameStart)
        return dataFilePath + "." + extension;  // a dot in a folder name is not the extension
    return dataFilePath.substr(0, dot + 1) + extension;
}

std::string CThumbnailSet::FindDataFile(const std::string& avchdFolder, const std::vector<platform::DirEntry>* made)
{
    // Names and types are all that is wanted: no entry needs its size or time.
    const platform::DetailFilter noDetails = [](std::string_view) { return false; };
    auto list = [&](const std::string& folder, std::vector<platform::DirEntry>& listing) {
        platform::ListDirectory(platform::WithoutTrailingSlash(folder), listing, noDetails);
    };
    std::string folder = avchdFolder;
    std::vector<platform::DirEntry> listing;
    if (made != nullptr)
        listing = *made;
    else
        list(folder, listing);
    if (const platform::DirEntry* sub = platform::FindDirectoryIgnoreCase(listing, "AVCHDTN");
        sub != nullptr && sub->isDirectory) {
        folder += sub->name + "/";
        listing.clear();
        list(folder, listing);
    }
    const platform::DirEntry* file = platform::FindEntryIgnoreCase(listing, "THUMB.TDT");
    if (file == nullptr || file->isDirectory)
        file = platform::FindEntryIgnoreCase(listing, "thumbnail.tdt2");
    return file != nullptr && !file->isDirectory ? folder + file->name : std::string();
}

namespace {

// Opens an index file by name without regard to case, as a card's file system resolves names
// (a card mounted with lower-case names holds thumb.tid).
FilePtr OpenIndex(const std::string& wanted, std::string& foundPath)
{
    foundPath = wanted;
    FilePtr file = platform::OpenRegularFile(wanted);
    if (file || errno == EINVAL)
        return file;  // found, or there but no regular file
    const std::size_t slash = wanted.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : wanted.substr(0, slash == 0 ? 1 : slash);
    const std::string name = slash == std::string::npos ? wanted : wanted.substr(slash + 1);
    const std::optional<std::string> found = platform::FindChildIgnoreCase(folder, name);
    if (!found)
        return nullptr;
    foundPath = slash == std::string::npos ? found->substr(2) : *found;
    return platform::OpenRegularFile(foundPath);
}

}  // namespace

bool CThumbnailSet::ReadIndex(const std::string& dataFilePath)
{
    std::string indexPath;
    FilePtr file = OpenIndex(IndexPath(dataFilePath, "TID"), indexPath);
    if (!file)
        file = OpenIndex(IndexPath(dataFilePath, "tidx"), indexPath);
    if (!file)
        return false;

    const long long size = FileSize(file.get());
    if (size < kIndexHeaderSize) {
        ShowIndexWarning(platform::FormatString(
            "Thumbnail index file [%s] size (%lld bytes) is less than the ignored header size (%ld bytes).  "
            "This index file is not compatible with Viewmere and will be ignored.",
            indexPath.c_str(), size, kIndexHeaderSize));
        return false;
    }
    if ((size - kIndexHeaderSize) % kIndexRecordSize != 0) {
        ShowIndexWarning(platform::FormatString(
            "Thumbnail index file [%s] size (%lld bytes) is not an expected size.  "
            "This index file is not compatible with Viewmere and will be ignored.",
            indexPath.c_str(), size));
        return false;
    }

    // Clip and block numbers are 16 bits each, so a record can never name more than 65536 of either.
    const long long records = (size - kIndexHeaderSize) / kIndexRecordSize;
    std::vector<unsigned char> bytes(static_cast<std::size_t>(size - kIndexHeaderSize));
    if (std::fseek(file.get(), kIndexHeaderSize, SEEK_SET) != 0 ||
        std::fread(bytes.data(), 1, bytes.size(), file.get()) != bytes.size())
        return false;  // the file shrank while being read: treat as no index
    for (long long r = 0; r < records; ++r) {
        const unsigned char* record = bytes.data() + r * kIndexRecordSize;
        blockToClip_[record[2] * 256 + record[3]] = record[0] * 256 + record[1];
    }
    return true;
}

void CThumbnailSet::Load(const std::string& dataFilePath, std::uint64_t maxFolderPixels, int onlySlot)
{
    Clear();
    const bool useIndex = ReadIndex(dataFilePath);
    FilePtr file = platform::OpenRegularFile(dataFilePath);
    if (!file)
        throw CAVCHDException(platform::FormatString("Unable to open thumbnail file [%s]", dataFilePath.c_str()));
    const long long size = FileSize(file.get());
    if (size < 0 || size % kBlockSize != 0)
        throw CAVCHDException(platform::FormatString(
            "Thumbnail file [%s] size (%lld bytes) is not a multiple of the thumbnail offset multiple (%ld bytes) "
            "as expected.  No thumbnails will be read.",
            dataFilePath.c_str(), size, kBlockSize));

    std::uint64_t pixels = 0;
    for (long long block = 0; block * kBlockSize < size; ++block) {
        long long slot = block;
        if (useIndex) {
            const auto named = blockToClip_.find(static_cast<std::int32_t>(block));
            if (named == blockToClip_.end())
                continue;
            slot = named->second;
        }
        // Slots are bounded as clip numbers are; a block beyond them cannot belong to a clip.
        if (slot > CClipDetails::kMaxNumberedSlot || (onlySlot != kAllSlots && slot != onlySlot))
            continue;
        if (std::fseek(file.get(), static_cast<long>(block * kBlockSize), SEEK_SET) != 0)
            throw CAVCHDException(platform::FormatString("Unable to read thumbnail file [%s]", dataFilePath.c_str()));
        if (pixels >= maxFolderPixels) {
            LogEvent("Thumbnail file [%s]: the camera thumbnails read so far hold %llu pixels, the most one folder "
                     "may hold; the rest are not read.",
                     dataFilePath.c_str(), static_cast<unsigned long long>(pixels));
            break;
        }
        auto entry = std::make_unique<ThumbnailEntry>();
        entry->clipNumber = static_cast<std::int32_t>(slot);
        try {
            entry->LoadJpeg(file.get());
        } catch (const std::exception& error) {
            throw std::runtime_error(error.what());
        }
        pixels += static_cast<std::uint64_t>(entry->Width()) * static_cast<std::uint64_t>(entry->Height());
        Place(static_cast<int>(slot), std::move(entry));
    }
}

void CThumbnailSet::Clear()
{
    slots_.clear();
    sizes_.clear();
    blockToClip_.clear();
}

ThumbnailEntry* CThumbnailSet::GetEntry(int index)
{
    if (index < 0 || index >= GetCount())
        return nullptr;
    return slots_[static_cast<std::size_t>(index)].get();
}

const ThumbnailEntry* CThumbnailSet::GetEntry(int index) const
{
    return const_cast<CThumbnailSet*>(this)->GetEntry(index);
}

std::unique_ptr<ThumbnailEntry>& CThumbnailSet::SlotFor(int index)
{
    if (index >= GetCount()) {
        slots_.resize(static_cast<std::size_t>(index) + 1);
        sizes_.resize(slots_.size());
    }
    return slots_[static_cast<std::size_t>(index)];
}

void CThumbnailSet::Place(int index, std::unique_ptr<ThumbnailEntry> entry)
{
    std::unique_ptr<ThumbnailEntry>& slot = SlotFor(index);
    sizes_[static_cast<std::size_t>(index)] = entry ? Size{entry->GridWidth(), entry->GridHeight(), true} : Size{};
    slot = std::move(entry);
}

bool CThumbnailSet::GetSize(int index, std::int32_t& width, std::int32_t& height) const
{
    if (index < 0 || index >= static_cast<int>(sizes_.size()) || !sizes_[static_cast<std::size_t>(index)].present)
        return false;
    width = sizes_[static_cast<std::size_t>(index)].width;
    height = sizes_[static_cast<std::size_t>(index)].height;
    return true;
}

void CThumbnailSet::SetBitmap(int index, std::unique_ptr<platform::DeviceBitmap> bitmap, int scale)
{
    if (index < 0)
        return;
    auto entry = std::make_unique<ThumbnailEntry>();
    entry->clipNumber = index;
    entry->scale = std::max(1, scale);
    if (bitmap) {
        entry->bitmapWidth = bitmap->width;
        entry->bitmapHeight = bitmap->height;
    }
    entry->bitmap = std::move(bitmap);
    Place(index, std::move(entry));
}

void CThumbnailSet::SetImage(int index, std::unique_ptr<CRgbImage> picture, int scale)
{
    if (index < 0)
        return;
    auto entry = std::make_unique<ThumbnailEntry>();
    entry->clipNumber = index;
    entry->scale = std::max(1, scale);
    entry->picture = std::move(picture);
    Place(index, std::move(entry));
}

std::pair<int, int> CThumbnailSet::FittedSize(int width, int height)
{
    if (width <= 0 || height <= 0)
        return {0, 0};
    // Width-bound when the picture is wider than the place's 16:9, else height-bound.
    if (static_cast<long long>(width) * kFittedHeight >= static_cast<long long>(height) * kFittedWidth)
        return {kFittedWidth, std::max(1, static_cast<int>((static_cast<long long>(height) * kFittedWidth + width / 2) / width))};
    return {std::max(1, static_cast<int>((static_cast<long long>(width) * kFittedHeight + height / 2) / height)), kFittedHeight};
}

void CThumbnailSet::SetFittedJpeg(int index, CJpegPicture jpeg)
{
    if (index < 0)
        return;
    auto entry = std::make_unique<ThumbnailEntry>();
    entry->clipNumber = index;
    entry->fitted = true;
    entry->jpeg = std::move(jpeg);
    Place(index, std::move(entry));
}

void CThumbnailSet::SetJpeg(int index, CJpegPicture jpeg, int scale)
{
    if (index < 0)
        return;
    auto entry = std::make_unique<ThumbnailEntry>();
    entry->clipNumber = index;
    entry->scale = std::max(1, scale);
    entry->jpeg = std::move(jpeg);
    Place(index, std::move(entry));
}
