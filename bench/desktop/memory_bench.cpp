// Resident memory of the desktop runtime: a 1280x800 window on a private X server,
// first idle, then with the synthesized player running for 10 s. Prints the resident
// size at both points, its growth over the last seconds of playback (the engine's
// queues are bounded, so it should stay flat) and the ratio to the idle window.
#include <fmt/core.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "vorn_ui/launch.h"
#include "vorn_ui/wake.h"
#include "vorn_ui/widget/video_player.h"
#include "xvfb_display.h"

namespace {

using namespace vorn_ui;
using namespace std::chrono_literals;
namespace vp = vorn_ui::widget::video_player;

double resident_mib() {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
    }
    return 0.0;
}

std::atomic<int> g_frames{0};
std::atomic<bool> g_start{false};

// The window's root: one player filling it, started on request from the driver.
class PlayerRoot : public widget::Widget {
public:
    PlayerRoot()
        : m_player(vp::VideoPlayer::with_engine(
              vp::VideoPlayerState{}, media::engine::MediaEngine::create_synthesized(
                                          media::engine::EngineOptions{.audio = media::engine::AudioOutput::Null}))) {}

    void sync(widget::RuntimeState& state) override {
        if (g_start.load() && !m_started) {
            m_started = true;
            m_player.open("https://demo.invalid/clip.mp4");
            m_player.play();
        }
        m_player.sync(state);
    }
    widget::NodeId build_layout(widget::LayoutContext& cx) override { return m_player.build_layout(cx); }
    void apply_layout(const layout::LayoutTree& tree, widget::NodeId node, Point origin) override {
        m_player.apply_layout(tree, node, origin);
    }
    void draw(Scene& scene, const Affine& t, widget::DrawContext& cx) override { m_player.draw(scene, t, cx); }
    std::string_view type_name() const override { return "PlayerRoot"; }
    Rect bounds() const override { return m_player.bounds(); }
    bool needs_animation_frame() const override { return m_player.needs_animation_frame(); }
    bool needs_redraw() const override { return m_player.needs_redraw(); }
    void mark_drawn() override {
        m_player.mark_drawn();
        g_frames.fetch_add(1);
    }

private:
    vp::VideoPlayer m_player;
    bool m_started = false;
};

}  // namespace

int main() {
    vorn_test::XvfbDisplay display("1280x900x24");
    if (!display.ok()) {
        fmt::print(stderr, "desktop memory bench: Xvfb did not start\n");
        return 1;
    }
    double idle = 0, after = 0, at_five = 0;
    int frames_played = 0;
    std::thread driver([&] {
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (g_frames.load() == 0 && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(10ms);
        std::this_thread::sleep_for(500ms);
        idle = resident_mib();
        const int before = g_frames.load();
        g_start = true;
        vorn_ui::wake::wake_loop();
        for (int s = 1; s <= 10; ++s) {
            std::this_thread::sleep_for(1s);
            if (s == 5) at_five = resident_mib();
        }
        after = resident_mib();
        frames_played = g_frames.load() - before;
        launch::request_quit();
    });
    launch::LaunchSpec spec;
    spec.application_id = "org.vorn.MemoryBench";
    spec.arguments = std::vector<std::string>{"memory_bench"};
    spec.build_root = [] { return std::make_unique<PlayerRoot>(); };
    spec.window_size = [](const launch::LaunchArgs&) { return std::pair<std::uint32_t, std::uint32_t>{1280, 800}; };
    auto result = launch::run(std::move(spec));
    driver.join();
    if (!result) {
        fmt::print(stderr, "desktop memory bench: {}\n", result.error().message);
        return 1;
    }
    fmt::print("desktop memory: resident {:.1f} MiB with the window open (idle)\n", idle);
    fmt::print("desktop memory: resident {:.1f} MiB after 10 s of the synthesized player ({} frames drawn)\n", after,
               frames_played);
    fmt::print("desktop memory: growth over the last 5 s of playback {:+.1f} MiB; playing / idle = {:.2f}x\n",
               after - at_five, idle > 0 ? after / idle : 0.0);
    fmt::print("desktop memory: goal under 80 MiB resident while playing: {}\n", after < 80.0 ? "met" : "NOT MET");
    return 0;
}
