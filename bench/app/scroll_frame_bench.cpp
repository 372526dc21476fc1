// The program's scroll frames as the window draws them: the home page of 80
// cards and the watch page with its player and 60 comments, scrolled 3 px a
// frame, each frame synchronised, laid out, drawn and rasterised into a
// 1280 x 900 picture. The baseline solves the whole layout and rasterises the
// whole picture every frame; the fast path solves only when the root asks for
// a measure and, when only the scroll changed, moves the last picture and
// rasterises the exposed strip. Prints both and their ratio.
#include <fmt/format.h>

#include <chrono>
#include <optional>
#include <vector>

#include "bench_support.h"
#include "sarn/main/bench_scroll.h"
#include "vorn_ui/offscreen.h"

namespace {

using namespace sarn;
using Clock = std::chrono::steady_clock;

struct Run {
    std::vector<double> frame_ms;  // sync through rasterising
    int blits = 0;
    int rebuilds = 0;
    bool fast_path = false;
};

std::optional<Run> run(bool watch, bool loaded, int frames, bool force) {
    auto started =
        entry::ScrollBenchFrames::start(entry::kBenchWidth, entry::kBenchHeight, watch, loaded, bench::detached_options());
    if (!started) return std::nullopt;
    entry::ScrollBenchFrames& f = **started;
    auto renderer = vorn_ui::offscreen::OffscreenRenderer::create(entry::kBenchWidth, entry::kBenchHeight);
    if (!renderer) return std::nullopt;
    {
        const vorn_ui::Scene first = f.draw();
        renderer->render_frame(first, f.theme().background);
    }
    Run out;
    for (int i = 0; i < frames; ++i) {
        const auto t0 = Clock::now();
        f.sync();
        auto rebuilt = f.rebuild_if_changed();
        if (!rebuilt) return std::nullopt;
        f.scroll();
        bool solved = *rebuilt;
        if (force || f.needs_solve()) {
            if (!f.solve(force)) return std::nullopt;
            solved = true;
        } else {
            out.fast_path = true;
        }
        std::optional<vorn_ui::offscreen::ScrollBlit> blit;
        if (*rebuilt) ++out.rebuilds;
        if (!force && !solved) blit = vorn_ui::offscreen::scroll_only_change(f.root());
        f.apply();
        const vorn_ui::Scene scene = f.draw();
        if (force) {
            renderer->render_into(scene, f.theme().background);
        } else if (renderer->render_frame(scene, f.theme().background, blit) && blit) {
            ++out.blits;
        }
        out.frame_ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    }
    return out;
}

bool report(const char* label, bool watch, bool loaded, int frames, double goal_ms) {
    const auto base = run(watch, loaded, frames, true);
    const auto fast = run(watch, loaded, frames, false);
    if (!base || !fast) {
        fmt::print(stderr, "{}: the layout failed\n", label);
        return false;
    }
    const double b = sarn::bench::median_of(base->frame_ms);
    const double f = sarn::bench::median_of(fast->frame_ms);
    fmt::print("  {}\n", label);
    fmt::print("    baseline (whole solve, whole picture) median frame {:.3f} ms\n", b);
    fmt::print("    fast path (reposition, scroll blit)   median frame {:.3f} ms; fast path taken: {}; blits {}/{}; "
               "rebuilds {}\n",
               f, fast->fast_path ? "yes" : "NO", fast->blits, frames, fast->rebuilds);
    fmt::print("    ratio baseline/fast {:.1f}x; goal, fast median under {:.0f} ms: {}\n", f > 0 ? b / f : 0.0, goal_ms,
               f < goal_ms ? "met" : "NOT MET");
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const int frames = argc > 1 ? std::max(1, std::atoi(argv[1])) : 90;
    fmt::print("app scroll frames: {}x{}, {} frames scrolling 3 px, drawing rasterised\n", entry::kBenchWidth,
               entry::kBenchHeight, frames);
    bool ok = report("home, 80 cards", false, false, frames, 1.0);
    ok = report("watch page, loaded and paused player, 60 comments", true, true, frames, 2.0) && ok;
    return ok ? 0 : 1;
}
