// What one click costs the interface thread: a like of a video (the intent,
// the shared document's dispatch and its atomic save, the next frame) and
// the opening of one video from the home page (the history entry and its
// atomic save, the navigation, the watch page's tree built and solved). The
// program's data folders are a temporary folder on the disk, so every save
// is flushed as it is for the user. The baseline is one flushed atomic write
// of a file the size of the shared document, timed in the same run. Prints
// medians, maxima and the ratios; the goal is each click under 4 ms. The
// first frame is drawn, as the window draws it, and the first opening is
// set beside that of a second root whose first frame was never drawn.
#include <fmt/format.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "atomic_file/atomic_file.h"
#include "bench_support.h"
#include "sarn/actions/application.h"
#include "sarn/actions/history_store.h"
#include "vorn_ui/persist.h"
#include "vorn_ui/scene.h"
#include "vorn_ui/text.h"
#include "vorn_ui/widget.h"

namespace {

using namespace sarn;
using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point t0) { return std::chrono::duration<double, std::milli>(Clock::now() - t0).count(); }

double max_of(const std::vector<double>& values) {
    return values.empty() ? 0.0 : *std::max_element(values.begin(), values.end());
}

// The root driven as the window loop drives it: input, then a frame that
// syncs, saves the shared document when an action moved it, rebuilds when
// the structure changed, solves and places.
class ClickRig {
public:
    ClickRig(const std::filesystem::path& data_dir, SarnAppOptions options)
        : m_store(vorn_ui::persist::DocumentStore::open_at(data_dir / "vorn" / std::string(kApplicationId) /
                                                           "shared.automerge")),
          m_app(SarnApp::create(std::move(options)).with_viewport_size(kWidth, kHeight)) {
        m_env.scale = 1.0f;
        m_env.theme = vorn_ui::Theme::dark();
        m_env.viewport = {kWidth, kHeight};
    }

    SarnApp& app() { return m_app; }
    // The last frame's tree building and solving.
    double last_build_ms() const { return m_last_build_ms; }
    double last_solve_ms() const { return m_last_solve_ms; }
    vorn_ui::persist::DocumentStore& store() { return m_store; }

    // Draws the frame into a scene as the window does (not rasterized) and
    // returns the time it took on this thread.
    double draw() {
        const auto t0 = Clock::now();
        vorn_ui::Scene scene;
        const auto permissions = vorn_ui::widget::PermissionContext::allow_all();
        vorn_ui::widget::DrawContext cx{m_env.theme, m_text, permissions};
        m_app.draw_with_presence(scene, vorn_ui::Affine::identity(), cx,
                                 vorn_ui::widget::PresenceContext{vorn_ui::Rect{0, 0, kWidth, kHeight}});
        m_app.mark_drawn();
        return ms_since(t0);
    }

    // Waits for what the first frame set going in the background (the
    // user's look at the first page before the first click).
    double settle() {
        const auto t0 = Clock::now();
        m_text.finish_preparing_fonts();
        return ms_since(t0);
    }

    // Queues intents as a control does during an event and delivers it.
    void click(ControlIntent intent) {
        m_app.intents().push(std::move(intent));
        vorn_ui::widget::RuntimeState state;
        state.document = &m_store.document();
        vorn_ui::widget::EventContext cx({}, state, m_env.scale, m_tree);
        m_app.handle_event(vorn_ui::PointerLeaveEvent{}, cx, m_nodes.root);
    }

