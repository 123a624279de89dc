#pragma once
#include "model/ThumbnailSet.h"

#include <wx/bitmap.h>

// The wxBitmap a thumbnail is drawn from, made once from the entry's picture or grabbed frame
// and kept with the entry until the thumbnail is replaced or freed; never converted per paint.
const wxBitmap* ThumbnailBitmap(const ThumbnailEntry& entry);
