#include "platform/MediaGraph.h"

#include "platform/BitmapStretch.h"
#include "platform/ClipFeed.h"
#include "platform/FileDescriptor.h"
#include "platform/GstOwners.h"
#include "platform/UserDirectories.h"

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <gst/pbutils/missing-plugins.h>
#include <gst/video/video.h>

#include <fcntl.h>
#include <sys/file.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

namespace platform {
namespace {

// The first start of the media framework after an install (or an upgrade of its plugins)
// builds its plugin registry, loading every plugin installed: a second or so. Processes started
// together (one grab worker per core, a file manager's thumbnailers) would each build it, all of
// them taking as long as the builds one after the other; held around the start, this lock lets
// the first build it while the others wait and then read it. It is never waited for long: a
// process that holds it too long (stopped, say) is not waited for.
class RegistryBuildLock {
public:
    RegistryBuildLock()
    {
        // Kept in the user's cache beside the registry's own folder, not in the temporary folder,
        // whose files are the viewer's pictures in the making.
        const std::string cache = UserCacheDirectory();
        if (cache.empty() || !MakeDirectories(cache + "/viewmere", 0700))
            return;
        file_ = FileDescriptor(open((cache + "/viewmere/media-framework.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (file_ && flock(file_.Get(), LOCK_EX | LOCK_NB) != 0) {
            if (errno != EWOULDBLOCK || std::chrono::steady_clock::now() > giveUp) {
                file_ = FileDescriptor();
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    // Closing the file lets go of the lock.

private:
    FileDescriptor file_;
};

bool InitialiseOnce()
{
    static std::once_flag once;
    static bool ready = false;
    std::call_once(once, [] {
        const RegistryBuildLock building;
        ready = gst_init_check(nullptr, nullptr, nullptr) != FALSE;
    });
    return ready;
}

bool CapsNameStartsWith(GstCaps* caps, const char* prefix)
{
    if (caps == nullptr || gst_caps_get_size(caps) == 0)
        return false;
    const char* name = gst_structure_get_name(gst_caps_get_structure(caps, 0));
    return name != nullptr && std::strncmp(name, prefix, std::strlen(prefix)) == 0;
}

// decodebin asks before it plugs a decoder for each stream: only video is decoded; any other
// stream is exposed as it is and sent to a fake sink.
gboolean OnAutoplugContinue(GstElement*, GstPad*, GstCaps* caps, gpointer)
{
    return CapsNameStartsWith(caps, "audio/") || CapsNameStartsWith(caps, "subpicture/") ||
                   CapsNameStartsWith(caps, "text/") || CapsNameStartsWith(caps, "application/x-teletext")
               ? FALSE
               : TRUE;
}

// One decoder thread: the first frame comes out without waiting for a frame per thread, and a
// worker per core keeps every core busy anyway.
void LimitDecoderThreads(GstElement* element)
{
    GParamSpec* property = g_object_class_find_property(G_OBJECT_GET_CLASS(element), "max-threads");
    if (property != nullptr && G_PARAM_SPEC_VALUE_TYPE(property) == G_TYPE_INT)
        g_object_set(element, "max-threads", 1, nullptr);
}

void OnDeepElementAdded(GstBin*, GstBin*, GstElement* element, gpointer)
{
    LimitDecoderThreads(element);
}

void Discard(GstElement* element)
{
    if (element != nullptr)
        gst_object_unref(gst_object_ref_sink(element));
}

// The appsink that holds the first frame as the decoder made it: planar 4:2:0, which the
// thumbnail is scaled from before any conversion to RGB (a decoder's other formats are converted
// to it first).
GstElement* MakeFrameSink()
{
    GstElement* sink = gst_element_factory_make("appsink", nullptr);
    if (sink == nullptr)
        return nullptr;
    GstCapsPtr planar(gst_caps_from_string("video/x-raw,format=I420"));
    g_object_set(sink, "caps", planar.get(), "sync", FALSE, "max-buffers", 1, "enable-last-sample", FALSE, nullptr);
    return sink;
}

}  // namespace

namespace {

// The chain that decodes coded pictures handed to it, without a file: appsrc ! h264parse !
// avdec_h264 ! videoconvert ! appsink, built at its first use and kept. Each decode starts it
// afresh (READY, then PAUSED): the pictures are pushed with the end of the stream after them, so
// the decoder gives out what it holds, and the sink holds the first picture that comes out.
struct PictureChain {
    GstPtr<GstElement> pipeline;
    GstElement* source = nullptr;  // owned by the pipeline
    GstElement* sink = nullptr;

    ~PictureChain()
    {
        if (pipeline)
            gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    }

    static std::unique_ptr<PictureChain> Build()
    {
        GstElement* elements[] = {gst_element_factory_make("appsrc", nullptr),
                                  gst_element_factory_make("h264parse", nullptr),
                                  gst_element_factory_make("avdec_h264", nullptr),
                                  gst_element_factory_make("videoconvert", nullptr), MakeFrameSink()};
        if (std::any_of(std::begin(elements), std::end(elements), [](GstElement* e) { return e == nullptr; })) {
            std::for_each(std::begin(elements), std::end(elements), Discard);
            return nullptr;
        }
        auto chain = std::make_unique<PictureChain>();
        chain->pipeline.reset(GST_ELEMENT(gst_object_ref_sink(gst_pipeline_new(nullptr))));
        for (GstElement* element : elements)
            gst_bin_add(GST_BIN(chain->pipeline.get()), element);
        GstCapsPtr coded(gst_caps_from_string("video/x-h264,stream-format=byte-stream"));
        g_object_set(elements[0], "caps", coded.get(), "format", GST_FORMAT_TIME, nullptr);
        LimitDecoderThreads(elements[2]);
        if (!gst_element_link_many(elements[0], elements[1], elements[2], elements[3], elements[4], nullptr))
            return nullptr;
        chain->source = elements[0];
        chain->sink = elements[4];
        return chain;
    }

    // Decodes the pictures; the first one that came out, or null with the reason in `failure`.
    GstSamplePtr Decode(const std::vector<MediaGraph::CodedPicture>& pictures, std::chrono::milliseconds limit,
                     const std::function<bool()>& cancelled, std::string& failure)
    {
        gst_element_set_state(pipeline.get(), GST_STATE_READY);  // what the last decode left goes
        if (gst_element_set_state(pipeline.get(), GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE) {
            failure = "the decoder cannot start";
            return nullptr;
        }
        for (const MediaGraph::CodedPicture& picture : pictures) {
            GstBuffer* buffer = gst_buffer_new_memdup(picture.bytes.data(), picture.bytes.size());
            GST_BUFFER_PTS(buffer) = gst_util_uint64_scale(picture.pts, GST_SECOND, 90000);
            gst_app_src_push_buffer(GST_APP_SRC(source), buffer);
        }
        gst_app_src_end_of_stream(GST_APP_SRC(source));
        const auto deadline = std::chrono::steady_clock::now() + limit;
        GstPtr<GstBus> bus(gst_element_get_bus(pipeline.get()));
        const auto types = static_cast<GstMessageType>(GST_MESSAGE_ASYNC_DONE | GST_MESSAGE_ERROR);
        while (std::chrono::steady_clock::now() < deadline) {
            if (cancelled && cancelled()) {
                failure = "cancelled";
                return nullptr;
            }
            GstMessagePtr message(gst_bus_timed_pop_filtered(bus.get(), 20 * GST_MSECOND, types));
            if (!message)
                continue;
            if (GST_MESSAGE_TYPE(message.get()) == GST_MESSAGE_ERROR) {
                GError* error = nullptr;
                gst_message_parse_error(message.get(), &error, nullptr);
                failure = error != nullptr && error->message != nullptr ? error->message : "error";
                if (error != nullptr)
                    g_error_free(error);
                return nullptr;
            }
            GstSamplePtr sample(gst_app_sink_try_pull_preroll(GST_APP_SINK(sink), 0));
            if (!sample)
                failure = "the picture did not decode";
            return sample;
        }
        failure = "timed out decoding a picture";
        return nullptr;
    }
};

}  // namespace

// Two ways to the first frame. A transport stream with H.264 video (every camcorder clip) goes
// through a chain built once and kept from clip to clip: appsrc ! tsdemux ! h264parse !
// avdec_h264 ! videoconvert ! appsink, with no type finding and no plugging, fed by the clip's
// ClipFeed: pieces sized for a card, in order, cut short after the first picture's bytes.
// Anything else, or a stream that chain gives no frame (a first picture too damaged to show),
// goes through decodebin from a file source, which finds what the file needs and says what is
// missing.
struct MediaGraph::Impl {
    enum class Chain { None, Direct, Automatic };

    GstPtr<GstElement> pipeline;
    Chain chain = Chain::None;
    GstElement* source = nullptr;  // the elements are owned by the pipeline
    std::mutex feedLock;           // the direct chain's streaming thread reads the feed
    ClipFeed feed;                 // guarded by feedLock
    GstElement* parse = nullptr;
    GstElement* appsink = nullptr;
    std::string path;
    std::mutex padLock;              // pad-added runs on a streaming thread
    bool videoLinked = false;        // guarded by padLock
    bool noMorePads = false;         // guarded by padLock
    bool rendered = false;           // RenderFile built the pipeline
    std::string undecodedVideo;      // guarded by padLock: the type of a video stream left encoded
    GstSamplePtr frame;
    int width = 0;
    int height = 0;
    std::string failure;             // guarded by padLock: written on the worker and streaming threads
    std::unique_ptr<PictureChain> pictures;  // DecodePictures' chain, once used

    void ResetForFile(const std::string& file)
    {
        frame.reset();
        width = height = 0;
        path = file;
        rendered = false;
        std::lock_guard<std::mutex> guard(padLock);
        videoLinked = noMorePads = false;
        undecodedVideo.clear();
        failure.clear();
    }

    void SetFailure(std::string reason)
    {
        std::lock_guard<std::mutex> guard(padLock);
        failure = std::move(reason);
    }

    void NewPipeline(Chain kind)
    {
        if (pipeline)
            gst_element_set_state(pipeline.get(), GST_STATE_NULL);
        pipeline.reset(GST_ELEMENT(gst_object_ref_sink(gst_pipeline_new(nullptr))));
        chain = kind;
        source = parse = appsink = nullptr;
    }

    // The direct chain; false when one of its elements is not installed.
    bool BuildDirect()
    {
        GstElement* elements[] = {gst_element_factory_make("appsrc", nullptr),
                                  gst_element_factory_make("tsdemux", nullptr),
                                  gst_element_factory_make("h264parse", nullptr),
                                  gst_element_factory_make("avdec_h264", nullptr),
                                  gst_element_factory_make("videoconvert", nullptr), MakeFrameSink()};
        if (std::any_of(std::begin(elements), std::end(elements), [](GstElement* e) { return e == nullptr; })) {
            std::for_each(std::begin(elements), std::end(elements), Discard);
            return false;
        }
        NewPipeline(Chain::Direct);
        for (GstElement* element : elements)
            gst_bin_add(GST_BIN(pipeline.get()), element);
        LimitDecoderThreads(elements[3]);
        if (!gst_element_link(elements[0], elements[1]) ||
            !gst_element_link_many(elements[2], elements[3], elements[4], elements[5], nullptr)) {
            chain = Chain::None;
            return false;
        }
        g_object_set(elements[0], "format", GST_FORMAT_BYTES, "stream-type", GST_APP_STREAM_TYPE_STREAM, nullptr);
        GstAppSrcCallbacks callbacks{};
        callbacks.need_data = &Impl::NeedData;
        gst_app_src_set_callbacks(GST_APP_SRC(elements[0]), &callbacks, this, nullptr);
        g_signal_connect(elements[1], "pad-added", G_CALLBACK(&Impl::DemuxPadAdded), this);
        g_signal_connect(elements[1], "no-more-pads", G_CALLBACK(&Impl::DemuxNoMorePads), this);
        source = elements[0];
        parse = elements[2];
        appsink = elements[5];
        return true;
    }

    // The clip's file for the direct chain, unread; true when it is named as a transport
    // stream (one that holds none fails at its first piece, and decodebin takes it then).
    bool OpenFeed(const std::string& file)
    {
        std::lock_guard<std::mutex> guard(feedLock);
        return ClipFeed::NamesTransportStream(file) && feed.Open(file);
    }
    void CloseFeed()
    {
        std::lock_guard<std::mutex> guard(feedLock);
        feed.Close();
    }

    // appsrc asks for the next piece on its streaming thread.
    void OnNeedData(GstAppSrc* src)
    {
        GstBuffer* buffer = gst_buffer_new_allocate(nullptr, ClipFeed::kPieceBytes, nullptr);
        GstMapInfo map;
        if (buffer == nullptr || !gst_buffer_map(buffer, &map, GST_MAP_WRITE)) {
            if (buffer != nullptr)
                gst_buffer_unref(buffer);
            gst_app_src_end_of_stream(src);
            return;
        }
        std::size_t bytes = 0;
        ClipFeed::Piece piece = ClipFeed::Piece::End;
        {
            std::lock_guard<std::mutex> guard(feedLock);
            piece = feed.Next(map.data, bytes);
        }
        gst_buffer_unmap(buffer, &map);
        if (piece == ClipFeed::Piece::Bytes) {
            gst_buffer_set_size(buffer, static_cast<gssize>(bytes));
            gst_app_src_push_buffer(src, buffer);
            return;
        }
        gst_buffer_unref(buffer);
        if (piece == ClipFeed::Piece::Failed)
            GST_ELEMENT_ERROR(src, RESOURCE, READ, (nullptr), ("the clip could not be read"));
        gst_app_src_end_of_stream(src);
    }
    static void NeedData(GstAppSrc* src, guint, gpointer self) { static_cast<Impl*>(self)->OnNeedData(src); }

    bool BuildAutomatic()
    {
        NewPipeline(Chain::Automatic);
        CloseFeed();  // decodebin reads the file itself
        GstElement* file = gst_element_factory_make("filesrc", nullptr);
        GstElement* decoder = gst_element_factory_make("decodebin", nullptr);
        if (file == nullptr || decoder == nullptr) {
            Discard(file);
            Discard(decoder);
            SetFailure("the file source or decodebin element is missing");
            return false;
        }
        g_object_set(file, "location", path.c_str(), nullptr);
        gst_bin_add_many(GST_BIN(pipeline.get()), file, decoder, nullptr);
        if (!gst_element_link(file, decoder)) {
            SetFailure("cannot link the file source");
            return false;
        }
        g_signal_connect(decoder, "autoplug-continue", G_CALLBACK(OnAutoplugContinue), nullptr);
        g_signal_connect(decoder, "deep-element-added", G_CALLBACK(OnDeepElementAdded), nullptr);
        g_signal_connect(decoder, "pad-added", G_CALLBACK(&Impl::PadAdded), this);
        g_signal_connect(decoder, "unknown-type", G_CALLBACK(&Impl::UnknownType), this);
        source = file;
        return true;
    }

    // The direct chain: the demuxer's first H.264 stream goes to the parser; other streams stay
    // unlinked and are dropped by the demuxer.
    void OnDemuxPad(GstPad* pad)
    {
        GstCapsPtr caps(gst_pad_get_current_caps(pad));
        if (!caps)
            caps.reset(gst_pad_query_caps(pad, nullptr));
        std::lock_guard<std::mutex> guard(padLock);
        if (videoLinked || !CapsNameStartsWith(caps.get(), "video/x-h264"))
            return;
        GstPtr<GstPad> parserPad(gst_element_get_static_pad(parse, "sink"));
        if (GstPtr<GstPad> old{gst_pad_get_peer(parserPad.get())})
            gst_pad_unlink(old.get(), parserPad.get());  // a stream of the clip before
        videoLinked = gst_pad_link(pad, parserPad.get()) == GST_PAD_LINK_OK;
    }
    static void DemuxPadAdded(GstElement*, GstPad* pad, gpointer self) { static_cast<Impl*>(self)->OnDemuxPad(pad); }
    static void DemuxNoMorePads(GstElement*, gpointer self)
    {
        auto* impl = static_cast<Impl*>(self);
        std::lock_guard<std::mutex> guard(impl->padLock);
        impl->noMorePads = true;
    }
    bool DirectChainHasNoVideo()
    {
        std::lock_guard<std::mutex> guard(padLock);
        return chain == Chain::Direct && noMorePads && !videoLinked;
    }

    // Why the pipeline prerolled without a frame: a decoder that was missing (said on the bus
    // by decodebin, or seen as a video stream left encoded), else no video at all.
    std::string NoFrameReason(GstBus* bus)
    {
        const auto types = static_cast<GstMessageType>(GST_MESSAGE_ELEMENT | GST_MESSAGE_WARNING);
        while (GstMessagePtr message{gst_bus_pop_filtered(bus, types)}) {
            if (gst_is_missing_plugin_message(message.get())) {
                char* what = gst_missing_plugin_message_get_description(message.get());
                std::string reason = std::string("missing decoder: ") + (what != nullptr ? what : "?");
                g_free(what);
                return reason;
            }
            if (GST_MESSAGE_TYPE(message.get()) == GST_MESSAGE_WARNING) {
                GError* warning = nullptr;
                gst_message_parse_warning(message.get(), &warning, nullptr);
                std::string reason = warning != nullptr && warning->message != nullptr ? warning->message : "";
                if (warning != nullptr)
                    g_error_free(warning);
                if (!reason.empty())
                    return "missing decoder: " + reason;
            }
        }
        std::lock_guard<std::mutex> guard(padLock);
        return undecodedVideo.empty() ? "no video stream" : "missing decoder for " + undecodedVideo;
    }

    // decodebin's pads: the first raw video stream to videoconvert ! appsink, everything else to
    // a fake sink, so no stream is left unlinked.
    void OnPadAdded(GstPad* pad)
    {
        GstCapsPtr caps(gst_pad_get_current_caps(pad));
        if (!caps)
            caps.reset(gst_pad_query_caps(pad, nullptr));
        std::lock_guard<std::mutex> guard(padLock);
        GstBin* bin = GST_BIN(pipeline.get());
        if (!videoLinked && CapsNameStartsWith(caps.get(), "video/x-raw")) {
            GstElement* convert = gst_element_factory_make("videoconvert", nullptr);
            GstElement* sink = MakeFrameSink();
            if (convert == nullptr || sink == nullptr) {
                Discard(convert);
                Discard(sink);
                return;
            }
            gst_bin_add_many(bin, convert, sink, nullptr);
            GstPtr<GstPad> sinkPad(gst_element_get_static_pad(convert, "sink"));
            if (!gst_element_link(convert, sink) || gst_pad_link(pad, sinkPad.get()) != GST_PAD_LINK_OK) {
                failure = "cannot link the video stream";
                return;
            }
            gst_element_sync_state_with_parent(sink);
            gst_element_sync_state_with_parent(convert);
            appsink = sink;
            videoLinked = true;
            return;
        }
        // Video that comes out still encoded had no decoder to go through: say which.
        if (!videoLinked && CapsNameStartsWith(caps.get(), "video/") && undecodedVideo.empty()) {
            const char* name = gst_structure_get_name(gst_caps_get_structure(caps.get(), 0));
            undecodedVideo = name != nullptr ? name : "video";
        }
        GstElement* fake = gst_element_factory_make("fakesink", nullptr);
        if (fake == nullptr)
            return;
        g_object_set(fake, "sync", FALSE, "async", FALSE, nullptr);
        gst_bin_add(bin, fake);
        GstPtr<GstPad> fakePad(gst_element_get_static_pad(fake, "sink"));
        gst_pad_link(pad, fakePad.get());
        gst_element_sync_state_with_parent(fake);
    }

    static void PadAdded(GstElement*, GstPad* pad, gpointer self) { static_cast<Impl*>(self)->OnPadAdded(pad); }

    // decodebin found no element for a stream: remember a video one, for the reason.
    static void UnknownType(GstElement*, GstPad*, GstCaps* caps, gpointer data)
    {
        auto* self = static_cast<Impl*>(data);
        if (!CapsNameStartsWith(caps, "video/"))
            return;
        std::lock_guard<std::mutex> guard(self->padLock);
        if (self->undecodedVideo.empty())
            self->undecodedVideo = gst_structure_get_name(gst_caps_get_structure(caps, 0));
    }

    bool TakePrerollFrame()
    {
        GstElement* sink = nullptr;
        {
            std::lock_guard<std::mutex> guard(padLock);
            sink = appsink;
        }
        if (sink == nullptr)
            return false;
        frame.reset(gst_app_sink_try_pull_preroll(GST_APP_SINK(sink), 0));
        if (!frame)
            return false;
        GstVideoInfo info;
        if (!gst_video_info_from_caps(&info, gst_sample_get_caps(frame.get())) ||
            GST_VIDEO_INFO_FORMAT(&info) != GST_VIDEO_FORMAT_I420) {
            frame.reset();
            return false;
        }
        width = GST_VIDEO_INFO_WIDTH(&info);
        height = GST_VIDEO_INFO_HEIGHT(&info);
        return width > 0 && height > 0;
    }

    enum class Outcome { Frame, Failed, GaveUp };  // gave up: cancelled or out of time

    // Pauses the pipeline and waits on its bus for the first frame. The bus is polled in short
    // steps: no main loop runs on the worker, and a stop request must be seen soon.
    Outcome WaitForFrame(std::chrono::steady_clock::time_point deadline, const std::function<bool()>& cancelled)
    {
        if (gst_element_set_state(pipeline.get(), GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE) {
            SetFailure("the pipeline cannot start");
            return Outcome::Failed;
        }
        GstPtr<GstBus> bus(gst_element_get_bus(pipeline.get()));
        const auto types = static_cast<GstMessageType>(GST_MESSAGE_ASYNC_DONE | GST_MESSAGE_ERROR | GST_MESSAGE_EOS |
                                                       GST_MESSAGE_ELEMENT);
        while (std::chrono::steady_clock::now() < deadline) {
            if (cancelled && cancelled()) {
                SetFailure("cancelled");
                return Outcome::GaveUp;
            }
            if (DirectChainHasNoVideo()) {
                SetFailure("no H.264 video stream");
                return Outcome::Failed;
            }
            GstMessagePtr message(gst_bus_timed_pop_filtered(bus.get(), 20 * GST_MSECOND, types));
            if (!message)
                continue;
            switch (GST_MESSAGE_TYPE(message.get())) {
            case GST_MESSAGE_ASYNC_DONE:
                if (TakePrerollFrame())
                    return Outcome::Frame;
                SetFailure(NoFrameReason(bus.get()));
                return Outcome::Failed;
            case GST_MESSAGE_EOS:
                // A video stream that ended before its first frame could be shown.
                if (TakePrerollFrame())
                    return Outcome::Frame;
                SetFailure("the file ended before a video frame");
                return Outcome::Failed;
            case GST_MESSAGE_ERROR: {
                GError* error = nullptr;
                gst_message_parse_error(message.get(), &error, nullptr);
                SetFailure(error != nullptr && error->message != nullptr ? error->message : "error");
                if (error != nullptr)
                    g_error_free(error);
                return Outcome::Failed;
            }
            case GST_MESSAGE_ELEMENT:
                if (gst_is_missing_plugin_message(message.get())) {
                    char* what = gst_missing_plugin_message_get_description(message.get());
                    SetFailure(std::string("missing decoder: ") + (what != nullptr ? what : "?"));
                    g_free(what);
                    return Outcome::Failed;
                }
                break;
            default:
                break;
            }
        }
        SetFailure("timed out waiting for the first frame");
        return Outcome::GaveUp;
    }

    // The held frame's planes, mapped for as long as it lives.
    struct MappedFrame {
        GstVideoFrame frame{};
        bool mapped = false;
        explicit MappedFrame(GstSample* sample)
        {
            GstVideoInfo info;
            mapped = sample != nullptr && gst_video_info_from_caps(&info, gst_sample_get_caps(sample)) &&
                     gst_video_frame_map(&frame, &info, gst_sample_get_buffer(sample), GST_MAP_READ);
        }
        ~MappedFrame()
        {
            if (mapped)
                gst_video_frame_unmap(&frame);
        }
        MappedFrame(const MappedFrame&) = delete;
        MappedFrame& operator=(const MappedFrame&) = delete;

        PlaneView Plane(int component) const
        {
            return PlaneView{static_cast<const std::uint8_t*>(GST_VIDEO_FRAME_COMP_DATA(&frame, component)),
                             GST_VIDEO_FRAME_COMP_STRIDE(&frame, component), GST_VIDEO_FRAME_COMP_WIDTH(&frame, component),
                             GST_VIDEO_FRAME_COMP_HEIGHT(&frame, component)};
        }
        YcbcrFormat Format() const
        {
            YcbcrFormat matrix;  // BT.709 unless the stream says otherwise
            gdouble kr = 0, kb = 0;
            const GstVideoColorimetry& colours = GST_VIDEO_INFO_COLORIMETRY(&frame.info);
            if (gst_video_color_matrix_get_Kr_Kb(colours.matrix, &kr, &kb)) {
                matrix.kr = kr;
                matrix.kb = kb;
            }
            matrix.fullRange = colours.range == GST_VIDEO_COLOR_RANGE_0_255;
            matrix.interlaced = GST_VIDEO_INFO_IS_INTERLACED(&frame.info);
            return matrix;
        }
    };

    DeviceBitmap Stretch(int targetWidth, int targetHeight) const
    {
        const MappedFrame mapped(frame.get());
        if (!mapped.mapped)
            return {};
        return StretchYcbcrHalftone(mapped.Plane(GST_VIDEO_COMP_Y), mapped.Plane(GST_VIDEO_COMP_U),
                                    mapped.Plane(GST_VIDEO_COMP_V), mapped.Format(), targetWidth, targetHeight);
    }
};

MediaGraph::MediaGraph() : impl_(std::make_unique<Impl>()) {}

MediaGraph::~MediaGraph()
{
    impl_->frame.reset();
    if (impl_->pipeline)
        gst_element_set_state(impl_->pipeline.get(), GST_STATE_NULL);
}

std::unique_ptr<MediaGraph> MediaGraph::Create()
{
    if (!InitialiseOnce())
        return nullptr;
    return std::unique_ptr<MediaGraph>(new MediaGraph());
}

void MediaGraph::LoadClipPlugins()
{
    if (!InitialiseOnce())
        return;
    for (const char* name : {"appsrc", "filesrc", "decodebin", "typefind", "tsdemux", "h264parse", "avdec_h264",
                             "videoconvert", "appsink", "fakesink"}) {
        GstElementFactory* factory = gst_element_factory_find(name);
        if (factory == nullptr)
            continue;
        GstPluginFeature* loaded = gst_plugin_feature_load(GST_PLUGIN_FEATURE(factory));
        if (loaded != nullptr)
            gst_object_unref(loaded);
        gst_object_unref(factory);
    }
}

bool MediaGraph::RenderFile(const std::string& path)
{
    // The chain of the clip before is taken back to READY, which lets go of its streams.
    if (impl_->pipeline)
        gst_element_set_state(impl_->pipeline.get(), GST_STATE_READY);
    impl_->ResetForFile(path);
    if (impl_->OpenFeed(path) && (impl_->chain == Impl::Chain::Direct || impl_->BuildDirect())) {
        impl_->rendered = true;
        return true;
    }
    impl_->rendered = impl_->BuildAutomatic();
    return impl_->rendered;
}

bool MediaGraph::Pause(std::chrono::milliseconds limit, const std::function<bool()>& cancelled)
{
    // A pipeline that could not be built has nothing to wait for: fail at once, with its reason.
    if (!impl_->rendered) {
        if (FailureReason().empty())
            impl_->SetFailure("no pipeline was built");
        return false;
    }
    impl_->SetFailure("");
    const auto deadline = std::chrono::steady_clock::now() + limit;
    {
        std::lock_guard<std::mutex> guard(impl_->feedLock);
        impl_->feed.SetDeadline(deadline);
    }
    Impl::Outcome outcome = impl_->WaitForFrame(deadline, cancelled);
    // A piece still waiting for the card's turn stops waiting: the graph is done with the feed.
    impl_->feed.Abandon();
    // The direct chain found no frame: decodebin tries the clip again and names what is missing.
    if (outcome == Impl::Outcome::Failed && impl_->chain == Impl::Chain::Direct) {
        impl_->ResetForFile(impl_->path);
        if ((impl_->rendered = impl_->BuildAutomatic()))
            outcome = impl_->WaitForFrame(deadline, cancelled);
    }
    return outcome == Impl::Outcome::Frame;
}

bool MediaGraph::HasVideo() const
{
    return impl_->frame != nullptr;
}

int MediaGraph::VideoWidth() const
{
    return impl_->width;
}

int MediaGraph::VideoHeight() const
{
    return impl_->height;
}

std::uint32_t MediaGraph::GetCurrentImage(int& size, std::uint8_t* buffer) const
{
    if (!impl_->frame)
        return kFailed;
    const std::int64_t rowBytes = static_cast<std::int64_t>(impl_->width) * 4;
    const std::int64_t needed = kImageHeaderSize + rowBytes * impl_->height;
    if (needed > 0x7fffffff)
        return kFailed;
    if (buffer == nullptr) {
        size = static_cast<int>(needed);
        return 0;
    }
    if (size < needed)
        return kFailed;
    // The whole frame converted: a "stretch" to its own size.
    const DeviceBitmap whole = impl_->Stretch(impl_->width, impl_->height);
    if (whole.bits.size() != static_cast<std::size_t>(needed - kImageHeaderSize))
        return kFailed;
    // The header: size 40, width, positive height (rows bottom up), 1 plane, 32 bits, no
    // compression, the rest 0.
    std::memset(buffer, 0, kImageHeaderSize);
    auto put32 = [buffer](int offset, std::uint32_t value) {
        for (int b = 0; b < 4; ++b)
            buffer[offset + b] = static_cast<std::uint8_t>(value >> (8 * b));
    };
    put32(0, kImageHeaderSize);
    put32(4, static_cast<std::uint32_t>(impl_->width));
    put32(8, static_cast<std::uint32_t>(impl_->height));
    buffer[12] = 1;
    buffer[14] = 32;
    std::memcpy(buffer + kImageHeaderSize, whole.bits.data(), whole.bits.size());
    return 0;
}

DeviceBitmap MediaGraph::StretchCurrentImage(int width, int height) const
{
    return impl_->frame ? impl_->Stretch(width, height) : DeviceBitmap{};
}

bool MediaGraph::DecodePictures(const std::vector<CodedPicture>& pictures, std::chrono::milliseconds limit,
                                const std::function<bool()>& cancelled)
{
    impl_->frame.reset();
    impl_->width = impl_->height = 0;
    if (!impl_->pictures && !(impl_->pictures = PictureChain::Build())) {
        impl_->SetFailure("the H.264 parser or decoder is missing");
        return false;
    }
    std::string failure;
    GstSamplePtr sample = impl_->pictures->Decode(pictures, limit, cancelled, failure);
    GstVideoInfo info;
    if (sample && (!gst_video_info_from_caps(&info, gst_sample_get_caps(sample.get())) ||
                   GST_VIDEO_INFO_FORMAT(&info) != GST_VIDEO_FORMAT_I420 || GST_VIDEO_INFO_WIDTH(&info) <= 0 ||
                   GST_VIDEO_INFO_HEIGHT(&info) <= 0)) {
        sample.reset();
        failure = "the decoder gave an unexpected picture";
    }
    impl_->SetFailure(failure);
    if (!sample)
        return false;
    impl_->width = GST_VIDEO_INFO_WIDTH(&info);
    impl_->height = GST_VIDEO_INFO_HEIGHT(&info);
    impl_->frame = std::move(sample);
    return true;
}

void MediaGraph::ReleaseFile()
{
    if (impl_->pipeline)
        gst_element_set_state(impl_->pipeline.get(), GST_STATE_READY);
    impl_->CloseFeed();
}

std::string MediaGraph::FailureReason() const
{
    std::lock_guard<std::mutex> guard(impl_->padLock);
    return impl_->failure;
}

}  // namespace platform
