// Memory and processor time of the real program in a window on a private X
// server, in a home of its own, with a server on this machine for every
// outside address and a stand-in for yt-dlp:
// - resident memory with the live home feed of 30 cards and their
//   thumbnails shown, beside the offline home page of the same program;
// - resident memory while the watch page plays a 1080p 30 fps clip (made
//   here with gst-launch-1.0) for 30 s, sampled every second;
// - the program's processor time over those 30 s, beside gst-launch-1.0
//   decoding the same clip to a fake sink over the same time.
#include <fmt/format.h>

#include <chrono>
#include <fstream>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "bench_support.h"
#include "program_process.h"
#include "sarn/main/launch.h"
#include "vorn_test/local_server.h"
#include "vorn_ui/offscreen.h"
#include "x_client.h"
#include "xvfb_display.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kClipSeconds = 40;
constexpr int kPlaySeconds = 30;

bool wait_until(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (Clock::now() < deadline) {
        if (done()) return true;
        std::this_thread::sleep_for(20ms);
    }
    return done();
}

// The 1080p clip, made once per build tree.
std::string clip_path() {
    const auto path = std::filesystem::path(VORN_BINARY_DIR) / "bench" / "app" / "clip-1080p30.webm";
    if (!std::filesystem::exists(path)) {
        std::filesystem::create_directories(path.parent_path());
        const auto part = path.string() + ".part";
        const std::string command = fmt::format(
            "gst-launch-1.0 -q videotestsrc num-buffers={} pattern=smpte horizontal-speed=4 ! "
            "video/x-raw,width=1920,height=1080,framerate=30/1 ! vp8enc deadline=1 cpu-used=8 threads=4 "
            "target-bitrate=4000000 ! webmmux ! filesink location={} >/dev/null 2>&1",
            kClipSeconds * 30, part);
        if (std::system(command.c_str()) != 0) return {};
        std::filesystem::rename(part, path);
    }
    return path.string();
}

std::string read_all(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A 480x360 picture of one colour, as a thumbnail of the platform's size.
std::string thumbnail(int n) {
    std::vector<std::uint8_t> rgba;
    rgba.reserve(480 * 360 * 4);
    for (int i = 0; i < 480 * 360; ++i) {
        rgba.insert(rgba.end(), {static_cast<std::uint8_t>(40 + 7 * n), static_cast<std::uint8_t>(200 - 5 * n), 90, 255});
    }
    auto png = vorn_ui::offscreen::encode_png(480, 360, rgba);
    return png ? std::string(png->begin(), png->end()) : std::string();
}

// Where a control lies in the window of a start state: the root laid out
// headless at the window's size.
std::optional<vorn_ui::Point> control_centre(std::vector<std::string> args, std::string_view id) {
    args.insert(args.begin(), "vorn-sarn");
    const std::vector<std::string> switches(std::begin(sarn::entry::kLaunchSwitches), std::end(sarn::entry::kLaunchSwitches));
    const std::vector<std::string> valued(std::begin(sarn::entry::kValuedLaunchOptions),
                                          std::end(sarn::entry::kValuedLaunchOptions));
    sarn::SarnApp app = sarn::entry::app_from_args(vorn_ui::launch::LaunchArgs::parse(args, switches, valued),
                                                   sarn::bench::detached_options());
    vorn_ui::layout::LayoutTree tree;
    vorn_ui::widget::NodeRegistry registry;
    vorn_ui::widget::Environment env;
    env.viewport = {1280, 800};
    vorn_ui::TextRenderer text;
    vorn_ui::widget::RuntimeState state;
    app.sync(state);
    vorn_ui::widget::LayoutContext cx{tree, registry, env};
    auto nodes = vorn_ui::widget::build_root_layout(app, cx, env.viewport);
    if (!nodes || !vorn_ui::widget::solve_root_layout(tree, *nodes, env.viewport, registry, text)) return std::nullopt;
    app.apply_layout(tree, nodes->root, {0, 0});
    std::optional<vorn_ui::Point> found;
    auto visit = [&](auto& self, const vorn_ui::widget::Widget& w) -> void {
        if (w.widget_id() == std::optional<std::string_view>(id)) {
            const auto b = w.bounds();
            found = vorn_ui::Point{(b.x0 + b.x1) / 2, (b.y0 + b.y1) / 2};
        }
        for (const auto& child : w.children()) {
            if (child && !found) self(self, *child);
        }
    };
    visit(visit, app);
    return found;
}

}  // namespace

