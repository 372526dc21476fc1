// The media engine over GStreamer. This is the only file of the program that
// includes GStreamer.
//
// Threads and locks:
// - the caller's thread (the interface) opens, plays, seeks and queries;
// - one bus thread per opened stream reads the pipeline's messages and turns them
//   into states and events;
// - GStreamer's streaming threads hand decoded pictures to the appsink callbacks.
// `mu` guards the state fields and the event queue, `frame_mu` the newest picture,
// `wake_mu` the wake callback. No GStreamer function is ever called while one of them
// is held: a flushing seek waits for the streaming threads, which may be waiting for
// `frame_mu`. `fit_mu` guards the picture box, the stream's picture size and the
// caps of the element that sizes the pictures; it is held while those caps are set
// (which only marks the elements upstream for a new negotiation and never waits for
// a streaming thread), so that the last box or size always wins. Those caps are only
// ever set on the video's streaming thread, ahead of the picture that is to have the
// new size: the capsfilter reads them more than once while it answers one caps
// query, and a change from another thread in between made that query answer
// nothing, failing the negotiation that the change itself had asked for, so that
// the pictures kept their old size.
//
// Pictures: the video sink is a bin of videoscale ! capsfilter ("fit") ! videoconvert
// ! appsink. With a picture box, "fit" asks for the largest size with square pixels
// that fits in the box with the stream's display aspect ratio, so the stream is
// scaled while still in its own (smaller, planar) format and only the shown pixels are
// converted to BGRA; without one, "fit" passes any size and both steps pass through.
#include "media/engine.h"

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

#include <fmt/core.h>

namespace media::engine {

std::string_view to_string(PlaybackState state) {
    switch (state) {
        case PlaybackState::Idle: return "idle";
        case PlaybackState::Loading: return "loading";
        case PlaybackState::Paused: return "paused";
        case PlaybackState::Playing: return "playing";
        case PlaybackState::Buffering: return "buffering";
        case PlaybackState::Ended: return "ended";
        case PlaybackState::Error: return "error";
    }
    return "unknown";
}

namespace {

constexpr std::size_t kMaxEvents = 256;
constexpr const char* kStopMessage = "vorn-engine-stop";
constexpr const char* kStartFailedMessage = "vorn-engine-start-failed";

// GStreamer is initialised once per process, when the first engine needs it (a
// program that shows no video never pays for its start and its plugin registry);
// the answer says whether it worked.
struct GstRuntime {
    bool ok = false;
    std::string error;
};

const GstRuntime& gst_runtime() {
    static const GstRuntime runtime = [] {
        GstRuntime r;
        GError* err = nullptr;
        if (gst_init_check(nullptr, nullptr, &err)) {
            r.ok = true;
        } else {
            r.error = err != nullptr ? err->message : "initialisation failed";
        }
        if (err != nullptr) g_error_free(err);
        return r;
    }();
    return runtime;
}

std::uint64_t ns_to_ms(gint64 ns) { return ns <= 0 ? 0 : static_cast<std::uint64_t>(ns) / GST_MSECOND; }

gint64 ms_to_ns(std::uint64_t ms) {
    constexpr std::uint64_t limit = static_cast<std::uint64_t>(G_MAXINT64) / GST_MSECOND;
    return static_cast<gint64>(std::min(ms, limit) * GST_MSECOND);
}

// Keeps a decoded picture's buffer mapped for as long as a frame refers to its
// bytes. Only the buffer is kept, never the sample it came in: appsink hands
// out references to one sample of its own that it reuses for the following
// pictures, and it sets new caps on that sample in place after a flushing
// seek, which GStreamer refuses (a CRITICAL assertion) while anyone else still
// holds it.
struct MappedBuffer {
    GstBuffer* buffer = nullptr;
    GstMapInfo map{};
    bool mapped = false;
    MappedBuffer() = default;
    MappedBuffer(const MappedBuffer&) = delete;
    MappedBuffer& operator=(const MappedBuffer&) = delete;
    ~MappedBuffer() {
        if (mapped) gst_buffer_unmap(buffer, &map);
        if (buffer != nullptr) gst_buffer_unref(buffer);
    }
};

struct SampleRelease {
    void operator()(GstSample* sample) const { gst_sample_unref(sample); }
};

std::string address_to_uri(std::string_view address) {
    std::string text(address);
    if (gst_uri_is_valid(text.c_str())) return text;
    GError* err = nullptr;
    gchar* uri = gst_filename_to_uri(text.c_str(), &err);
    if (err != nullptr) g_error_free(err);
    if (uri == nullptr) return text;
    std::string out(uri);
    g_free(uri);
    return out;
}

}  // namespace

struct MediaEngine::Impl {
    EngineOptions options;
    bool synthesized = false;
    bool started = false;  // the media framework was asked to start (available says how it went)
    bool available = false;
    std::string unavailable_reason;
    std::string address;

