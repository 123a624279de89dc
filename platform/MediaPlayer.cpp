#include "platform/MediaPlayer.h"

#include "platform/FileSystem.h"
#include "platform/GstOwners.h"

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <gst/pbutils/missing-plugins.h>
#include <gst/video/video.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

namespace platform {
namespace {

// Bytes read from a file at a time, and how many may wait in the source before reading pauses.
constexpr std::size_t kReadChunk = 256 * 1024;
constexpr guint64 kQueuedBytes = 4 * 1024 * 1024;
// How long closing waits for the reader to leave a read (a card that hangs): then it is left to
// end on its own.
constexpr std::chrono::milliseconds kReaderStopLimit{1000};

bool CapsNameStartsWith(GstCaps* caps, const char* prefix)
{
    if (caps == nullptr || gst_caps_get_size(caps) == 0)
        return false;
    const char* name = gst_structure_get_name(gst_caps_get_structure(caps, 0));
    return name != nullptr && std::strncmp(name, prefix, std::strlen(prefix)) == 0;
}

std::string BaseName(const std::string& path)
{
    return path.substr(path.rfind('/') + 1);
}

// A picture the appsink handed out, mapped for as long as it is held.
class SampleFrame : public VideoFrame {
public:
    explicit SampleFrame(GstSamplePtr sample) : sample_(std::move(sample))
    {
        GstVideoInfo info;
        mapped_ = gst_video_info_from_caps(&info, gst_sample_get_caps(sample_.get())) &&
                  GST_VIDEO_INFO_FORMAT(&info) == GST_VIDEO_FORMAT_BGRx &&
                  gst_video_frame_map(&frame_, &info, gst_sample_get_buffer(sample_.get()), GST_MAP_READ);
    }
    ~SampleFrame() override
    {
        if (mapped_)
            gst_video_frame_unmap(&frame_);
    }
    bool Mapped() const { return mapped_; }
    int Width() const override { return GST_VIDEO_FRAME_WIDTH(&frame_); }
    int Height() const override { return GST_VIDEO_FRAME_HEIGHT(&frame_); }
    int Stride() const override { return GST_VIDEO_FRAME_PLANE_STRIDE(&frame_, 0); }
    const std::uint8_t* Pixels() const override
    {
        return static_cast<const std::uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame_, 0));
    }

private:
    GstSamplePtr sample_;
    GstVideoFrame frame_{};
    bool mapped_ = false;
};

// The owner's listener, which the pipeline's threads and the reader call. Once Clear returns,
// the listener is not running and never runs again.
class Notifier {
public:
    explicit Notifier(MediaPlayer::Listener listener) : listener_(std::move(listener)) {}
    void Notify()
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (listener_)
            listener_();
    }
    void Clear()
    {
        std::lock_guard<std::mutex> guard(lock_);
        listener_ = nullptr;
    }

private:
    std::mutex lock_;
    MediaPlayer::Listener listener_;
};

// Reads the files in order into the pipeline's source, on a thread of its own: a slow or
// hanging card holds up this thread only. Shared with the thread, so a reader that is still in
// a read when the player goes keeps what it touches.
struct Reader {
    GstPtr<GstElement> source;
    std::vector<std::string> files;
    std::shared_ptr<Notifier> notifier;
    std::mutex lock;
    std::condition_variable ended;
    bool done = false;          // guarded by lock
    std::string failure;        // guarded by lock
    std::atomic<bool> stop{false};

    void Fail(std::string reason)
    {
        {
            std::lock_guard<std::mutex> guard(lock);
            failure = std::move(reason);
        }
        notifier->Notify();
    }

    // False when the source no longer takes bytes (the player stops) or a file failed.
    bool ReadFile(const std::string& path)
    {
        const FileDescriptor file = OpenRegularDescriptor(path);
        if (!file) {
            Fail("cannot open " + BaseName(path) + ": " + std::strerror(errno));
            return false;
        }
        for (std::uint64_t offset = 0; !stop.load();) {
            GstBuffer* buffer = gst_buffer_new_allocate(nullptr, kReadChunk, nullptr);
            GstMapInfo map;
            if (buffer == nullptr || !gst_buffer_map(buffer, &map, GST_MAP_WRITE)) {
                if (buffer != nullptr)
                    gst_buffer_unref(buffer);
                Fail("out of memory");
                return false;
            }
            bool failed = false;
            const std::size_t got = ReadAt(file.Get(), map.data, kReadChunk, offset, failed);
            const int error = errno;
            gst_buffer_unmap(buffer, &map);
            if (failed) {
                gst_buffer_unref(buffer);
                Fail("cannot read " + BaseName(path) + ": " + std::strerror(error));
                return false;
            }
            if (got == 0) {
                gst_buffer_unref(buffer);
                return true;
            }
            gst_buffer_set_size(buffer, static_cast<gssize>(got));
            GST_BUFFER_OFFSET(buffer) = offset;
            offset += got;
            // Blocks while the source holds enough; gives up when it is stopped.
            if (gst_app_src_push_buffer(GST_APP_SRC(source.get()), buffer) != GST_FLOW_OK)
                return false;
        }
        return false;
    }

