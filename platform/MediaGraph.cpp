#include "platform/MediaGraph.h"

#include "platform/BitmapStretch.h"

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/pbutils/missing-plugins.h>
#include <gst/video/video.h>

#include <cstring>
#include <mutex>

namespace platform {
namespace {

// Owners of GStreamer references.
struct ObjectUnref {
    void operator()(gpointer object) const { gst_object_unref(object); }
};
struct MessageUnref {
    void operator()(GstMessage* message) const { gst_message_unref(message); }
};
struct SampleUnref {
    void operator()(GstSample* sample) const { gst_sample_unref(sample); }
};
struct CapsUnref {
    void operator()(GstCaps* caps) const { gst_caps_unref(caps); }
};
template <typename T>
using GstPtr = std::unique_ptr<T, ObjectUnref>;
using MessagePtr = std::unique_ptr<GstMessage, MessageUnref>;
using SamplePtr = std::unique_ptr<GstSample, SampleUnref>;
using CapsPtr = std::unique_ptr<GstCaps, CapsUnref>;

bool InitialiseOnce()
{
    static std::once_flag once;
    static bool ready = false;
    std::call_once(once, [] { ready = gst_init_check(nullptr, nullptr, nullptr) != FALSE; });
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

// One decoder thread: the first frame comes out without waiting for a frame per thread.
void OnDeepElementAdded(GstBin*, GstBin*, GstElement* element, gpointer)
{
    GParamSpec* property = g_object_class_find_property(G_OBJECT_GET_CLASS(element), "max-threads");
    if (property != nullptr && G_PARAM_SPEC_VALUE_TYPE(property) == G_TYPE_INT)
        g_object_set(element, "max-threads", 1, nullptr);
}

}  // namespace

struct MediaGraph::Impl {
    GstPtr<GstElement> pipeline;
    GstElement* decoder = nullptr;   // owned by the pipeline
    GstElement* appsink = nullptr;   // owned by the pipeline once a video stream arrives
    std::mutex padLock;              // pad-added runs on a streaming thread
    bool videoLinked = false;
    bool rendered = false;           // RenderFile built the pipeline
    std::string undecodedVideo;      // guarded by padLock: the type of a video stream left encoded
    SamplePtr frame;
    int width = 0;
    int height = 0;
    std::string failure;             // guarded by padLock: written on the worker and streaming threads

