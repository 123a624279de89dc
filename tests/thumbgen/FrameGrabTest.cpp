#include "imaging/RgbImage.h"
#include "platform/BitmapStretch.h"
#include "platform/ClipFeed.h"
#include "platform/FileSystem.h"
#include "platform/GstOwners.h"
#include "platform/MediaGraph.h"
#include "settings/Settings.h"
#include "support/CameraCard.h"
#include "support/Clips.h"
#include "support/FailingFs.h"
#include "support/JpegFixtures.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"
#include "thumbgen/ThumbnailFile.h"
#include "thumbgen/FFmpegCommand.h"
#include "thumbgen/FrameGrab.h"
#include "thumbgen/ThumbnailGenerator.h"

#include <signal.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <regex>
#include <thread>

using namespace testing_support;
using namespace std::chrono_literals;

namespace {

class GrabTest : public ::testing::Test {
protected:
    GrabTest()
        : config_("XDG_CONFIG_HOME", dir_ / "config"), tmp_("TMPDIR", dir_ / "tmp"), cache_("XDG_CACHE_HOME", dir_ / "cache")
    {
        MakeDirs(dir_ / "tmp");
        TakeLogMessages();
    }

    // A clip copied into this test's folder under a name of the test's choosing.
    std::string CopyClip(const std::string& from, const std::string& name)
    {
        const std::string to = dir_ / name;
        EXPECT_EQ(Shell("cp " + ShellQuote(from) + " " + ShellQuote(to)), 0);
        return to;
    }

    // A stand-in for ffmpeg: a shell script with the given body; "$@" are its arguments.
    std::string StandIn(const std::string& name, const std::string& body)
    {
        const std::string path = dir_ / name;
        WriteFile(path, "#!/bin/sh\n" + body + "\n");
        chmod(path.c_str(), 0755);
        return path;
    }

    std::string TempOutputName() const
    {
        return dir_ / ("tmp/viewmere-" + std::to_string(getuid()) + "/avchd" +
                       std::to_string(static_cast<long>(syscall(SYS_gettid))) + ".jpg");
    }

    TempDir dir_;
    ScopedEnv config_;
    ScopedEnv tmp_;
    ScopedEnv cache_;  // grabs also fill the desktop's thumbnail cache
    ThumbnailQueue queue_;
};

std::vector<std::string> WithoutTiming(std::vector<std::string> log, const std::string& timingPattern)
{
    EXPECT_FALSE(log.empty());
    if (!log.empty()) {
        EXPECT_TRUE(std::regex_match(log.back(), std::regex(timingPattern))) << log.back();
        log.pop_back();
    }
    return log;
}

const platform::DeviceBitmap* StoredBitmap(ThumbnailQueue& queue, ThumbnailResult& result, const std::string& clip)
{
    std::string path;
    if (!queue.TakeResult(path, result) || path != clip)
        return nullptr;
    return result.bitmap.get();
}

// The reason stored for a clip that got no picture; "" when it got one or nothing was stored.
std::string StoredFailure(ThumbnailQueue& queue, const std::string& clip)
{
    std::string path;
    ThumbnailResult result;
    if (!queue.TakeResult(path, result) || path != clip)
        return "";
    EXPECT_FALSE(result.bitmap || result.image || !result.jpeg.Empty()) << clip;
    return result.failure;
}

// Colour at (x, y counted from the top) of a bottom-up 32-bit bitmap, as r, g, b.
std::array<int, 3> ColourAt(const platform::DeviceBitmap& bitmap, int x, int y)
{
    const std::uint8_t* p = bitmap.bits.data() + static_cast<std::size_t>(bitmap.height - 1 - y) * bitmap.Stride() + x * 4;
    return {p[2], p[1], p[0]};
}

// The first frame of `clip` through a file source and the elements named (ending in caps for
// an appsink), mapped and handed to `use`; an empty bitmap when the chain shows none.
platform::DeviceBitmap FirstFrameThrough(const std::string& clip, const std::string& elements,
                                         const std::function<platform::DeviceBitmap(GstVideoFrame&, GstVideoInfo&)>& use)
{
    gst_init(nullptr, nullptr);
    const platform::GstPtr<GstElement> pipeline(
        gst_parse_launch(("filesrc location=\"" + clip + "\" ! " + elements + " ! appsink name=frame").c_str(), nullptr));
    const platform::GstPtr<GstElement> sink(pipeline ? gst_bin_get_by_name(GST_BIN(pipeline.get()), "frame") : nullptr);
    platform::DeviceBitmap result;
    if (sink && gst_element_set_state(pipeline.get(), GST_STATE_PAUSED) != GST_STATE_CHANGE_FAILURE &&
        gst_element_get_state(pipeline.get(), nullptr, nullptr, 10 * GST_SECOND) == GST_STATE_CHANGE_SUCCESS) {
        const platform::GstSamplePtr sample(gst_app_sink_try_pull_preroll(GST_APP_SINK(sink.get()), 0));
        GstVideoInfo info;
        GstVideoFrame frame;
        if (sample && gst_video_info_from_caps(&info, gst_sample_get_caps(sample.get())) &&
            gst_video_frame_map(&frame, &info, gst_sample_get_buffer(sample.get()), GST_MAP_READ)) {
            result = use(frame, info);
            gst_video_frame_unmap(&frame);
        }
    }
    if (pipeline)
        gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    return result;
}

// A clip's first frame converted to BGRx at its full size by GStreamer itself, then averaged to
// 384 x 216.
platform::DeviceBitmap ConvertedAndAveraged(const std::string& clip)
{
    return FirstFrameThrough(clip, "tsdemux ! h264parse ! avdec_h264 ! videoconvert ! video/x-raw,format=BGRx",
                             [](GstVideoFrame& frame, GstVideoInfo& info) {
                                 const platform::PixelView view{
                                     static_cast<const std::uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0)),
                                     GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0), info.width, info.height, true};
                                 return platform::StretchHalftone(view, 384, 216);
                             });
}

// A clip whose first picture takes several pieces of a card: film grain at a high rate. The
// command's exit status.
int MakeClipOfLargePictures(const std::string& path)
{
    return Shell("ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc2=size=1920x1080:rate=25:duration=0.2 "
                 "-vf noise=alls=20:allf=t -c:v libx264 -preset ultrafast -qp 26 -pix_fmt yuv420p -g 12 "
                 "-f mpegts -mpegts_m2ts_mode 1 " + ShellQuote(path));
}

