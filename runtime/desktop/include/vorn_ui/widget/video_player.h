// The video player widget: draws the media engine's pictures letterboxed in its
// bounds, with revealed controls (progress with marks, play/pause, time, one setting
// button), takes pointer and keyboard input, keeps pending setting commands for its
// owner, and publishes itself on the desktop's media-control interface on request.
//
// Interface thread only. The engine and the media-control service run threads of
// their own; they only wake the interface loop, and the player reads their state in
// `sync`.
#pragma once

#include <chrono>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "media/engine.h"
#include "vorn_ui/image.h"
#include "vorn_ui/widget.h"

namespace vorn_ui::mpris {
class MprisService;
}

namespace vorn_ui::widget::video_player {

// The player's states. Their numbers are the player's state values, except that
// a stream still opening answers 2 ("nothing open yet") like a player that has
// opened nothing: a caller waiting for the state to leave 2 waits for the stream.
enum class PlayerStatus : std::uint8_t {
    Playing = 0,
    Paused = 1,
    Idle = 2,
    Loading = 3,
    Buffering = 4,
    Ended = 5,
    Error = 6,
};

std::string_view to_string(PlayerStatus status);

// The record a player starts from.
struct VideoPlayerState {
    std::uint64_t duration_ms = 60'000;  // shown until the engine knows the real one
    std::uint8_t state = static_cast<std::uint8_t>(PlayerStatus::Idle);
    double volume = 0.8;
    float controls_opacity = 0.8f;  // strength of the scrim behind the controls
};

// A coloured range on the progress bar, as fractions of the duration.
struct SponsorMark {
    float start = 0.0f;
    float end = 0.0f;
    Color color;
};

// One setting the player offers as a button that cycles its options.
struct PlayerSetting {
    std::string id;
    std::uint32_t kind = 0;
    std::string label;
    std::int64_t value = 0;
    std::vector<std::string> options;
    std::size_t selected = 0;
};

// Something the player asks its owner to do.
struct PlayerCommand {
    enum class Kind : std::uint8_t { SetSetting, Next, Previous };
    Kind kind = Kind::SetSetting;
    std::string setting_id;      // SetSetting
    std::size_t option_index = 0;
};

// What the player shows in place of a stream its owner has not opened for it
// yet: the poster (the video's picture) or else a dark stage, with a loading
// mark while a stream is on its way, or the message saying why none came.
struct Standby {
    ImageRef poster;       // none: the dark stage
    bool waiting = false;  // a stream is on its way
    std::string message;   // shown when not empty, in place of the loading mark
    friend bool operator==(const Standby&, const Standby&) = default;
};

struct NowPlaying {
    std::string title;
    std::string artist;
    std::string art_url;
};

class VideoPlayer : public Widget {
public:
    explicit VideoPlayer(VideoPlayerState initial = {});
    ~VideoPlayer() override;
    VideoPlayer(VideoPlayer&&) noexcept;
    VideoPlayer& operator=(VideoPlayer&&) noexcept;

    static VideoPlayer with_engine(VideoPlayerState initial, media::engine::MediaEngine engine);
    // Replaces the engine; the old one and its stream are closed.
    void set_engine(media::engine::MediaEngine engine);
    media::engine::MediaEngine* engine() { return m_engine ? &*m_engine : nullptr; }
    const media::engine::MediaEngine* engine() const { return m_engine ? &*m_engine : nullptr; }

    // Control operations. Without an engine they only change the shown state.
    void open(std::string_view address);
    void play();
    void pause();
    void toggle_play();
    void seek(std::uint64_t position_ms);  // shows in position_ms at once
    void stop();
    void set_volume(double volume);

    PlayerStatus status() const { return m_status; }
    // 2 until a stream is open (nothing opened, or still opening); then the status's number.
    std::uint8_t state_value() const;
    bool is_playing() const;
    std::uint64_t position_ms() const { return m_position_ms; }
    std::uint64_t duration_ms() const { return m_duration_ms; }
    double volume() const { return m_volume; }
    float controls_opacity() const { return m_controls_opacity; }
    const std::optional<std::string>& error_text() const { return m_error; }
    const std::string& address() const { return m_address; }

    // Shows the controls for a while (and while paused).
    void reveal_controls();
    bool controls_revealed() const;

    void set_setting(PlayerSetting setting);
    const std::vector<PlayerSetting>& settings() const { return m_settings; }
    void set_sponsor_marks(std::vector<SponsorMark> marks);
    const std::vector<SponsorMark>& sponsor_marks() const { return m_marks; }
    // While a standby is set the player shows it instead of what it holds
    // (no picture, no controls) and a click only focuses it; none shows the
    // player as it is.
    void set_standby(std::optional<Standby> standby);
    const std::optional<Standby>& standby() const { return m_standby; }
    void set_now_playing(NowPlaying now);
    const std::optional<NowPlaying>& now_playing() const { return m_now; }
    std::vector<PlayerCommand> take_commands();

    // Whether the owner acts on PlayerCommand Next and Previous. Off at first:
    // the desktop is then told that there is no next or previous track, and
    // its Next and Previous calls are dropped rather than queued.
    struct TrackNavigation {
        bool next = false;
        bool previous = false;
        friend bool operator==(const TrackNavigation&, const TrackNavigation&) = default;
    };
    void set_track_navigation(TrackNavigation navigation) { m_track_navigation = navigation; }
    TrackNavigation track_navigation() const { return m_track_navigation; }