int main() {
    vorn_test::XvfbDisplay display("1280x900x24");
    vorn_test::DbusSession bus;
    vorn_test::XClient x;
    const std::string clip = clip_path();
    if (!display.ok() || !bus.ok() || !x.ok() || clip.empty()) {
        fmt::print(stderr, "app media bench: no X server, session bus or clip\n");
        return 1;
    }
    const std::string clip_bytes = read_all(clip);

    vorn_test::LocalServer server;
    std::atomic<int> thumbnails{0};
    std::atomic<int> clip_requests{0};
    std::vector<std::string> pictures;
    for (int i = 1; i <= 30; ++i) pictures.push_back(thumbnail(i));
    server.server().Get(R"(/thumb/(\d+)\.png)", [&](const httplib::Request& request, httplib::Response& response) {
        const int n = std::clamp(std::atoi(request.matches[1].str().c_str()), 1, 30);
        response.set_content(pictures[static_cast<std::size_t>(n - 1)], "image/png");
        thumbnails.fetch_add(1);
    });
    server.server().Get("/clip.webm", [&](const httplib::Request&, httplib::Response& response) {
        clip_requests.fetch_add(1);
        response.set_content(clip_bytes, "video/webm");
    });
    if (!server.start()) {
        fmt::print(stderr, "app media bench: the local server did not start\n");
        return 1;
    }
    const std::string origin = server.base_url();

    vorn_test::ProgramHome home;
    nlohmann::json entries = nlohmann::json::array();
    for (int i = 1; i <= 30; ++i) {
        entries.push_back({{"id", fmt::format("feed{:02}", i)},
                           {"title", fmt::format("Feed video {:02}", i)},
                           {"channel", "Channel One"},
                           {"channel_id", "UCone"},
                           {"view_count", 1000 * i},
                           {"duration", kClipSeconds},
                           {"thumbnails", {{{"url", fmt::format("{}/thumb/{}.png", origin, i)}, {"width", 480}, {"height", 360}}}}});
    }
    const auto feed = home.write_file("trending.json", nlohmann::json{{"entries", entries}}.dump());
    home.set_ytdlp_scenario(fmt::format(
        "[when --version]\nstdout 2024.01.01\\n\n"
        "[when best[protocol]\nstdout \"{}/clip.webm\"\\t1920\\t1080\\t30\\t\"1080p\"\\t\"1920x1080\"\\t\"webm\"\\t\"vp8\"\\t\"none\"\\n\n"
        "[when feed/trending]\nstdout-file {}\n[always]\nexit 1\n",
        origin, feed.string()));
    auto env = home.environment();
    env["DISPLAY"] = display.name();
    env["DBUS_SESSION_BUS_ADDRESS"] = bus.address();
    env["VORN_SARN_TEST_ORIGIN"] = origin;
    env["VORN_SARN_INVIDIOUS"] = origin;

    // Offline home page: the baseline of the memory figures.
    double offline_mib = 0;
    {
        auto offline = vorn_test::ProgramProcess::start({vorn_test::program_path(), "--route", "home"}, env, home.root());
        if (!offline) {
            fmt::print(stderr, "app media bench: the program did not start\n");
            return 1;
        }
        std::this_thread::sleep_for(3s);
        offline_mib = sarn::bench::resident_mib(offline->pid());
        offline->stop();
    }

    auto live = vorn_test::ProgramProcess::start({vorn_test::program_path()}, env, home.root());
    if (!live) {
        fmt::print(stderr, "app media bench: the program did not start\n");
        return 1;
    }
    std::optional<unsigned long> window;
    wait_until([&] { return (window = x.find_window("org.vorn.Sarn")).has_value(); }, 10s);
    if (!window) {
        fmt::print(stderr, "app media bench: no window\n{}", live->standard_error());
        return 1;
    }
    x.park_pointer();
    wait_until([&] { return thumbnails.load() >= 30; }, 20s);
    std::this_thread::sleep_for(2s);
    const double feed_mib = sarn::bench::resident_mib(live->pid());

    // The watch page through the action search.
    // The first entry lies where it lies for any query with an answer.
    const auto input = control_centre({"--palette", "--palette-query", "analog synth"}, "palette_input");
    const auto row = control_centre({"--palette", "--palette-query", "analog synth"}, "palette_row_0");
    if (!input || !row) {
        fmt::print(stderr, "app media bench: the action search's controls were not found\n");
        return 1;
    }
    x.key(vorn_test::XClient::Key::K, vorn_test::XClient::Ctrl);
    std::this_thread::sleep_for(300ms);
    x.click(*window, static_cast<int>(input->x), static_cast<int>(input->y));
    x.type("Feed video 03");
    std::this_thread::sleep_for(500ms);
    x.click(*window, static_cast<int>(row->x), static_cast<int>(row->y));
    x.park_pointer();
    const bool playing = wait_until([&] { return clip_requests.load() > 0; }, 20s);
    std::this_thread::sleep_for(3s);

    std::vector<double> samples;
    const double cpu_before = sarn::bench::cpu_seconds(live->pid());
    for (int s = 0; s < kPlaySeconds && playing; ++s) {
        std::this_thread::sleep_for(1s);
        samples.push_back(sarn::bench::resident_mib(live->pid()));
    }
    const double program_cpu = sarn::bench::cpu_seconds(live->pid()) - cpu_before;
    live->stop();
    const std::string complaints = vorn_test::gstreamer_complaints(live->standard_error());

    // The floor: the media framework alone decoding the same clip in real time.
    double gst_cpu = 0;
    {
        auto gst = vorn_test::ProgramProcess::start(
            {"/usr/bin/gst-launch-1.0", "-q", "playbin", "uri=file://" + clip, "video-sink=fakesink sync=true",
             "audio-sink=fakesink"},
            env, home.root());
        if (gst) {
            std::this_thread::sleep_for(3s);
            const double before = sarn::bench::cpu_seconds(gst->pid());
            std::this_thread::sleep_for(std::chrono::seconds(kPlaySeconds));
            gst_cpu = sarn::bench::cpu_seconds(gst->pid()) - before;
            gst->stop();
        }
    }

    fmt::print("app memory and processor time (resident sizes in MiB)\n");
    fmt::print("  offline home page: {:.1f}\n", offline_mib);
    fmt::print("  live home feed, 30 cards with {} thumbnails fetched: {:.1f} ({:.2f}x the offline home); goal under 100: {}\n",
               thumbnails.load(), feed_mib, offline_mib > 0 ? feed_mib / offline_mib : 0.0, feed_mib < 100 ? "met" : "NOT MET");
    if (!playing || samples.empty()) {
        fmt::print("  watch page: the clip was never asked for\n");
        return 1;
    }
    const auto [lo, hi] = std::minmax_element(samples.begin(), samples.end());
    fmt::print("  watch page playing the 1080p 30 fps clip for {} s: first {:.1f}, last {:.1f}, min {:.1f}, max {:.1f} "
               "(growth {:+.1f}); goal under 150 and flat: {}\n",
               kPlaySeconds, samples.front(), samples.back(), *lo, *hi, samples.back() - samples.front(),
               *hi < 150 && samples.back() - samples.front() < 10 ? "met" : "NOT MET");
    fmt::print("  processor time over those {} s: program {:.2f} s, gst-launch-1.0 decoding to a fake sink {:.2f} s; "
               "ratio {:.2f}x; goal under 1.5x: {}\n",
               kPlaySeconds, program_cpu, gst_cpu, gst_cpu > 0 ? program_cpu / gst_cpu : 0.0,
               gst_cpu > 0 && program_cpu / gst_cpu < 1.5 ? "met" : "NOT MET");
    fmt::print("  GStreamer CRITICAL or WARNING lines while the clip played: {}\n{}", complaints.empty() ? "none" : "",
               complaints);
    return 0;
}