    GstElement* pipeline = nullptr;
    GstElement* volume_element = nullptr;  // the element that has "volume" and "mute"
    GstBus* bus = nullptr;
    std::thread bus_thread;

    mutable std::mutex mu;
    PlaybackState state = PlaybackState::Idle;
    bool wants_playing = false;
    bool prerolled = false;
    std::optional<std::uint64_t> pending_seek;   // target shown by position_ms
    bool seek_in_flight = false;                 // sent, waiting for ASYNC_DONE
    std::optional<std::uint64_t> duration;
    bool duration_announced = false;
    std::uint32_t buffering = 100;
    std::uint64_t last_position = 0;
    // Where the last seek landed and when: for a short while after, the sinks may
    // still report the position from before the seek.
    std::optional<std::pair<std::uint64_t, std::chrono::steady_clock::time_point>> landed;
    std::chrono::steady_clock::time_point open_deadline{};  // extended while a stream buffers
    std::optional<std::string> error;
    std::deque<EngineEvent> events;
    double volume = 1.0;
    bool muted = false;

    mutable std::mutex frame_mu;
    std::shared_ptr<const VideoFrame> frame;
    std::uint64_t frame_serial = 0;

    // The stream's pictures as they reach the video sink: size and pixel aspect ratio.
    struct SourcePicture {
        int width = 0;
        int height = 0;
        int par_n = 1;
        int par_d = 1;
    };
    std::mutex fit_mu;
    std::uint32_t box_width = 0;   // guarded by fit_mu; zero: no box
    std::uint32_t box_height = 0;  // guarded by fit_mu
    std::optional<SourcePicture> source;  // guarded by fit_mu
    GstElement* fit = nullptr;            // the sizing capsfilter (owned by the pipeline); guarded by fit_mu
    std::string fit_caps;                 // what `fit` was last given; guarded by fit_mu
    std::atomic<bool> box_changed{false};  // set_picture_box since the last refit

    std::mutex wake_mu;
    std::function<void()> wake;

    ~Impl() { close_pipeline(); }

    // Starts the media framework on first use; false when it cannot start.
    bool start_runtime() {
        if (!started) {
            const GstRuntime& runtime = gst_runtime();
            started = true;
            available = runtime.ok;
            unavailable_reason = runtime.error;
        }
        return available;
    }

    void notify() {
        std::function<void()> w;
        {
            std::lock_guard lock(wake_mu);
            w = wake;
        }
        if (w) w();
    }

    // Caller holds `mu`.
    void push_locked(EngineEvent event) {
        if (events.size() >= kMaxEvents) events.pop_front();
        events.push_back(std::move(event));
    }

    // Caller holds `mu`.
    void set_state_locked(PlaybackState next) {
        if (state == next) return;
        state = next;
        push_locked(StateChanged{next});
    }

    void fail(std::string text) {
        {
            std::lock_guard lock(mu);
            if (state == PlaybackState::Error) return;
            error = text;
            push_locked(EngineError{std::move(text)});
            set_state_locked(PlaybackState::Error);
        }
        notify();
    }

    // ---- pictures (streaming threads) ----

    void take_sample(GstSample* pulled) {
        if (pulled == nullptr) return;
        // Released when this returns, before the sink reuses it (see MappedBuffer).
        const std::unique_ptr<GstSample, SampleRelease> sample(pulled);
        GstCaps* caps = gst_sample_get_caps(sample.get());
        GstBuffer* buffer = gst_sample_get_buffer(sample.get());
        GstVideoInfo info;
        if (caps == nullptr || buffer == nullptr || !gst_video_info_from_caps(&info, caps)) return;
        auto holder = std::make_shared<MappedBuffer>();
        holder->buffer = gst_buffer_ref(buffer);
        if (!gst_buffer_map(buffer, &holder->map, GST_MAP_READ)) return;
        holder->mapped = true;

        VideoFrame f;
        f.width = static_cast<std::uint32_t>(GST_VIDEO_INFO_WIDTH(&info));
        f.height = static_cast<std::uint32_t>(GST_VIDEO_INFO_HEIGHT(&info));
        f.stride = static_cast<std::uint32_t>(GST_VIDEO_INFO_PLANE_STRIDE(&info, 0));
        std::size_t offset = GST_VIDEO_INFO_PLANE_OFFSET(&info, 0);
        if (GstVideoMeta* meta = gst_buffer_get_video_meta(buffer); meta != nullptr) {
            f.stride = static_cast<std::uint32_t>(meta->stride[0]);
            offset = meta->offset[0];
        }
        if (offset + static_cast<std::size_t>(f.stride) * f.height > holder->map.size) return;
        if (f.stride < f.width * 4) return;
        const GstClockTime pts = GST_BUFFER_PTS(buffer);
        if (GST_CLOCK_TIME_IS_VALID(pts)) {
            const GstSegment* segment = gst_sample_get_segment(sample.get());
            guint64 stream_time = pts;
            if (segment != nullptr && segment->format == GST_FORMAT_TIME) {
                stream_time = gst_segment_to_stream_time(segment, GST_FORMAT_TIME, pts);
            }
            if (GST_CLOCK_TIME_IS_VALID(stream_time)) f.pts_ms = stream_time / GST_MSECOND;
        }
        f.pixels = std::shared_ptr<const std::uint8_t>(holder, holder->map.data + offset);

        std::shared_ptr<const VideoFrame> old;
        {
            std::lock_guard lock(frame_mu);
            f.serial = ++frame_serial;
            old = std::exchange(frame, std::make_shared<const VideoFrame>(std::move(f)));
        }
        old.reset();  // the previous sample is released outside the lock
        notify();
    }

