#pragma once
#include <string>

class CJpegPicture;
class CRgbImage;
class ThumbnailQueue;

// Where a clip's generated thumbnail is kept: "<clip>.viewmere.jpg" beside the clip, or in the
// clip folder's "Viewmere" subdirectory when WriteToSubdir is on. With `createDirectory` (and
// WriteThumbnails on) that subdirectory is made first.
std::string ThumbnailFilePath(const std::string& clipPath, bool createDirectory);

// Reads a clip's thumbnail file into `picture` (its name into `fileName`): true when it is a
// regular file that decodes cleanly and pictures the clip now under that name; why not is
// logged otherwise. A file records the size and time of its clip when it was written (in a JPEG
// comment); one made of an earlier clip of that name is stale. A file without the record (an
// older version's, another program's) is stale only when older than its clip by more than any
// clock offset between a camera and a computer explains (26 hours).
bool ReadThumbnailFile(const std::string& clipPath, CJpegPicture& picture, std::string& fileName);

// Serves a clip from its thumbnail file: true when the file was read and its picture stored.
// Only a regular file is read. A file that does not decode cleanly (a damaged, truncated or
// empty one) counts as absent, so the thumbnail is made again and the file replaced; the
// decoder's text is logged, and no box is shown. So does a file older than its clip: it shows
// the clip that had the name before.
bool LoadThumbnailFile(ThumbnailQueue& queue, const std::string& clipPath);

// Serves a clip from a picture kept for it: its thumbnail file, else the shared cache's entry (a
// file manager pictured it already). Reading a kept picture is not making one: it is done
// whether generation is on or off. True when one was stored.
bool LoadStoredThumbnail(ThumbnailQueue& queue, const std::string& clipPath);

// Writes a clip's thumbnail file, with the clip's record, under a fresh temporary name and a
// rename, replacing a damaged or stale one. A failure is logged once per folder and reason; the
// thumbnail itself is kept in memory by the caller all the same.
bool WriteThumbnailFile(const std::string& clipPath, const CRgbImage& picture);
bool WriteThumbnailFile(const std::string& clipPath, const CJpegPicture& picture);
