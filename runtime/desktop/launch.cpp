#include "vorn_ui/launch.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>

#include <fmt/core.h>

#include "vorn_actions/resource.h"
#include "vorn_ui/focus.h"
#include "vorn_log/log.h"
#include "vorn_ui/offscreen.h"
#include "vorn_ui/text_selection/clipboard.h"
#include "vorn_ui/wake.h"
#include "vorn_ui/widget/video_player.h"
#include "window_backend.h"

namespace vorn_ui::launch {

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::string_view kLog = "vorn_ui::launch";
constexpr auto kFrameInterval = std::chrono::milliseconds(16);
constexpr auto kIdleInterval = std::chrono::milliseconds(1000 / kIdleSyncHz);

std::optional<std::pair<std::uint32_t, std::uint32_t>> parse_size(std::string_view text) {
    const auto x = text.find_first_of("xX");
    if (x == std::string_view::npos) return std::nullopt;
    std::uint32_t w = 0, h = 0;
    const auto a = text.substr(0, x), b = text.substr(x + 1);
    if (std::from_chars(a.data(), a.data() + a.size(), w).ptr != a.data() + a.size() || a.empty()) return std::nullopt;
    if (std::from_chars(b.data(), b.data() + b.size(), h).ptr != b.data() + b.size() || b.empty()) return std::nullopt;
    if (w < 100 || h < 100 || w > 16384 || h > 16384) return std::nullopt;
    return std::pair{w, h};
}

std::vector<std::string> process_arguments() {
    std::vector<std::string> args;
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::size_t start = 0;
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (all[i] == '\0') {
            args.emplace_back(all.substr(start, i - start));
            start = i + 1;
        }
    }
    return args;
}

// The clipboard without a window.
std::mutex g_clip_mu;
std::optional<std::string> g_clip;  // guarded by g_clip_mu

// The one video player whose own redraw is all that asks for one in the tree (a
// new picture, its controls or clock): only its box on the screen changes then.
widget::video_player::VideoPlayer* player_only_change(widget::Widget& root) {
    widget::video_player::VideoPlayer* asking = nullptr;
    bool several = false;
    auto find = [&](auto& self, widget::Widget& w) -> void {
        if (auto* player = dynamic_cast<widget::video_player::VideoPlayer*>(&w); player != nullptr && player->needs_redraw()) {
            several = several || asking != nullptr;
            asking = player;
        }
        for (const auto& child : w.children()) {
            if (child && !several) self(self, *child);
        }
    };
    find(find, root);
    if (asking == nullptr || several) return nullptr;
    // The containers around the player ask on its behalf too, so its own reasons
    // are left out while the root is asked.
    asking->set_own_redraw_ignored(true);
    const bool other = root.needs_redraw();
    asking->set_own_redraw_ignored(false);
    return other ? nullptr : asking;
}

// The desktop's selections for the widgets: the clipboard as clipboard_copy
// and clipboard_text keep it, the primary selection the window's.
class DesktopClipboard final : public Clipboard {
public:
    std::optional<std::string> text(Selection which) override {
        if (which == Selection::Clipboard) return text_selection::clipboard_text();
        if (auto from_window = detail::window_primary_get()) return *from_window;
        return m_primary;
    }
    bool set_text(Selection which, std::string_view text) override {
        if (which == Selection::Clipboard) return text_selection::clipboard_copy(text);
        m_primary = std::string(text);
        return detail::window_primary_set(text).value_or(true);
    }

private:
    std::optional<std::string> m_primary;  // without a window
};

}  // namespace

// ---- LaunchArgs ----

