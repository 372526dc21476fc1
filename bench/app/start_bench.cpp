// Cold start: from the start of the process to the first frame the window
// presents (the launcher's "first frame presented" event), the offline home
// page in a window on a private X server, in a home of its own. Printed with
// the time the same machine takes to run "gst-launch-1.0 --version", as a
// floor for starting a program that loads the media framework. The first run
// fills the caches of a fresh home (fonts, media plugins) and is shown apart.
#include <fmt/format.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "program_process.h"
#include "xvfb_display.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Milliseconds to the first presented frame, or none.
std::optional<double> one_start(const vorn_test::ProgramHome& home, const std::map<std::string, std::string>& env) {
    const auto t0 = Clock::now();
    auto process = vorn_test::ProgramProcess::start({vorn_test::program_path(), "--route", "home"}, env, home.root());
    if (!process) return std::nullopt;
    std::optional<double> took;
    const auto deadline = t0 + 20s;
    while (Clock::now() < deadline) {
        if (process->standard_error().find("first frame presented") != std::string::npos) {
            took = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
            break;
        }
        if (!process->running()) break;
        std::this_thread::sleep_for(200us);
    }
    process->stop();
    return took;
}

double one_gst_version() {
    const auto t0 = Clock::now();
    const int status = std::system("gst-launch-1.0 --version >/dev/null 2>&1");
    (void)status;
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    vorn_test::XvfbDisplay display("1280x900x24");
    vorn_test::DbusSession bus;
    if (!display.ok() || !bus.ok()) {
        fmt::print(stderr, "app start bench: no X server or session bus\n");
        return 1;
    }
    vorn_test::ProgramHome home;
    auto env = home.environment();
    env["DISPLAY"] = display.name();
    env["DBUS_SESSION_BUS_ADDRESS"] = bus.address();
    env["VORN_LOG"] = "info,vorn_ui::launch=debug";
    env["VORN_SARN_TEST_ORIGIN"] = "http://127.0.0.1:9";

    const auto first = one_start(home, env);
    std::vector<double> starts, floors;
    for (int i = 0; i < runs; ++i) {
        if (auto took = one_start(home, env)) starts.push_back(*took);
        floors.push_back(one_gst_version());
    }
    if (!first || starts.empty()) {
        fmt::print(stderr, "app start bench: the program presented no frame\n");
        return 1;
    }
    const double start = sarn::bench::median_of(starts);
    const double floor = sarn::bench::median_of(floors);
    fmt::print("app cold start, offline home page, 1280x800 window, {} runs\n", runs);
    fmt::print("  first start in a fresh home (caches filled): {:.1f} ms\n", *first);
    fmt::print("  process start to the first presented frame: median {:.1f} ms (min {:.1f}, max {:.1f})\n", start,
               *std::min_element(starts.begin(), starts.end()), *std::max_element(starts.begin(), starts.end()));
    fmt::print("  floor, gst-launch-1.0 --version: median {:.1f} ms; ratio start/floor {:.1f}x\n", floor,
               floor > 0 ? start / floor : 0.0);
    fmt::print("  goal, median under 200 ms: {}\n", start < 200.0 ? "met" : "NOT MET");
    return 0;
}
