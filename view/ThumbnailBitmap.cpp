#include "view/ThumbnailBitmap.h"

#include "view/DecodedThumbnailCache.h"

#include <wx/dcmemory.h>
#include <wx/image.h>

#include <algorithm>

namespace {

// Rows bottom row first, `bytesPerPixel` bytes each in blue, green, red order.
wxImage ImageFromBottomUp(const std::uint8_t* rows, std::size_t stride, int width, int height, int bytesPerPixel)
{
    wxImage image(width, height, false);
    unsigned char* out = image.GetData();
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* in = rows + static_cast<std::size_t>(height - 1 - y) * stride;
        for (int x = 0; x < width; ++x, out += 3, in += bytesPerPixel) {
            out[0] = in[2];
            out[1] = in[1];
            out[2] = in[0];
        }
    }
    return image;
}

// Drawn once into a bitmap the drawing surfaces copy directly; a bitmap made from an image
// would be converted again on every paint. The picture takes `grid` pixels in the grid, and the
// bitmap has `displayScale` pixels per grid pixel: a picture of another size is scaled smoothly
// to it first (enlarged on a display scaled by two, where the toolkit would double every pixel;
// a camera's picture fitted into the grid's place).
std::shared_ptr<wxBitmap> DrawableBitmap(wxImage image, wxSize grid, double displayScale)
{
    const int gridWidth = std::max(1, grid.x);
    const int gridHeight = std::max(1, grid.y);
    const int width = std::max(1, static_cast<int>(gridWidth * displayScale + 0.5));
    const int height = std::max(1, static_cast<int>(gridHeight * displayScale + 0.5));
    if (width != image.GetWidth() || height != image.GetHeight())
        image.Rescale(width, height,
                      width > image.GetWidth() ? wxIMAGE_QUALITY_BILINEAR : wxIMAGE_QUALITY_BOX_AVERAGE);
    const wxBitmap converted(image, wxBITMAP_SCREEN_DEPTH, displayScale);
    auto bitmap = std::make_shared<wxBitmap>();
    bitmap->CreateScaled(gridWidth, gridHeight, 24, displayScale);
    {
        wxMemoryDC dc(*bitmap);
        dc.DrawBitmap(converted, 0, 0, false);
    }
    return bitmap;
}

// A kept bitmap made for another display scale is made again.
const wxBitmap* KeptFor(const std::shared_ptr<void>& kept, double displayScale)
{
    const auto* bitmap = static_cast<const wxBitmap*>(kept.get());
    return bitmap != nullptr && bitmap->GetScaleFactor() == displayScale ? bitmap : nullptr;
}

CDecodedThumbnailCache& DecodedThumbnails()
{
    static CDecodedThumbnailCache cache(CDecodedThumbnailCache::kDefaultCapacity,
                                        CDecodedThumbnailCache::kDefaultByteCapacity);
    return cache;
}

// A compressed picture is decoded when it is drawn and kept decoded only while the cache holds
// it.
const wxBitmap* DecodedBitmap(const ThumbnailEntry& entry, double displayScale)
{
    if (std::shared_ptr<void> kept = entry.decodedCache.lock(); KeptFor(kept, displayScale) != nullptr) {
        DecodedThumbnails().Touch(kept);
        return static_cast<const wxBitmap*>(kept.get());
    }
    const std::unique_ptr<CRgbImage> picture = entry.jpeg.Decode();
    if (!picture || picture->width <= 0 || picture->height <= 0)
        return nullptr;
    std::shared_ptr<wxBitmap> bitmap =
        DrawableBitmap(ImageFromBottomUp(picture->pixels.get(), static_cast<std::size_t>(picture->stride), picture->width,
                                         picture->height, 3),
                       wxSize(entry.GridWidth(), entry.GridHeight()), displayScale);
    // The weak reference belongs to the entry, which the UI thread alone touches.
    const_cast<ThumbnailEntry&>(entry).decodedCache = bitmap;
    // The toolkit keeps a drawable bitmap at four bytes a pixel.
    const std::size_t pixels = static_cast<std::size_t>(bitmap->GetWidth()) * static_cast<std::size_t>(bitmap->GetHeight());
    DecodedThumbnails().Keep(bitmap, pixels * 4);
    return bitmap.get();
}

}  // namespace

const wxBitmap* ThumbnailBitmap(const ThumbnailEntry& entry, double displayScale)
{
    if (const wxBitmap* kept = KeptFor(entry.drawCache, displayScale))
        return kept;
    if (!entry.jpeg.Empty())
        return DecodedBitmap(entry, displayScale);
    wxImage image;
    if (entry.picture && entry.picture->HasPicture() && entry.picture->width > 0 && entry.picture->height > 0) {
        const CRgbImage& p = *entry.picture;
        image = ImageFromBottomUp(p.pixels.get(), static_cast<std::size_t>(p.stride), p.width, p.height, 3);
    } else if (entry.bitmap && entry.bitmap->bitsPerPixel == 32 && entry.bitmap->RowsAvailable() == entry.bitmap->height &&
               entry.bitmap->width > 0) {
        const platform::DeviceBitmap& b = *entry.bitmap;
        image = ImageFromBottomUp(b.bits.data(), b.Stride(), b.width, b.height, 4);
    } else {
        return nullptr;
    }
    std::shared_ptr<wxBitmap> bitmap = DrawableBitmap(std::move(image), wxSize(entry.GridWidth(), entry.GridHeight()), displayScale);
    // The cache belongs to the entry, which the UI thread alone touches.
    const_cast<ThumbnailEntry&>(entry).drawCache = bitmap;
    return bitmap.get();
}