    // Why the pipeline prerolled without a frame: a decoder that was missing (said on the bus
    // by decodebin, or seen as a video stream left encoded), else no video at all.
    std::string NoFrameReason(GstBus* bus)
    {
        const auto types = static_cast<GstMessageType>(GST_MESSAGE_ELEMENT | GST_MESSAGE_WARNING);
        while (MessagePtr message{gst_bus_pop_filtered(bus, types)}) {
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

    void SetFailure(std::string reason)
    {
        std::lock_guard<std::mutex> guard(padLock);
        failure = std::move(reason);
    }

    // Links a new decodebin pad: the first raw video stream to videoconvert ! appsink (BGRx),
    // everything else to a fake sink, so no stream is left unlinked.
    void OnPadAdded(GstPad* pad)
    {
        CapsPtr caps(gst_pad_get_current_caps(pad));
        if (!caps)
            caps.reset(gst_pad_query_caps(pad, nullptr));
        std::lock_guard<std::mutex> guard(padLock);
        GstBin* bin = GST_BIN(pipeline.get());
        if (!videoLinked && CapsNameStartsWith(caps.get(), "video/x-raw")) {
            GstElement* convert = gst_element_factory_make("videoconvert", nullptr);
            GstElement* sink = gst_element_factory_make("appsink", nullptr);
            if (convert == nullptr || sink == nullptr) {
                if (convert != nullptr)
                    gst_object_unref(gst_object_ref_sink(convert));
                if (sink != nullptr)
                    gst_object_unref(gst_object_ref_sink(sink));
                return;
            }
            CapsPtr bgrx(gst_caps_from_string("video/x-raw,format=BGRx"));
            g_object_set(sink, "caps", bgrx.get(), "sync", FALSE, "max-buffers", 1, "enable-last-sample", FALSE,
                         nullptr);
            // Colour conversion of a full HD frame on every core: it is most of a grab's work.
            if (g_object_class_find_property(G_OBJECT_GET_CLASS(convert), "n-threads") != nullptr)
                g_object_set(convert, "n-threads", 0, nullptr);
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
            GST_VIDEO_INFO_FORMAT(&info) != GST_VIDEO_FORMAT_BGRx) {
            frame.reset();
            return false;
        }
        width = GST_VIDEO_INFO_WIDTH(&info);
        height = GST_VIDEO_INFO_HEIGHT(&info);
        return width > 0 && height > 0;
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
    std::unique_ptr<MediaGraph> graph(new MediaGraph());
    GstElement* pipeline = gst_pipeline_new(nullptr);
    if (pipeline == nullptr)
        return nullptr;
    graph->impl_->pipeline.reset(GST_ELEMENT(gst_object_ref_sink(pipeline)));
    return graph;
}

void MediaGraph::LoadClipPlugins()
{
    if (!InitialiseOnce())
        return;
    for (const char* name : {"filesrc", "decodebin", "typefind", "tsdemux", "h264parse", "avdec_h264", "videoconvert",
                             "appsink", "fakesink"}) {
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
    GstElement* source = gst_element_factory_make("filesrc", nullptr);
    GstElement* decoder = gst_element_factory_make("decodebin", nullptr);
    if (source == nullptr || decoder == nullptr) {
        if (source != nullptr)
            gst_object_unref(gst_object_ref_sink(source));
        if (decoder != nullptr)
            gst_object_unref(gst_object_ref_sink(decoder));
        impl_->SetFailure("the file source or decodebin element is missing");
        return false;
    }
    g_object_set(source, "location", path.c_str(), nullptr);
    gst_bin_add_many(GST_BIN(impl_->pipeline.get()), source, decoder, nullptr);
    if (!gst_element_link(source, decoder)) {
        impl_->SetFailure("cannot link the file source");
        return false;
    }
    g_signal_connect(decoder, "autoplug-continue", G_CALLBACK(OnAutoplugContinue), nullptr);
    g_signal_connect(decoder, "deep-element-added", G_CALLBACK(OnDeepElementAdded), nullptr);
    g_signal_connect(decoder, "pad-added", G_CALLBACK(&Impl::PadAdded), impl_.get());
    g_signal_connect(decoder, "unknown-type", G_CALLBACK(&Impl::UnknownType), impl_.get());
    impl_->decoder = decoder;
    impl_->rendered = true;
    return true;
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
    if (gst_element_set_state(impl_->pipeline.get(), GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE) {
        impl_->SetFailure("the pipeline cannot start");
        return false;
    }
    GstPtr<GstBus> bus(gst_element_get_bus(impl_->pipeline.get()));
    const auto deadline = std::chrono::steady_clock::now() + limit;
    const auto types = static_cast<GstMessageType>(GST_MESSAGE_ASYNC_DONE | GST_MESSAGE_ERROR | GST_MESSAGE_EOS |
                                                   GST_MESSAGE_ELEMENT);
    // The bus is polled in short steps: no main loop runs on the worker, and a stop request
    // must be seen soon.
    while (std::chrono::steady_clock::now() < deadline) {
        if (cancelled && cancelled()) {
            impl_->SetFailure("cancelled");
            return false;
        }
        MessagePtr message(gst_bus_timed_pop_filtered(bus.get(), 20 * GST_MSECOND, types));
        if (!message)
            continue;
        switch (GST_MESSAGE_TYPE(message.get())) {
        case GST_MESSAGE_ASYNC_DONE:
            if (impl_->TakePrerollFrame())
                return true;
            impl_->SetFailure(impl_->NoFrameReason(bus.get()));
            return false;
        case GST_MESSAGE_EOS:
            // A video stream that ended before its first frame could be shown.
            if (impl_->TakePrerollFrame())
                return true;
            impl_->SetFailure("the file ended before a video frame");
            return false;
        case GST_MESSAGE_ERROR: {
            GError* error = nullptr;
            gst_message_parse_error(message.get(), &error, nullptr);
            impl_->SetFailure(error != nullptr && error->message != nullptr ? error->message : "error");
            if (error != nullptr)
                g_error_free(error);
            return false;
        }
        case GST_MESSAGE_ELEMENT:
            if (gst_is_missing_plugin_message(message.get())) {
                char* what = gst_missing_plugin_message_get_description(message.get());
                impl_->SetFailure(std::string("missing decoder: ") + (what != nullptr ? what : "?"));
                g_free(what);
                return false;
            }
            break;
        default:
            break;
        }
    }
    impl_->SetFailure("timed out waiting for the first frame");
    return false;
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
    GstVideoInfo info;
    if (!gst_video_info_from_caps(&info, gst_sample_get_caps(impl_->frame.get())))
        return kFailed;
    GstVideoFrame frame;
    if (!gst_video_frame_map(&frame, &info, gst_sample_get_buffer(impl_->frame.get()), GST_MAP_READ))
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
    const auto* pixels = static_cast<const std::uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0));
    const int stride = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0);
    for (int y = 0; y < impl_->height; ++y)
        std::memcpy(buffer + kImageHeaderSize + (impl_->height - 1 - y) * rowBytes, pixels + static_cast<std::ptrdiff_t>(y) * stride,
                    static_cast<std::size_t>(rowBytes));
    gst_video_frame_unmap(&frame);
    return 0;
}

DeviceBitmap MediaGraph::StretchCurrentImage(int width, int height) const
{
    if (!impl_->frame)
        return {};
    GstVideoInfo info;
    if (!gst_video_info_from_caps(&info, gst_sample_get_caps(impl_->frame.get())))
        return {};
    GstVideoFrame frame;
    if (!gst_video_frame_map(&frame, &info, gst_sample_get_buffer(impl_->frame.get()), GST_MAP_READ))
        return {};
    PixelView view;
    view.firstRow = static_cast<const std::uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0));
    view.stride = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0);
    view.width = impl_->width;
    view.height = impl_->height;
    view.topRowFirst = true;
    DeviceBitmap stretched = StretchHalftone(view, width, height);
    gst_video_frame_unmap(&frame);
    return stretched;
}

std::string MediaGraph::FailureReason() const
{
    std::lock_guard<std::mutex> guard(impl_->padLock);
    return impl_->failure;
}

}  // namespace platform
