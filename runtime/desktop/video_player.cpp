#include "vorn_ui/widget/video_player.h"

#include <algorithm>
#include <cmath>

#include <fmt/core.h>

#include "vorn_ui/mpris.h"
#include "vorn_ui/painters.h"
#include "vorn_ui/wake.h"

namespace vorn_ui::widget::video_player {

namespace {

using Clock = std::chrono::steady_clock;
using media::engine::PlaybackState;

constexpr auto kRevealFor = std::chrono::milliseconds(3000);
// While pictures come at least this often, each one wakes the frame loop and the
// clock moves with them; the player asks for frames of its own only without them.
constexpr auto kPictureGap = std::chrono::milliseconds(200);
constexpr double kBarHeight = 56.0;
constexpr double kSeekStepMs = 5000.0;
// The stage behind a standby: a little lighter than the letterbox black.
constexpr Color kStage = Color::rgba8(18, 18, 22);

PlayerStatus from_engine(PlaybackState s) {
    switch (s) {
        case PlaybackState::Idle: return PlayerStatus::Idle;
        case PlaybackState::Loading: return PlayerStatus::Loading;
        case PlaybackState::Paused: return PlayerStatus::Paused;
        case PlaybackState::Playing: return PlayerStatus::Playing;
        case PlaybackState::Buffering: return PlayerStatus::Buffering;
        case PlaybackState::Ended: return PlayerStatus::Ended;
        case PlaybackState::Error: return PlayerStatus::Error;
    }
    return PlayerStatus::Idle;
}

std::string clock_text(std::uint64_t ms) {
    const std::uint64_t s = ms / 1000;
    if (s >= 3600) return fmt::format("{}:{:02}:{:02}", s / 3600, (s / 60) % 60, s % 60);
    return fmt::format("{}:{:02}", s / 60, s % 60);
}

// A picture from the engine as an image the scene can draw: its bytes (opaque BGRA,
// which are 0xFFRRGGBB words) are shared, not copied.
ImageRef to_image(const media::engine::VideoFrame& f) {
    if (f.width == 0 || f.height == 0 || !f.pixels) return nullptr;
    return Image::wrap_opaque(f.width, f.height, f.stride, f.pixels);
}

// The box that `r` covers on the device under `t`.
Rect device_box(const Affine& t, const Rect& r) {
    const Point corners[] = {t.apply({r.x0, r.y0}), t.apply({r.x1, r.y0}), t.apply({r.x0, r.y1}), t.apply({r.x1, r.y1})};
    Rect box{corners[0].x, corners[0].y, corners[0].x, corners[0].y};
    for (const Point& p : corners) {
        box = Rect{std::min(box.x0, p.x), std::min(box.y0, p.y), std::max(box.x1, p.x), std::max(box.y1, p.y)};
    }
    return box;
}

Point logical(Point physical, double scale) {
    const double s = scale > 0 ? scale : 1.0;
    return {physical.x / s, physical.y / s};
}

}  // namespace

std::string_view to_string(PlayerStatus status) {
    switch (status) {
        case PlayerStatus::Playing: return "playing";
        case PlayerStatus::Paused: return "paused";
        case PlayerStatus::Idle: return "idle";
        case PlayerStatus::Loading: return "loading";
        case PlayerStatus::Buffering: return "buffering";
        case PlayerStatus::Ended: return "ended";
        case PlayerStatus::Error: return "error";
    }
    return "idle";
}

VideoPlayer::VideoPlayer(VideoPlayerState initial)
    : m_initial(initial),
      m_status(initial.state <= static_cast<std::uint8_t>(PlayerStatus::Error) ? static_cast<PlayerStatus>(initial.state)
                                                                                : PlayerStatus::Idle),
      m_duration_ms(initial.duration_ms),
      m_volume(initial.volume),
      m_controls_opacity(initial.controls_opacity) {}

VideoPlayer::~VideoPlayer() = default;
VideoPlayer::VideoPlayer(VideoPlayer&&) noexcept = default;
VideoPlayer& VideoPlayer::operator=(VideoPlayer&&) noexcept = default;

VideoPlayer VideoPlayer::with_engine(VideoPlayerState initial, media::engine::MediaEngine engine) {
    VideoPlayer player(initial);
    player.set_engine(std::move(engine));
    return player;
}

void VideoPlayer::set_engine(media::engine::MediaEngine engine) {
    m_engine.reset();
    m_engine.emplace(std::move(engine));
    m_engine->set_wake_callback([] { wake::wake_loop(); });
    m_engine->set_volume(m_volume);
    m_frame.reset();
    m_frame_image.reset();
    m_drawn_serial = 0;
    m_needs_redraw = true;
}

void VideoPlayer::set_status(PlayerStatus status) {
    if (m_status == status) return;
    m_status = status;
    m_needs_redraw = true;
}

std::uint8_t VideoPlayer::state_value() const {
    if (m_status == PlayerStatus::Loading) return static_cast<std::uint8_t>(PlayerStatus::Idle);
    return static_cast<std::uint8_t>(m_status);
}

bool VideoPlayer::is_playing() const {
    return m_status == PlayerStatus::Playing || m_status == PlayerStatus::Buffering ||
           (m_status == PlayerStatus::Loading && m_wants_playing);
}

void VideoPlayer::open(std::string_view address) {
    m_address = std::string(address);
    m_error.reset();
    m_position_ms = 0;
    m_duration_ms = m_initial.duration_ms;
    m_wants_playing = false;
    m_frame.reset();
    m_frame_image.reset();
    m_drawn_serial = 0;
    if (m_engine) {
        m_engine->open(address);
        adopt_engine_state();
    } else {
        set_status(PlayerStatus::Loading);
    }
    m_needs_redraw = true;
}

void VideoPlayer::play() {
    m_wants_playing = true;
    if (m_engine) {
        m_engine->play();
        adopt_engine_state();
    } else if (m_status == PlayerStatus::Paused || m_status == PlayerStatus::Ended) {
        set_status(PlayerStatus::Playing);
    }
    m_needs_redraw = true;
}

void VideoPlayer::pause() {
    m_wants_playing = false;
    if (m_engine) {
        m_engine->pause();
        adopt_engine_state();
    } else if (m_status == PlayerStatus::Playing || m_status == PlayerStatus::Buffering) {
        set_status(PlayerStatus::Paused);
    }
    m_needs_redraw = true;
}

void VideoPlayer::toggle_play() {
    if (is_playing()) {
        pause();
    } else {
        play();
    }
}

void VideoPlayer::seek(std::uint64_t position_ms) {
    // A seek past the end stops at the duration once the stream has reported it; the
    // placeholder shown until then is no limit (an early seek would land short).
    const bool duration_known = !m_engine || m_engine->duration_ms().has_value();
    if (duration_known && m_duration_ms > 0) position_ms = std::min(position_ms, m_duration_ms);
    m_position_ms = position_ms;
    m_mpris_jumped = true;
    if (m_engine) m_engine->seek(position_ms);
    m_needs_redraw = true;
}

void VideoPlayer::stop() {
    m_wants_playing = false;
    if (m_engine) m_engine->stop();
    m_position_ms = 0;
    m_frame.reset();
    m_frame_image.reset();
    set_status(PlayerStatus::Idle);
    m_needs_redraw = true;
}

void VideoPlayer::set_volume(double volume) {
    m_volume = std::clamp(volume, 0.0, 1.0);
    if (m_engine) m_engine->set_volume(m_volume);
}

void VideoPlayer::adopt_engine_state() {
    if (!m_engine) return;
    set_status(from_engine(m_engine->state()));
    if (auto d = m_engine->duration_ms(); d && *d > 0 && *d != m_duration_ms) {
        m_duration_ms = *d;
        m_needs_redraw = true;
    }
    const std::uint64_t pos = m_engine->position_ms();
    // Whole seconds change the time text; smaller steps move the progress bar.
    if (pos != m_position_ms) {
        if (pos / 250 != m_position_ms / 250) m_needs_redraw = true;
        m_position_ms = pos;
    }
    m_error = m_engine->last_error();
}

void VideoPlayer::reveal_controls() {
    m_reveal_until = Clock::now() + kRevealFor;
    m_needs_redraw = true;
}

bool VideoPlayer::controls_revealed() const {
    if (m_scrubbing || m_status == PlayerStatus::Paused || m_status == PlayerStatus::Ended) return true;
    return Clock::now() < m_reveal_until;
}

void VideoPlayer::set_setting(PlayerSetting setting) {
    for (auto& s : m_settings) {
        if (s.id == setting.id) {
            const bool same = s.label == setting.label && s.options == setting.options &&
                              s.selected == setting.selected && s.kind == setting.kind && s.value == setting.value;
            if (!same) {
                s = std::move(setting);
                m_needs_redraw = true;
            }
            return;
        }
    }
    m_settings.push_back(std::move(setting));
    m_needs_redraw = true;
}

void VideoPlayer::set_sponsor_marks(std::vector<SponsorMark> marks) {
    const bool same = marks.size() == m_marks.size() &&
                      std::equal(marks.begin(), marks.end(), m_marks.begin(), [](const SponsorMark& a, const SponsorMark& b) {
                          return a.start == b.start && a.end == b.end && a.color == b.color;
                      });
    if (same) return;
    m_marks = std::move(marks);
    m_needs_redraw = true;
}

void VideoPlayer::set_now_playing(NowPlaying now) { m_now = std::move(now); }

void VideoPlayer::set_standby(std::optional<Standby> standby) {
    if (standby == m_standby) return;
    m_standby = std::move(standby);
    m_needs_redraw = true;
}

std::vector<PlayerCommand> VideoPlayer::take_commands() { return std::exchange(m_commands, {}); }

void VideoPlayer::cycle_setting() {
    if (m_settings.empty() || m_settings.front().options.empty()) return;
    PlayerSetting& s = m_settings.front();
    s.selected = (s.selected + 1) % s.options.size();
    m_commands.push_back(PlayerCommand{PlayerCommand::Kind::SetSetting, s.id, s.selected});
    m_needs_redraw = true;
}

std::expected<void, std::string> VideoPlayer::enable_mpris(const std::string& bus_name,
                                                            const std::string& display_name) {
    if (m_mpris) return {};
    auto service = mpris::MprisService::start(bus_name, display_name);
    if (!service) return std::unexpected(service.error());
    m_mpris = std::move(*service);
    m_mpris->set_wake_callback([] { wake::wake_loop(); });
    pump_media_controls();
    return {};
}

void VideoPlayer::pump_media_controls() {
    if (!m_mpris) return;
    for (const mpris::MediaCommand& cmd : m_mpris->take_commands()) {
        switch (cmd.kind) {
            case mpris::CommandKind::Play: play(); break;
            case mpris::CommandKind::Pause: pause(); break;
            case mpris::CommandKind::PlayPause: toggle_play(); break;
            case mpris::CommandKind::Stop: pause(); break;
            case mpris::CommandKind::Next:
                if (m_track_navigation.next) m_commands.push_back({PlayerCommand::Kind::Next, {}, 0});
                break;
            case mpris::CommandKind::Previous:
                if (m_track_navigation.previous) m_commands.push_back({PlayerCommand::Kind::Previous, {}, 0});
                break;
            case mpris::CommandKind::Seek: {
                const double target = static_cast<double>(m_position_ms) + static_cast<double>(cmd.microseconds) / 1000.0;
                seek(target <= 0 ? 0 : static_cast<std::uint64_t>(target));
                break;
            }
            case mpris::CommandKind::SetPosition:
                seek(static_cast<std::uint64_t>(std::max<std::int64_t>(cmd.microseconds, 0) / 1000));
                break;
            case mpris::CommandKind::Raise:
            case mpris::CommandKind::Quit: break;
        }
    }
    mpris::PlaybackStatus status = mpris::PlaybackStatus::Stopped;
    if (is_playing()) {
        status = mpris::PlaybackStatus::Playing;
    } else if (m_status == PlayerStatus::Paused || m_status == PlayerStatus::Ended) {
        status = mpris::PlaybackStatus::Paused;
    }
    m_mpris->publish_status(status);
    m_mpris->publish_position(m_position_ms, std::exchange(m_mpris_jumped, false));
    mpris::NowPlaying now;
    if (m_now) {
        now.title = m_now->title;
        now.artist = m_now->artist;
        now.art_url = m_now->art_url;
    }
    now.track_id = m_address.empty() ? std::string() : m_address;
    if (m_status != PlayerStatus::Idle) now.length_ms = m_duration_ms;
    m_mpris->publish_now_playing(now);
    m_mpris->publish_volume(m_volume);
    m_mpris->publish_capabilities(mpris::Capabilities{.can_go_next = m_track_navigation.next,
                                                      .can_go_previous = m_track_navigation.previous,
                                                      .can_seek = true});
}

std::optional<bool> VideoPlayer::host_state() const {
    if (!m_host_on_set) return std::nullopt;
    return m_host_on;
}

void VideoPlayer::set_host_state(bool on) {
    // Only a change counts: setting the stored value (off at first) neither marks
    // the state as set nor asks for a redraw.
    if (m_host_on == on) return;
    m_host_on = on;
    m_host_on_set = true;
    m_needs_redraw = true;
}

std::pair<std::int64_t, bool> VideoPlayer::host_value() const {
    const bool open = state_value() != static_cast<std::uint8_t>(PlayerStatus::Idle) && m_status != PlayerStatus::Error;
    return {static_cast<std::int64_t>(m_position_ms), open};
}

// ---- widget ----

void VideoPlayer::sync(RuntimeState& state) {
    (void)state;
    if (m_engine) {
        (void)m_engine->poll();  // the states below say everything the player shows
        adopt_engine_state();
        if (auto f = m_engine->latest_frame(); f && (!m_frame || f->serial != m_frame->serial)) {
            m_frame = std::move(f);
            m_frame_arrived = Clock::now();
            m_needs_redraw = true;
        }
    }
    // The controls fade when their time runs out.
    if (m_revealed_drawn != controls_revealed()) m_needs_redraw = true;
}

NodeId VideoPlayer::build_layout(LayoutContext& cx) {
    layout::Style style;
    style.size = {layout::Dimension::percent(1.0f), layout::Dimension::percent(1.0f)};
    style.flex_grow = 0.0f;
    style.flex_shrink = 0.0f;
    const NodeId node = cx.tree.new_leaf(style);
    cx.registry.register_node(node, this);
    return node;
}

void VideoPlayer::apply_layout(const layout::LayoutTree& tree, NodeId node, Point origin) {
    auto solved = tree.layout(node);
    if (!solved) return;
    const Rect next{origin.x + solved->x, origin.y + solved->y, origin.x + solved->x + solved->width,
                    origin.y + solved->y + solved->height};
    if (next != m_bounds) {
        m_bounds = next;
        m_needs_redraw = true;
    }
}

VideoPlayer::ControlRects VideoPlayer::control_rects() const {
    ControlRects r;
    const Rect& b = m_bounds;
    const double bar_h = std::min(kBarHeight, b.height());
    r.bar = {b.x0, b.y1 - bar_h, b.x1, b.y1};
    const double margin = std::min(16.0, b.width() / 8);
    const double track_y = r.bar.y0 + 12;
    r.track = {b.x0 + margin, track_y, std::max(b.x0 + margin, b.x1 - margin), track_y + 4};
    r.progress = {r.track.x0, track_y - 8, r.track.x1, track_y + 12};
    const double row_y = track_y + 14;
    r.play = {b.x0 + margin - 6, row_y, b.x0 + margin + 22, std::min(b.y1, row_y + 26)};
    if (!m_settings.empty()) r.setting = {std::max(b.x0, b.x1 - margin - 72), row_y, b.x1 - margin, std::min(b.y1, row_y + 26)};
    return r;
}

void VideoPlayer::draw(Scene& scene, const Affine& transform, DrawContext& cx) {
    const Rect& b = m_bounds;
    if (b.width() <= 0 || b.height() <= 0) return;
    // Everything below stays inside the bounds.
    scene.push_layer(BlendMode::Normal, 1.0f, transform, b);
    if (m_standby) {
        draw_standby(scene, transform, cx, *m_standby);
        m_revealed_drawn = false;
        draw_frame_lines(scene, transform, cx);
        scene.pop_layer();
        m_drawn_area = device_box(transform, b);
        return;
    }

    // The picture, letterboxed. The engine scales the pictures to the box on the
    // screen; one of that size is placed on whole pixels at its own size (a copy,
    // not a resampling), any other (before the engine follows a new box) is scaled.
    const bool axis_aligned = transform.b == 0 && transform.c == 0 && transform.a > 0 && transform.d > 0;
    const Rect device = axis_aligned ? Rect{transform.a * b.x0 + transform.e, transform.d * b.y0 + transform.f,
                                            transform.a * b.x1 + transform.e, transform.d * b.y1 + transform.f}
                                     : Rect{};
    const auto box_w = static_cast<std::uint32_t>(std::lround(device.width()));
    const auto box_h = static_cast<std::uint32_t>(std::lround(device.height()));
    if (m_engine && (box_w != m_picture_box.first || box_h != m_picture_box.second)) {
        m_picture_box = {box_w, box_h};
        m_engine->set_picture_box(box_w, box_h);
    }
    if (m_frame && m_frame->serial != m_drawn_serial) {
        m_frame_image = to_image(*m_frame);
        m_drawn_serial = m_frame->serial;
    }
    if (m_frame_image && m_status != PlayerStatus::Idle) {
        const std::uint32_t fw = m_frame_image->width(), fh = m_frame_image->height();
        if (box_w > 0 && box_h > 0 && fw <= box_w && fh <= box_h && (fw == box_w || fh == box_h)) {
            const double x = std::round(device.x0 + (device.width() - fw) / 2);
            const double y = std::round(device.y0 + (device.height() - fh) / 2);
            // Black only beside the picture, which covers its own pixels.
            const Rect shown{x, y, x + fw, y + fh};
            const Rect bars[] = {{device.x0, device.y0, device.x1, shown.y0},
                                 {device.x0, shown.y1, device.x1, device.y1},
                                 {device.x0, shown.y0, shown.x0, shown.y1},
                                 {shown.x1, shown.y0, device.x1, shown.y1}};
            for (const Rect& bar : bars) {
                if (bar.width() > 0 && bar.height() > 0) scene.fill(FillRule::NonZero, Affine::identity(), Color::black(), bar);
            }
            scene.draw_image(m_frame_image, Affine::translate(x, y), Affine::identity());
        } else {
            scene.fill(FillRule::NonZero, transform, Color::black(), b);
            const double w = fw, h = fh;
            const double s = std::min(b.width() / w, b.height() / h);
            const double x0 = b.x0 + (b.width() - w * s) / 2, y0 = b.y0 + (b.height() - h * s) / 2;
            const Affine place = Affine::translate(x0, y0) * Affine::scale(s);
            if (is_playing()) {
                scene.draw_image(m_frame_image, place, transform);
            } else {
                // A picture that stays, clipped to its own rectangle, is resampled
                // once and then copied while it lies on whole pixels: it moves with
                // the page pixel for pixel instead of being resampled at every place.
                // Pictures that keep coming are not kept that way.
                scene.draw_image_clipped(m_frame_image, place, transform,
                                         RoundedRect{Rect{x0, y0, x0 + w * s, y0 + h * s}, 0.0});
            }
        }
    } else {
        scene.fill(FillRule::NonZero, transform, Color::black(), b);
    }

    const Point centre = b.center();
    const Color white = Color::white();
    if (m_status == PlayerStatus::Loading || m_status == PlayerStatus::Buffering) {
        draw_loading_mark(scene, transform, cx, centre);
    } else if (m_status == PlayerStatus::Error) {
        const std::string text = "Playback failed" + (m_error ? ": " + *m_error : std::string());
        const double max_w = std::max(40.0, b.width() - 48);
        const Size size = cx.text.measure(text, 14.0f, max_w);
        cx.text.draw_text(scene, transform, text, 14.0f, white,
                          {centre.x - size.width / 2, centre.y - size.height / 2}, max_w);
    } else if (m_status == PlayerStatus::Paused || m_status == PlayerStatus::Ended) {
        // A large play button in the middle.
        scene.fill(FillRule::NonZero, transform, Color::black().with_alpha(0.55f), Circle{centre, 30.0});
        Path tri;
        tri.move_to({centre.x - 9, centre.y - 14}).line_to({centre.x + 15, centre.y}).line_to({centre.x - 9, centre.y + 14}).close();
        scene.fill(FillRule::NonZero, transform, white, tri);
    }

    m_revealed_drawn = controls_revealed();
    if (m_revealed_drawn && m_status != PlayerStatus::Idle) {
        const ControlRects r = control_rects();
        LinearGradient scrim;
        scrim.start = {r.bar.x0, r.bar.y0};
        scrim.end = {r.bar.x0, r.bar.y1};
        scrim.stops[0] = {0.0f, Color::black().with_alpha(0.0f)};
        scrim.stops[1] = {1.0f, Color::black().with_alpha(std::clamp(m_controls_opacity, 0.0f, 1.0f))};
        scene.fill(FillRule::NonZero, transform, scrim, r.bar);

        // Progress track, skip-segment marks, played part and thumb.
        scene.fill(FillRule::NonZero, transform, white.with_alpha(0.3f), RoundedRect{r.track, 2.0});
        const double tw = r.track.width();
        for (const SponsorMark& m : m_marks) {
            const double s0 = std::clamp<double>(m.start, 0, 1), s1 = std::clamp<double>(m.end, 0, 1);
            if (s1 <= s0) continue;
            scene.fill(FillRule::NonZero, transform, m.color,
                       Rect{r.track.x0 + tw * s0, r.track.y0, r.track.x0 + tw * s1, r.track.y1});
        }
        const double frac = m_duration_ms > 0 ? std::clamp(double(m_position_ms) / double(m_duration_ms), 0.0, 1.0) : 0.0;
        const double px = r.track.x0 + tw * frac;
        scene.fill(FillRule::NonZero, transform, cx.theme.accent, RoundedRect{Rect{r.track.x0, r.track.y0, px, r.track.y1}, 2.0});
        scene.fill(FillRule::NonZero, transform, white, Circle{{px, (r.track.y0 + r.track.y1) / 2}, 6.0});

        // Play or pause symbol.
        const Point pc = r.play.center();
        if (is_playing()) {
            scene.fill(FillRule::NonZero, transform, white, Rect{pc.x - 7, pc.y - 8, pc.x - 2, pc.y + 8});
            scene.fill(FillRule::NonZero, transform, white, Rect{pc.x + 2, pc.y - 8, pc.x + 7, pc.y + 8});
        } else {
            Path tri;
            tri.move_to({pc.x - 6, pc.y - 8}).line_to({pc.x + 8, pc.y}).line_to({pc.x - 6, pc.y + 8}).close();
            scene.fill(FillRule::NonZero, transform, white, tri);
        }
        const std::string times = clock_text(m_position_ms) + " / " + clock_text(m_duration_ms);
        const Size ts = cx.text.measure(times, 12.5f);
        cx.text.draw_text(scene, transform, times, 12.5f, white, {r.play.x1 + 8, pc.y - ts.height / 2});

        if (!m_settings.empty()) {
            const PlayerSetting& s = m_settings.front();
            const std::string label = s.selected < s.options.size() ? s.options[s.selected] : s.label;
            const Size ls = cx.text.measure(label, 12.5f);
            scene.fill(FillRule::NonZero, transform, white.with_alpha(0.18f), RoundedRect{r.setting, 6.0});
            cx.text.draw_text(scene, transform, label, 12.5f, white,
                              {r.setting.center().x - ls.width / 2, r.setting.center().y - ls.height / 2});
        }
    }
    draw_frame_lines(scene, transform, cx);
    scene.pop_layer();
    m_drawn_area = device_box(transform, b);
}

void VideoPlayer::draw_standby(Scene& scene, const Affine& transform, DrawContext& cx, const Standby& standby) {
    const Rect& b = m_bounds;
    scene.fill(FillRule::NonZero, transform, kStage, b);
    if (standby.poster) {
        paint_image_cover(scene, transform, b, 0.0, standby.poster);
        // Dimmed, so that the mark and the message read on any picture.
        scene.fill(FillRule::NonZero, transform, Color::black().with_alpha(0.45f), b);
    }
    const Point centre = b.center();
    const Color white = Color::white();
    if (!standby.message.empty()) {
        const double max_w = std::max(40.0, b.width() - 48);
        const Size size = cx.text.measure(standby.message, 14.0f, max_w);
        cx.text.draw_text(scene, transform, standby.message, 14.0f, white,
                          {centre.x - size.width / 2, centre.y - size.height / 2}, max_w);
    } else if (standby.waiting) {
        draw_loading_mark(scene, transform, cx, centre);
    }
}

void VideoPlayer::draw_loading_mark(Scene& scene, const Affine& transform, DrawContext& cx, Point centre) {
    // Three dots; the middle one is the accent.
    for (int i = -1; i <= 1; ++i) {
        scene.fill(FillRule::NonZero, transform, i == 0 ? cx.theme.accent : Color::white().with_alpha(0.7f),
                   Circle{{centre.x + i * 18.0, centre.y}, 5.0});
    }
}

// The outline keeps the player's box visible on a background as dark as the
// picture (the high-contrast theme's black); the focus ring lies on top.
void VideoPlayer::draw_frame_lines(Scene& scene, const Affine& transform, DrawContext& cx) {
    const Rect& b = m_bounds;
    scene.stroke(Stroke::with_width(1.0), transform, cx.theme.border, b.inset(0.5));
    if (m_focused) {
        scene.stroke(Stroke::with_width(2.0), transform, cx.theme.focus_ring, RoundedRect{b.inset(1.0), 4.0});
    }
}

void VideoPlayer::seek_to_fraction(double fraction) {
    fraction = std::clamp(fraction, 0.0, 1.0);
    seek(static_cast<std::uint64_t>(std::llround(fraction * static_cast<double>(m_duration_ms))));
}

// Input, by event:
//   pointer move inside          reveal the controls; while scrubbing, seek along
//   primary press on progress    seek there and start scrubbing
//   primary press on play        play or pause
//   primary press on setting     next option, queued as a setting command
//   primary press elsewhere      play or pause (and take the focus)
//   primary release              stop scrubbing
//   key, focused: Space or k     play or pause; Left/Right seek 5 s; Home to the start
//   media play/pause key         play or pause, focused or not
void VideoPlayer::handle_event(const Event& event, EventContext& cx, NodeId node) {
    if (const auto* move = std::get_if<PointerMoveEvent>(&event)) {
        const Point p = logical(move->position, cx.scale);
        const bool inside = m_bounds.contains(p);
        if (inside) reveal_controls();
        if (inside != m_hovered) {
            m_hovered = inside;
            m_needs_redraw = true;
        }
        if (m_scrubbing) {
            const Rect t = control_rects().track;
            if (t.width() > 0) seek_to_fraction((p.x - t.x0) / t.width());
            cx.handled = true;
        }
        return;
    }
    if (const auto* button = std::get_if<PointerButtonEvent>(&event)) {
        if (button->button != PointerButton::Primary) return;
        const Point p = logical(button->position, cx.scale);
        if (!button->pressed) {
            if (m_scrubbing) {
                m_scrubbing = false;
                cx.handled = true;
                m_needs_redraw = true;
            }
            return;
        }
        if (!m_bounds.contains(p) || cx.handled) return;
        cx.handled = true;
        cx.focus_request = node;
        if (m_standby) return;  // nothing of this page's to play yet
        const bool shown = controls_revealed() && m_status != PlayerStatus::Idle;
        reveal_controls();
        const ControlRects r = control_rects();
        if (shown && r.progress.contains(p)) {
            m_scrubbing = true;
            if (r.track.width() > 0) seek_to_fraction((p.x - r.track.x0) / r.track.width());
        } else if (shown && r.setting.contains(p) && r.setting.width() > 0) {
            cycle_setting();
        } else {
            toggle_play();
        }
        return;
    }
    if (const auto* key = std::get_if<KeyEvent>(&event)) {
        if (key->released) return;
        if (key->is_named(NamedKey::MediaPlayPause)) {
            toggle_play();
            cx.handled = true;
            return;
        }
        if (!m_focused || cx.handled) return;
        bool used = true;
        if (key->is_named(NamedKey::Space) || (key->kind == KeyEvent::Kind::Character && (key->text == "k" || key->text == "K" || key->text == " "))) {
            toggle_play();
        } else if (key->is_named(NamedKey::ArrowLeft)) {
            seek(m_position_ms > kSeekStepMs ? m_position_ms - static_cast<std::uint64_t>(kSeekStepMs) : 0);
        } else if (key->is_named(NamedKey::ArrowRight)) {
            seek(m_position_ms + static_cast<std::uint64_t>(kSeekStepMs));
        } else if (key->is_named(NamedKey::Home)) {
            seek(0);
        } else {
            used = false;
        }
        if (used) {
            reveal_controls();
            cx.handled = true;
        }
        return;
    }
    if (std::holds_alternative<PointerLeaveEvent>(event) && m_hovered) {
        m_hovered = false;
        m_needs_redraw = true;
    }
}

std::optional<CursorShape> VideoPlayer::cursor_shape(Point point) const {
    if (!m_bounds.contains(point)) return std::nullopt;
    return CursorShape::Pointer;
}

void VideoPlayer::set_focus(bool focused) {
    if (m_focused == focused) return;
    m_focused = focused;
    m_needs_redraw = true;
}

std::optional<AccessNode> VideoPlayer::accessibility() const {
    AccessNode n(Role::Video, m_bounds);
    std::string name = "Video player";
    if (m_now && !m_now->title.empty()) name += ": " + m_now->title;
    n = std::move(n).with_name(std::move(name)).with_focus(true, m_focused);
    n.value = fmt::format("{} {} of {}", to_string(m_status), clock_text(m_position_ms), clock_text(m_duration_ms));
    n.busy = m_status == PlayerStatus::Loading || m_status == PlayerStatus::Buffering;
    n.toggled = is_playing();
    if (m_standby) {
        n.busy = m_standby->waiting && m_standby->message.empty();
        n.toggled = false;
        if (!m_standby->message.empty()) n.value = m_standby->message;
    }
    return n;
}

bool VideoPlayer::perform_action(AccessRequest request) {
    if (request == AccessRequest::Activate || request == AccessRequest::Toggle) {
        toggle_play();
        return true;
    }
    if (request == AccessRequest::Focus) {
        set_focus(true);
        return true;
    }
    return false;
}

bool VideoPlayer::pictures_flowing() const {
    return m_engine && m_frame && Clock::now() - m_frame_arrived < kPictureGap;
}

bool VideoPlayer::needs_animation_frame() const {
    if (m_status == PlayerStatus::Playing && !m_scrubbing) return !pictures_flowing();
    return m_status == PlayerStatus::Loading || m_status == PlayerStatus::Buffering || m_scrubbing;
}

std::optional<Clock::time_point> VideoPlayer::next_wake_deadline() const {
    std::optional<Clock::time_point> due;
    if (m_revealed_drawn && !m_scrubbing && Clock::now() < m_reveal_until) due = m_reveal_until;
    // Playing on pictures: back when they stop coming, to keep the clock going.
    if (m_status == PlayerStatus::Playing && pictures_flowing()) {
        const auto stalled = m_frame_arrived + kPictureGap;
        if (!due || stalled < *due) due = stalled;
    }
    return due;
}

}  // namespace vorn_ui::widget::video_player
