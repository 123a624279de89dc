#include "view/DecodedThumbnailCache.h"

#include <gtest/gtest.h>

#include <vector>

TEST(DecodedThumbnailCacheTest, BytesBoundItTooAndThePictureBeingDrawnStays)
{
    // Room for 160 pictures or 20 MB: large pictures reach the bytes long before the count.
    CDecodedThumbnailCache cache(160, 20u << 20);
    std::vector<std::weak_ptr<void>> kept;
    auto keep = [&](std::size_t megabytes) {
        auto decoded = std::make_shared<int>(0);
        kept.push_back(decoded);
        cache.Keep(decoded, megabytes << 20);
    };
    keep(8);
    keep(8);
    keep(1);
    cache.Touch(kept[0].lock());  // drawn again: given up last
    keep(8);
    EXPECT_TRUE(kept[1].expired());
    EXPECT_FALSE(kept[0].expired() || kept[2].expired());
    EXPECT_EQ(cache.Bytes(), 17u << 20);
    keep(40);  // more than the bound alone: kept all the same, as it is being drawn
    EXPECT_EQ(cache.Size(), 1u);
    EXPECT_FALSE(kept[4].expired());
}
