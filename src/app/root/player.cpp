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
    if (player.duration_ms() > 40'000) {
        player.seek(32'000);
        pump_until(player, std::chrono::seconds(15), [&] {
            const auto* engine = player.engine();
            return engine != nullptr && engine->position_ms() >= 30'000;
        });
    }
    m_loaded_video = std::move(video_id);
    return std::move(*this);
}

std::optional<bool> SarnApp::state() const { return m_player->host_state(); }
std::pair<std::int64_t, bool> SarnApp::value() const { return m_player->host_value(); }
void SarnApp::set_state(bool on) { m_player->set_host_state(on); }

}  // namespace sarn