    static GstFlowReturn on_new_sample(GstAppSink* sink, gpointer data) {
        static_cast<Impl*>(data)->take_sample(gst_app_sink_pull_sample(sink));
        return GST_FLOW_OK;
    }

    static GstFlowReturn on_new_preroll(GstAppSink* sink, gpointer data) {
        static_cast<Impl*>(data)->take_sample(gst_app_sink_pull_preroll(sink));
        return GST_FLOW_OK;
    }

    // ---- the size of the pictures ----

    // The caps `fit` should have now. Caller holds `fit_mu`.
    std::string wanted_fit_caps_locked() const {
        if (box_width == 0 || box_height == 0 || !source || source->width <= 0 || source->height <= 0 ||
            source->par_n <= 0 || source->par_d <= 0) {
            return "video/x-raw";
        }
        const double shown_w = static_cast<double>(source->width) * source->par_n / source->par_d;
        const double shown_h = static_cast<double>(source->height);
        const double s = std::min(box_width / shown_w, box_height / shown_h);
        const auto w = std::clamp<long>(std::lround(shown_w * s), 1, static_cast<long>(box_width));
        const auto h = std::clamp<long>(std::lround(shown_h * s), 1, static_cast<long>(box_height));
        return fmt::format("video/x-raw,width={},height={},pixel-aspect-ratio=1/1", w, h);
    }

    // Gives `fit` the caps that the box and the stream's size ask for; a change makes
    // the elements before it negotiate again with the next picture. Streaming thread.
    void refit() {
        std::lock_guard lock(fit_mu);
        box_changed = false;
        if (fit == nullptr) return;
        std::string wanted = wanted_fit_caps_locked();
        if (wanted == fit_caps) return;
        GstCaps* caps = gst_caps_from_string(wanted.c_str());
        if (caps == nullptr) return;
        g_object_set(fit, "caps", caps, nullptr);
        gst_caps_unref(caps);
        fit_caps = std::move(wanted);
    }

    // Streaming thread: the stream's caps, before videoscale sees them.
    static GstPadProbeReturn on_source_caps(GstPad*, GstPadProbeInfo* info, gpointer data) {
        GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
        if (event == nullptr || GST_EVENT_TYPE(event) != GST_EVENT_CAPS) return GST_PAD_PROBE_OK;
        GstCaps* caps = nullptr;
        gst_event_parse_caps(event, &caps);
        GstVideoInfo video;
        if (caps == nullptr || !gst_video_info_from_caps(&video, caps)) return GST_PAD_PROBE_OK;
        auto* self = static_cast<Impl*>(data);
        {
            std::lock_guard lock(self->fit_mu);
            self->source = SourcePicture{GST_VIDEO_INFO_WIDTH(&video), GST_VIDEO_INFO_HEIGHT(&video),
                                         GST_VIDEO_INFO_PAR_N(&video), GST_VIDEO_INFO_PAR_D(&video)};
        }
        self->refit();
        return GST_PAD_PROBE_OK;
    }

    // Streaming thread: a picture on its way to the scaler, which negotiates again
    // when the box changed since the last one.
    static GstPadProbeReturn on_picture(GstPad*, GstPadProbeInfo*, gpointer data) {
        auto* self = static_cast<Impl*>(data);
        if (self->box_changed) self->refit();
        return GST_PAD_PROBE_OK;
    }