LaunchArgs LaunchArgs::parse(std::span<const std::string> args, std::span<const std::string> switches,
                             std::span<const std::string> valued_options) {
    LaunchArgs out;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (std::find(switches.begin(), switches.end(), a) != switches.end()) {
            if (!out.has(a)) out.m_switches.push_back(a);
            continue;
        }
        auto take_value = [&](std::string_view name) -> std::optional<std::string> {
            if (a == name) {
                if (i + 1 < args.size()) return args[++i];
                return std::nullopt;
            }
            if (a.size() > name.size() && a.starts_with(name) && a[name.size()] == '=') return a.substr(name.size() + 1);
            return std::nullopt;
        };
        bool matched = false;
        for (const std::string& name : valued_options) {
            if (auto v = take_value(name)) {
                // The first value of an option counts.
                if (!out.value(name)) out.m_values.emplace_back(name, std::move(*v));
                matched = true;
                break;
            }
        }
        if (matched) continue;
        if (auto v = take_value("--window-size")) out.m_window_size = parse_size(*v);
    }
    return out;
}

bool LaunchArgs::has(std::string_view flag) const {
    return std::find(m_switches.begin(), m_switches.end(), flag) != m_switches.end();
}

std::optional<std::string> LaunchArgs::value(std::string_view option) const {
    for (const auto& [name, v] : m_values) {
        if (name == option) return v;
    }
    return std::nullopt;
}

void request_quit() { detail::quit_from_any_thread(); }

Theme theme_from_environment() {
    const char* name = std::getenv(kThemeVariable);
    return Theme::by_name(name != nullptr ? std::string_view(name) : std::string_view());
}

// ---- the frame loop ----

namespace {

class FrameLoop {
public:
    FrameLoop(detail::WindowBackend& window, widget::Widget& root, app::App& app, persist::DocumentStore& store,
              TextRenderer text)
        : m_window(window), m_root(root), m_app(app), m_store(store), m_text(std::move(text)) {
        m_state.document = &m_store.document();
        m_state.document_error = m_store.load_error();
        m_env.theme = theme_from_environment();
    }

    std::expected<void, LaunchError> run() {
        m_rebuild = true;
        m_redraw = true;
        // The first frame builds and lays out the tree before any input is
        // delivered: handlers look up their nodes in the laid-out tree.
        if (auto ok = frame(); !ok) return ok;
        auto next_idle = Clock::now();
        for (;;) {
            const auto timeout = wait_time(next_idle);
            for (detail::WindowEvent& e : m_window.wait(timeout)) {
                switch (e.kind) {
                    case detail::WindowEvent::Kind::Quit:
                        // Input earlier in this batch may have changed the document
                        // without a frame after it to save; every save then lands
                        // before the program ends.
                        save();
                        finish_saves();
                        return {};
                    case detail::WindowEvent::Kind::Resized: m_resized = m_redraw = true; break;
                    case detail::WindowEvent::Kind::Exposed: m_redraw = true; break;
                    case detail::WindowEvent::Kind::Woken: m_woken = true; break;
                    case detail::WindowEvent::Kind::Input:
                        deliver(e.input);
                        // What a key, a typed text or a button changed is built before the
                        // next event is handed on: Tab after Enter moves through the page
                        // Enter opened, keys typed right after the one that opens a field
                        // reach that field. Pointer moves and wheel turns go on unbuilt.
                        if (m_focus.waiting_for_tree() || changes_what_follows(e.input)) {
                            if (auto ok = frame(); !ok) return ok;
                        }
                        break;
                }
            }
            const auto now = Clock::now();
            const bool idle_due = m_root.needs_idle_sync() && now >= next_idle;
            if (idle_due) next_idle = now + kIdleInterval;
            const bool deadline_due = m_deadline && now >= *m_deadline;
            if (m_rebuild || m_redraw || m_resized || m_woken || m_input || idle_due || deadline_due ||
                m_root.needs_animation_frame() || m_root.needs_redraw()) {
                if (auto ok = frame(); !ok) return ok;
            }
        }
    }

private:
    // How long the loop may sleep before the next frame is due.
    std::optional<std::chrono::milliseconds> wait_time(Clock::time_point next_idle) {
        using std::chrono::duration_cast;
        using std::chrono::milliseconds;
        const auto now = Clock::now();
        if (m_rebuild || m_redraw || m_resized || m_woken || m_input) return milliseconds(0);
        if (m_root.needs_animation_frame() || m_root.needs_redraw()) {
            const auto due = m_last_frame + kFrameInterval;
            return due > now ? duration_cast<milliseconds>(due - now) : milliseconds(0);
        }
        std::optional<Clock::time_point> until;
        if (m_root.needs_idle_sync()) until = next_idle;
        m_deadline = m_root.next_wake_deadline();
        if (m_deadline && (!until || *m_deadline < *until)) until = m_deadline;
        if (!until) return std::nullopt;  // sleep until an event or a wake-up
        return *until > now ? duration_cast<milliseconds>(*until - now) + milliseconds(1) : milliseconds(0);
    }

