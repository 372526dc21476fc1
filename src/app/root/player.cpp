// The one shared video player: its initial state, the demonstration players
// of the developer modes, and the player view the runtime reads.
#include <chrono>
#include <limits>
#include <thread>

#include "automerge/document.h"
#include "sarn/app/sarn_app.h"

namespace sarn {

namespace {

using vorn_ui::widget::video_player::VideoPlayer;
using vorn_ui::widget::video_player::VideoPlayerState;

// Nothing opened yet, a 60 s duration placeholder and the player's two 0.8 levels.
VideoPlayerState initial_player_state() {
    VideoPlayerState state;
    state.duration_ms = 60'000;
    state.state = 2;
    state.volume = 0.8;
    state.controls_opacity = 0.8f;
    return state;
}

void sync_once(VideoPlayer& player) {
    automerge::Document document;
    vorn_ui::widget::RuntimeState state;
    state.document = &document;
    player.sync(state);
}

// Syncs the player until `done` holds or the deadline passes, 15 ms apart.
template <class Done>
void pump_until(VideoPlayer& player, std::chrono::milliseconds limit, Done done) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        sync_once(player);
        if (done()) return;
        if (std::chrono::steady_clock::now() >= deadline) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(15));
    }
}

}  // namespace

SharedPlayer SarnApp::make_player(bool synthesized) {
    auto engine = synthesized ? media::engine::MediaEngine::create_synthesized() : media::engine::MediaEngine::create();
    return std::make_shared<VideoPlayer>(VideoPlayer::with_engine(initial_player_state(), std::move(engine)));
}

void SarnApp::seek_player_seconds(double seconds) {
    std::uint64_t ms = 0;
    if (seconds > 0.0) {
        const double scaled = seconds * 1000.0;
        ms = scaled >= static_cast<double>(std::numeric_limits<std::uint64_t>::max())
                 ? std::numeric_limits<std::uint64_t>::max()
                 : static_cast<std::uint64_t>(scaled);
    }
    m_player->seek(ms);
}

SarnApp SarnApp::with_demo_player(std::string video_id) && {
    m_library.route = Route::watch(video_id);
    m_navigation.current = m_library.route;
    m_player = make_player(true);
    m_player->open(kDemoClipAddress);
    m_player->seek(30'000);
    sync_once(*m_player);
    m_player->pause();
    m_loaded_video = std::move(video_id);
    return std::move(*this);
}

SarnApp SarnApp::with_play_demo() && {
    const std::string id = m_library.videos.empty() ? std::string(kDemoVideoId) : m_library.videos.front().id;
    m_library.route = Route::watch(id);
    m_navigation.current = m_library.route;
    m_player->set_engine(media::engine::MediaEngine::create_synthesized());
    m_player->open(kDemoClipAddress);
    m_player->seek(45'000);
    m_player->play();
    m_player->reveal_controls();
    sync_once(*m_player);
    m_loaded_video = id;
    return std::move(*this);
}

SarnApp SarnApp::open_and_play(std::string video_id, std::string stream_address) && {
    m_library.route = Route::watch(video_id);
    m_navigation.current = m_library.route;
    VideoPlayer& player = *m_player;
    player.open(stream_address);
    player.play();
    player.reveal_controls();
    pump_until(player, std::chrono::seconds(25), [&] { return player.state_value() != 2; });
    // The seek waits for the real duration: until the engine reports one the
    // player shows its 60 s placeholder, and a seek against that would send
    // a short clip past its end. A stream that never tells (a live one) is
    // not sought.
    const auto duration = [&]() -> std::optional<std::uint64_t> {
        const auto* engine = player.engine();
        return engine != nullptr ? engine->duration_ms() : std::nullopt;
    };
    if (player.state_value() != 2) pump_until(player, std::chrono::seconds(5), [&] { return duration().has_value(); });
    if (duration().value_or(0) > 40'000) {
        player.seek(32'000);
        pump_until(player, std::chrono::seconds(15), [&] {
            const auto* engine = player.engine();
            return engine != nullptr && engine->position_ms() >= 30'000;
        });
    }
    m_loaded_video = std::move(video_id);
    return std::move(*this);
}

void SarnApp::sync_player_standby() {
    const Route& route = m_library.route;
    if (route.kind != Route::Kind::Watch || m_loaded_video == route.text) {
        m_player->set_standby(std::nullopt);
        return;
    }
    vorn_ui::widget::video_player::Standby standby;
    if (m_stream_failure && m_stream_failure->first == route.text) {
        standby.message = m_stream_failure->second;
    } else if (!m_live) {
        // Offline no stream is ever asked for.
        standby.message = std::string(kOfflinePlayerText);
    } else {
        standby.waiting = m_stream_target == route.text;
    }
    // The video's own picture, once the image store has it.
    const Video* video = m_library.find_video(route.text);
    const std::string address = video != nullptr ? m_library.thumbnail_for(*video) : std::string();
    if (address != m_standby_poster_address) {
        m_standby_poster_address = address;
        m_standby_poster.reset();
    }
    if (!m_standby_poster && m_image_store && !address.empty()) {
        if (auto image = m_image_store->get(address)) m_standby_poster = std::move(*image);
    }
    standby.poster = m_standby_poster;
    m_player->set_standby(std::move(standby));
}

std::optional<bool> SarnApp::state() const { return m_player->host_state(); }
std::pair<std::int64_t, bool> SarnApp::value() const { return m_player->host_value(); }
void SarnApp::set_state(bool on) { m_player->set_host_state(on); }

}  // namespace sarn
