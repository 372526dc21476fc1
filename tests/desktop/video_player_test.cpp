// The video player widget, headless: states and control operations, drawing of the
// synthesized engine's pictures and of the controls, and pointer and key input.
#include "vorn_ui/widget/video_player.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "vorn_ui/offscreen.h"

namespace {

using namespace vorn_ui;
using namespace vorn_ui::widget;
using namespace vorn_ui::widget::video_player;
using namespace std::chrono_literals;
namespace engine = media::engine;

engine::MediaEngine synthesized() {
    return engine::MediaEngine::create_synthesized(engine::EngineOptions{
        .audio = engine::AudioOutput::Null, .synthesized_width = 320, .synthesized_height = 180});
}

// Lays the player out alone in a w x h box.
struct Harness {
    layout::LayoutTree tree;
    NodeRegistry registry;
    Environment env;
    RuntimeState state;
    TextRenderer text;
    NodeId node = 0;

    void lay_out(VideoPlayer& player, float w, float h) {
        LayoutContext cx{tree, registry, env};
        auto nodes = build_root_layout(player, cx, Size{w, h});
        ASSERT_TRUE(nodes.has_value());
        node = nodes->root;
        ASSERT_TRUE(solve_root_layout(tree, *nodes, Size{w, h}, registry, text).has_value());
        player.apply_layout(tree, node, Point{0, 0});
    }

    offscreen::RenderedImage render(VideoPlayer& player, std::uint32_t w, std::uint32_t h) {
        Scene scene;
        PermissionContext permissions;
        DrawContext dc{env.theme, text, permissions};
        player.draw_with_presence(scene, Affine::identity(), dc, PresenceContext{});
        auto renderer = offscreen::OffscreenRenderer::create(w, h);
        EXPECT_TRUE(renderer.has_value());
        auto image = renderer->render_resilient(scene, Color::transparent());
        EXPECT_TRUE(image.has_value());
        return std::move(*image);
    }

    void send(VideoPlayer& player, const Event& event, bool* handled = nullptr) {
        EventContext cx(Modifiers{}, state, 1.0, tree);
        player.handle_event(event, cx, node);
        if (handled != nullptr) *handled = cx.handled;
        if (cx.focus_request) player.set_focus(true);
    }

    bool pump_until(VideoPlayer& player, const std::function<bool()>& done, std::chrono::milliseconds limit = 10s) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < deadline) {
            player.sync(state);
            if (done()) return true;
            std::this_thread::sleep_for(10ms);
        }
        return done();
    }
};

PointerButtonEvent press_at(double x, double y, bool pressed = true) {
    PointerButtonEvent e;
    e.button = PointerButton::Primary;
    e.pressed = pressed;
    e.position = {x, y};
    return e;
}

