#include "sarn/main/bench_scroll.h"

#include <algorithm>
#include <numeric>
#include <optional>

#include <fmt/format.h>

#include "vorn_ui/widget/scrollable.h"

namespace sarn::entry {

namespace {

using Clock = std::chrono::steady_clock;

double millis(Micros value) { return static_cast<double>(value) / 1000.0; }

template <class F>
Micros timed(F&& step) {
    const auto start = Clock::now();
    step();
    return to_micros(Clock::now() - start);
}

// Per frame, the sum of the four phases, over the frames all four lists hold.
std::vector<Micros> frame_totals(std::span<const Micros> sync, std::span<const Micros> compute,
                                 std::span<const Micros> apply, std::span<const Micros> draw) {
    const std::size_t n = std::min({sync.size(), compute.size(), apply.size(), draw.size()});
    std::vector<Micros> totals(n);
    for (std::size_t i = 0; i < n; ++i) totals[i] = sync[i] + compute[i] + apply[i] + draw[i];
    return totals;
}

// The page's scroll container: the largest one in the tree.
const vorn_ui::widget::Widget* largest_scroller(const vorn_ui::widget::Widget& widget) {
    const vorn_ui::widget::Widget* best = nullptr;
    double best_area = 0.0;
    auto visit = [&](auto& self, const vorn_ui::widget::Widget& w) -> void {
        if (w.type_name() == "Scrollable") {
            const vorn_ui::Rect b = w.bounds();
            const double area = std::max(b.x1 - b.x0, 0.0) * std::max(b.y1 - b.y0, 0.0);
            if (area > best_area) {
                best_area = area;
                best = &w;
            }
        }
        for (const auto& child : w.children()) {
            if (child) self(self, *child);
        }
    };
    visit(visit, widget);
    return best;
}

}  // namespace

Micros to_micros(std::chrono::nanoseconds duration) {
    const auto ns = duration.count();
    if (ns <= 0) return 0;
    const auto n = static_cast<std::uint64_t>(ns);
    return (n / 1'000'000'000u) * 1'000'000u + (n % 1'000'000'000u) / 1'000u;
}

std::string bench_variant_label(bool watch, bool loaded) {
    if (watch) return std::string("watch page (player + 60 comments)") + (loaded ? " [loaded+paused player]" : "");
    return fmt::format("{} Home cards", kBenchHomeVideos);
}

BenchLibrary bench_library(bool watch) {
    BenchLibrary out{Library::sample(), {}};
    Library& library = out.library;
    if (watch) {
        const auto with_comments =
            std::find_if(library.videos.begin(), library.videos.end(), [](const Video& v) { return !v.comments.empty(); });
        if (with_comments != library.videos.end()) {
            out.video_id = with_comments->id;
        } else if (!library.videos.empty()) {
            out.video_id = library.videos.front().id;
        }
        if (Video* video = library.find_video(out.video_id)) {
            const std::vector<Comment> copy = video->comments;
            for (std::size_t k = 0; !copy.empty() && video->comments.size() < kBenchComments; ++k) {
                video->comments.push_back(copy[k % copy.size()]);
            }
        }
        library.route = Route::watch(out.video_id);
    } else {
        const std::vector<Video> copy = library.videos;
        for (std::size_t k = 0; !copy.empty() && library.videos.size() < kBenchHomeVideos; ++k) {
            Video video = copy[k % copy.size()];
            video.id = fmt::format("{}_{}", video.id, k);
            video.seed = video.id;
            library.videos.push_back(std::move(video));
        }
        library.route = Route::home();
    }
    return out;
}

Micros median_duration(std::span<const Micros> values) {
    if (values.empty()) return 0;
    std::vector<Micros> sorted(values.begin(), values.end());
    std::sort(sorted.begin(), sorted.end());
    return sorted[sorted.size() / 2];
}

Micros max_duration(std::span<const Micros> values) {
    if (values.empty()) return 0;
    return *std::max_element(values.begin(), values.end());
}

std::string format_bench_stats(std::string_view label, std::span<const Micros> sync, std::span<const Micros> compute,
                               std::span<const Micros> apply, std::span<const Micros> draw) {
    const std::vector<Micros> totals = frame_totals(sync, compute, apply, draw);
    const Micros sum = std::accumulate(totals.begin(), totals.end(), Micros{0});
    const Micros avg = totals.empty() ? 0 : sum / totals.size();
    std::string out = fmt::format("  {:<20} frame(total)  median {:>5.2f}ms  avg {:>5.2f}ms  max {:>5.2f}ms\n", label,
                                  millis(median_duration(totals)), millis(avg), millis(max_duration(totals)));
    out += fmt::format(
        "  {:<20}   sync med/max {:>5.2f}/{:>6.2f} | compute med/max {:>5.2f}/{:>6.2f} | apply med/max "
        "{:>5.2f}/{:>6.2f} | draw med/max {:>5.2f}/{:>6.2f} ms\n",
        "", millis(median_duration(sync)), millis(max_duration(sync)), millis(median_duration(compute)),
        millis(max_duration(compute)), millis(median_duration(apply)), millis(max_duration(apply)),
        millis(median_duration(draw)), millis(max_duration(draw)));
    return out;
}

void print_bench_stats(std::string_view label, std::span<const Micros> sync, std::span<const Micros> compute,
                       std::span<const Micros> apply, std::span<const Micros> draw) {
    std::fputs(format_bench_stats(label, sync, compute, apply, draw).c_str(), stdout);
}

// ---- frames ----

ScrollBenchFrames::ScrollBenchFrames(Key, std::uint32_t width, std::uint32_t height, std::unique_ptr<SarnApp> root)
    : m_width(width),
      m_height(height),
      m_theme(vorn_ui::Theme::dark()),
      m_permissions(vorn_ui::widget::PermissionContext::allow_all()),
      m_root(std::move(root)) {
    m_env.theme = m_theme;
    m_env.viewport = vorn_ui::Size{static_cast<double>(width), static_cast<double>(height)};
}

ScrollBenchFrames::~ScrollBenchFrames() = default;

std::expected<std::unique_ptr<ScrollBenchFrames>, vorn_ui::layout::LayoutError> ScrollBenchFrames::start(
    std::uint32_t width, std::uint32_t height, bool watch, bool loaded, SarnAppOptions options) {
    BenchLibrary prepared = bench_library(watch);
    auto make_root = [&]() -> SarnApp {
        SarnApp app = SarnApp::create(std::move(options))
                          .with_viewport_size(static_cast<double>(width), static_cast<double>(height))
                          .with_library(std::move(prepared.library));
        if (watch && loaded && !prepared.video_id.empty()) return std::move(app).with_demo_player(prepared.video_id);
        return app;
    };
    auto frames = std::make_unique<ScrollBenchFrames>(Key{}, width, height, std::make_unique<SarnApp>(make_root()));

    // The warm-up frame, untimed.
    SarnApp& root = *frames->m_root;
    root.sync(frames->m_state);
    vorn_ui::widget::LayoutContext cx{frames->m_tree, frames->m_registry, frames->m_env};
    auto nodes = vorn_ui::widget::build_root_layout(root, cx, frames->m_env.viewport);
    if (!nodes) return std::unexpected(nodes.error());
    frames->m_nodes = *nodes;
    if (auto solved = frames->solve(false); !solved) return std::unexpected(solved.error());
    frames->apply();
    vorn_ui::widget::DrawContext dc{frames->m_theme, frames->m_text, frames->m_permissions};
    {
        vorn_ui::Scene scene;
        root.draw_with_presence(scene, vorn_ui::Affine::identity(), dc, frames->m_presence);
        root.mark_drawn();
    }

    // The scroll goes where a person's pointer would be: over the page's
    // scroll container (the canvas centre when the page has none).
    frames->m_scroll_position = vorn_ui::Point{width / 2.0, height / 2.0};
    if (const auto* scroller = largest_scroller(root)) {
        const vorn_ui::Rect b = scroller->bounds();
        frames->m_scroll_position = vorn_ui::Point{(b.x0 + b.x1) / 2.0, (b.y0 + b.y1) / 2.0};
    }
    return frames;
}

void ScrollBenchFrames::sync() { m_root->sync(m_state); }

std::expected<bool, vorn_ui::layout::LayoutError> ScrollBenchFrames::rebuild_if_changed() {
    if (!m_root->take_structure_dirty()) return false;
    m_tree.clear();
    m_registry.clear();
    vorn_ui::widget::LayoutContext cx{m_tree, m_registry, m_env};
    auto nodes = vorn_ui::widget::build_root_layout(*m_root, cx, m_env.viewport);
    if (!nodes) return std::unexpected(nodes.error());
    m_nodes = *nodes;
    if (auto solved = solve(false); !solved) return std::unexpected(solved.error());
    return true;
}

void ScrollBenchFrames::scroll() {
    vorn_ui::ScrollEvent event;
    event.delta_x = 0.0;
    event.delta_y = kBenchScrollDelta;
    event.position = m_scroll_position;  // physical pixels at scale 1
    event.precise = true;
    vorn_ui::widget::EventContext cx(vorn_ui::Modifiers{}, m_state, 1.0, m_tree);
    m_root->handle_event(event, cx, m_nodes.root);
}

bool ScrollBenchFrames::needs_solve() const { return m_root->layout_needs_measure(); }

std::expected<void, vorn_ui::layout::LayoutError> ScrollBenchFrames::solve(bool force) {
    m_tree.reset_stats();
    if (force) m_tree.invalidate_all();
    return vorn_ui::widget::solve_root_layout(m_tree, m_nodes, m_env.viewport, m_registry, m_text);
}

void ScrollBenchFrames::apply() { m_root->apply_layout(m_tree, m_nodes.root, vorn_ui::Point{0, 0}); }

vorn_ui::Scene ScrollBenchFrames::draw() {
    vorn_ui::Scene scene;
    vorn_ui::widget::DrawContext dc{m_theme, m_text, m_permissions};
    const auto saved = m_presence.clip;
    m_presence.clip = vorn_ui::Rect{0, 0, static_cast<double>(m_width), static_cast<double>(m_height)};
    m_root->draw_with_presence(scene, vorn_ui::Affine::identity(), dc, m_presence);
    m_presence.clip = saved;
    m_root->mark_drawn();
    return scene;
}

std::expected<BenchTimings, vorn_ui::layout::LayoutError> bench_scroll_run(std::uint32_t width, std::uint32_t height,
                                                                          bool watch, bool loaded, std::size_t frames,
                                                                          bool force, SarnAppOptions options) {
    auto started = ScrollBenchFrames::start(width, height, watch, loaded, std::move(options));
    if (!started) return std::unexpected(started.error());
    ScrollBenchFrames& run = **started;

    BenchTimings timings;
    timings.sync.reserve(frames);
    timings.compute.reserve(frames);
    timings.apply.reserve(frames);
    timings.draw.reserve(frames);
    for (std::size_t i = 0; i < frames; ++i) {
        timings.sync.push_back(timed([&] { run.sync(); }));
        run.scroll();
        if (force || run.needs_solve()) {
            std::expected<void, vorn_ui::layout::LayoutError> solved;
            timings.compute.push_back(timed([&] { solved = run.solve(force); }));
            if (!solved) return std::unexpected(solved.error());
        } else {
            timings.compute.push_back(0);
            timings.fast_path_taken = true;
        }
        timings.apply.push_back(timed([&] { run.apply(); }));
        std::optional<vorn_ui::Scene> scene;
        timings.draw.push_back(timed([&] { scene.emplace(run.draw()); }));
    }
    return timings;
}

std::expected<void, MainError> run_scroll_bench(const mode::BenchScroll& bench, std::FILE* out,
                                                const std::function<SarnAppOptions()>& options) {
    auto options_for_run = [&] { return options ? options() : SarnAppOptions{}; };
    const std::string label = bench_variant_label(bench.watch, bench.loaded);
    std::fputs(fmt::format("sarn scroll bench: {}, {}x{}, {} scroll frames\n\n", label, kBenchWidth, kBenchHeight,
                           bench.frames)
                   .c_str(),
               out);

    auto baseline = bench_scroll_run(kBenchWidth, kBenchHeight, bench.watch, bench.loaded, bench.frames, true,
                                     options_for_run());
    if (!baseline) return std::unexpected(MainError::from_layout(baseline.error()));
    std::fputs(format_bench_stats("BASELINE (re-solve)", baseline->sync, baseline->compute, baseline->apply,
                                  baseline->draw)
                   .c_str(),
               out);

    auto fast = bench_scroll_run(kBenchWidth, kBenchHeight, bench.watch, bench.loaded, bench.frames, false,
                                 options_for_run());
    if (!fast) return std::unexpected(MainError::from_layout(fast.error()));
    std::fputs(format_bench_stats("FAST (reposition)", fast->sync, fast->compute, fast->apply, fast->draw).c_str(), out);

    std::fputs(fmt::format("\n  scroll frames took the reposition-only fast path: {}\n",
                           fast->fast_path_taken ? "yes (compute_layout skipped)" : "NO — investigate")
                   .c_str(),
               out);
    const std::vector<Micros> totals = frame_totals(fast->sync, fast->compute, fast->apply, fast->draw);
    std::fputs(fmt::format("  FAST-path median frame (incl. sync): {:.2f}ms  (sync med {:.2f}ms)\n",
                           millis(median_duration(totals)), millis(median_duration(fast->sync)))
                   .c_str(),
               out);
    return {};
}

}  // namespace sarn::entry