    // One frame; false when the layout failed. The save runs as the window
    // loop runs it (on the store's writer thread) unless `synchronous`; its
    // time on this thread goes to save_ms.
    bool frame(bool synchronous = false, double* save_ms = nullptr) {
        vorn_ui::widget::RuntimeState state;
        state.document = &m_store.document();
        m_app.sync(state);
        if (m_app.take_dispatch_state()) {
            const auto t0 = Clock::now();
            auto saved = synchronous ? m_store.save_if_changed() : m_store.save_in_background();
            if (!saved) {
                fmt::print(stderr, "the shared document could not be saved: {}\n", saved.error().message);
                return false;
            }
            if (save_ms != nullptr) *save_ms = ms_since(t0);
        }
        const bool rebuild = m_app.take_structure_dirty() || !m_built;
        const vorn_ui::Size view{kWidth, kHeight};
        const auto built_at = Clock::now();
        if (rebuild) {
            m_tree.clear();
            m_registry.clear();
            vorn_ui::widget::LayoutContext cx{m_tree, m_registry, m_env};
            auto nodes = vorn_ui::widget::build_root_layout(m_app, cx, view);
            if (!nodes) return false;
            m_nodes = *nodes;
            m_built = true;
        }
        const auto solved_at = Clock::now();
        m_last_build_ms = std::chrono::duration<double, std::milli>(solved_at - built_at).count();
        if (!vorn_ui::widget::solve_root_layout(m_tree, m_nodes, view, m_registry, m_text)) return false;
        m_last_solve_ms = ms_since(solved_at);
        m_app.apply_layout(m_tree, m_nodes.root, vorn_ui::Point{0, 0});
        return true;
    }

private:
    static constexpr double kWidth = 1280;
    static constexpr double kHeight = 800;
    vorn_ui::persist::DocumentStore m_store;
    SarnApp m_app;
    vorn_ui::layout::LayoutTree m_tree;
    vorn_ui::widget::NodeRegistry m_registry;
    vorn_ui::widget::Environment m_env;
    vorn_ui::TextRenderer m_text;
    vorn_ui::widget::RootLayout m_nodes;
    bool m_built = false;
    double m_last_build_ms = 0.0;
    double m_last_solve_ms = 0.0;
};

struct Figures {
    std::vector<double> like_sync_ms;       // intent through the next frame, the save waited for
    std::vector<double> like_sync_save_ms;  // that save
    std::vector<double> like_ms;            // the same, the save handed to the writer thread
    std::vector<double> like_save_ms;       // that hand-over
    std::vector<double> open_ms;            // intent through the watch page solved
    std::vector<double> open_click_ms;      // the intent alone: history entry, navigation
    std::vector<double> history_sync_ms;    // one history entry dispatched and written
    std::vector<double> history_ms;         // the same, the write handed to the writer thread
    std::vector<double> finish_ms;          // the writes still pending at the end, waited for
    std::vector<double> baseline_ms;        // one flushed atomic write of the document's size
    std::size_t document_bytes = 0;
    double first_open_build_ms = 0.0;  // the first watch page's tree built
    double first_open_solve_ms = 0.0;  // and solved
    double first_frame_ms = 0.0;       // the first frame built, solved and drawn
    double settle_ms = 0.0;            // the wait for what it set going in the background
    // The first opening in a second root whose first frame was not drawn,
    // so that no font was prepared (as before): total, intent, tree, solve.
    double unprepared_open_ms = 0.0;
    double unprepared_click_ms = 0.0;
    double unprepared_build_ms = 0.0;
    double unprepared_solve_ms = 0.0;
};

// One history entry a repetition on a store of its own, timed on this thread.
bool time_history(const std::filesystem::path& data, bool writer_thread, const std::vector<std::string>& ids,
                  int repetitions, std::vector<double>& out, std::vector<double>* finish_ms) {
    auto store = OwnerHistoryStore::open_in(data, writer_thread ? "bench-writer" : "bench-sync");
    if (writer_thread) store.use_writer_thread();
    vorn_ui::bound_dispatch::DispatchState state;
    for (int i = 0; i < repetitions; ++i) {
        const auto& id = ids[static_cast<std::size_t>(i) % ids.size()];
        const auto t0 = Clock::now();
        const bool saved = store.dispatch(
            state, OwnerHistoryAction::set_entry(id, 1'700'000'000'000ULL + static_cast<std::uint64_t>(i), true,
                                                 fmt::format("bench:watch:{}:{}", id, i)));
        out.push_back(ms_since(t0));
        if (!saved || store.take_write_failure()) return false;
    }
    const auto t0 = Clock::now();
    store.finish_writes();
    if (finish_ms != nullptr) finish_ms->push_back(ms_since(t0));
    return !store.take_write_failure();
}