// A card folder of `count` copies of a clip made by MakeClipOfLargePictures, 00000.MTS on, without
// thumbnail files written beside them. The first one's path; empty when it could not be made.
std::string MakeCardOfLargePictures(const std::string& card, int count)
{
    MakeDirs(card);
    const std::string first = card + "/00000.MTS";
    if (MakeClipOfLargePictures(first) != 0)
        return {};
    for (int i = 1; i < count; ++i)
        if (Shell("cp " + ShellQuote(first) + " " + ShellQuote(card + "/0000" + std::to_string(i) + ".MTS")) != 0)
            return {};
    settings::WriteThumbnails.Write(false);
    return first;
}

// The offsets of a card's reads of one file, in the order they came.
std::vector<std::uint64_t> OffsetsReadOf(const FailingFs& card, const std::string& name)
{
    std::vector<std::uint64_t> offsets;
    for (const FailingFs::Read& read : card.Reads())
        if (read.path == name)
            offsets.push_back(read.offset);
    return offsets;
}

// The first frame as the chain of earlier versions showed it: the file read whole by a file
// source, then demuxer, parser, one-thread decoder and converter to planar 4:2:0; stretched to
// the size asked as the media graph stretches its frames. Empty when it shows none.
platform::DeviceBitmap WholeStreamFrame(const std::string& clip, int width, int height)
{
    return FirstFrameThrough(
        clip, "tsdemux ! h264parse ! avdec_h264 max-threads=1 ! videoconvert ! video/x-raw,format=I420",
        [width, height](GstVideoFrame& frame, GstVideoInfo& info) {
            auto plane = [&frame](int component) {
                return platform::PlaneView{static_cast<const std::uint8_t*>(GST_VIDEO_FRAME_COMP_DATA(&frame, component)),
                                           GST_VIDEO_FRAME_COMP_STRIDE(&frame, component),
                                           GST_VIDEO_FRAME_COMP_WIDTH(&frame, component),
                                           GST_VIDEO_FRAME_COMP_HEIGHT(&frame, component)};
            };
            platform::YcbcrFormat format;
            gdouble kr = 0, kb = 0;
            if (gst_video_color_matrix_get_Kr_Kb(GST_VIDEO_INFO_COLORIMETRY(&info).matrix, &kr, &kb)) {
                format.kr = kr;
                format.kb = kb;
            }
            format.fullRange = GST_VIDEO_INFO_COLORIMETRY(&info).range == GST_VIDEO_COLOR_RANGE_0_255;
            format.interlaced = GST_VIDEO_INFO_IS_INTERLACED(&info);
            return platform::StretchYcbcrHalftone(plane(GST_VIDEO_COMP_Y), plane(GST_VIDEO_COMP_U),
                                                  plane(GST_VIDEO_COMP_V), format, width, height);
        });
}

}  // namespace

TEST_F(GrabTest, MediaFrameworkGrabGivesAnUprightThumbnailWithItsFullLog)
{
    const std::string clip = CopyClip(TestClips().redOverBlue, "00003.MTS");
    GrabWithMediaFramework(queue_, clip);
    const std::vector<std::string> expected = {
        "Generating thumbnail for [" + clip + "]",
        "Created GraphBuilder",
        "Created VideoWindow & MediaControl",
        "Retrieved BasicVideo",
        "Current image size retrieved: 8294440 bytes",
        "Retrieved Current Image DIB",
        "Releasing basic video",
        "Releasing video window & media control",
        "Releasing graph builder"};
    EXPECT_EQ(WithoutTiming(TakeLogMessages(), "Generated thumbnail in [0-9]+ ms"), expected);

    ThumbnailResult result;
    const platform::DeviceBitmap* bitmap = StoredBitmap(queue_, result, clip);
    ASSERT_NE(bitmap, nullptr);
    EXPECT_FALSE(result.image);
    EXPECT_EQ(bitmap->width, 384);
    EXPECT_EQ(bitmap->height, 216);
    EXPECT_EQ(bitmap->bitsPerPixel, 32);
    const auto top = ColourAt(*bitmap, 192, 20);
    const auto bottom = ColourAt(*bitmap, 192, 196);
    EXPECT_GT(top[0], 200);
    EXPECT_LT(top[2], 60);
    EXPECT_LT(bottom[0], 60);
    EXPECT_GT(bottom[2], 200);

    // WriteThumbnails is on by default: the same picture as a JPEG beside the clip.
    CRgbImage file;
    ASSERT_TRUE(file.LoadJpegFile(clip + ".viewmere.jpg"));
    EXPECT_EQ(file.width, 384);
    EXPECT_EQ(file.height, 216);
    const std::uint8_t* filePixel = file.pixels.get() + file.OffsetOf(192, 20);
    EXPECT_GT(filePixel[2], 200);
    EXPECT_LT(filePixel[0], 60);
}

TEST_F(GrabTest, MediaFrameworkGrabWritesIntoTheSubdirectoryOnlyWhenWriting)
{
    const std::string clip = CopyClip(TestClips().anamorphic1440, "00001.MTS");
    settings::WriteToSubdir.Write(true);
    settings::WriteThumbnails.Write(false);
    GrabWithMediaFramework(queue_, clip);
    EXPECT_TRUE(Contains(TakeLogMessages(), "Current image size retrieved: 6220840 bytes"));
    ThumbnailResult result;
    const platform::DeviceBitmap* bitmap = StoredBitmap(queue_, result, clip);
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(bitmap->width, 384);  // 1440 x 1080 stretched to 16:9
    EXPECT_EQ(bitmap->height, 216);
    EXPECT_FALSE(platform::FileExists(dir_ / "Viewmere"));
    EXPECT_FALSE(platform::FileExists(clip + ".viewmere.jpg"));

    settings::WriteThumbnails.Write(true);
    GrabWithMediaFramework(queue_, clip);
    CRgbImage file;
    EXPECT_TRUE(file.LoadJpegFile(dir_ / "Viewmere/00001.MTS.viewmere.jpg"));
    EXPECT_EQ(file.width, 384);
}

TEST_F(GrabTest, MediaFrameworkGrabOfProgressiveInterlacedAndAnamorphicClipsIsTheirAveragedFirstFrame)
{
    // Against the first frame converted to RGB whole by GStreamer's videoconvert and then
    // averaged down, as grabs made it before they scaled the decoder's planes themselves.
    for (const std::string& source : {TestClips().progressive720, TestClips().interlaced1080,
                                      TestClips().anamorphic1440, TestClips().redOverBlue}) {
        const std::string clip = CopyClip(source, source.substr(source.rfind('/') + 1));
        settings::WriteThumbnails.Write(false);
        GrabWithMediaFramework(queue_, clip);
        ThumbnailResult result;
        const platform::DeviceBitmap* bitmap = StoredBitmap(queue_, result, clip);
        ASSERT_NE(bitmap, nullptr) << source;
        const platform::DeviceBitmap reference = ConvertedAndAveraged(clip);
        ASSERT_EQ(bitmap->bits.size(), reference.bits.size()) << source;
        // A few levels of rounding everywhere; a little more only at a handful of sharp colour
        // edges, where the converter clips colours that averaging has not yet mixed.
        int largest = 0;
        std::size_t moreThanFew = 0;
        double total = 0;
        for (std::size_t i = 0; i < reference.bits.size(); ++i) {
            const int difference = std::abs(bitmap->bits[i] - reference.bits[i]);
            largest = std::max(largest, difference);
            moreThanFew += difference > 4 ? 1 : 0;
            total += difference;
        }
        EXPECT_LE(largest, 12) << source;
        EXPECT_LE(moreThanFew, reference.bits.size() / 2000) << source;
        EXPECT_LE(total / static_cast<double>(reference.bits.size()), 1.0) << source;
    }
}