TEST(VideoPlayer, InitialStateAndOperationsWithoutAnEngine) {
    VideoPlayer player(VideoPlayerState{});
    EXPECT_EQ(player.state_value(), 2);
    EXPECT_EQ(player.status(), PlayerStatus::Idle);
    EXPECT_EQ(player.duration_ms(), 60'000u);
    EXPECT_DOUBLE_EQ(player.volume(), 0.8);
    EXPECT_FLOAT_EQ(player.controls_opacity(), 0.8f);
    EXPECT_EQ(player.engine(), nullptr);
    EXPECT_FALSE(player.is_playing());
    EXPECT_FALSE(player.host_state().has_value());

    player.open("https://demo.invalid/clip.mp4");
    EXPECT_EQ(player.status(), PlayerStatus::Loading);
    EXPECT_EQ(player.state_value(), 2) << "a stream still opening is not open yet";
    player.seek(30'000);
    EXPECT_EQ(player.position_ms(), 30'000u);
    player.seek(90'000);
    EXPECT_EQ(player.position_ms(), 60'000u) << "a seek past the end stops at the duration";

    // The host's on/off state: only a change of the stored value (off at first)
    // marks it set and asks for a redraw.
    player.mark_drawn();
    player.set_host_state(false);
    EXPECT_FALSE(player.host_state().has_value());
    EXPECT_FALSE(player.needs_redraw());
    player.set_host_state(true);
    EXPECT_EQ(player.host_state(), std::optional<bool>(true));
    EXPECT_TRUE(player.needs_redraw());
    player.mark_drawn();
    player.set_host_state(true);
    EXPECT_FALSE(player.needs_redraw());
    player.set_host_state(false);
    EXPECT_EQ(player.host_state(), std::optional<bool>(false));
}

TEST(VideoPlayer, PlaysTheSynthesizedClipAndDrawsItsPictures) {
    Harness h;
    VideoPlayer player = VideoPlayer::with_engine(VideoPlayerState{}, synthesized());
    ASSERT_NE(player.engine(), nullptr);
    h.lay_out(player, 320, 180);
    EXPECT_EQ(player.bounds(), (Rect{0, 0, 320, 180}));

    player.open("https://demo.invalid/clip.mp4");
    // Waiting for the state to leave 2 waits until the clip is open and has a picture.
    EXPECT_EQ(player.state_value(), 2);
    EXPECT_FALSE(player.host_value().second);
    ASSERT_TRUE(h.pump_until(player, [&] { return player.state_value() != 2; }));
    EXPECT_EQ(player.status(), PlayerStatus::Paused);
    ASSERT_NE(player.engine()->latest_frame(), std::nullopt);
    player.seek(45'000);
    EXPECT_EQ(player.position_ms(), 45'000u) << "a seek shows at once";
    player.play();
    EXPECT_TRUE(player.is_playing());
    ASSERT_TRUE(h.pump_until(player, [&] { return player.status() == PlayerStatus::Playing && player.position_ms() > 45'200; }));
    EXPECT_EQ(player.duration_ms(), 180'000u);
    // Playing, the loop comes back: on each picture (which wakes it) with a time to
    // come back by should they stop, or on frames of the player's own.
    EXPECT_TRUE(player.needs_animation_frame() || player.next_wake_deadline().has_value());
    EXPECT_EQ(player.host_value(), (std::pair<std::int64_t, bool>{static_cast<std::int64_t>(player.position_ms()), true}));

    // Without controls the picture fills the player: not the black background.
    auto shot = h.render(player, 320, 180);
    int coloured = 0;
    for (std::uint32_t y = 0; y < 180; y += 9) {
        for (std::uint32_t x = 0; x < 320; x += 16) coloured += (shot.rgba_at(x, y) & 0xFFFFFF00u) != 0 ? 1 : 0;
    }
    EXPECT_GT(coloured, 50) << "the test picture was drawn";

    // Paused, the controls show: the played part of the progress bar is the accent.
    player.pause();
    ASSERT_TRUE(h.pump_until(player, [&] { return player.status() == PlayerStatus::Paused; }));
    EXPECT_TRUE(player.controls_revealed());
    EXPECT_FALSE(player.needs_animation_frame());
    auto paused = h.render(player, 320, 180);
    const auto r = player.control_rects();
    const auto track_y = static_cast<std::uint32_t>((r.track.y0 + r.track.y1) / 2);
    const std::uint32_t played = paused.rgba_at(static_cast<std::uint32_t>(r.track.x0 + 3), track_y);
    const Color accent = h.env.theme.accent;
    EXPECT_NEAR(double(played >> 24), accent.r * 255.0, 3.0);
    EXPECT_NEAR(double((played >> 16) & 0xFF), accent.g * 255.0, 3.0);
    EXPECT_NEAR(double((played >> 8) & 0xFF), accent.b * 255.0, 3.0);
}

TEST(VideoPlayer, PointerAndKeysControlPlayback) {
    Harness h;
    VideoPlayer player = VideoPlayer::with_engine(VideoPlayerState{}, synthesized());
    h.lay_out(player, 640, 360);
    player.set_setting(PlayerSetting{"resolution", 9, "Resolution", 1, {"1080p", "720p", "480p", "auto"}, 1});
    player.open("x");
    ASSERT_TRUE(h.pump_until(player, [&] { return player.status() == PlayerStatus::Paused; }));
    EXPECT_EQ(player.duration_ms(), 180'000u);

    // A click in the picture plays, another pauses.
    bool handled = false;
    h.send(player, press_at(320, 120), &handled);
    EXPECT_TRUE(handled);
    EXPECT_TRUE(player.is_playing());
    EXPECT_TRUE(player.has_focus());
    h.send(player, press_at(320, 120, false));
    h.send(player, press_at(320, 120));
    EXPECT_FALSE(player.is_playing());

    // A click on the progress bar at its middle seeks to half the clip, at once.
    const auto r = player.control_rects();
    h.send(player, press_at((r.track.x0 + r.track.x1) / 2, (r.track.y0 + r.track.y1) / 2));
    EXPECT_NEAR(double(player.position_ms()), 90'000.0, 500.0);
    // Dragging scrubs along; the release ends it.
    PointerMoveEvent move;
    move.position = {r.track.x0 + r.track.width() * 0.25, r.track.y0};
    h.send(player, move);
    EXPECT_NEAR(double(player.position_ms()), 45'000.0, 500.0);
    h.send(player, press_at(0, 0, false));
    move.position = {r.track.x1, r.track.y0};
    h.send(player, move);
    EXPECT_NEAR(double(player.position_ms()), 45'000.0, 500.0) << "no seek after the release";

    // The setting button cycles its options and queues the choice for the owner.
    h.send(player, press_at(r.setting.center().x, r.setting.center().y));
    const auto cmds = player.take_commands();
    ASSERT_EQ(cmds.size(), 1u);
    EXPECT_EQ(cmds[0].kind, PlayerCommand::Kind::SetSetting);
    EXPECT_EQ(cmds[0].setting_id, "resolution");
    EXPECT_EQ(cmds[0].option_index, 2u);
    EXPECT_TRUE(player.take_commands().empty());
    EXPECT_FALSE(player.is_playing()) << "the setting button does not toggle playback";

    // Keys act while the player has the focus.
    const std::uint64_t before = player.position_ms();
    h.send(player, KeyEvent::named_key(NamedKey::ArrowRight));
    EXPECT_EQ(player.position_ms(), before + 5000);
    h.send(player, KeyEvent::named_key(NamedKey::ArrowLeft));
    h.send(player, KeyEvent::named_key(NamedKey::ArrowLeft));
    EXPECT_EQ(player.position_ms(), before - 5000);
    h.send(player, KeyEvent::character(" "));
    EXPECT_TRUE(player.is_playing());
    player.set_focus(false);
    h.send(player, KeyEvent::character(" "));
    EXPECT_TRUE(player.is_playing()) << "no key control without the focus";
    h.send(player, KeyEvent::named_key(NamedKey::MediaPlayPause));
    EXPECT_FALSE(player.is_playing()) << "the media key works without the focus";

    // A click outside the player is not its business.
    h.send(player, press_at(700, 100), &handled);
    EXPECT_FALSE(handled);
}

TEST(VideoPlayer, AnEarlySeekIsNotCutToTheDurationPlaceholder) {
    // Until the stream reports its duration the player shows 60 s; a seek to 90 s
    // made then still asks for 90 s.
    VideoPlayer player = VideoPlayer::with_engine(
        VideoPlayerState{}, engine::MediaEngine::create(engine::EngineOptions{.audio = engine::AudioOutput::Null}));
    player.open("/nonexistent/long-clip.webm");
    ASSERT_FALSE(player.engine()->duration_ms().has_value());
    EXPECT_EQ(player.duration_ms(), 60'000u);
    player.seek(90'000);
    EXPECT_EQ(player.position_ms(), 90'000u);
}

TEST(VideoPlayer, FailedStreamShowsAnErrorState) {
    Harness h;
    VideoPlayer player = VideoPlayer::with_engine(
        VideoPlayerState{}, engine::MediaEngine::create(engine::EngineOptions{.audio = engine::AudioOutput::Null}));
    h.lay_out(player, 320, 180);
    player.open("/nonexistent/clip.webm");
    player.play();
    ASSERT_TRUE(h.pump_until(player, [&] { return player.status() == PlayerStatus::Error; }));
    EXPECT_FALSE(player.is_playing());
    ASSERT_TRUE(player.error_text().has_value());
    EXPECT_FALSE(player.needs_animation_frame());
    (void)h.render(player, 320, 180);  // draws the message, no crash
    EXPECT_EQ(player.accessibility()->role, Role::Video);
}

// rgba_at's 0xRRGGBBAA as three channels.
struct Rgb {
    int r, g, b;
};
Rgb rgb_at(const offscreen::RenderedImage& shot, std::uint32_t x, std::uint32_t y) {
    const std::uint32_t px = shot.rgba_at(x, y);
    return {int(px >> 24), int((px >> 16) & 0xFF), int((px >> 8) & 0xFF)};
}
bool near(Rgb got, const Color& want, int tolerance = 4) {
    return std::abs(got.r - int(std::lround(want.r * 255))) <= tolerance &&
           std::abs(got.g - int(std::lround(want.g * 255))) <= tolerance &&
           std::abs(got.b - int(std::lround(want.b * 255))) <= tolerance;
}

// A player that has nothing of its owner's to show says what it is doing: a
// loading mark on its poster or dark stage while a stream is on its way, the
// owner's line once none came; the picture it still holds and its controls
// stay hidden meanwhile, and its outline shows in every theme.
TEST(Display, PlayerStandbyShowsPosterLoadingMarkOrMessage) {
    Harness h;
    h.env.theme = Theme::high_contrast();
    VideoPlayer player = VideoPlayer::with_engine(VideoPlayerState{}, synthesized());
    h.lay_out(player, 320, 180);
    player.open("https://demo.invalid/clip.mp4");
    ASSERT_TRUE(h.pump_until(player, [&] { return player.state_value() != 2; }));
    player.reveal_controls();

    const Point centre{160, 90};
    const auto centre_x = static_cast<std::uint32_t>(centre.x), centre_y = static_cast<std::uint32_t>(centre.y);
    // Waiting on the dark stage: the middle dot of the mark is the accent.
    player.mark_drawn();
    player.set_standby(Standby{nullptr, true, ""});
    EXPECT_TRUE(player.needs_redraw());
    auto waiting = h.render(player, 320, 180);
    EXPECT_TRUE(near(rgb_at(waiting, centre_x, centre_y), h.env.theme.accent));
    EXPECT_TRUE(near(rgb_at(waiting, 40, 40), Color::rgba8(18, 18, 22))) << "the held picture is not shown";
    EXPECT_TRUE(near(rgb_at(waiting, 40, 170), Color::rgba8(18, 18, 22))) << "no controls";
    EXPECT_TRUE(near(rgb_at(waiting, 0, 90), h.env.theme.border)) << "the outline";
    EXPECT_TRUE(player.accessibility()->busy);
    player.mark_drawn();
    player.set_standby(Standby{nullptr, true, ""});
    EXPECT_FALSE(player.needs_redraw()) << "the same standby again changes nothing";

    // On a poster: the picture, dimmed.
    player.set_standby(Standby{Image::solid(32, 18, 200, 40, 40), true, ""});
    auto poster = h.render(player, 320, 180);
    const Rgb dimmed = rgb_at(poster, 40, 40);
    EXPECT_NEAR(dimmed.r, 200 * 0.55, 6);
    EXPECT_NEAR(dimmed.g, 40 * 0.55, 6);
    EXPECT_TRUE(near(rgb_at(poster, centre_x, centre_y), h.env.theme.accent));

    // None came: the line in place of the mark.
    player.set_standby(Standby{nullptr, false, "could not resolve a playable stream"});
    auto failed = h.render(player, 320, 180);
    EXPECT_FALSE(near(rgb_at(failed, centre_x + 18, centre_y), Color::white().with_alpha(0.7f), 30));
    int light = 0;
    for (std::uint32_t x = 20; x < 300; ++x) {
        for (std::uint32_t y = 75; y < 105; ++y) light += rgb_at(failed, x, y).r > 180 ? 1 : 0;
    }
    EXPECT_GT(light, 40) << "the message is drawn";
    EXPECT_FALSE(player.accessibility()->busy);
    EXPECT_EQ(player.accessibility()->value, "could not resolve a playable stream");

    // A click takes the focus and plays nothing it holds.
    bool handled = false;
    h.send(player, press_at(centre.x, centre.y), &handled);
    EXPECT_TRUE(handled);
    EXPECT_TRUE(player.has_focus());
    EXPECT_FALSE(player.is_playing());

    // Without a standby the held picture shows again.
    player.set_standby(std::nullopt);
    auto shown = h.render(player, 320, 180);
    EXPECT_FALSE(near(rgb_at(shown, 40, 40), Color::rgba8(18, 18, 22)));
}

}  // namespace
