// The media engine: opens a stream or a file, decodes video into frames that the
// interface draws, sends audio to the default output, and reports what happens as
// events and states. Two kinds exist: the decoding engine (`MediaEngine::create`)
// and the synthesized engine (`MediaEngine::create_synthesized`), which plays a
// generated clip (moving test picture and a tone) whatever address it is given.
//
// Threads: every member function is called from one thread at a time (the interface
// thread); decoding and the message bus run on the engine's own threads, which never
// call back into the caller. `set_wake_callback` is the one exception: its function is
// called from the engine's threads, so it must only post a wake-up.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace media::engine {

// What the engine is doing. `Idle` means nothing has been opened yet.
enum class PlaybackState : std::uint8_t {
    Idle,
    Loading,    // opened, waiting for the first picture (or the first buffered data)
    Paused,
    Playing,
    Buffering,  // a network stream is refilling; playback resumes on its own
    Ended,
    Error,
};

std::string_view to_string(PlaybackState state);

// One decoded picture: 4 bytes per pixel in B, G, R, A order with A = 0xff (the
// native 0xAARRGGBB words of 32-bit image surfaces on little-endian machines). The
// bytes stay valid as long as any copy of `pixels` lives.
struct VideoFrame {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t stride = 0;  // bytes per row
    std::uint64_t pts_ms = 0;  // presentation time in the stream
    std::uint64_t serial = 0;  // grows by one with every new picture
    std::shared_ptr<const std::uint8_t> pixels;
};

struct StateChanged { PlaybackState state; };
struct BufferingProgress { std::uint32_t percent; };
struct DurationKnown { std::uint64_t duration_ms; };
struct EndOfStream {};
struct EngineError { std::string text; };
struct SeekDone { std::uint64_t position_ms; };

using EngineEvent =
    std::variant<StateChanged, BufferingProgress, DurationKnown, EndOfStream, EngineError, SeekDone>;

enum class AudioOutput : std::uint8_t {
    Default,  // the desktop's default sink; a silent sink when none can be opened
    Null,     // a clocked silent sink (tests, machines without sound)
};

struct EngineOptions {
    AudioOutput audio = AudioOutput::Default;
    // Network streams: how much the engine buffers ahead, bounded in bytes and time.
    std::uint32_t buffer_bytes = 4u << 20;
    std::uint32_t buffer_ms = 4000;
    // A stream that shows no first picture within this time fails (network streams get
    // more time, and every buffering step gives them that time again).
    std::uint32_t open_timeout_ms = 20'000;
    std::uint32_t local_open_timeout_ms = 4'000;
    // Synthesized engine only: the clip's length and picture size.
    std::uint64_t synthesized_duration_ms = 180'000;
    std::uint32_t synthesized_width = 640;
    std::uint32_t synthesized_height = 360;
};

class MediaEngine {
public:
    // The decoding engine. The media framework starts with the first `open` (or
    // `decodes`) of any engine, not here. When it cannot start, the engine is of the
    // non-decoding kind: every `open` ends in the Error state with a clear text.
    static MediaEngine create(EngineOptions options = {});
    // The synthesized engine: plays a generated clip; `open` ignores its address.
    static MediaEngine create_synthesized(EngineOptions options = {});

    MediaEngine(MediaEngine&&) noexcept;
    MediaEngine& operator=(MediaEngine&&) noexcept;
    ~MediaEngine();

    // False for the non-decoding kind (asking starts the media framework).
    bool decodes() const;
    bool is_synthesized() const;

    // Opens an address (http(s)://, file:// or a local path) and prerolls it paused.
    // A previous stream is closed first.
    void open(std::string_view address);
    void play();
    void pause();
    // Closes the stream; the state returns to Idle.
    void stop();
    // Seeks to a position; `position_ms` answers the target at once.
    void seek(std::uint64_t position_ms);
    // The box the pictures are shown in, in pixels of the screen: from the next picture
    // on, pictures come in the largest size with square pixels that fits in the box with
    // the stream's display aspect ratio (scaled in the pipeline, so that the interface
    // draws them one to one). Zero in either: pictures of the stream's own size (the
    // first). Kept for the streams opened later.
    void set_picture_box(std::uint32_t width, std::uint32_t height);
    void set_volume(double volume);  // 0.0 .. 1.0
    void set_muted(bool muted);

    PlaybackState state() const;
    bool is_playing() const;
    std::uint64_t position_ms() const;
    std::optional<std::uint64_t> duration_ms() const;
    std::uint32_t buffering_percent() const;
    std::optional<std::string> last_error() const;
    const std::string& address() const;

    // The newest decoded picture, if one has arrived since `open`.
    std::optional<VideoFrame> latest_frame() const;
    // Takes the events queued since the last call, oldest first (at most 256 are kept).
    std::vector<EngineEvent> poll();
    // Called from the engine's threads whenever a new picture or event is queued.
    void set_wake_callback(std::function<void()> wake);

    struct Impl;

private:
    explicit MediaEngine(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> m_impl;
};

}  // namespace media::engine
