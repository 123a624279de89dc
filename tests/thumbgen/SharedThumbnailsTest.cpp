// The desktop's shared thumbnail cache, both ways: pictures that a file manager left are used
// instead of a grab, and what a grab makes is left there for the file manager.
#include "imaging/RgbImage.h"
#include "platform/FileSystem.h"
#include "settings/Settings.h"
#include "support/Clips.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"
#include "thumbgen/FrameGrab.h"
#include "thumbgen/SharedThumbnails.h"
#include "thumbgen/ThumbnailGenerator.h"

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <tuple>

using namespace testing_support;

namespace {

class SharedThumbnailsTest : public ::testing::Test {
protected:
    SharedThumbnailsTest()
        : config_("XDG_CONFIG_HOME", dir_ / "config"), tmp_("TMPDIR", dir_ / "tmp"), cache_("XDG_CACHE_HOME", dir_ / "cache")
    {
        MakeDirs(dir_ / "tmp");
        TakeLogMessages();
    }

    std::string CopyClip(const std::string& from, const std::string& name)
    {
        const std::string to = dir_ / name;
        EXPECT_EQ(Shell("cp " + ShellQuote(from) + " " + ShellQuote(to)), 0);
        return to;
    }

    static long long MTimeOf(const std::string& path)
    {
        struct stat info {};
        stat(path.c_str(), &info);
        return static_cast<long long>(info.st_mtime);
    }

    // A PNG of one colour in the cache, with the keys a file manager writes.
    static void PutInCache(const std::string& clip, const char* size, int width, int height, guint32 rgba,
                           long long mtime)
    {
        const std::string uri = SharedThumbnailUri(clip), file = SharedThumbnailPath(uri, size);
        MakeDirs(file.substr(0, file.rfind('/')));
        GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, width, height);
        gdk_pixbuf_fill(pixbuf, rgba);
        const std::string mtimeText = std::to_string(mtime);
        ASSERT_TRUE(gdk_pixbuf_save(pixbuf, file.c_str(), "png", nullptr, "tEXt::Thumb::URI", uri.c_str(),
                                    "tEXt::Thumb::MTime", mtimeText.c_str(), "tEXt::Software", "A file manager",
                                    nullptr));
        g_object_unref(pixbuf);
    }

    // r, g, b at (x, y counted from the top).
    static std::array<int, 3> ColourAt(const CRgbImage& picture, int x, int y)
    {
        const std::uint8_t* p = picture.pixels.get() + picture.OffsetOf(x, y);
        return {p[2], p[1], p[0]};
    }

    TempDir dir_;
    ScopedEnv config_;
    ScopedEnv tmp_;
    ScopedEnv cache_;
};

}  // namespace

TEST_F(SharedThumbnailsTest, UrisEscapeEveryByteOfNamesThatAreNotUtf8)
{
    EXPECT_EQ(SharedThumbnailUri("/card/caf\xe9 & co/00000.MTS"), "file:///card/caf%E9%20&%20co/00000.MTS");
    EXPECT_EQ(SharedThumbnailUri("/a/100%/b#c?d"), "file:///a/100%25/b%23c%3Fd");
    // A relative path is named from the current folder; the file name is the MD5 of the URI.
    char here[4096];
    ASSERT_NE(getcwd(here, sizeof here), nullptr);
    EXPECT_EQ(SharedThumbnailUri("x.MTS"), std::string("file://") + here + "/x.MTS");
    EXPECT_EQ(SharedThumbnailPath("file:///home/jens/photos/me.png", "normal"),
              dir_ / "cache/thumbnails/normal/c6ee772d9e49320e97ec29a7eb5b1697.png");
}

