#pragma once
#include <string>

class ThumbnailQueue;

// Where a clip's generated thumbnail is kept: "<clip>.viewmere.jpg" beside the clip, or in the
// clip folder's "Viewmere" subdirectory when WriteToSubdir is on. With `createDirectory` (and
// WriteThumbnails on) that subdirectory is made first.
std::string ThumbnailFilePath(const std::string& clipPath, bool createDirectory);

// Serves a clip from its thumbnail file: true when the file was read and its picture stored.
// A file that opens but does not decode counts as absent; the decoder's text is logged.
bool LoadThumbnailFile(ThumbnailQueue& queue, const std::string& clipPath);