    // Publishes the player on the session bus as "org.mpris.MediaPlayer2.<bus_name>".
    std::expected<void, std::string> enable_mpris(const std::string& bus_name, const std::string& display_name);
    bool mpris_enabled() const { return m_mpris != nullptr; }
    // Carries out the desktop's media commands and publishes the current state.
    void pump_media_controls();

    // The on/off state that a player host sets (the window shows the player full
    // screen while it is on), with the mark that says it was ever changed: the
    // state answers nothing until a value other than the stored one (off) is set.
    std::optional<bool> host_state() const;
    void set_host_state(bool on);
    // The player's value for a host: the position in milliseconds, meaningful once a
    // stream is open (the state value is no longer 2) and has not failed.
    std::pair<std::int64_t, bool> host_value() const;

    void request_redraw() { m_needs_redraw = true; }
    bool redraw_requested() const { return m_needs_redraw; }

    // Widget
    void sync(RuntimeState& state) override;
    NodeId build_layout(LayoutContext& cx) override;
    void apply_layout(const layout::LayoutTree& tree, NodeId node, Point origin) override;
    void draw(Scene& scene, const Affine& transform, DrawContext& cx) override;
    void handle_event(const Event& event, EventContext& cx, NodeId node) override;
    std::string_view type_name() const override { return "VideoPlayer"; }
    std::optional<std::string_view> widget_id() const override { return "video_player"; }
    Rect bounds() const override { return m_bounds; }
    std::optional<CursorShape> cursor_shape(Point point) const override;
    bool is_focusable() const override { return true; }
    void set_focus(bool focused) override;
    bool has_focus() const override { return m_focused; }
    std::optional<AccessNode> accessibility() const override;
    bool perform_action(AccessRequest request) override;
    bool needs_animation_frame() const override;
    std::optional<std::chrono::steady_clock::time_point> next_wake_deadline() const override;
    bool needs_redraw() const override { return m_needs_redraw && !m_own_redraw_ignored; }
    void mark_drawn() override { m_needs_redraw = false; }
    // The device pixels its last drawing covered: everything it draws stays inside its
    // bounds, so a redraw it alone asks for changes nothing outside this box.
    Rect drawn_area() const { return m_drawn_area; }
    // While set, needs_redraw leaves out the player's own reasons, so that the frame
    // loop can ask whether anything else in the tree wants drawing.
    void set_own_redraw_ignored(bool ignored) { m_own_redraw_ignored = ignored; }
    bool is_layout_dirty() const override { return m_bounds == Rect{}; }

    // Where the controls sit inside the bounds (logical pixels); for tests and hosts.
    struct ControlRects {
        Rect bar;       // the strip that holds the controls
        Rect progress;  // the hit area of the progress track
        Rect track;     // the drawn track
        Rect play;
        Rect setting;   // empty when no setting is offered
    };
    ControlRects control_rects() const;

private:
    void adopt_engine_state();
    // Whether the engine's pictures arrive often enough to drive the frames while playing.
    bool pictures_flowing() const;
    void set_status(PlayerStatus status);
    void seek_to_fraction(double fraction);
    void cycle_setting();
    void draw_standby(Scene& scene, const Affine& transform, DrawContext& cx, const Standby& standby);
    static void draw_loading_mark(Scene& scene, const Affine& transform, DrawContext& cx, Point centre);
    void draw_frame_lines(Scene& scene, const Affine& transform, DrawContext& cx);
    bool point_in(const Rect& r, Point p) const { return r.contains(p); }

    VideoPlayerState m_initial;
    std::optional<media::engine::MediaEngine> m_engine;
    std::unique_ptr<mpris::MprisService> m_mpris;

    PlayerStatus m_status = PlayerStatus::Idle;
    std::uint64_t m_position_ms = 0;
    std::uint64_t m_duration_ms = 60'000;
    double m_volume = 0.8;
    float m_controls_opacity = 0.8f;
    bool m_wants_playing = false;
    std::optional<std::string> m_error;
    std::string m_address;

    std::optional<media::engine::VideoFrame> m_frame;  // newest picture from the engine
    std::uint64_t m_drawn_serial = 0;
    std::chrono::steady_clock::time_point m_frame_arrived;  // when m_frame came
    ImageRef m_frame_image;                             // m_frame's pixels for the scene
    std::pair<std::uint32_t, std::uint32_t> m_picture_box{0, 0};  // the box the engine was last given
    Rect m_drawn_area;                  // device pixels of the last drawing
    bool m_own_redraw_ignored = false;

    std::vector<PlayerSetting> m_settings;
    std::vector<SponsorMark> m_marks;
    std::optional<NowPlaying> m_now;
    std::optional<Standby> m_standby;
    std::vector<PlayerCommand> m_commands;
    TrackNavigation m_track_navigation;
    bool m_mpris_jumped = false;

    std::chrono::steady_clock::time_point m_reveal_until{};
    bool m_revealed_drawn = false;  // whether the last draw showed the controls
    bool m_scrubbing = false;
    bool m_hovered = false;
    bool m_focused = false;
    bool m_host_on = false;
    bool m_host_on_set = false;

    Rect m_bounds;
    bool m_needs_redraw = true;
};

}  // namespace vorn_ui::widget::video_player