TEST_F(SharedThumbnailsTest, AFileManagersValidPictureAsLargeAsTheGridsIsUsedAndNoGrabRuns)
{
    const std::string clip = CopyClip(TestClips().interlaced1080, "00000.MTS");
    const long long mtime = MTimeOf(clip);
    PutInCache(clip, "x-large", 512, 288, 0x00ff00ff, mtime);  // green, valid
    PutInCache(clip, "large", 256, 144, 0xff0000ff, mtime);    // red, valid but smaller
    // Another clip whose valid pictures are all smaller than the grid's: they would show blurred.
    const std::string small = CopyClip(TestClips().progressive720, "00001.m2ts");
    PutInCache(small, "x-large", 1024, 576, 0x00ff00ff, MTimeOf(small) - 60);  // stale: the clip changed since
    PutInCache(small, "large", 256, 144, 0xff0000ff, MTimeOf(small));
    PutInCache(small, "normal", 128, 72, 0xff0000ff, MTimeOf(small));

    ThumbnailQueue queue;
    CThumbnailGenerator::MakeThumbnail(queue, clip);
    const auto log = TakeLogMessages();
    EXPECT_EQ(log, std::vector<std::string>{"Loaded shared thumbnail for [" + clip + "]"});
    std::string path;
    ThumbnailResult result;
    ASSERT_TRUE(queue.TakeResult(path, result));
    const std::unique_ptr<CRgbImage> picture = result.jpeg.Decode();
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->width, kGrabbedThumbnailWidth);  // scaled down to the grid's size
    EXPECT_EQ(picture->height, kGrabbedThumbnailHeight);
    for (const auto& [x, y] : {std::pair{10, 10}, std::pair{380, 210}}) {
        const std::array<int, 3> colour = ColourAt(*picture, x, y);  // green, within JPEG's error
        EXPECT_LT(colour[0], 8);
        EXPECT_GT(colour[1], 247);
        EXPECT_LT(colour[2], 8);
    }

    CThumbnailGenerator::MakeThumbnail(queue, small);
    EXPECT_TRUE(Contains(TakeLogMessages(), "Generating thumbnail for [" + small + "]"));
    // Off, the cache is not read: the clip is grabbed.
    settings::ShareThumbnails.Write(false);
    CThumbnailGenerator::MakeThumbnail(queue, clip);
    EXPECT_TRUE(Contains(TakeLogMessages(), "Generating thumbnail for [" + clip + "]"));
}

TEST_F(SharedThumbnailsTest, AStalePictureIsIgnoredAndTheGrabReplacesIt)
{
    const std::string clip = CopyClip(TestClips().redOverBlue, "00003.MTS");
    PutInCache(clip, "x-large", 384, 216, 0x00ff00ff, MTimeOf(clip) + 3600);
    ThumbnailQueue queue;
    CThumbnailGenerator::MakeThumbnail(queue, clip);
    EXPECT_TRUE(Contains(TakeLogMessages(), "Generating thumbnail for [" + clip + "]"));
    // The grab's picture (red over blue) is what the cache now holds.
    const auto shared = FindSharedThumbnail(clip, 384, 216);
    ASSERT_TRUE(shared);
    EXPECT_GT(ColourAt(*shared, 192, 20)[0], 200);
    EXPECT_GT(ColourAt(*shared, 192, 196)[2], 200);
}

