#pragma once
#include <string>

namespace testing_support {

// A card of today's cameras as they lay it out, with real clips made by the ffmpeg program (all
// files dated 2009-03-07 14:05:09 UTC):
// - AVCHD: PRIVATE/AVCHD/BDMV/STREAM with 00000.MTS, dated by the camera 2010-02-28 18:45:59
//   at UTC+05:30 and pictured in THUMB.TDT (green), and 00001.MTS with neither;
// - XAVC S: PRIVATE/M4ROOT with MEDIAPRO.XML and CLIP/C0001.MP4 (its description C0001M01.XML:
//   2016-01-03T06:10:57-04:00, 100 frames at 50p, a Sony ILCE-7M3; its picture
//   THMBNL/C0001T01.JPG, lime), C0002.MP4 (described; its picture, magenta, under a name only
//   MEDIAPRO.XML gives) and C0003.MP4 (a damaged description and no picture; its movie header
//   says 2021-08-02T07:00:00Z), each clip one second of H.264;
// - other makers, in lower case: dcim/100canon/mvi_0001.mov (H.265, made 2022-05-06T10:20:30Z)
//   and mvi_0002.mp4 (cut short: no movie header), and dcim/101photo with photos only.
struct CameraCard {
    std::string root;
    std::string avchdDated, avchdPlain;
    std::string xavcDescribed, xavcListed, xavcDamaged;
    std::string dcimMovie, dcimDamaged;
};
CameraCard WriteCameraCard(const std::string& root);

}  // namespace testing_support