std::optional<Figures> measure(const std::filesystem::path& folder, int repetitions) {
    const auto data = folder / "data";
    SarnAppOptions options = bench::detached_options();
    options.history_data_dir = std::optional<std::filesystem::path>(data);
    ClickRig rig(data, std::move(options));
    Figures out;
    {
        const auto t0 = Clock::now();
        if (!rig.frame()) return std::nullopt;
        rig.draw();
        out.first_frame_ms = ms_since(t0);
        out.settle_ms = rig.settle();
    }

    const auto& videos = rig.app().library().videos;
    if (videos.empty()) return std::nullopt;
    std::vector<std::string> ids;
    for (const auto& video : videos) ids.push_back(video.id);

    // Likes: each click flips the like of one of the sample videos, first
    // waiting for each save as the window loop did, then as it does now.
    for (const bool synchronous : {true, false}) {
        auto& total = synchronous ? out.like_sync_ms : out.like_ms;
        auto& save = synchronous ? out.like_sync_save_ms : out.like_save_ms;
        for (int i = 0; i < repetitions; ++i) {
            const auto t0 = Clock::now();
            rig.click(intent::ToggleLike{ids[static_cast<std::size_t>(i) % ids.size()]});
            double saved = 0.0;
            if (!rig.frame(synchronous, &saved)) return std::nullopt;
            total.push_back(ms_since(t0));
            save.push_back(saved);
        }
    }
    {
        const auto t0 = Clock::now();
        if (!rig.store().finish_saves()) return std::nullopt;
        out.finish_ms.push_back(ms_since(t0));
    }
    // Openings: from the home page, each opens the next sample video; the
    // way back is not timed.
    for (int i = 0; i < repetitions; ++i) {
        const auto t0 = Clock::now();
        rig.click(intent::OpenVideo{ids[static_cast<std::size_t>(i) % ids.size()]});
        out.open_click_ms.push_back(ms_since(t0));
        if (!rig.frame()) return std::nullopt;
        out.open_ms.push_back(ms_since(t0));
        if (i == 0) {
            out.first_open_build_ms = rig.last_build_ms();
            out.first_open_solve_ms = rig.last_solve_ms();
        }
        rig.click(intent::Navigate{Route::home()});
        if (!rig.frame()) return std::nullopt;
    }
    if (const auto& notice = rig.app().library().history_notice) {
        fmt::print(stderr, "history notice: {}\n", *notice);
        return std::nullopt;
    }
    // A second root, its first frame not drawn: its first opening loads the
    // watch page's fonts itself. It comes after the first root, so the
    // process's font files are already open.
    {
        SarnAppOptions cold = bench::detached_options();
        cold.history_data_dir = std::optional<std::filesystem::path>(folder / "unprepared");
        ClickRig other(folder / "unprepared", std::move(cold));
        if (!other.frame()) return std::nullopt;
        const auto t0 = Clock::now();
        other.click(intent::OpenVideo{ids.front()});
        out.unprepared_click_ms = ms_since(t0);
        if (!other.frame()) return std::nullopt;
        out.unprepared_open_ms = ms_since(t0);
        out.unprepared_build_ms = other.last_build_ms();
        out.unprepared_solve_ms = other.last_solve_ms();
    }
    // The history entry alone, written here and on the writer thread.
    if (!time_history(data, false, ids, repetitions, out.history_sync_ms, nullptr) ||
        !time_history(data, true, ids, repetitions, out.history_ms, &out.finish_ms)) {
        fmt::print(stderr, "a history entry could not be saved\n");
        return std::nullopt;
    }
    // The baseline: the document's bytes written atomically and flushed.
    const auto bytes = rig.store().document().save();
    out.document_bytes = bytes.size();
    const std::string text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    const auto target = folder / "baseline.bin";
    for (int i = 0; i < repetitions; ++i) {
        const auto t0 = Clock::now();
        if (!atomic_file::write_with_mode(target, text, 0600)) return std::nullopt;
        out.baseline_ms.push_back(ms_since(t0));
    }
    return out;
}