    static bool changes_what_follows(const Event& event) {
        if (const auto* key = std::get_if<KeyEvent>(&event)) return !key->released;
        return std::holds_alternative<TextInputEvent>(event) || std::holds_alternative<PointerButtonEvent>(event);
    }

    double scale() const { return m_window.scale() > 0 ? m_window.scale() : 1.0; }

    Size viewport() const {
        const auto [pw, ph] = m_window.pixel_size();
        return {pw / scale(), ph / scale()};
    }

    void deliver(const Event& event) {
        // Hover follows pointer moves only: a pointer that left the window moves far away.
        if (std::holds_alternative<PointerLeaveEvent>(event)) deliver(PointerMoveEvent{Point{-1e6, -1e6}});
        widget::EventContext cx(m_modifiers, m_state, scale(), m_tree);
        cx.clipboard = &m_clipboard;
        if (const auto* key = std::get_if<KeyEvent>(&event)) {
            m_modifiers = key->modifiers;
            cx.modifiers = key->modifiers;
        }
        if (const auto* move = std::get_if<PointerMoveEvent>(&event)) {
            m_pointer = {move->position.x / scale(), move->position.y / scale()};
        }
        if (m_focus.deliver(m_root, event, cx, m_nodes.root, m_registry)) m_redraw = true;
        if (std::holds_alternative<PointerMoveEvent>(event)) {
            m_window.set_cursor(m_root.cursor_shape(m_pointer).value_or(CursorShape::Default));
        }
        run_invocations();
        m_input = true;
    }

    // Control invocations go through the resource tree: an operation of a kind the
    // root declares goes back to it, any other action is dispatched on the shared
    // document through the registry.
    void run_invocations() {
        for (int guard = 0; guard < 64; ++guard) {
            auto invocation = m_root.take_control_invocation();
            if (!invocation) break;
            const widget::ActionResources roots = m_root.action_resources();
            const vorn_actions::resource::ControlInvocation& inv = *invocation;
            auto encoded = vorn_actions::resource::run_invocation(roots, inv);
            if (!encoded) {
                vorn_log::warn(kLog, "control invocation failed",
                               {{"action", inv.address.resource + "#" + inv.address.action},
                                {"error", encoded.error().to_string()}});
                continue;
            }
            const auto kinds = m_root.operation_kinds();
            if (std::find(kinds.begin(), kinds.end(), encoded->kind) != kinds.end()) {
                const std::uint32_t type = vorn_actions::resource::operation_type_of(roots, inv.address);
                const auto result = m_root.perform_operation(OperationRequest{type, encoded->kind, encoded->payload});
                if (result.status == OperationResult::Status::Failed) {
                    vorn_log::warn(kLog, "operation failed", {{"kind", encoded->kind}, {"error", result.error}});
                }
            } else if (m_app.action_registry().has_namespace(encoded->kind)) {
                auto context = vorn_actions::ActionContext::describe(encoded->payload, m_app.application_id(),
                                                                     m_app.application_id());
                auto done = m_app.action_registry().dispatch(m_dispatch, m_store.document(), *encoded, &context);
                if (!done) {
                    vorn_log::warn(kLog, "action dispatch failed",
                                   {{"kind", encoded->kind}, {"error", done.error().to_string()}});
                }
                save();
            } else {
                vorn_log::warn(kLog, "no handler for an invoked action", {{"kind", encoded->kind}});
            }
            m_redraw = true;
        }
    }

