#include "view/ThumbnailBitmap.h"

#include "view/DecodedThumbnailCache.h"

#include <wx/dcmemory.h>
#include <wx/image.h>

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
// would be converted again on every paint.
std::shared_ptr<wxBitmap> DrawableBitmap(const wxImage& image)
{
    const wxBitmap converted(image);
    auto bitmap = std::make_shared<wxBitmap>(image.GetWidth(), image.GetHeight(), 24);
    {
        wxMemoryDC dc(*bitmap);
        dc.DrawBitmap(converted, 0, 0, false);
    }
    return bitmap;
}

CDecodedThumbnailCache& DecodedThumbnails()
{
    static CDecodedThumbnailCache cache(CDecodedThumbnailCache::kDefaultCapacity,
                                        CDecodedThumbnailCache::kDefaultByteCapacity);
    return cache;
}

// A compressed picture is decoded when it is drawn and kept decoded only while the cache holds
// it.
const wxBitmap* DecodedBitmap(const ThumbnailEntry& entry)
{
    if (std::shared_ptr<void> kept = entry.decodedCache.lock()) {
        DecodedThumbnails().Touch(kept);
        return static_cast<const wxBitmap*>(kept.get());
    }
    const std::unique_ptr<CRgbImage> picture = entry.jpeg.Decode();
    if (!picture || picture->width <= 0 || picture->height <= 0)
        return nullptr;
    std::shared_ptr<wxBitmap> bitmap = DrawableBitmap(ImageFromBottomUp(
        picture->pixels.get(), static_cast<std::size_t>(picture->stride), picture->width, picture->height, 3));
    // The weak reference belongs to the entry, which the UI thread alone touches.
    const_cast<ThumbnailEntry&>(entry).decodedCache = bitmap;
    // The toolkit keeps a drawable bitmap at four bytes a pixel.
    const std::size_t pixels = static_cast<std::size_t>(picture->width) * static_cast<std::size_t>(picture->height);
    DecodedThumbnails().Keep(bitmap, pixels * 4);
    return bitmap.get();
}

}  // namespace

const wxBitmap* ThumbnailBitmap(const ThumbnailEntry& entry)
{
    if (entry.drawCache)
        return static_cast<const wxBitmap*>(entry.drawCache.get());
    if (!entry.jpeg.Empty())
        return DecodedBitmap(entry);
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
    std::shared_ptr<wxBitmap> bitmap = DrawableBitmap(image);
    // The cache belongs to the entry, which the UI thread alone touches.
    const_cast<ThumbnailEntry&>(entry).drawCache = bitmap;
    return bitmap.get();
}
