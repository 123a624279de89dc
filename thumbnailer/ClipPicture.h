#pragma once
#include "imaging/RgbImage.h"

#include <functional>
#include <memory>
#include <string>

// The picture the desktop is given for one clip, found as the viewer finds the picture of the
// clip's cell: the camera's own thumbnail, else the clip's thumbnail file, else its first frame.
struct ClipPicture {
    std::unique_ptr<CRgbImage> picture;  // null when no source gave one
    std::string problem;                 // why there is no picture
};

// The camera's thumbnail of a clip, when the clip tree it belongs to has one for it: the
// thumbnail files of the tree's AVCHD folder (the folder above BDMV/STREAM, STREAM, or the
// clips' own), read and numbered as the viewer reads them when the card is opened, or for an
// MP4 clip of an M4ROOT's CLIP folder the camera's JPEG of it. Null when there is none or the
// files cannot be read.
std::unique_ptr<CRgbImage> CameraThumbnailOf(const std::string& clipPath);

// Tries each source in turn; the first frame is grabbed as a grab worker grabs it, giving up
// when `cancelled` answers true. A file that continues a recording the camera split (its card's
// playlist says so) is given its recording's picture, that of the recording's first file.
ClipPicture FindClipPicture(const std::string& clipPath, const std::function<bool()>& cancelled);