    // videoscale ! capsfilter ! videoconvert ! appsink, in a bin with the scaler's sink pad.
    GstElement* make_video_sink() {
        GstElement* bin = gst_bin_new("video-out");
        GstElement* scale = gst_element_factory_make("videoscale", "scale");
        GstElement* sizer = gst_element_factory_make("capsfilter", "fit");
        GstElement* convert = gst_element_factory_make("videoconvert", "convert");
        GstElement* sink = gst_element_factory_make("appsink", "video");
        if (bin == nullptr || scale == nullptr || sizer == nullptr || convert == nullptr || sink == nullptr) {
            for (GstElement* e : {bin, scale, sizer, convert, sink}) {
                if (e != nullptr) gst_object_unref(e);
            }
            return nullptr;
        }
        // Exact sizes come from `fit`; no borders for a pixel of rounding.
        g_object_set(scale, "add-borders", FALSE, nullptr);
        GstCaps* any = gst_caps_from_string("video/x-raw");
        g_object_set(sizer, "caps", any, nullptr);
        gst_caps_unref(any);
        GstCaps* caps = gst_caps_from_string("video/x-raw,format=BGRA");
        g_object_set(sink, "caps", caps, "max-buffers", 2u, "drop", TRUE, "sync", TRUE, "enable-last-sample",
                     FALSE, nullptr);
        gst_caps_unref(caps);
        install_callbacks(sink);
        gst_bin_add_many(GST_BIN(bin), scale, sizer, convert, sink, nullptr);
        GstPad* pad = gst_element_get_static_pad(scale, "sink");
        const bool linked = gst_element_link_many(scale, sizer, convert, sink, nullptr) && pad != nullptr &&
                            gst_element_add_pad(bin, gst_ghost_pad_new("sink", pad));
        if (pad != nullptr) {
            if (linked) {
                gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, &Impl::on_source_caps, this, nullptr);
                gst_pad_add_probe(pad, static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST),
                                  &Impl::on_picture, this, nullptr);
            }
            gst_object_unref(pad);
        }
        if (!linked) {
            gst_object_unref(bin);
            return nullptr;
        }
        std::lock_guard lock(fit_mu);
        fit = sizer;
        fit_caps = "video/x-raw";
        source.reset();
        return bin;
    }

    void install_callbacks(GstElement* sink) {
        GstAppSinkCallbacks callbacks{};
        callbacks.new_sample = &Impl::on_new_sample;
        callbacks.new_preroll = &Impl::on_new_preroll;
        gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, this, nullptr);
    }

    GstElement* make_audio_sink(const char* name) {
        if (options.audio == AudioOutput::Null) {
            GstElement* sink = gst_element_factory_make("fakesink", name);
            if (sink != nullptr) g_object_set(sink, "sync", TRUE, nullptr);
            return sink;
        }
        GstElement* sink = gst_element_factory_make("autoaudiosink", name);
        if (sink == nullptr) {
            sink = gst_element_factory_make("fakesink", name);
            if (sink != nullptr) g_object_set(sink, "sync", TRUE, nullptr);
        }
        return sink;
    }

    // ---- building and closing pipelines (caller's thread) ----

    bool build_playbin(const std::string& uri) {
        pipeline = gst_element_factory_make("playbin", "player");
        if (pipeline == nullptr) return false;
        GstElement* video = make_video_sink();
        GstElement* audio = make_audio_sink("audio");
        if (video == nullptr || audio == nullptr) {
            if (video != nullptr) gst_object_unref(video);
            if (audio != nullptr) gst_object_unref(audio);
            return false;
        }
        guint flags = 0;
        g_object_get(pipeline, "flags", &flags, nullptr);
        flags &= ~0x4u;   // no subtitles
        flags |= 0x100u;  // buffering for network streams
        g_object_set(pipeline, "uri", uri.c_str(), "video-sink", video, "audio-sink", audio, "flags", flags,
                     "buffer-size", static_cast<gint>(options.buffer_bytes), "buffer-duration",
                     static_cast<gint64>(options.buffer_ms) * static_cast<gint64>(GST_MSECOND), nullptr);
        volume_element = pipeline;
        return true;
    }

    bool build_synthesized() {
        const std::uint64_t duration_ms = std::max<std::uint64_t>(options.synthesized_duration_ms, 1000);
        const std::string description = fmt::format(
            "videotestsrc name=vsrc pattern=smpte horizontal-speed=2 is-live=false num-buffers={} "
            "! capsfilter name=vcaps caps=\"video/x-raw,format=BGRA,width={},height={},framerate=30/1\" "
            "audiotestsrc name=asrc wave=sine freq=440 volume=0.04 is-live=false samplesperbuffer=441 "
            "num-buffers={} ! audio/x-raw,rate=44100,channels=2 ! audioconvert ! volume name=vol "
            "! queue max-size-buffers=8 max-size-bytes=0 max-size-time=0 ! audioconvert name=aconv",
            duration_ms * 30 / 1000 + 1, options.synthesized_width, options.synthesized_height,
            duration_ms / 10 + 1);
        GError* err = nullptr;
        GstElement* bin = gst_parse_launch(description.c_str(), &err);
        if (err != nullptr) {
            g_error_free(err);
            if (bin != nullptr) gst_object_unref(bin);
            return false;
        }
        if (bin == nullptr) return false;
        pipeline = bin;
        GstElement* aconv = gst_bin_get_by_name(GST_BIN(bin), "aconv");
        GstElement* audio = make_audio_sink("audio");
        bool linked = false;
        if (aconv != nullptr && audio != nullptr) {
            gst_bin_add(GST_BIN(bin), audio);
            linked = gst_element_link(aconv, audio);
            audio = nullptr;
        }
        if (audio != nullptr) gst_object_unref(audio);
        if (aconv != nullptr) gst_object_unref(aconv);
        GstElement* vcaps = gst_bin_get_by_name(GST_BIN(bin), "vcaps");
        GstElement* video = make_video_sink();
        bool video_linked = false;
        if (vcaps != nullptr && video != nullptr) {
            gst_bin_add(GST_BIN(bin), video);
            video_linked = gst_element_link(vcaps, video);
            video = nullptr;
        }
        if (video != nullptr) gst_object_unref(video);
        if (vcaps != nullptr) gst_object_unref(vcaps);
        volume_element = gst_bin_get_by_name(GST_BIN(bin), "vol");
        if (volume_element != nullptr) gst_object_unref(volume_element);  // the bin keeps it alive
        return linked && video_linked;
    }

    void close_pipeline() {
        if (pipeline == nullptr) return;
        if (bus_thread.joinable()) {
            gst_bus_post(bus, gst_message_new_application(nullptr, gst_structure_new_empty(kStopMessage)));
            bus_thread.join();
        }
        gst_element_set_state(pipeline, GST_STATE_NULL);
        if (bus != nullptr) {
            gst_bus_set_flushing(bus, TRUE);
            gst_object_unref(bus);
            bus = nullptr;
        }
        {
            std::lock_guard lock(fit_mu);
            fit = nullptr;
            source.reset();
        }
        gst_object_unref(pipeline);
        pipeline = nullptr;
        volume_element = nullptr;
        std::shared_ptr<const VideoFrame> old;
        {
            std::lock_guard lock(frame_mu);
            old = std::exchange(frame, nullptr);
        }
    }

    void apply_volume() {
        if (volume_element == nullptr) return;
        double v;
        bool m;
        {
            std::lock_guard lock(mu);
            v = volume;
            m = muted;
        }
        g_object_set(volume_element, "volume", v, "mute", m ? TRUE : FALSE, nullptr);
    }

    void open(std::string_view where) {
        start_runtime();
        close_pipeline();
        address = std::string(where);
        {
            std::lock_guard lock(mu);
            prerolled = false;
            pending_seek.reset();
            seek_in_flight = false;
            duration = synthesized ? std::optional<std::uint64_t>(options.synthesized_duration_ms) : std::nullopt;
            duration_announced = false;
            buffering = 100;
            last_position = 0;
            landed.reset();
            error.reset();
            set_state_locked(PlaybackState::Loading);
            open_deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(open_limit_ms());
        }
        if (!available) {
            fail(fmt::format("media engine unavailable: {}", unavailable_reason));
            return;
        }
        const bool built = synthesized ? build_synthesized() : build_playbin(address_to_uri(address));
        if (!built) {
            close_pipeline();
            fail(synthesized ? "could not build the synthesized clip"
                             : "could not build the player (missing playbin or appsink)");
            return;
        }
        apply_volume();
        bus = gst_element_get_bus(pipeline);
        bus_thread = std::thread([this] { bus_loop(); });
        // The stream prerolls paused first; playing starts once it is ready (going to
        // playing while the type of a file is still being found can stall GStreamer).
        start_state(GST_STATE_PAUSED);
    }

    void start_state(GstState target) {
        if (pipeline == nullptr) return;
        if (gst_element_set_state(pipeline, target) == GST_STATE_CHANGE_FAILURE) {
            // The element that failed has normally posted an error already; this marker
            // follows it on the bus so that a silent failure still ends in an error.
            gst_bus_post(bus, gst_message_new_application(nullptr, gst_structure_new_empty(kStartFailedMessage)));
        }
    }

    bool send_seek(std::uint64_t target_ms) {
        if (pipeline == nullptr) return false;
        const auto flags = static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE);
        if (synthesized) {
            // The generated clip ends where the seek says; the sources would run on.
            const std::uint64_t end = options.synthesized_duration_ms;
            return gst_element_seek(pipeline, 1.0, GST_FORMAT_TIME, flags, GST_SEEK_TYPE_SET,
                                    ms_to_ns(std::min(target_ms, end)), GST_SEEK_TYPE_SET, ms_to_ns(end));
        }
        return gst_element_seek_simple(pipeline, GST_FORMAT_TIME, flags, ms_to_ns(target_ms));
    }

    // ---- the bus thread ----

    void bus_loop() {
        for (;;) {
            GstMessage* msg = gst_bus_timed_pop(bus, 100 * GST_MSECOND);
            if (msg == nullptr) {
                check_open_deadline();
                continue;
            }
            const bool stop = handle_message(msg);
            gst_message_unref(msg);
            if (stop) return;
        }
    }

    // GStreamer can stall while it works out what a broken file holds, without any
    // message; a stream that is not ready in time counts as failed.
    void check_open_deadline() {
        bool late;
        {
            std::lock_guard lock(mu);
            late = !prerolled && state == PlaybackState::Loading && std::chrono::steady_clock::now() > open_deadline;
        }
        if (late) fail(fmt::format("{} did not start within {} s", address, open_limit_ms() / 1000));
    }

    bool is_local() const { return address.starts_with("file:") || address.starts_with("/") || !gst_uri_is_valid(address.c_str()); }
    std::uint32_t open_limit_ms() const { return is_local() ? options.local_open_timeout_ms : options.open_timeout_ms; }

    void refresh_duration() {
        if (synthesized) return;
        gint64 d = 0;
        if (!gst_element_query_duration(pipeline, GST_FORMAT_TIME, &d) || d <= 0) return;
        {
            std::lock_guard lock(mu);
            const std::uint64_t ms = ns_to_ms(d);
            if (duration == ms && duration_announced) return;
            duration = ms;
            duration_announced = true;
            push_locked(DurationKnown{ms});
        }
        notify();
    }

    // Answers true when the thread must end.
    bool handle_message(GstMessage* msg) {
        switch (GST_MESSAGE_TYPE(msg)) {
            case GST_MESSAGE_APPLICATION: {
                const GstStructure* s = gst_message_get_structure(msg);
                if (s != nullptr && gst_structure_has_name(s, kStopMessage)) return true;
                if (s != nullptr && gst_structure_has_name(s, kStartFailedMessage)) {
                    fail(fmt::format("could not open {}", address));
                }
                return false;
            }
            case GST_MESSAGE_ERROR: {
                GError* err = nullptr;
                gchar* debug = nullptr;
                gst_message_parse_error(msg, &err, &debug);
                std::string text = err != nullptr && err->message != nullptr ? err->message : "playback failed";
                if (err != nullptr) g_error_free(err);
                g_free(debug);
                fail(std::move(text));
                return false;
            }
            case GST_MESSAGE_EOS: {
                {
                    std::lock_guard lock(mu);
                    if (state == PlaybackState::Error) return false;
                    pending_seek.reset();
                    seek_in_flight = false;
                    if (duration) last_position = *duration;
                    push_locked(EndOfStream{});
                    set_state_locked(PlaybackState::Ended);
                }
                notify();
                return false;
            }
            case GST_MESSAGE_DURATION_CHANGED:
                refresh_duration();
                return false;
            case GST_MESSAGE_STATE_CHANGED: {
                if (GST_MESSAGE_SRC(msg) != GST_OBJECT(pipeline)) return false;
                GstState old_state, new_state, pending;
                gst_message_parse_state_changed(msg, &old_state, &new_state, &pending);
                {
                    std::lock_guard lock(mu);
                    if (state == PlaybackState::Error || state == PlaybackState::Ended ||
                        state == PlaybackState::Buffering || state == PlaybackState::Idle) {
                        return false;
                    }
                    // Messages of a change the caller has already reversed are stale:
                    // only a state that matches what the caller wants is taken.
                    if (new_state == GST_STATE_PLAYING && wants_playing) {
                        set_state_locked(PlaybackState::Playing);
                    } else if (new_state == GST_STATE_PAUSED && !wants_playing && state != PlaybackState::Loading) {
                        // (A stream still loading becomes Paused on ASYNC_DONE, once
                        // its first picture and its duration are there.)
                        set_state_locked(PlaybackState::Paused);
                    }
                }
                notify();
                return false;
            }
            case GST_MESSAGE_ASYNC_DONE: {
                refresh_duration();
                std::optional<std::uint64_t> deferred;
                bool start_playing = false;
                {
                    std::lock_guard lock(mu);
                    const bool first = !prerolled;
                    prerolled = true;
                    if (seek_in_flight) {
                        seek_in_flight = false;
                        if (pending_seek) {
                            last_position = *pending_seek;
                            landed.emplace(*pending_seek, std::chrono::steady_clock::now());
                            push_locked(SeekDone{*pending_seek});
                        }
                        pending_seek.reset();
                        if (state == PlaybackState::Ended) {
                            set_state_locked(wants_playing ? PlaybackState::Playing : PlaybackState::Paused);
                        }
                    }
                    if (first && (pending_seek || synthesized)) {
                        deferred = pending_seek.value_or(0);
                        seek_in_flight = true;
                    }
                    start_playing = first && wants_playing;
                    if (state == PlaybackState::Loading && !wants_playing) set_state_locked(PlaybackState::Paused);
                }
                if (deferred && !send_seek(*deferred)) {
                    std::lock_guard lock(mu);
                    seek_in_flight = false;
                    pending_seek.reset();
                }
                if (start_playing) gst_element_set_state(pipeline, GST_STATE_PLAYING);
                notify();
                return false;
            }
            case GST_MESSAGE_BUFFERING: {
                gint percent = 100;
                gst_message_parse_buffering(msg, &percent);
                std::optional<GstState> change;
                {
                    std::lock_guard lock(mu);
                    buffering = static_cast<std::uint32_t>(std::clamp(percent, 0, 100));
                    push_locked(BufferingProgress{buffering});
                    if (!prerolled) {
                        open_deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(open_limit_ms());
                    }
                    if (state == PlaybackState::Error || state == PlaybackState::Ended) return false;
                    if (buffering < 100 && state == PlaybackState::Playing) {
                        set_state_locked(PlaybackState::Buffering);
                        change = GST_STATE_PAUSED;
                    } else if (buffering >= 100 && state == PlaybackState::Buffering) {
                        set_state_locked(wants_playing ? PlaybackState::Playing : PlaybackState::Paused);
                        change = wants_playing ? GST_STATE_PLAYING : GST_STATE_PAUSED;
                    }
                }
                if (change) gst_element_set_state(pipeline, *change);
                notify();
                return false;
            }
            default:
                return false;
        }
    }
};