TEST_F(GrabTest, MediaFrameworkGrabOfFilesWithoutVideoFailsQuicklyWithTheReleaseLines)
{
    for (const std::string& source : {TestClips().empty, TestClips().text}) {
        const std::string clip = CopyClip(source, "bad.MTS");
        const auto start = std::chrono::steady_clock::now();
        GrabWithMediaFramework(queue_, clip);
        EXPECT_LT(std::chrono::steady_clock::now() - start, 8s) << source;  // far below the 10 s wait
        const std::vector<std::string> expected = {"Generating thumbnail for [" + clip + "]", "Created GraphBuilder",
                                                   "Created VideoWindow & MediaControl",
                                                   "Releasing video window & media control",
                                                   "Releasing graph builder"};
        std::vector<std::string> log = TakeLogMessages();
        ASSERT_FALSE(log.empty());
        // After the usual lines, one that says why; the clip's result carries the same reason.
        const std::string why = "No first frame from [" + clip + "]: ";
        EXPECT_EQ(log.back().rfind(why, 0), 0u) << log.back();
        EXPECT_GT(log.back().size(), why.size());
        EXPECT_EQ(StoredFailure(queue_, clip), log.back().substr(why.size())) << source;
        log.pop_back();
        EXPECT_EQ(WithoutTiming(log, "Generated thumbnail in [0-9]+ ms"), expected) << source;
        EXPECT_FALSE(platform::FileExists(clip + ".viewmere.jpg"));
    }
}

TEST_F(GrabTest, MediaFrameworkGrabOfAFifoNamedLikeAClipNeverWaits)
{
    const std::string clip = dir_ / "fifo.MTS";
    ASSERT_EQ(mkfifo(clip.c_str(), 0600), 0);
    const auto start = std::chrono::steady_clock::now();
    GrabWithMediaFramework(queue_, clip);  // opening it for reading would wait for a writer forever
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    const auto log = TakeLogMessages();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), "No first frame from [" + clip + "]: not a regular file");
    EXPECT_EQ(StoredFailure(queue_, clip), "not a regular file");
}

TEST_F(GrabTest, MediaFrameworkGrabOfATruncatedClipEndsQuicklyEitherWay)
{
    // Whether the cut leaves a whole first frame depends on the encoder; the grab must end
    // soon, and a stored picture must go with the full log and a missing one with the short.
    const std::string clip = CopyClip(TestClips().truncated, "cut.MTS");
    const auto start = std::chrono::steady_clock::now();
    GrabWithMediaFramework(queue_, clip);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 8s);
    const auto log = TakeLogMessages();
    std::string path;
    ThumbnailResult result;
    ASSERT_TRUE(queue_.TakeResult(path, result));
    const bool stored = result.bitmap != nullptr;
    EXPECT_EQ(stored, Contains(log, "Retrieved Current Image DIB"));
    EXPECT_EQ(stored, result.failure.empty());
    if (stored) {
        EXPECT_EQ(result.bitmap->width, 384);
    }
}

TEST_F(GrabTest, MediaFrameworkGrabWithoutTheVideoDecoderFailsAtOnce)
{
    // A plugin folder without the libav decoders, and a registry of its own.
    const std::string plugins = dir_ / "plugins";
    MakeDirs(plugins);
    ASSERT_EQ(Shell("for f in /usr/lib/x86_64-linux-gnu/gstreamer-1.0/*.so; do case \"$f\" in *libgstlibav*) ;; "
                    "*) ln -s \"$f\" " + ShellQuote(plugins) + "/ ;; esac; done"),
              0);
    const std::string clip = CopyClip(TestClips().interlaced1080, "00000.MTS");
    const std::string command = "GST_PLUGIN_SYSTEM_PATH=" + ShellQuote(plugins) + " GST_REGISTRY=" +
                                ShellQuote(dir_ / "registry.bin") + " " + ShellQuote(MEDIA_GRAB_CHECK) + " " +
                                ShellQuote(clip) + " > " + ShellQuote(dir_ / "out.txt");
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(Shell(command), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 8s);
    const std::string out = ReadFile(dir_ / "out.txt");
    EXPECT_NE(out.find("Created VideoWindow & MediaControl\nReleasing video window & media control\n"),
              std::string::npos)
        << out;
    // The reason the log names is the clip's own.
    const std::string why = "No first frame from [" + clip + "]: ";
    const std::size_t at = out.find(why);
    ASSERT_NE(at, std::string::npos) << out;
    const std::string reason = out.substr(at + why.size(), out.find('\n', at) - at - why.size());
    EXPECT_NE(out.find("no picture: " + reason + "\n"), std::string::npos) << out;
}