    // The new tree's controls learn which actions the resource tree offers now.
    void refresh_availability() {
        AvailableActions available;
        const widget::ActionResources roots = m_root.action_resources();
        collect_available(roots, available);
        m_root.refresh_control_action_availability(available);
    }

    static void collect_available(std::span<const vorn_actions::resource::Resource> resources,
                                  AvailableActions& out) {
        for (const auto& res : resources) {
            for (const auto& action : res.actions) {
                if (!action.unavailability()) out.insert(ActionAddress{res.id, action.name()});
            }
            collect_available(res.children, out);
        }
    }

    // The disk's flush runs on the store's writer thread; a failure shows
    // at the next save.
    void save() {
        if (auto saved = m_store.save_in_background(); !saved) {
            vorn_log::warn(kLog, "the shared document could not be saved", {{"error", saved.error().message}});
        }
    }

    void finish_saves() {
        if (auto saved = m_store.finish_saves(); !saved) {
            vorn_log::warn(kLog, "the shared document could not be saved", {{"error", saved.error().message}});
        }
    }

    std::expected<void, LaunchError> frame() {
        m_last_frame = Clock::now();
        m_state.frame.now = m_last_frame;
        ++m_state.frame.frame;
        m_woken = m_input = false;

        // 1. sync, with what other instances saved meanwhile
        if (auto taken = m_store.take_background_results(); !taken) {
            vorn_log::warn(kLog, "the shared document could not be saved", {{"error", taken.error().message}});
        }
        m_root.sync(m_state);
        run_invocations();
        if (m_root.take_dispatch_state()) save();

        const float s = static_cast<float>(scale());
        if (s != m_env.scale) {
            m_env.scale = s;
            m_env.theme = m_env.theme.with_scale(s);
            m_rebuild = true;
        }
        const Size view = viewport();

        // A frame that rebuilds or solves, or that must be drawn anew for the loop's own
        // reasons (a rebuild, an exposure, an action run), draws the whole picture.
        bool whole = m_redraw;

        // 2. build_layout, only when the structure changed
        bool rebuilt = false;
        if (m_root.take_structure_dirty() || m_rebuild) {
            whole = rebuilt = true;
            // The widgets are built afresh: the focus goes back to the widget of the
            // same id once the new tree is placed.
            m_focus.before_rebuild();
            m_tree.clear();
            m_registry.clear();
            m_env.viewport = view;
            widget::LayoutContext cx{m_tree, m_registry, m_env};
            auto nodes = widget::build_root_layout(m_root, cx, view);
            if (!nodes) return std::unexpected(LaunchError{"layout failed: " + nodes.error().message});
            m_nodes = *nodes;
            m_rebuild = false;
            m_needs_solve = true;
            m_redraw = true;
            refresh_availability();
        }
        // 3. solve, when the viewport or a measurement changed
        if (m_resized || view != m_solved_view) {
            m_env.viewport = view;
            layout::Style top;
            top.size = {layout::Dimension::length(static_cast<float>(view.width)),
                        layout::Dimension::length(static_cast<float>(view.height))};
            (void)m_tree.set_style(m_nodes.top, top);
            m_resized = false;
            m_needs_solve = true;
        }
        if (m_needs_solve || m_root.layout_needs_measure()) {
            whole = true;
            auto solved = widget::solve_root_layout(m_tree, m_nodes, view, m_registry, m_text);
            if (!solved) return std::unexpected(LaunchError{"layout failed: " + solved.error().message});
            m_solved_view = view;
            m_needs_solve = false;
        }
        // A frame that only repositions may move the last picture's pixels when all
        // that changed is one scroll container's offset (asked before the new
        // positions are applied, which move what lies inside the container).
        std::optional<offscreen::ScrollBlit> scroll;
        if (!whole) scroll = offscreen::scroll_only_change(m_root);
        // Or one that changes only a video player's box (a new picture, mostly): only
        // that box is drawn and shown.
        widget::video_player::VideoPlayer* player = nullptr;
        if (!whole && !scroll) player = player_only_change(m_root);

        // 4. apply_layout
        m_root.apply_layout(m_tree, m_nodes.root, Point{0, 0});
        if (rebuilt) m_focus.after_rebuild(m_root);

        // 5. draw_with_presence and 6. mark_drawn, when anything asks for pixels
        if (m_redraw || scroll || m_root.needs_redraw()) {
            m_redraw = false;
            draw(view, scroll, player);
            m_root.mark_drawn();
        }
        follow_player_host();
        return {};
    }

