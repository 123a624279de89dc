#pragma once
#include <memory>
#include <string>
#include <utility>
#include <vector>

class CJpegPicture;
class CRgbImage;
class ThumbnailQueue;

// The desktop's shared thumbnail cache, as file managers keep it (the freedesktop.org thumbnail
// managing standard): "${XDG_CACHE_HOME:-~/.cache}/thumbnails/{x-large,large,normal}/" holds one
// PNG per file, named by the MD5 of the file's URI, carrying the file's URI and modification
// time. A clip that a file manager has already pictured needs no grab, and a clip grabbed here
// is pictured at once in the file manager. Pictures are read with GdkPixbuf and written with libpng.

// The file URI of a clip ("file:///a/b%20c.MTS"): the absolute path, every byte outside the
// URI's unreserved set escaped, so names that are not UTF-8 are named exactly. "" when the
// path cannot be made absolute.
std::string SharedThumbnailUri(const std::string& clipPath);

// Where the cache keeps the thumbnail of `uri` at one size ("x-large", "large" or "normal").
std::string SharedThumbnailPath(const std::string& uri, const char* sizeFolder);

// A valid cached thumbnail of a clip (its Thumb::MTime equals the clip's modification time),
// the largest there is, fitted into width x height with its proportions kept. One too small to
// fill that box in either direction is passed over; with a smallest size given, one that fills
// that smaller box is taken, and enlarged smoothly. Null when there is none.
std::unique_ptr<CRgbImage> FindSharedThumbnail(const std::string& clipPath, int width, int height,
                                               int smallestWidth = 1 << 30, int smallestHeight = 1 << 30);

// Writes a clip's picture into the cache as its x-large thumbnail (at most 512 pixels a side)
// and its large one (at most 256), with Thumb::URI, Thumb::MTime, Thumb::Size and Software.
// False when either could not be written; the first failure is logged.
bool WriteSharedThumbnail(const std::string& clipPath, const CRgbImage& picture);

// Writes a picture as an 8-bit RGB PNG with the given text chunks, through a temporary file of
// mode 0600 beside the target and a rename, so a reader never sees half a file and a failure
// leaves nothing. False with the reason in `problem`.
bool WritePngFile(const CRgbImage& picture, const std::string& target,
                  const std::vector<std::pair<std::string, std::string>>& texts, std::string& problem);

// The generator's side, each only while the ShareThumbnails setting is on: serve a clip from
// the cache (the picture fitted into the grid's thumbnail size, 384 x 216), and give the cache
// what a grab made.
bool LoadSharedThumbnail(ThumbnailQueue& queue, const std::string& clipPath);
void ShareGrabbedThumbnail(const std::string& clipPath, const CRgbImage& picture);
void ShareGrabbedThumbnail(const std::string& clipPath, const CJpegPicture& picture);