TEST_F(GrabTest, MediaFrameworkGrabThatCannotBuildItsPipelineFailsAtOnce)
{
    // Without its elements (an empty plugin folder) nothing can be rendered, and nothing is waited for.
    const std::string plugins = dir_ / "no-plugins";
    MakeDirs(plugins);
    const std::string clip = CopyClip(TestClips().interlaced1080, "00000.MTS");
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(Shell("GST_PLUGIN_SYSTEM_PATH=" + ShellQuote(plugins) + " GST_REGISTRY=" +
                    ShellQuote(dir_ / "empty-registry.bin") + " " + ShellQuote(MEDIA_GRAB_CHECK) + " " +
                    ShellQuote(clip) + " > " + ShellQuote(dir_ / "out.txt")),
              0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    const std::string out = ReadFile(dir_ / "out.txt");
    EXPECT_NE(out.find("No first frame from [" + clip + "]: the file source or decodebin element is missing"),
              std::string::npos)
        << out;
}

TEST(MediaGraphTest, CurrentImageIsTheFrameBottomRowFirstAtItsNativeSize)
{
    auto graph = platform::MediaGraph::Create();
    ASSERT_TRUE(graph);
    ASSERT_TRUE(graph->RenderFile(TestClips().redOverBlue));
    ASSERT_TRUE(graph->Pause(10s)) << graph->FailureReason();
    ASSERT_TRUE(graph->HasVideo());
    EXPECT_EQ(graph->VideoWidth(), 1920);
    EXPECT_EQ(graph->VideoHeight(), 1080);
    int size = 0;
    ASSERT_EQ(graph->GetCurrentImage(size, nullptr), 0u);
    ASSERT_EQ(size, 40 + 1920 * 1080 * 4);
    std::vector<std::uint8_t> image(static_cast<std::size_t>(size));
    int tooSmall = size - 1;
    EXPECT_EQ(graph->GetCurrentImage(tooSmall, image.data()), platform::MediaGraph::kFailed);
    ASSERT_EQ(graph->GetCurrentImage(size, image.data()), 0u);
    EXPECT_EQ(image[0], 40);
    EXPECT_EQ(image[14], 32);
    // The first row stored is the bottom one: blue. The last is the top one: red.
    const std::uint8_t* bottom = image.data() + 40 + 960 * 4;
    const std::uint8_t* top = image.data() + 40 + static_cast<std::size_t>(1079) * 1920 * 4 + 960 * 4;
    EXPECT_GT(bottom[0], 200);
    EXPECT_LT(bottom[2], 60);
    EXPECT_GT(top[2], 200);
    EXPECT_LT(top[0], 60);

    // Stretching the copy gives exactly what stretching the decoder's buffer gives.
    platform::DeviceBitmap copy = platform::MakeDeviceBitmap32(1920, 1080);
    std::copy(image.begin() + 40, image.end(), copy.bits.begin());
    EXPECT_EQ(platform::StretchHalftone(copy, 384, 216).bits, graph->StretchCurrentImage(384, 216).bits);
}

TEST_F(GrabTest, FirstFramesArePixelForPixelThoseTheWholeStreamShows)
{
    // Beside the test clips: pictures that come out in another order than they go in (B
    // pictures), a recording's second file that starts in the middle of a group of pictures, and
    // a stream in 188-byte packets.
    const std::string reordered = dir_ / "reordered.MTS";
    ASSERT_EQ(Shell("ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc2=size=1920x1080:rate=25:duration=1 "
                    "-c:v libx264 -preset veryfast -pix_fmt yuv420p -x264opts keyint=12:min-keyint=12:bframes=3:scenecut=0 "
                    "-f mpegts -mpegts_m2ts_mode 1 " + ShellQuote(reordered)),
              0);
    const std::string whole = ReadFile(reordered);
    const std::size_t middle = whole.size() / 2 / 192 * 192;
    const std::string secondFile = dir_ / "00002.MTS";
    WriteFile(secondFile, whole.substr(middle));
    const std::string packets188 = dir_ / "packets188.ts";
    ASSERT_EQ(Shell("ffmpeg -nostdin -loglevel error -y -i " + ShellQuote(TestClips().interlaced1080) +
                    " -map 0:v -c copy -f mpegts " + ShellQuote(packets188)),
              0);
    auto graph = platform::MediaGraph::Create();  // one graph for every clip, as a worker keeps it
    ASSERT_TRUE(graph);
    for (const std::string& clip : {TestClips().interlaced1080, TestClips().anamorphic1440, TestClips().progressive720,
                                    TestClips().redOverBlue, reordered, secondFile, packets188}) {
        ASSERT_TRUE(graph->RenderFile(clip)) << clip;
        ASSERT_TRUE(graph->Pause(10s)) << clip << ": " << graph->FailureReason();
        const platform::DeviceBitmap thumbnail = WholeStreamFrame(clip, 384, 216);
        ASSERT_FALSE(thumbnail.bits.empty()) << clip;
        EXPECT_TRUE(graph->StretchCurrentImage(384, 216).bits == thumbnail.bits) << clip;
        const int width = graph->VideoWidth(), height = graph->VideoHeight();
        EXPECT_TRUE(graph->StretchCurrentImage(width, height).bits == WholeStreamFrame(clip, width, height).bits) << clip;
        graph->ReleaseFile();
    }

    // A first IDR picture too damaged to show alone: the whole stream is read for a frame (what
    // it shows then depends on what the decoder's memory held before; the chain of earlier
    // versions gave a picture that changed from one run to the next too).
    std::string damaged = whole;
    const std::size_t idr = damaged.find(std::string("\0\0\1\x65", 4));
    ASSERT_NE(idr, std::string::npos);
    damaged.replace(idr + 7, 8, 8, '\0');  // the slice header after its first fields
    const std::string damagedIdr = dir_ / "damaged.MTS";
    WriteFile(damagedIdr, damaged);
    ASSERT_TRUE(graph->RenderFile(damagedIdr));
    EXPECT_TRUE(graph->Pause(10s)) << graph->FailureReason();
    EXPECT_TRUE(graph->HasVideo());
}

TEST_F(GrabTest, AGrabTakesFromACardTheBytesOfTheFirstPictureAndOnePieceAtMost)
{
    if (!CanMount())
        GTEST_SKIP() << "this machine does not let the test mount a FUSE file system";
    // Where the video's second picture starts, as ffmpeg's reader finds it: the first picture
    // lies before it.
    MakeDirs(dir_ / "card");
    const std::string clip = CopyClip(TestClips().interlaced1080, "card/00000.MTS");
    ASSERT_EQ(Shell("ffprobe -v error -select_streams v:0 -show_entries packet=pos -of csv=p=0 -read_intervals '%+#2' " +
                    ShellQuote(clip) + " | grep -v '^$' | sed -n 2p > " + ShellQuote(dir_ / "second.txt")),
              0);
    const std::uint64_t secondPicture = std::stoull(ReadFile(dir_ / "second.txt"));
    const std::uint64_t clipBytes = ReadFile(clip).size();
    ASSERT_GT(clipBytes, secondPicture + 1024 * 1024);  // far more after it than one piece
    settings::WriteThumbnails.Write(false);
    platform::ClipFeed::ForgetExpectedEnd();  // no grab before in this process sized its pieces
    FailingFs card(dir_ / "card", dir_ / "mounted");
    ASSERT_TRUE(card.Mounted());
    std::string why;
    ASSERT_TRUE(GrabFirstFrame(dir_ / "mounted/00000.MTS", {}, &why)) << why;
    // Its first packets, to tell a transport stream, then pieces of 128 KiB from the start, the
    // last of which holds the start of the second picture: nothing of the end of the file (to
    // find its length), and nothing read ahead.
    const std::uint64_t piece = 128 * 1024, firstPackets = 3 * 192;
    EXPECT_GE(card.BytesRead(), secondPicture);
    EXPECT_LE(card.BytesRead(), firstPackets + (secondPicture / piece + 1) * piece);
    // And the file is let go of once the picture is taken.
    for (const auto& open : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        EXPECT_NE(std::filesystem::read_symlink(open.path(), error).string().rfind(dir_ / "mounted", 0), 0u);
    }
}

TEST_F(GrabTest, TheNextClipOfACardIsReadToWhereTheFirstPictureOfTheOneBeforeEndedAndOnWhenItsIsLarger)
{
    if (!CanMount())
        GTEST_SKIP() << "this machine does not let the test mount a FUSE file system";
    // A first picture of many pieces (film grain at a high rate), and the test clip's of one.
    const std::string big = MakeCardOfLargePictures(dir_ / "card", 2);
    ASSERT_FALSE(big.empty());
    const std::string small = CopyClip(TestClips().interlaced1080, "card/00002.MTS");
    CopyClip(big, "card/00003.MTS");
    // Where each clip's second picture starts, as ffmpeg's reader finds it.
    auto secondPicture = [this](const std::string& clip) {
        EXPECT_EQ(Shell("ffprobe -v error -select_streams v:0 -show_entries packet=pos -of csv=p=0 -read_intervals "
                        "'%+#2' " + ShellQuote(clip) + " | grep -v '^$' | sed -n 2p > " + ShellQuote(dir_ / "pos.txt")),
                  0);
        return std::stoull(ReadFile(dir_ / "pos.txt"));
    };
    const std::uint64_t bigEnd = secondPicture(big), smallEnd = secondPicture(small);
    ASSERT_LT(smallEnd + 256 * 1024, bigEnd);  // far smaller
    platform::ClipFeed::ForgetExpectedEnd();
    FailingFs card(dir_ / "card", dir_ / "mounted");
    ASSERT_TRUE(card.Mounted());
    auto grab = [&](const std::string& name, std::uint64_t& bytes) {
        const std::uint64_t before = card.BytesRead();
        std::string why;
        std::unique_ptr<platform::DeviceBitmap> frame = GrabFirstFrame(dir_ / "mounted" + "/" + name, {}, &why);
        EXPECT_TRUE(frame) << name << ": " << why;
        bytes = card.BytesRead() - before;
        return frame;
    };
    std::uint64_t first = 0, second = 0, afterSmall = 0, smallBytes = 0;
    grab("00000.MTS", first);
    const auto cut = grab("00001.MTS", second);
    // The first clip in whole pieces; the second up to where the first's picture ended, a
    // margin and a page at most, which holds its own.
    const std::uint64_t piece = platform::ClipFeed::kPieceBytes;
    EXPECT_GE(second, bigEnd);
    EXPECT_LE(second, bigEnd + 192 + platform::ClipFeed::kExpectedEndMargin + 4096);
    EXPECT_LT(second, first);
    grab("00002.MTS", smallBytes);
    EXPECT_LE(smallBytes, smallEnd + piece);
    // After the small picture, a large one is read on past the expected end, whole.
    const auto readOn = grab("00003.MTS", afterSmall);
    EXPECT_GE(afterSmall, bigEnd);
    EXPECT_LE(afterSmall, (bigEnd / piece + 2) * piece);
    ASSERT_TRUE(cut && readOn);
    const platform::DeviceBitmap whole = WholeStreamFrame(big, kGrabbedThumbnailWidth, kGrabbedThumbnailHeight);
    ASSERT_FALSE(whole.bits.empty());
    EXPECT_TRUE(cut->bits == whole.bits);
    EXPECT_TRUE(readOn->bits == whole.bits);
}

TEST_F(GrabTest, ProgramsThatStartTheMediaFrameworkTogetherBuildItsPluginRegistryOnce)
{
    // Two grabs started at once on a machine whose registry is not yet built (as two grab workers
    // after an install): one builds it while the other waits, then reads it.
    const std::string registry = dir_ / "registry.bin";
    const int watch = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, dir_.Path().c_str(), IN_MOVED_TO | IN_CLOSE_WRITE), 0);
    const std::string grab = "GST_REGISTRY=" + ShellQuote(registry) + " " + ShellQuote(MEDIA_GRAB_CHECK) + " " +
                             ShellQuote(TestClips().interlaced1080);
    ASSERT_EQ(Shell(grab + " > " + ShellQuote(dir_ / "one.txt") + " & " + grab + " > " + ShellQuote(dir_ / "two.txt") +
                    "; wait"),
              0);
    int written = 0;
    alignas(inotify_event) char events[4096];
    for (ssize_t got; (got = read(watch, events, sizeof events)) > 0;)
        for (char* at = events; at < events + got; at += sizeof(inotify_event) + reinterpret_cast<inotify_event*>(at)->len)
            written += reinterpret_cast<inotify_event*>(at)->len > 0 &&
                       std::string(reinterpret_cast<inotify_event*>(at)->name) == "registry.bin";
    close(watch);
    EXPECT_EQ(written, 1);
    EXPECT_NE(ReadFile(dir_ / "one.txt").find("\nresult\n"), std::string::npos);
    EXPECT_NE(ReadFile(dir_ / "two.txt").find("\nresult\n"), std::string::npos);
}