MediaEngine::MediaEngine(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}
MediaEngine::MediaEngine(MediaEngine&&) noexcept = default;
MediaEngine& MediaEngine::operator=(MediaEngine&&) noexcept = default;
MediaEngine::~MediaEngine() = default;

MediaEngine MediaEngine::create(EngineOptions options) {
    auto impl = std::make_unique<Impl>();
    impl->options = options;
    return MediaEngine(std::move(impl));
}

MediaEngine MediaEngine::create_synthesized(EngineOptions options) {
    MediaEngine engine = create(options);
    engine.m_impl->synthesized = true;
    return engine;
}

bool MediaEngine::decodes() const { return m_impl->start_runtime(); }
bool MediaEngine::is_synthesized() const { return m_impl->synthesized; }
const std::string& MediaEngine::address() const { return m_impl->address; }

void MediaEngine::open(std::string_view address) { m_impl->open(address); }

void MediaEngine::play() {
    Impl& d = *m_impl;
    bool restart = false;
    {
        std::lock_guard lock(d.mu);
        d.wants_playing = true;
        if (d.state == PlaybackState::Idle || d.state == PlaybackState::Error) return;
        if (d.state == PlaybackState::Ended) {
            // Playing again after the end starts from the beginning.
            restart = true;
            d.pending_seek = 0;
            d.seek_in_flight = true;
        }
        if (d.state == PlaybackState::Paused) d.set_state_locked(PlaybackState::Playing);
    }
    if (restart && !d.send_seek(0)) {
        std::lock_guard lock(d.mu);
        d.pending_seek.reset();
        d.seek_in_flight = false;
    }
    bool ready;
    {
        std::lock_guard lock(d.mu);
        ready = d.prerolled;
    }
    // Before the stream is ready, the bus thread starts playing once it is.
    if (ready && d.pipeline != nullptr) gst_element_set_state(d.pipeline, GST_STATE_PLAYING);
}

