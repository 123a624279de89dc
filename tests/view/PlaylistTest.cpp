#include "support/TempDir.h"
#include "view/Playlist.h"

#include <gtest/gtest.h>

using namespace testing_support;

TEST(PlaylistTest, TextIsTheSmilListWithCrLfLines)
{
    EXPECT_EQ(MakePlaylistText({}),
              "<?wpl version=\"1.0\"?>\r\n<smil>\r\n    <head>\r\n"
              "        <meta name=\"Generator\" content=\"Corvane Viewmere\"/>\r\n"
              "        <author/>\r\n        <title>AVCHD Clips</title>\r\n    </head>\r\n    <body>\r\n"
              "        <seq>\r\n        </seq>\r\n    </body>\r\n</smil>\r\n");
    const std::string text =
        MakePlaylistText({"/media/Anna & Tom/<best> \"cut\".MTS", std::string("/media/caf\xe9/00001.MTS")});
    EXPECT_NE(text.find("            <media src=\"/media/Anna &amp; Tom/&lt;best&gt; &quot;cut&quot;.MTS\"/>\r\n"
                        "            <media src=\"/media/caf\xe9/00001.MTS\"/>\r\n        </seq>"),
              std::string::npos);
}

TEST(PlaylistTest, FileGoesToThePrivateTemporaryFolderAndIsReplacedEachTime)
{
    TempDir dir;
    ScopedEnv tmp("TMPDIR", dir.Path());
    std::string path;
    ASSERT_TRUE(WritePlaylistFile({"/a.MTS", "/b.MTS"}, path));
    EXPECT_EQ(path, dir.Path() + "/viewmere-" + std::to_string(getuid()) + "/AVCHD.wpl");
    EXPECT_EQ(ReadFile(path), MakePlaylistText({"/a.MTS", "/b.MTS"}));
    ASSERT_TRUE(WritePlaylistFile({}, path));
    EXPECT_EQ(ReadFile(path), MakePlaylistText({}));
    // A link at the playlist's name is replaced, never written through.
    WriteFile(dir / "home-file", "the user's own file");
    ASSERT_EQ(std::remove(path.c_str()), 0);
    ASSERT_EQ(symlink((dir / "home-file").c_str(), path.c_str()), 0);
    ASSERT_TRUE(WritePlaylistFile({"/a.MTS"}, path));
    EXPECT_EQ(ReadFile(path), MakePlaylistText({"/a.MTS"}));
    EXPECT_EQ(ReadFile(dir / "home-file"), "the user's own file");
}