TEST(MediaGraphTest, PauseGivesUpWhenCancelled)
{
    auto graph = platform::MediaGraph::Create();
    ASSERT_TRUE(graph);
    graph->RenderFile(TestClips().interlaced1080);
    EXPECT_FALSE(graph->Pause(10s, [] { return true; }));
    EXPECT_EQ(graph->FailureReason(), "cancelled");
    EXPECT_FALSE(graph->HasVideo());
}

TEST(FFmpegCommandTest, ValidatesTheTemplate)
{
    EXPECT_EQ(CheckFFmpegTemplate("-i x %OUT%"), "FFmpeg parameters do not include %IN%");
    EXPECT_EQ(CheckFFmpegTemplate("-i %IN% out.jpg"), "FFmpeg parameters do not include %OUT%");
    EXPECT_EQ(CheckFFmpegTemplate("%IN% %IN% %OUT%"), "FFmpeg parameters contain more than one %IN%");
    EXPECT_EQ(CheckFFmpegTemplate("%IN% %OUT% %OUT%"), "FFmpeg parameters contain more than one %OUT%");
    EXPECT_EQ(CheckFFmpegTemplate(settings::FFmpegParams.defaultValue), "");
    // Checked as it is filled: "%%IN%" is a percent sign and the text "IN%", no placeholder.
    EXPECT_EQ(CheckFFmpegTemplate("-i %%IN% %OUT%"), "FFmpeg parameters do not include %IN%");
    EXPECT_EQ(CheckFFmpegTemplate("-i %%%IN% %OUT% %%OUT%"), "");
    EXPECT_EQ(BuildFFmpegCommand("ff", "-i %%%IN% %OUT% %%OUT%", "c", "o").arguments,
              (std::vector<std::string>{"ff", "-i", "%c", "o", "%OUT%"}));
}