void MediaEngine::pause() {
    Impl& d = *m_impl;
    {
        std::lock_guard lock(d.mu);
        d.wants_playing = false;
        if (d.state == PlaybackState::Idle || d.state == PlaybackState::Error) return;
        if (d.state == PlaybackState::Playing || d.state == PlaybackState::Buffering) {
            d.set_state_locked(PlaybackState::Paused);
        }
    }
    if (d.pipeline != nullptr) gst_element_set_state(d.pipeline, GST_STATE_PAUSED);
}

void MediaEngine::stop() {
    Impl& d = *m_impl;
    d.close_pipeline();
    std::lock_guard lock(d.mu);
    d.wants_playing = false;
    d.pending_seek.reset();
    d.seek_in_flight = false;
    d.last_position = 0;
    d.landed.reset();
    d.set_state_locked(PlaybackState::Idle);
}

void MediaEngine::seek(std::uint64_t position_ms) {
    Impl& d = *m_impl;
    bool send_now = false;
    {
        std::lock_guard lock(d.mu);
        if (d.state == PlaybackState::Idle || d.state == PlaybackState::Error) return;
        if (d.duration && position_ms > *d.duration) position_ms = *d.duration;
        d.pending_seek = position_ms;
        // Before the first picture the seek waits for the stream to be ready.
        if (d.prerolled) {
            d.seek_in_flight = true;
            send_now = true;
        }
    }
    if (send_now && !d.send_seek(position_ms)) {
        std::lock_guard lock(d.mu);
        d.seek_in_flight = false;
        d.pending_seek.reset();
    }
}