    void draw(Size view, const std::optional<offscreen::ScrollBlit>& scroll,
              const widget::video_player::VideoPlayer* player = nullptr) {
        const auto [pw, ph] = m_window.pixel_size();
        if (!m_renderer || m_renderer->width() != pw || m_renderer->height() != ph) {
            auto r = offscreen::OffscreenRenderer::create(pw, ph);
            if (!r) {
                vorn_log::warn(kLog, "no surface to draw on", {{"error", r.error().message}});
                return;
            }
            m_renderer.emplace(std::move(*r));
        }
        m_scene.reset();
        m_scene.fill(FillRule::NonZero, Affine::scale(scale()), m_env.theme.background, Rect{0, 0, view.width, view.height});
        widget::PermissionContext permissions = widget::PermissionContext::allow_all();
        widget::DrawContext dc{m_env.theme, m_text, permissions};
        widget::PresenceContext presence;
        presence.clip = Rect{0, 0, view.width, view.height};
        const Rect player_before = player != nullptr ? player->drawn_area() : Rect{};
        m_root.draw_with_presence(m_scene, Affine::scale(scale()), dc, presence);
        m_focus.paint_ring(m_scene, Affine::scale(scale()), m_env.theme, m_root);
        std::optional<offscreen::OffscreenRenderer::PixelArea> area;
        if (player != nullptr && m_presented) {
            // Where it was and where it is now (the same box, unless the page moved it).
            const Rect now = player->drawn_area();
            const bool was_drawn = player_before.width() > 0 && player_before.height() > 0;
            const Rect both = !was_drawn ? now
                                         : Rect{std::min(player_before.x0, now.x0), std::min(player_before.y0, now.y0),
                                                std::max(player_before.x1, now.x1), std::max(player_before.y1, now.y1)};
            area = m_renderer->render_frame_area(m_scene, m_env.theme.background, both);
        } else {
            m_renderer->render_frame(m_scene, m_env.theme.background, scroll);
        }
        const auto pixels = m_renderer->argb32_pixels();
        if (pixels.size() < m_renderer->stride() * ph) return;
        if (area) {
            m_window.present_area(pixels.data(), m_renderer->stride(), pw, ph, {area->x0, area->y0, area->x1, area->y1});
        } else {
            m_window.present(pixels.data(), m_renderer->stride(), pw, ph);
        }
        if (!m_presented) {
            m_presented = true;
            vorn_log::debug(kLog, "first frame presented", {vorn_log::field("width", pw), vorn_log::field("height", ph)});
        }
    }

    // A player host that asks for the full screen gets it.
    void follow_player_host() {
        const widget::PlayerHostAccess* host = m_root.as_player_host();
        if (host == nullptr) return;
        const std::optional<bool> want = host->state();
        if (want && *want != m_fullscreen) {
            m_fullscreen = *want;
            m_window.set_fullscreen(m_fullscreen);
        }
    }

    detail::WindowBackend& m_window;
    widget::Widget& m_root;
    app::App& m_app;
    persist::DocumentStore& m_store;
    bound_dispatch::DispatchState m_dispatch;

