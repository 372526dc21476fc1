#pragma once
// The scroll benchmark ("--bench-scroll"): one frame of the root widget over
// the offline sample catalogue, timed phase by phase (sync, layout solve,
// layout application, drawing) while the page scrolls 3 px a frame. It runs
// twice: once solving the layout every frame (the baseline, which drops the
// solver's cache first so that every solve is a whole one) and once solving
// only when the root asks for a measure (the fast path, where a scroll only
// repositions). No window, no worker, no network, nothing written.
//
// Main thread.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <expected>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sarn/app/sarn_app.h"
#include "sarn/main/error.h"
#include "sarn/main/options.h"
#include "sarn/model/library.h"
#include "vorn_ui/layout.h"
#include "vorn_ui/scene.h"
#include "vorn_ui/text.h"
#include "vorn_ui/theme.h"
#include "vorn_ui/widget.h"

namespace sarn::entry {

inline constexpr std::uint32_t kBenchWidth = 1280;
inline constexpr std::uint32_t kBenchHeight = 900;
inline constexpr std::size_t kBenchHomeVideos = 80;
inline constexpr std::size_t kBenchComments = 60;
inline constexpr double kBenchScrollDelta = -3.0;

// Whole microseconds.
using Micros = std::uint64_t;
Micros to_micros(std::chrono::nanoseconds duration);

struct BenchTimings {
    std::vector<Micros> sync;
    std::vector<Micros> compute;  // 0 for a frame that skipped the solve
    std::vector<Micros> apply;
    std::vector<Micros> draw;
    bool fast_path_taken = false;  // some frame skipped the solve; never in a forced run
};

// "watch page (player + 60 comments)", with " [loaded+paused player]" when
// loaded; "80 Home cards" without watch.
std::string bench_variant_label(bool watch, bool loaded);

// The sample catalogue prepared for a variant: for watch, the first video
// with comments (else the first video) with its comments repeated up to 60
// and the route on its watch page; for home, the videos repeated up to 80
// (copies "{id}_{k}") and the route Home.
struct BenchLibrary {
    Library library;
    std::string video_id;  // the watch variant's video; empty for home
};
BenchLibrary bench_library(bool watch);

// 0 for an empty list; else the element at index count / 2 of the sorted
// list (the upper middle one for an even count).
Micros median_duration(std::span<const Micros> values);
// 0 for an empty list; else the largest.
Micros max_duration(std::span<const Micros> values);

// The two lines of one run's statistics (frame totals, then each phase's
// median and maximum), in milliseconds with 2 decimals.
std::string format_bench_stats(std::string_view label, std::span<const Micros> sync, std::span<const Micros> compute,
                               std::span<const Micros> apply, std::span<const Micros> draw);
// The same lines, on standard output.
void print_bench_stats(std::string_view label, std::span<const Micros> sync, std::span<const Micros> compute,
                       std::span<const Micros> apply, std::span<const Micros> draw);

// The root of one run, its layout and drawing context, frame by frame. The
// benchmark times these steps; other drivers (the benchmarks of the
// program, tests) call them the same way.
class ScrollBenchFrames {
public:
    // Builds the root for the variant and runs the untimed warm-up frame.
    static std::expected<std::unique_ptr<ScrollBenchFrames>, vorn_ui::layout::LayoutError> start(
        std::uint32_t width, std::uint32_t height, bool watch, bool loaded, SarnAppOptions options = {});

    void sync();
    // The window loop's rebuild after sync: when the root reports a structure
    // change, the tree is built and solved afresh; answers whether it was.
    // ("--bench-scroll" itself never asks.)
    std::expected<bool, vorn_ui::layout::LayoutError> rebuild_if_changed();
    // The synthetic scroll, at the centre of the page's scroll container.
    void scroll();
    bool needs_solve() const;
    // Solves the top node; a forced solve drops the solver's cache first.
    std::expected<void, vorn_ui::layout::LayoutError> solve(bool force);
    // What the last solve computed and took from the cache.
    const vorn_ui::layout::SolveStats& solve_stats() const { return m_tree.stats(); }
    std::size_t layout_node_count() const { return m_tree.node_count(); }
    void apply();
    // A fresh scene drawn with the canvas as the visible region, then marked
    // drawn; the caller drops it.
    vorn_ui::Scene draw();

    SarnApp& root() { return *m_root; }
    const vorn_ui::Theme& theme() const { return m_theme; }
    // Where the scroll event points, in logical pixels (scale 1).
    vorn_ui::Point scroll_position() const { return m_scroll_position; }

    // Only start() makes one.
    class Key {
        friend class ScrollBenchFrames;
        Key() = default;
    };
    ScrollBenchFrames(Key, std::uint32_t width, std::uint32_t height, std::unique_ptr<SarnApp> root);
    ScrollBenchFrames(const ScrollBenchFrames&) = delete;
    ScrollBenchFrames& operator=(const ScrollBenchFrames&) = delete;
    ~ScrollBenchFrames();

private:

    std::uint32_t m_width;
    std::uint32_t m_height;
    vorn_ui::Theme m_theme;
    vorn_ui::widget::PresenceContext m_presence;
    vorn_ui::widget::PermissionContext m_permissions;
    vorn_ui::TextRenderer m_text;
    vorn_ui::layout::LayoutTree m_tree;
    vorn_ui::widget::NodeRegistry m_registry;
    vorn_ui::widget::Environment m_env;
    vorn_ui::widget::RuntimeState m_state;
    vorn_ui::widget::RootLayout m_nodes;
    vorn_ui::Point m_scroll_position;
    std::unique_ptr<SarnApp> m_root;
};

// One run of N frames; `force` solves every frame.
std::expected<BenchTimings, vorn_ui::layout::LayoutError> bench_scroll_run(std::uint32_t width, std::uint32_t height,
                                                                          bool watch, bool loaded, std::size_t frames,
                                                                          bool force, SarnAppOptions options = {});

// The benchmark as "--bench-scroll" runs it: both runs and their report,
// written to `out`. `options` is asked once per run.
std::expected<void, MainError> run_scroll_bench(const mode::BenchScroll& bench, std::FILE* out,
                                                const std::function<SarnAppOptions()>& options = {});

}  // namespace sarn::entry