    static void Run(const std::shared_ptr<Reader>& self)
    {
        bool whole = true;
        for (const std::string& path : self->files)
            if (!(whole = self->ReadFile(path)))
                break;
        if (whole)
            gst_app_src_end_of_stream(GST_APP_SRC(self->source.get()));
        std::lock_guard<std::mutex> guard(self->lock);
        self->done = true;
        self->ended.notify_all();
    }
};

// A sink the sound can be played through: the desktop's sound server, else ALSA's default
// device; null when neither opens.
GstElement* OpenSoundSink()
{
    for (const char* name : {"pulsesink", "alsasink"}) {
        GstElement* sink = gst_element_factory_make(name, nullptr);
        if (sink == nullptr)
            continue;
        gst_object_ref_sink(sink);
        if (gst_element_set_state(sink, GST_STATE_READY) == GST_STATE_CHANGE_SUCCESS)
            return sink;  // the reference of the caller
        gst_element_set_state(sink, GST_STATE_NULL);
        gst_object_unref(sink);
    }
    return nullptr;
}

}  // namespace

struct MediaPlayer::Impl {
    std::shared_ptr<Notifier> notifier;
    std::shared_ptr<Reader> reader;
    std::thread readerThread;
    GstPtr<GstElement> pipeline;
    GstPtr<GstBus> bus;
    GstElement* frameCaps = nullptr;  // owned by the pipeline
    std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
    bool pausedByOwner = false;
    bool prerolled = false;  // the pipeline held its first picture once
    bool ended = false;
    bool stopped = false;

    mutable std::mutex lock;  // guards what the streaming threads write
    std::shared_ptr<const VideoFrame> latest;
    std::uint64_t frames = 0;
    bool videoClaimed = false;
    bool soundClaimed = false;
    bool videoLinked = false;
    bool allPadsSeen = false;
    std::string failure;
    std::string soundProblem;
    std::string missingDecoder;  // what decodebin said it lacks
    int width = 0, height = 0;

    ~Impl() { Stop(); }

    void SetFailure(const std::string& reason)
    {
        std::lock_guard<std::mutex> guard(lock);
        if (failure.empty())
            failure = reason;
    }
    bool Failed() const
    {
        std::lock_guard<std::mutex> guard(lock);
        return !failure.empty();
    }