    widget::RuntimeState m_state;
    widget::Environment m_env;
    TextRenderer m_text;
    layout::LayoutTree m_tree;
    widget::NodeRegistry m_registry;
    widget::RootLayout m_nodes;
    std::optional<offscreen::OffscreenRenderer> m_renderer;
    Scene m_scene;
    widget::FocusManager m_focus;
    DesktopClipboard m_clipboard;
    Modifiers m_modifiers;
    Point m_pointer;
    Size m_solved_view;
    Clock::time_point m_last_frame{};
    std::optional<Clock::time_point> m_deadline;

    bool m_rebuild = true;
    bool m_needs_solve = true;
    bool m_redraw = true;
    bool m_resized = false;
    bool m_woken = false;
    bool m_input = false;
    bool m_fullscreen = false;
    bool m_presented = false;
};

}  // namespace

std::expected<void, LaunchError> run(LaunchSpec spec) {
    // The text renderer first: its font map reads the font configuration on a
    // thread of its own, which then runs while the window opens and the root is
    // built instead of holding up the first layout.
    TextRenderer text;
    const std::vector<std::string> argv = spec.arguments ? *spec.arguments : process_arguments();
    const LaunchArgs args = LaunchArgs::parse(argv, spec.switches, spec.valued_options);

    app::App app(spec.application_id);
    if (spec.register_actions) spec.register_actions(app);

    std::optional<persist::DocumentStore> store;
    if (spec.open_store) {
        auto opened = spec.open_store(spec.application_id);
        if (!opened) return std::unexpected(LaunchError{"the shared document could not be opened: " + opened.error().message});
        store.emplace(std::move(*opened));
    } else {
        store.emplace(persist::DocumentStore::in_memory());
    }

    // The window size: the program's answer, unless the command line names one.
    std::pair<std::uint32_t, std::uint32_t> size{1280, 800};
    if (spec.window_size) size = spec.window_size(args);
    if (args.window_size()) size = *args.window_size();

    detail::WindowOptions options;
    options.title = spec.window_title.empty() ? spec.application_id : spec.window_title;
    options.width = std::max<std::uint32_t>(size.first, 100);
    options.height = std::max<std::uint32_t>(size.second, 100);
    options.resizable = spec.resizable;
    options.high_dpi = spec.high_dpi;
    options.fullscreen = spec.start_fullscreen;
    auto window = detail::WindowBackend::open(options);
    if (!window) return std::unexpected(LaunchError{window.error()});

    // Which root: the live one for a plain start, the argument-driven one when any
    // launch switch or option was given.
    widget::WidgetPtr root;
    if ((args.any_given() || !spec.build_root) && spec.build_root_from_args) {
        root = spec.build_root_from_args(args);
    } else if (spec.build_root) {
        root = spec.build_root();
    }
    if (!root) return std::unexpected(LaunchError{"the launch description builds no root widget"});

    wake::set_loop_waker([] { detail::wake_loop_from_any_thread(); });
    // A save that merged in another instance's changes wakes the loop to show them.
    store->set_merge_listener([] { wake::wake_loop(); });
    FrameLoop loop(**window, *root, app, *store, std::move(text));
    auto result = loop.run();
    wake::set_loop_waker(nullptr);
    // The root goes before the window: its players and workers may still wake it.
    root.reset();
    window->reset();
    return result;
}

}  // namespace vorn_ui::launch

namespace vorn_ui::text_selection {

bool clipboard_copy(std::string_view text) {
    {
        std::lock_guard lock(vorn_ui::launch::g_clip_mu);
        vorn_ui::launch::g_clip = std::string(text);
    }
    // Without a window the text stays in the process.
    return vorn_ui::launch::detail::window_clipboard_set(text).value_or(true);
}

std::optional<std::string> clipboard_text() {
    if (auto from_window = vorn_ui::launch::detail::window_clipboard_get()) return *from_window;
    std::lock_guard lock(vorn_ui::launch::g_clip_mu);
    return vorn_ui::launch::g_clip;
}

}  // namespace vorn_ui::text_selection