void line(const char* label, const std::vector<double>& values, double baseline, double goal_ms) {
    const double median = bench::median_of(values);
    fmt::print("    {:<44} median {:8.3f} ms, max {:8.3f} ms, ratio to baseline {:5.2f}x", label, median,
               max_of(values), baseline > 0 ? median / baseline : 0.0);
    if (goal_ms > 0) fmt::print("; goal under {:.0f} ms: {}", goal_ms, median < goal_ms ? "met" : "NOT MET");
    fmt::print("\n");
}

}  // namespace

int main(int argc, char** argv) {
    const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100;
    // The data folders live in the build tree unless VORN_BENCH_DIR names
    // another place: a memory file system would hide the flushes.
    const char* base = std::getenv("VORN_BENCH_DIR");
    std::string pattern =
        (std::filesystem::path(base != nullptr ? base : VORN_BINARY_DIR) / "click-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        fmt::print(stderr, "no temporary folder under {}\n", pattern);
        return 1;
    }
    const std::filesystem::path folder = std::filesystem::absolute(pattern);
    ::setenv("HOME", folder.c_str(), 1);
    ::setenv("XDG_DATA_HOME", (folder / "data").c_str(), 1);
    ::setenv("XDG_STATE_HOME", (folder / "state").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (folder / "config").c_str(), 1);
    ::setenv("XDG_CACHE_HOME", (folder / "cache").c_str(), 1);

    const auto figures = measure(folder, repetitions);
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    if (!figures) {
        fmt::print(stderr, "the click benchmark failed\n");
        return 1;
    }
    const double baseline = bench::median_of(figures->baseline_ms);
    fmt::print("app clicks: {} repetitions each, data folders in {}\n", repetitions, folder.parent_path().string());
    fmt::print("    {:<44} median {:8.3f} ms, max {:8.3f} ms ({} bytes)\n", "baseline: one flushed atomic write",
               baseline, max_of(figures->baseline_ms), figures->document_bytes);
    fmt::print("    {:<44} {:8.3f} ms, then {:.3f} ms until the fonts of later pages were loaded\n",
               "first frame (built, solved, drawn)", figures->first_frame_ms, figures->settle_ms);
    line("like, save waited for (as before)", figures->like_sync_ms, baseline, 4.0);
    line("  of which the save", figures->like_sync_save_ms, baseline, 0.0);
    line("like, save on the writer thread", figures->like_ms, baseline, 4.0);
    line("  of which the hand-over", figures->like_save_ms, baseline, 0.0);
    line("open video, history on the writer thread", figures->open_ms, baseline, 4.0);
    {
        // The first watch page of the run builds with cold caches.
        const std::vector<double> warm(figures->open_ms.begin() + 1, figures->open_ms.end());
        fmt::print("      {:<42} {:8.3f} ms (intent {:.3f}, tree {:.3f}, solve {:.3f} ms); the others: max {:.3f} ms\n",
                   "the first opening", figures->open_ms.front(), figures->open_click_ms.front(),
                   figures->first_open_build_ms, figures->first_open_solve_ms, max_of(warm));
    }
    fmt::print("      {:<42} {:8.3f} ms (intent {:.3f}, tree {:.3f}, solve {:.3f} ms)\n",
               "the first opening, no fonts prepared (before)", figures->unprepared_open_ms,
               figures->unprepared_click_ms, figures->unprepared_build_ms, figures->unprepared_solve_ms);
    line("  of which the intent (history, navigation)", figures->open_click_ms, baseline, 0.0);
    line("history entry, written here (as before)", figures->history_sync_ms, baseline, 0.0);
    line("history entry, written on the writer thread", figures->history_ms, baseline, 0.0);
    line("waiting for the pending writes at the end", figures->finish_ms, baseline, 0.0);
    return 0;
}