    GstCapsPtr FrameCapsFor(int w, int h) const
    {
        return GstCapsPtr(gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "BGRx", "width", G_TYPE_INT,
                                           std::max(2, w), "height", G_TYPE_INT, std::max(2, h), "pixel-aspect-ratio",
                                           GST_TYPE_FRACTION, 1, 1, nullptr));
    }

    // Called with the element's reference given up: added to the pipeline or dropped.
    static GstElement* Make(const char* factory)
    {
        return gst_element_factory_make(factory, nullptr);
    }

    bool LinkBranch(GstPad* pad, std::initializer_list<GstElement*> chain)
    {
        GstBin* bin = GST_BIN(pipeline.get());
        for (GstElement* element : chain)
            if (element == nullptr) {
                for (GstElement* other : chain)
                    if (other != nullptr)
                        gst_object_unref(gst_object_ref_sink(other));
                return false;
            }
        GstElement* previous = nullptr;
        for (GstElement* element : chain) {
            gst_bin_add(bin, element);
            if (previous != nullptr && !gst_element_link(previous, element))
                return false;
            previous = element;
        }
        GstPtr<GstPad> sinkPad(gst_element_get_static_pad(*chain.begin(), "sink"));
        if (gst_pad_link(pad, sinkPad.get()) != GST_PAD_LINK_OK)
            return false;
        for (auto it = std::rbegin(chain); it != std::rend(chain); ++it)
            gst_element_sync_state_with_parent(*it);
        return true;
    }

    GstElement* MakeFrameSink()
    {
        GstElement* sink = Make("appsink");
        if (sink == nullptr)
            return nullptr;
        g_object_set(sink, "sync", TRUE, "qos", TRUE, "max-buffers", 1, "drop", TRUE, "enable-last-sample", FALSE,
                     nullptr);
        GstAppSinkCallbacks callbacks{};
        callbacks.new_preroll = &Impl::OnPreroll;
        callbacks.new_sample = &Impl::OnSample;
        gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, this, nullptr);
        return sink;
    }

    // The first picture stream is scaled (while still planar), converted and handed to the
    // owner; the first sound stream goes to the sound output; anything else is dropped. The lock
    // is held only to claim a stream: making elements and opening the sound output (a sound
    // server that is slow to answer) never holds up the owner.
    void OnPadAdded(GstPad* pad)
    {
        GstCapsPtr caps(gst_pad_get_current_caps(pad));
        if (!caps)
            caps.reset(gst_pad_query_caps(pad, nullptr));
        const bool video = CapsNameStartsWith(caps.get(), "video/x-raw");
        const bool sound = CapsNameStartsWith(caps.get(), "audio/x-raw");
        bool claimed = false;
        int w = 0, h = 0;
        {
            std::lock_guard<std::mutex> guard(lock);
            bool& taken = video ? videoClaimed : soundClaimed;
            claimed = (video || sound) && !taken;
            taken = taken || claimed;
            w = width, h = height;
        }
        if (claimed && video) {
            LinkVideo(pad, w, h);
            return;
        }
        if (claimed && sound && LinkSound(pad))
            return;
        // Unplayed streams are taken and thrown away at the pace of the clock, so none holds up
        // the others.
        GstElement* drop = Make("fakesink");
        if (drop == nullptr)
            return;
        g_object_set(drop, "sync", TRUE, "async", FALSE, nullptr);
        LinkBranch(pad, {drop});
    }

    void LinkVideo(GstPad* pad, int w, int h)
    {
        GstElement* deinterlace = Make("deinterlace");  // optional: interlaced clips comb without it
        GstElement* filter = Make("capsfilter");
        if (filter != nullptr) {
            GstCapsPtr wanted = FrameCapsFor(w, h);
            g_object_set(filter, "caps", wanted.get(), nullptr);
        }
        const bool linked =
            deinterlace != nullptr
                ? LinkBranch(pad, {Make("queue"), deinterlace, Make("videoscale"), Make("videoconvert"), filter,
                                   MakeFrameSink()})
                : LinkBranch(pad, {Make("queue"), Make("videoscale"), Make("videoconvert"), filter, MakeFrameSink()});
        std::lock_guard<std::mutex> guard(lock);
        frameCaps = linked ? filter : nullptr;
        videoLinked = linked;
        if (!linked && failure.empty())
            failure = "the picture cannot be shown (an element of the media framework is missing)";
        if (linked && (width != w || height != h)) {  // asked for another size meanwhile
            GstCapsPtr wanted = FrameCapsFor(width, height);
            g_object_set(filter, "caps", wanted.get(), nullptr);
        }
    }

    bool LinkSound(GstPad* pad)
    {
        GstElement* output = OpenSoundSink();
        bool linked = false;
        if (output != nullptr) {
            gst_element_set_state(output, GST_STATE_NULL);  // the pipeline takes it up again
            linked = LinkBranch(pad, {Make("queue"), Make("audioconvert"), Make("audioresample"), output});
            gst_object_unref(output);  // the pipeline holds it now
        }
        if (!linked) {
            std::lock_guard<std::mutex> guard(lock);
            soundProblem = output == nullptr ? "no sound output could be opened" : "the sound cannot be played";
        }
        return linked;
    }

    static void PadAdded(GstElement*, GstPad* pad, gpointer self) { static_cast<Impl*>(self)->OnPadAdded(pad); }
    static void NoMorePads(GstElement*, gpointer data)
    {
        auto* self = static_cast<Impl*>(data);
        {
            std::lock_guard<std::mutex> guard(self->lock);
            self->allPadsSeen = true;
        }
        self->notifier->Notify();
    }

    void Keep(GstSamplePtr sample)
    {
        if (!sample)
            return;
        auto frame = std::make_shared<SampleFrame>(std::move(sample));
        if (!frame->Mapped())
            return;
        {
            std::lock_guard<std::mutex> guard(lock);
            frame->number = ++frames;
            latest = std::move(frame);
        }
        notifier->Notify();
    }
    static GstFlowReturn OnPreroll(GstAppSink* sink, gpointer self)
    {
        static_cast<Impl*>(self)->Keep(GstSamplePtr(gst_app_sink_pull_preroll(sink)));
        return GST_FLOW_OK;
    }
    static GstFlowReturn OnSample(GstAppSink* sink, gpointer self)
    {
        static_cast<Impl*>(self)->Keep(GstSamplePtr(gst_app_sink_pull_sample(sink)));
        return GST_FLOW_OK;
    }

    static GstBusSyncReply OnBusMessage(GstBus*, GstMessage*, gpointer self)
    {
        static_cast<Impl*>(self)->notifier->Notify();
        return GST_BUS_PASS;  // kept for Update
    }

    bool Build(const std::vector<std::string>& files)
    {
        pipeline.reset(GST_ELEMENT(gst_object_ref_sink(gst_pipeline_new(nullptr))));
        GstElement* source = Make("appsrc");
        GstElement* decoder = Make("decodebin");
        if (!pipeline || source == nullptr || decoder == nullptr) {
            for (GstElement* element : {source, decoder})
                if (element != nullptr)
                    gst_object_unref(gst_object_ref_sink(element));
            SetFailure("the media framework lacks its source or decoder elements");
            return false;
        }
        g_object_set(source, "stream-type", GST_APP_STREAM_TYPE_STREAM, "format", GST_FORMAT_BYTES, "block", TRUE,
                     "max-bytes", kQueuedBytes, nullptr);
        gst_bin_add_many(GST_BIN(pipeline.get()), source, decoder, nullptr);
        if (!gst_element_link(source, decoder)) {
            SetFailure("the source cannot be linked to the decoder");
            return false;
        }
        g_signal_connect(decoder, "pad-added", G_CALLBACK(&Impl::PadAdded), this);
        g_signal_connect(decoder, "no-more-pads", G_CALLBACK(&Impl::NoMorePads), this);
        bus.reset(gst_element_get_bus(pipeline.get()));
        gst_bus_set_sync_handler(bus.get(), &Impl::OnBusMessage, this, nullptr);

        reader = std::make_shared<Reader>();
        reader->source.reset(GST_ELEMENT(gst_object_ref(source)));
        reader->files = files;
        reader->notifier = notifier;
        // Paused first: the streams' branches are added as decodebin finds them, and every sink
        // must have its place in the pipeline's time before the clock runs, or the first one to
        // wait on it finds itself hours late and every picture after it is dropped. Playing
        // starts once the pipeline holds its first picture (Update).
        if (gst_element_set_state(pipeline.get(), GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE) {
            SetFailure("the pipeline cannot start");
            return false;
        }
        readerThread = std::thread([r = reader] { Reader::Run(r); });
        return true;
    }

    // Every stream is stopped and every file closed; the reader is waited for, unless it hangs
    // in a read.
    void Stop()
    {
        if (stopped)
            return;
        stopped = true;
        if (reader)
            reader->stop = true;
        if (pipeline)
            gst_element_set_state(pipeline.get(), GST_STATE_NULL);  // unblocks the reader's push
        if (readerThread.joinable()) {
            std::unique_lock<std::mutex> guard(reader->lock);
            if (reader->ended.wait_for(guard, kReaderStopLimit, [this] { return reader->done; })) {
                guard.unlock();
                readerThread.join();
            } else {
                readerThread.detach();  // it holds the reader and the source, which outlive it
            }
        }
        if (bus)
            gst_bus_set_sync_handler(bus.get(), nullptr, nullptr, nullptr);
    }

    // A decoder that was missing, as decodebin tells it on the bus.
    void NoteMessage(GstMessage* message)
    {
        switch (GST_MESSAGE_TYPE(message)) {
        case GST_MESSAGE_ERROR: {
            GError* error = nullptr;
            gst_message_parse_error(message, &error, nullptr);
            std::string text = error != nullptr && error->message != nullptr ? error->message : "error";
            if (error != nullptr)
                g_error_free(error);
            std::lock_guard<std::mutex> guard(lock);
            if (failure.empty())
                failure = missingDecoder.empty() ? text : "missing decoder: " + missingDecoder;
            break;
        }
        case GST_MESSAGE_EOS:
            ended = true;
            break;
        case GST_MESSAGE_ASYNC_DONE:
            // Prerolled: the first time, and after every pause, it plays unless paused by its
            // owner.
            prerolled = true;
            if (!pausedByOwner && !ended && !stopped)
                gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
            break;
        case GST_MESSAGE_ELEMENT:
            if (gst_is_missing_plugin_message(message)) {
                char* what = gst_missing_plugin_message_get_description(message);
                std::lock_guard<std::mutex> guard(lock);
                if (missingDecoder.empty())
                    missingDecoder = what != nullptr ? what : "?";
                g_free(what);
            }
            break;
        default:
            break;
        }
    }

    State Now() const
    {
        std::lock_guard<std::mutex> guard(lock);
        if (!failure.empty())
            return State::Failed;
        if (ended)
            return State::Ended;
        if (!latest)
            return State::Opening;
        return pausedByOwner ? State::Paused : State::Playing;
    }

    State Update()
    {
        if (stopped)
            return Now();
        if (bus)
            while (GstMessagePtr message{gst_bus_pop(bus.get())})
                NoteMessage(message.get());
        if (reader) {
            std::lock_guard<std::mutex> readerGuard(reader->lock);
            if (!reader->failure.empty())
                SetFailure(reader->failure);
        }
        bool noPicture = false;
        {
            std::lock_guard<std::mutex> guard(lock);
            if (allPadsSeen && !videoLinked && failure.empty())
                failure = missingDecoder.empty() ? "the recording has no picture" : "missing decoder: " + missingDecoder;
            else if (videoLinked && !missingDecoder.empty() && soundProblem.empty())
                soundProblem = "missing decoder: " + missingDecoder;
            noPicture = !latest;
        }
        if (noPicture && ended)
            SetFailure("the recording ended before its first picture");
        if (noPicture && std::chrono::steady_clock::now() - started > kFirstFrameLimit)
            SetFailure("no picture came within " + std::to_string(kFirstFrameLimit.count() / 1000) + " seconds");
        // A recording that cannot be played holds nothing open.
        if (Failed())
            Stop();
        return Now();
    }
};