TEST_F(SharedThumbnailsTest, EachGrabLeavesPrivatePngsAtBothSizesThatTheDesktopsFactoryFinds)
{
    const std::string name = std::string("caf\xe9 ") + "00001.MTS";  // not UTF-8
    const std::string grabbed = CopyClip(TestClips().interlaced1080, name);
    const std::string byFFmpeg = CopyClip(TestClips().progressive720, "00002.m2ts");
    settings::ShareThumbnails.Write(false);
    ThumbnailQueue queue;
    GrabWithMediaFramework(queue, grabbed);
    EXPECT_FALSE(platform::FileExists(dir_ / "cache/thumbnails"));
    settings::ShareThumbnails.Write(true);
    GrabWithMediaFramework(queue, grabbed);
    GrabWithFFmpeg(queue, byFFmpeg);

    // Each at its size for large displays, and fitted to 256 pixels for the others.
    for (const auto& [clip, size, width, height] :
         {std::tuple{grabbed, "x-large", 384, 216}, std::tuple{byFFmpeg, "x-large", 416, 234},
          std::tuple{grabbed, "large", 256, 144}, std::tuple{byFFmpeg, "large", 256, 144}}) {
        SCOPED_TRACE(size);
        const std::string uri = SharedThumbnailUri(clip);
        const std::string file = SharedThumbnailPath(uri, size);
        struct stat info {};
        ASSERT_EQ(stat(file.c_str(), &info), 0) << clip;
        EXPECT_EQ(info.st_mode & 0777, 0600u);
        GError* error = nullptr;
        GdkPixbuf* png = gdk_pixbuf_new_from_file(file.c_str(), &error);
        ASSERT_NE(png, nullptr) << (error != nullptr ? error->message : "");
        EXPECT_EQ(gdk_pixbuf_get_width(png), width);
        EXPECT_EQ(gdk_pixbuf_get_height(png), height);
        struct stat clipInfo {};
        stat(clip.c_str(), &clipInfo);
        EXPECT_STREQ(gdk_pixbuf_get_option(png, "tEXt::Thumb::URI"), uri.c_str());
        EXPECT_EQ(gdk_pixbuf_get_option(png, "tEXt::Thumb::MTime"), std::to_string(clipInfo.st_mtime));
        EXPECT_EQ(gdk_pixbuf_get_option(png, "tEXt::Thumb::Size"), std::to_string(clipInfo.st_size));
        EXPECT_STREQ(gdk_pixbuf_get_option(png, "tEXt::Software"), "Viewmere");
        g_object_unref(png);
    }
    // The large display's entry is the grid's picture itself, pixel for pixel, colours in order.
    std::string path;
    ThumbnailResult result;
    while (queue.TakeResult(path, result) && path != grabbed) {
    }
    ASSERT_EQ(path, grabbed);
    auto shown = std::make_unique<CRgbImage>();
    GdkPixbuf* stored = gdk_pixbuf_new_from_file(SharedThumbnailPath(SharedThumbnailUri(grabbed), "x-large").c_str(), nullptr);
    ASSERT_TRUE(result.bitmap && shown->FromBitmap(*result.bitmap) && stored != nullptr);
    int differing = 0;
    for (int y = 0; y < shown->height; ++y)
        for (int x = 0; x < shown->width; ++x) {
            const guchar* rgb = gdk_pixbuf_read_pixels(stored) + y * gdk_pixbuf_get_rowstride(stored) + x * 3;
            const std::uint8_t* bgr = shown->pixels.get() + shown->OffsetOf(x, y);
            differing += rgb[0] != bgr[2] || rgb[1] != bgr[1] || rgb[2] != bgr[0];
        }
    EXPECT_EQ(differing, 0);
    g_object_unref(stored);
    EXPECT_NE(SharedThumbnailUri(grabbed).find("caf%E9%2000001.MTS"), std::string::npos);
    // Nothing is left under a temporary name, and the cache's folders are the user's alone.
    EXPECT_EQ(Shell("test $(ls " + ShellQuote(dir_ / "cache/thumbnails/x-large") + " | wc -l) = 2"), 0);
    EXPECT_EQ(Shell("test $(ls " + ShellQuote(dir_ / "cache/thumbnails/large") + " | wc -l) = 2"), 0);
    // The desktop's own thumbnail factory, as a file manager asks it, finds both at both sizes.
    const std::string found = dir_ / "found.txt";
    for (const std::string& clip : {grabbed, byFFmpeg}) {
        ASSERT_EQ(Shell("/usr/bin/python3 " + ShellQuote(THUMBNAIL_FACTORY) + " lookup " +
                        ShellQuote(SharedThumbnailUri(clip)) + " " + std::to_string(MTimeOf(clip)) + " > " +
                        ShellQuote(found)),
                  0);
        EXPECT_EQ(ReadFile(found), "large " + SharedThumbnailPath(SharedThumbnailUri(clip), "large") + "\nx-large " +
                                       SharedThumbnailPath(SharedThumbnailUri(clip), "x-large") + "\n");
    }
    struct stat folder {};
    stat((dir_ / "cache/thumbnails").c_str(), &folder);
    EXPECT_EQ(folder.st_mode & 0777, 0700u);
}