void MediaEngine::set_picture_box(std::uint32_t width, std::uint32_t height) {
    Impl& d = *m_impl;
    {
        std::lock_guard lock(d.fit_mu);
        if (d.box_width == width && d.box_height == height) return;
        d.box_width = width;
        d.box_height = height;
    }
    // The next picture's streaming thread applies it (see the top of this file).
    d.box_changed = true;
}

void MediaEngine::set_volume(double volume) {
    {
        std::lock_guard lock(m_impl->mu);
        m_impl->volume = std::clamp(volume, 0.0, 1.0);
    }
    m_impl->apply_volume();
}

void MediaEngine::set_muted(bool muted) {
    {
        std::lock_guard lock(m_impl->mu);
        m_impl->muted = muted;
    }
    m_impl->apply_volume();
}

PlaybackState MediaEngine::state() const {
    std::lock_guard lock(m_impl->mu);
    return m_impl->state;
}

bool MediaEngine::is_playing() const {
    std::lock_guard lock(m_impl->mu);
    const PlaybackState s = m_impl->state;
    return s == PlaybackState::Playing || s == PlaybackState::Buffering ||
           (s == PlaybackState::Loading && m_impl->wants_playing);
}

std::uint64_t MediaEngine::position_ms() const {
    Impl& d = *m_impl;
    {
        std::lock_guard lock(d.mu);
        if (d.pending_seek) return *d.pending_seek;
        if (d.state == PlaybackState::Ended || d.state == PlaybackState::Error || d.state == PlaybackState::Idle ||
            d.state == PlaybackState::Loading || d.pipeline == nullptr) {
            return d.last_position;
        }
    }
    gint64 pos = 0;
    if (!gst_element_query_position(d.pipeline, GST_FORMAT_TIME, &pos) || pos < 0) {
        std::lock_guard lock(d.mu);
        return d.last_position;
    }
    std::lock_guard lock(d.mu);
    if (d.pending_seek) return *d.pending_seek;  // a seek arrived meanwhile
    std::uint64_t ms = ns_to_ms(pos);
    if (d.duration && ms > *d.duration) ms = *d.duration;
    if (d.landed) {
        // Right after a seek, a reading further along than playback could have
        // gone since it landed is the old position still held by a sink.
        const auto [target, at] = *d.landed;
        const auto since = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - at);
        if (since > std::chrono::seconds(2)) {
            d.landed.reset();
        } else if (ms > target + static_cast<std::uint64_t>(since.count()) + 250) {
            return d.last_position;
        }
    }
    d.last_position = ms;
    return ms;
}

std::optional<std::uint64_t> MediaEngine::duration_ms() const {
    std::lock_guard lock(m_impl->mu);
    return m_impl->duration;
}

std::uint32_t MediaEngine::buffering_percent() const {
    std::lock_guard lock(m_impl->mu);
    return m_impl->buffering;
}

std::optional<std::string> MediaEngine::last_error() const {
    std::lock_guard lock(m_impl->mu);
    return m_impl->error;
}

std::optional<VideoFrame> MediaEngine::latest_frame() const {
    std::shared_ptr<const VideoFrame> f;
    {
        std::lock_guard lock(m_impl->frame_mu);
        f = m_impl->frame;
    }
    if (!f) return std::nullopt;
    return *f;
}

std::vector<EngineEvent> MediaEngine::poll() {
    std::lock_guard lock(m_impl->mu);
    std::vector<EngineEvent> out(std::make_move_iterator(m_impl->events.begin()),
                                 std::make_move_iterator(m_impl->events.end()));
    m_impl->events.clear();
    return out;
}

void MediaEngine::set_wake_callback(std::function<void()> wake) {
    std::lock_guard lock(m_impl->wake_mu);
    m_impl->wake = std::move(wake);
}

}  // namespace media::engine