MediaPlayer::MediaPlayer() : impl_(std::make_unique<Impl>()) {}

MediaPlayer::~MediaPlayer()
{
    impl_->notifier->Clear();
    impl_->Stop();
}

std::unique_ptr<MediaPlayer> MediaPlayer::Play(const std::vector<std::string>& files, int width, int height,
                                               Listener listener)
{
    std::unique_ptr<MediaPlayer> player(new MediaPlayer());
    Impl& impl = *player->impl_;
    impl.notifier = std::make_shared<Notifier>(std::move(listener));
    impl.width = width;
    impl.height = height;
    if (files.empty()) {
        impl.SetFailure("the recording has no files");
        return player;
    }
    // Anything but a regular file (a FIFO, a device) would block the reader; a missing one is
    // said at once.
    for (const std::string& file : files)
        if (!IsRegularFile(file)) {
            impl.SetFailure(BaseName(file) + (FileExists(file) ? " is not a regular file" : " does not exist"));
            return player;
        }
    if (!gst_init_check(nullptr, nullptr, nullptr)) {
        impl.SetFailure("the media framework cannot be started");
        return player;
    }
    if (!impl.Build(files))
        impl.Stop();
    return player;
}

MediaPlayer::State MediaPlayer::Update()
{
    return impl_->Update();
}