TEST(FFmpegCommandTest, FillsPlaceholdersInsideArgumentsOnly)
{
    const FFmpegCommand command = BuildFFmpegCommand("/usr/bin/ffmpeg", settings::FFmpegParams.defaultValue,
                                                     "/card/my \"clip\" $(x).MTS", "/tmp/v/avchd7.jpg");
    EXPECT_EQ(command.text,
              "\"/usr/bin/ffmpeg\" -i \"/card/my \"clip\" $(x).MTS\" -vframes 1 -s 416x234 -vcodec mjpeg "
              "/tmp/v/avchd7.jpg");
    EXPECT_EQ(command.arguments,
              (std::vector<std::string>{"/usr/bin/ffmpeg", "-i", "/card/my \"clip\" $(x).MTS", "-vframes", "1", "-s",
                                        "416x234", "-vcodec", "mjpeg", "/tmp/v/avchd7.jpg"}));

    const FFmpegCommand reversed = BuildFFmpegCommand("ff", "%OUT% -x \"a b\" \"\" -%%d-%s %IN%", "-rf clip", "out");
    EXPECT_EQ(reversed.text, "\"ff\" out -x \"a b\" \"\" -%d-%s -rf clip");
    EXPECT_EQ(reversed.arguments, (std::vector<std::string>{"ff", "out", "-x", "a b", "", "-%d-%s", "-rf clip"}));
}

TEST_F(GrabTest, FFmpegGrabWithTheRealProgram)
{
    const std::string clip = CopyClip(TestClips().interlaced1080, "my \"clip\" $(touch pwned) & x.MTS");
    GrabWithFFmpeg(queue_, clip);
    const auto log = TakeLogMessages();
    ASSERT_EQ(log.size(), 1u) << (log.empty() ? "" : log[0]);
    EXPECT_TRUE(std::regex_match(log[0], std::regex("Successfully generated thumbnail for \\[.*\\] in [0-9]+ ms using ffmpeg")))
        << log[0];
    std::string path;
    ThumbnailResult result;
    ASSERT_TRUE(queue_.TakeResult(path, result));
    EXPECT_EQ(path, clip);
    ASSERT_FALSE(result.jpeg.Empty());
    const std::unique_ptr<CRgbImage> picture = result.jpeg.Decode();
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->width, 416);
    EXPECT_EQ(picture->height, 234);
    EXPECT_FALSE(platform::FileExists(dir_ / "pwned"));
    EXPECT_FALSE(platform::FileExists("pwned"));
    // ffmpeg's own JPEG, copied beside the clip; the temporary file is gone.
    CRgbImage copy;
    ASSERT_TRUE(copy.LoadJpegFile(clip + ".viewmere.jpg"));
    EXPECT_EQ(copy.width, 416);
    EXPECT_FALSE(platform::FileExists(TempOutputName()));
}

TEST_F(GrabTest, FFmpegGrabReplacesADamagedThumbnailFileThroughAPartFile)
{
    // The clip is grabbed only when its file did not load: what is there is damaged (here cut
    // short by an interrupted copy). Where an older version put its part file, someone planted a
    // link to a file of the user's: it is never written through.
    const std::string clip = CopyClip(TestClips().progressive720, "00002.m2ts");
    const std::string good = SolidJpeg(64, 36, 0, 255, 0);
    WriteFile(clip + ".viewmere.jpg", good.substr(0, good.size() / 2));
    WriteFile(dir_ / "home-file", "the user's own file");
    ASSERT_EQ(symlink((dir_ / "home-file").c_str(), (clip + ".viewmere.jpg.part").c_str()), 0);
    GrabWithFFmpeg(queue_, clip);
    std::string path;
    ThumbnailResult result;
    EXPECT_TRUE(queue_.TakeResult(path, result));
    CRgbImage written;
    ASSERT_TRUE(written.LoadJpegFile(clip + ".viewmere.jpg", CRgbImage::DecodeRules{CRgbImage::kMaxPixels, true}));
    EXPECT_EQ(written.width, 416);
    EXPECT_FALSE(platform::FileExists(clip + ".viewmere.jpg.part"));
    EXPECT_EQ(ReadFile(dir_ / "home-file"), "the user's own file");
}

// A thumbnail file is stale when its clip changed, not when two clocks disagree: a card keeps
// the camera's clock, and a FAT card read without a zone option reads local time as UTC.
TEST_F(GrabTest, AThumbnailFileIsMadeAgainWhenItsClipChangedNotWhenTheClocksDisagree)
{
    const std::string clip = CopyClip(TestClips().progressive720, "00000.MTS");
    const std::string file = clip + ".viewmere.jpg";
    const std::time_t recorded = time(nullptr) - 3600;
    SetModificationTime(clip, recorded);
    CJpegPicture green;
    const std::string greenBytes = SolidJpeg(384, 216, 0, 255, 0);
    std::string problem;
    ASSERT_TRUE(green.Adopt({greenBytes.begin(), greenBytes.end()}, CRgbImage::kMaxPixels, problem));
    ASSERT_TRUE(WriteThumbnailFile(clip, green));
    auto kept = [&] {
        CJpegPicture picture;
        std::string name;
        return ReadThumbnailFile(clip, picture, name);
    };
    // Written hours before the camera's time of its clip (a camera east of Greenwich), or read
    // on a computer whose zone shifts the clip's time by whole hours: the same clip.
    SetModificationTime(file, recorded - 5 * 3600);
    EXPECT_TRUE(kept());
    SetModificationTime(clip, recorded + 9 * 3600 + 30 * 60);
    EXPECT_TRUE(kept());
    // A file without the record, from an older version or another program, is judged by its
    // time: only older than its clip by more than a day and two hours.
    WriteFile(file, SolidJpeg(384, 216, 0, 255, 0));
    SetModificationTime(file, recorded - 25 * 3600);
    SetModificationTime(clip, recorded);
    EXPECT_TRUE(kept());
    SetModificationTime(file, recorded - 27 * 3600);
    EXPECT_FALSE(kept());
    EXPECT_EQ(TakeLogMessages().back(), "Ignored thumbnail file [" + file + "]: it is older than its clip");

    // A card formatted in the camera starts again at 00000.MTS; copied into the folder of the
    // last card, the new clip finds the old clip's thumbnail file under its name, written an
    // instant before it.
    ASSERT_TRUE(WriteThumbnailFile(clip, green));
    CopyClip(TestClips().redOverBlue, "00000.MTS");
    SetModificationTime(clip, recorded);
    EXPECT_FALSE(kept());
    EXPECT_EQ(TakeLogMessages().back(), "Ignored thumbnail file [" + file + "]: it pictures another clip of that name");
    CThumbnailGenerator::MakeThumbnail(queue_, clip);
    ThumbnailResult result;
    const platform::DeviceBitmap* grabbed = StoredBitmap(queue_, result, clip);
    ASSERT_NE(grabbed, nullptr);
    EXPECT_EQ(ColourAt(*grabbed, 192, 10)[0], 255);  // the new clip's red, not the old green
    CRgbImage written;
    ASSERT_TRUE(written.LoadJpegFile(clip + ".viewmere.jpg", CRgbImage::DecodeRules{CRgbImage::kMaxPixels, true}));
    EXPECT_GT(written.pixels[written.OffsetOf(192, 10) + 2], 200);  // red
    EXPECT_TRUE(kept());
}

