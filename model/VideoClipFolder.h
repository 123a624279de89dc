#pragma once
#include "model/ClipDetails.h"
#include "model/ThumbnailSet.h"
#include "platform/FileSystem.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// The folders where cameras keep MP4 and QuickTime clips, beside or instead of AVCHD:
// - XAVC S: PRIVATE/M4ROOT/CLIP/C0001.MP4, the camera's picture of it in
//   PRIVATE/M4ROOT/THMBNL/C0001T01.JPG (also named in PRIVATE/M4ROOT/MEDIAPRO.XML);
// - other makers: DCIM/<3 digits><5 characters>/ ("DCIM/100CANON/MVI_0001.MP4"), as the camera
//   file system rule names the folders that also hold photos.
// Names are matched without regard to case.

// Whether a folder named `name` inside one named `parent` is one of these.
bool IsVideoClipFolder(std::string_view parent, std::string_view name);
// A DCIM folder's name: three digits, then five letters, digits or underscores.
bool IsCameraFolderName(std::string_view name);

// The largest camera picture read (a camera's is some tens of KB).
inline constexpr std::size_t kMaxCameraPictureBytes = 2 * 1024 * 1024;

// Gives the clips of an M4ROOT's CLIP folder the camera's pictures, each in its clip's slot,
// read through the JPEG layer (a clean decode of at most CRgbImage::kMaxThumbnailPixels) and
// kept compressed: THMBNL/<clip name>T01.JPG, else what MEDIAPRO.XML names for the clip (read
// only then, and only when THMBNL exists). `m4root` ends with "/"; `listing` is its own. A
// picture that is missing gives none; one that cannot be read gives none and a log line. Once
// the pictures hold CThumbnailSet::kMaxFolderPixels the rest are left. With `onlyClip`, only
// that clip's picture is read.
void LoadCameraPictures(const std::string& m4root, const std::vector<platform::DirEntry>& listing,
                        const CClipDetails& clips, CThumbnailSet& pictures, const std::string& onlyClip = {});