MediaPlayer::State MediaPlayer::GetState() const
{
    return impl_->Now();
}

std::string MediaPlayer::FailureReason() const
{
    std::lock_guard<std::mutex> guard(impl_->lock);
    return impl_->failure;
}

std::string MediaPlayer::SoundProblem() const
{
    std::lock_guard<std::mutex> guard(impl_->lock);
    return impl_->soundProblem;
}

void MediaPlayer::Pause()
{
    if (impl_->stopped || impl_->ended)
        return;
    impl_->pausedByOwner = true;
    gst_element_set_state(impl_->pipeline.get(), GST_STATE_PAUSED);
}

void MediaPlayer::Resume()
{
    if (impl_->stopped || impl_->ended || !impl_->pausedByOwner)
        return;
    impl_->pausedByOwner = false;
    if (impl_->prerolled)  // else it plays once it is
        gst_element_set_state(impl_->pipeline.get(), GST_STATE_PLAYING);
}

void MediaPlayer::SetFrameSize(int width, int height)
{
    GstPtr<GstElement> filter;
    {
        std::lock_guard<std::mutex> guard(impl_->lock);
        if (impl_->width == width && impl_->height == height)
            return;
        impl_->width = width;
        impl_->height = height;
        if (impl_->frameCaps != nullptr)
            filter.reset(GST_ELEMENT(gst_object_ref(impl_->frameCaps)));
    }
    if (filter && !impl_->stopped) {
        GstCapsPtr wanted = impl_->FrameCapsFor(width, height);
        g_object_set(filter.get(), "caps", wanted.get(), nullptr);
    }
}

std::shared_ptr<const VideoFrame> MediaPlayer::LatestFrame() const
{
    std::lock_guard<std::mutex> guard(impl_->lock);
    return impl_->latest;
}

}  // namespace platform