TEST_F(GrabTest, FFmpegTemplateProblemsStartNoProcess)
{
    const std::string marker = dir_ / "ran";
    settings::FFmpegExe.Write(StandIn("standin.sh", "touch " + ShellQuote(marker)));
    for (const char* bad : {"-i x %OUT%", "-i %IN% y", "%IN% %IN% %OUT%", "%IN% %OUT%%OUT%"}) {
        settings::FFmpegParams.Write(bad);
        GrabWithFFmpeg(queue_, dir_ / "c.MTS");
        const auto log = TakeLogMessages();
        ASSERT_EQ(log.size(), 1u);
        EXPECT_EQ(log[0], CheckFFmpegTemplate(bad));
    }
    EXPECT_FALSE(platform::FileExists(marker));
}

TEST_F(GrabTest, FFmpegArgumentsReachTheProgramOneByOne)
{
    // The stand-in writes each argument on its own line, then a real JPEG at the output name.
    const std::string picture = dir_ / "picture.jpg";
    WriteFile(picture, SolidJpeg(32, 18, 0, 255, 0));
    settings::FFmpegExe.Write(StandIn("standin.sh", "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > " +
                                                        ShellQuote(dir_ / "args.txt") + "\ncp " + ShellQuote(picture) +
                                                        " \"$1\""));
    settings::FFmpegParams.Write("%OUT% -tag 100%% \"two words\" %d -in %IN%");
    const std::string clip = dir_ / "-rf \"odd\" $(name).MTS";
    GrabWithFFmpeg(queue_, clip);
    EXPECT_EQ(ReadFile(dir_ / "args.txt"),
              TempOutputName() + "\n-tag\n100%\ntwo words\n%d\n-in\n" + clip + "\n");
    std::string path;
    ThumbnailResult result;
    ASSERT_TRUE(queue_.TakeResult(path, result));
    EXPECT_EQ(result.jpeg.width, 32);
}

TEST_F(GrabTest, FFmpegMissingProgramAndGarbageOutput)
{
    const std::string clip = dir_ / "00001.MTS";
    settings::FFmpegExe.Write(dir_ / "no-such-ffmpeg");
    GrabWithFFmpeg(queue_, clip);
    EXPECT_EQ(TakeLogMessages(),
              std::vector<std::string>{"Failed to run ffmpeg with \"" + (dir_ / "no-such-ffmpeg") + "\" -i \"" + clip +
                                       "\" -vframes 1 -s 416x234 -vcodec mjpeg " + TempOutputName()});
    EXPECT_EQ(StoredFailure(queue_, clip), "ffmpeg could not be started");

    settings::FFmpegExe.Write(StandIn("garbage.sh", "for a; do out=\"$a\"; done; echo garbage > \"$out\""));
    GrabWithFFmpeg(queue_, clip);
    const auto log = TakeLogMessages();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].rfind("Failed to read thumbnail JPEG created by ffmpeg. Command line: \"" + (dir_ / "garbage.sh"), 0),
              0u)
        << log[0];
    EXPECT_EQ(StoredFailure(queue_, clip), "ffmpeg made no readable picture");
    EXPECT_FALSE(platform::FileExists(TempOutputName()));

    // A program that fails says so with its status, even when it left a picture behind.
    settings::FFmpegExe.Write(StandIn("fails.sh", "for a; do out=\"$a\"; done; cp " + ShellQuote(dir_ / "good.jpg") +
                                                      " \"$out\"; exit 3"));
    WriteFile(dir_ / "good.jpg", SolidJpeg(32, 18, 0, 255, 0));
    GrabWithFFmpeg(queue_, clip);
    const auto failed = TakeLogMessages();
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_EQ(failed[0].rfind("ffmpeg exited with status 3. Command line: \"" + (dir_ / "fails.sh"), 0), 0u) << failed[0];
    EXPECT_EQ(StoredFailure(queue_, clip), "ffmpeg exited with status 3");
    EXPECT_FALSE(platform::FileExists(TempOutputName()));
}

TEST_F(GrabTest, FFmpegThatHangsIsKilledAtTheLimitAndLeavesNothing)
{
    const std::string pidFile = dir_ / "pid";
    settings::FFmpegExe.Write(StandIn("sleeper.sh", "echo $$ > " + ShellQuote(pidFile) + "\nexec sleep 30"));
    const auto start = std::chrono::steady_clock::now();
    GrabWithFFmpeg(queue_, dir_ / "00001.MTS", 400ms);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    const auto log = TakeLogMessages();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].rfind("ffmpeg took more than 15 seconds to complete - aborted. Command line: \"", 0), 0u);
    EXPECT_EQ(StoredFailure(queue_, dir_ / "00001.MTS"), "ffmpeg took more than 15 seconds");
    const pid_t child = std::stoi(ReadFile(pidFile));
    EXPECT_EQ(kill(child, 0), -1);  // killed and reaped: no such process
    EXPECT_FALSE(platform::FileExists(TempOutputName()));
}

TEST_F(GrabTest, FFmpegStaleTemporaryFileIsNeverShown)
{
    MakeDirs(dir_ / ("tmp/viewmere-" + std::to_string(getuid())));
    chmod((dir_ / ("tmp/viewmere-" + std::to_string(getuid()))).c_str(), 0700);
    WriteFile(TempOutputName(), SolidJpeg(16, 16, 255, 0, 0));  // left by a run that was stopped
    settings::FFmpegExe.Write(StandIn("nothing.sh", "exit 0"));
    GrabWithFFmpeg(queue_, dir_ / "00001.MTS");
    EXPECT_EQ(StoredFailure(queue_, dir_ / "00001.MTS"), "ffmpeg made no readable picture");
    EXPECT_TRUE(Contains(TakeLogMessages(), "Failed to read thumbnail JPEG created by ffmpeg."));
}

