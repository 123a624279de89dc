#pragma once
#include "model/ThumbnailSet.h"

#include <wx/bitmap.h>

// The wxBitmap a thumbnail is drawn from, made once from the entry's picture or grabbed frame
// and kept with the entry until the thumbnail is replaced or freed; never converted per paint.
// It has the pixels of the display it is drawn on (`displayScale` per grid pixel): a picture
// made at that scale is taken as it is, any other is scaled smoothly once, here, so that a paint
// only copies pixels.
const wxBitmap* ThumbnailBitmap(const ThumbnailEntry& entry, double displayScale = 1.0);
