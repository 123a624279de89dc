#include "view/DecodedThumbnailCache.h"

#include <gtest/gtest.h>

#include <vector>

TEST(DecodedThumbnailCacheTest, BoundedByCountAndByBytesTheLeastRecentlyDrawnGoingFirst)
{
    // Room for three pictures, or for 20 MB of them.
    CDecodedThumbnailCache cache(3, 20u << 20);
    std::vector<std::weak_ptr<void>> kept;
    auto keep = [&](std::size_t megabytes) {
        auto decoded = std::make_shared<int>(0);
        kept.push_back(decoded);
        cache.Keep(decoded, megabytes << 20);
    };
    for (int i = 0; i < 4; ++i)
        keep(1);  // usual thumbnails: the count binds
    EXPECT_TRUE(kept[0].expired());
    cache.Touch(kept[1].lock());  // drawn again: given up last
    keep(8);
    keep(8);
    EXPECT_TRUE(kept[2].expired() && kept[3].expired());
    EXPECT_FALSE(kept[1].expired());
    keep(8);  // three large ones would hold 24 MB: the bytes bind
    EXPECT_EQ(cache.Size(), 2u);
    EXPECT_EQ(cache.Bytes(), 16u << 20);
    EXPECT_TRUE(kept[1].expired() && kept[4].expired());
    keep(40);  // larger than the bound alone: kept, as it is being drawn
    EXPECT_EQ(cache.Size(), 1u);
    EXPECT_FALSE(kept[7].expired());
}