TEST_F(GrabTest, StopDuringASlowFFmpegGrabReturnsWithinTheLimitAndLeavesNoChild)
{
    const std::string pidFile = dir_ / "pid";
    settings::FFmpegExe.Write(StandIn("sleeper.sh", "echo $$ > " + ShellQuote(pidFile) + "\nexec sleep 30"));
    settings::UseFFmpeg.Write(true);
    CThumbnailGenerator generator;
    generator.Enqueue(dir_ / "00001.MTS");
    for (int i = 0; i < 1000 && !platform::FileExists(pidFile); ++i)
        std::this_thread::sleep_for(10ms);
    ASSERT_TRUE(platform::FileExists(pidFile));
    std::this_thread::sleep_for(50ms);
    const auto start = std::chrono::steady_clock::now();
    generator.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, CThumbnailGenerator::kStopLimit);
    const pid_t child = std::stoi(ReadFile(pidFile));
    EXPECT_EQ(kill(child, 0), -1);
    EXPECT_FALSE(platform::FileExists(TempOutputName()));
}

// The MP4 clips of today's cameras, H.264 and H.265: through the media framework's automatic
// path and through ffmpeg, each gives the first frame (testsrc2: its third bar yellow).
TEST_F(GrabTest, Mp4ClipsOfH264AndH265AreGrabbedBothWays)
{
    const CameraCard card = WriteCameraCard(dir_ / "card");
    for (const std::string& clip : {card.xavcDescribed, card.dcimMovie}) {
        SCOPED_TRACE(clip);
        std::string why;
        const std::unique_ptr<platform::DeviceBitmap> frame = GrabFirstFrame(clip, {}, &why);
        ASSERT_TRUE(frame) << why;
        const std::array<int, 3> framed = ColourAt(*frame, 160, 130);
        EXPECT_TRUE(framed[0] > 200 && framed[1] > 200 && framed[2] < 60);
        GrabWithFFmpeg(queue_, clip);
        std::string path;
        ThumbnailResult result;
        ASSERT_TRUE(queue_.TakeResult(path, result));
        const std::unique_ptr<CRgbImage> picture = result.jpeg.Decode();
        ASSERT_TRUE(picture);
        const std::uint8_t* p = picture->pixels.get() + picture->OffsetOf(picture->width * 42 / 100, picture->height * 6 / 10);
        EXPECT_TRUE(p[2] > 200 && p[1] > 200 && p[0] < 60);
    }
}

TEST_F(GrabTest, TwoGrabsOnOneCardReadTheirClipsInTurnsAndNothingWhenOpening)
{
    if (!CanMount())
        GTEST_SKIP() << "this machine does not let the test mount a FUSE file system";
    // Clips whose first pictures take several pieces each.
    const std::string first = MakeCardOfLargePictures(dir_ / "card", 3);
    ASSERT_FALSE(first.empty());
    const platform::DeviceBitmap whole = WholeStreamFrame(first, kGrabbedThumbnailWidth, kGrabbedThumbnailHeight);
    // The first clip of a card, then clips after one whose first picture's end is known, read
    // past the page cache and through it.
    const std::pair<bool, FailingFs::Pages> cases[] = {
        {false, FailingFs::Pages::PastTheCache}, {true, FailingFs::Pages::PastTheCache}, {true, FailingFs::Pages::Cached}};
    for (const auto& [known, pages] : cases) {
        const bool cached = pages == FailingFs::Pages::Cached;
        SCOPED_TRACE(std::string(known ? "end known, " : "first clip, ") + (cached ? "cached" : "past the cache"));
        platform::ClipFeed::ForgetExpectedEnd();
        if (known) {
            ASSERT_TRUE(GrabFirstFrame(first, {}, nullptr));
        }
        FailingFs card(dir_ / "card", dir_ / "mounted", pages);
        ASSERT_TRUE(card.Mounted());
        // The first grab is held by the card after its first piece.
        card.HoldAfter(platform::ClipFeed::kPieceBytes);
        std::unique_ptr<platform::DeviceBitmap> frames[2];
        std::string why[2];
        auto grab = [&](int clip) {
            frames[clip] = GrabFirstFrame(dir_ / "mounted" + "/0000" + std::to_string(clip + 1) + ".MTS", {}, &why[clip]);
        };
        auto readsOf = [&card](const std::string& name) { return OffsetsReadOf(card, name); };
        std::thread holder(grab, 0);
        for (int wait = 0; wait < 1000 && !card.Holding(); ++wait)
            std::this_thread::sleep_for(10ms);
        ASSERT_TRUE(card.Holding());
        std::thread waiter(grab, 1);
        // The second grab opens its clip and waits for the turn without asking the card for a
        // byte, unless the first one's pieces are all queued: asked at once through the cache,
        // they leave the turn to it, and its reads queue behind them. The card's clip before
        // was read through the cache, so its first piece is asked with the others (as many as
        // the kernel queues at once for a file system).
        for (int wait = 0; wait < 50 || (cached && wait < 300 && readsOf("/00002.MTS").size() < 2); ++wait)
            std::this_thread::sleep_for(10ms);
        const std::vector<std::uint64_t> askedWhileHeld = readsOf("/00001.MTS");
        const std::vector<std::uint64_t> secondAskedWhileHeld = readsOf("/00002.MTS");
        EXPECT_EQ(secondAskedWhileHeld.empty(), !(known && cached));
        card.Release();
        holder.join();
        waiter.join();
        ASSERT_TRUE(frames[0]) << why[0];
        ASSERT_TRUE(frames[1]) << why[1];
        EXPECT_TRUE(frames[0]->bits == whole.bits);
        EXPECT_TRUE(frames[1]->bits == whole.bits);
        // Every read of the first clip came before the second's first, each clip's reads once
        // each and, asked one by one, in order (queued ones reach the test's file system's
        // threads together); queued, each clip's were all asked before the first of them was
        // answered.
        const std::vector<FailingFs::Read> reads = card.Reads();
        const auto secondStarts =
            std::find_if(reads.begin(), reads.end(), [](const auto& r) { return r.path == "/00002.MTS"; });
        EXPECT_TRUE(std::none_of(secondStarts, reads.end(), [](const auto& r) { return r.path == "/00001.MTS"; }));
        for (const std::string name : {"/00001.MTS", "/00002.MTS"}) {
            std::vector<std::uint64_t> offsets = readsOf(name);
            ASSERT_FALSE(offsets.empty()) << name;
            if (cached)
                std::sort(offsets.begin(), offsets.end());
            EXPECT_EQ(offsets.front(), 0u) << name;
            EXPECT_TRUE(std::is_sorted(offsets.begin(), offsets.end()) &&
                        std::adjacent_find(offsets.begin(), offsets.end()) == offsets.end())
                << name;
        }
        if (known && cached) {
            EXPECT_EQ(askedWhileHeld, readsOf("/00001.MTS"));
            EXPECT_GT(askedWhileHeld.size(), 2u);
            EXPECT_GT(secondAskedWhileHeld.size(), 1u);
        }
    }
}
