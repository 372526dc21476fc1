// Random input through the root widget, delivered and framed the way the
// window loop does it (focus requests, control invocations run through the
// resource tree, rebuilds that keep the focus, solves when the viewport
// changed), over every route of the offline sample: clicks anywhere and on
// controls, wheel turns, keys (Tab, Enter, Escape, Ctrl+K and the rest),
// typed text with non-ASCII letters and emoji, drags, window sizes from 320
// to 2000 wide and display scale changes. Nothing may crash or trip a
// sanitizer, and afterwards the root still builds, solves and draws a frame
// and answers its page tree.
//
// The run is fixed by its seed. Environment:
//   VORN_RANDOM_SEED=N    another seed (the failure message names the one used)
//   VORN_RANDOM_EVENTS=N  another number of events
//   VORN_RANDOM_TRACE=1   every event on standard error, to find the one that fails
#include <fmt/format.h>
#include <glib.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "json_reader/text.h"
#include "root_harness.h"
#include "sarn/actions/application.h"
#include "sarn/app/action_tree.h"
#include "vorn_actions/resource.h"
#include "vorn_ui/clipboard.h"
#include "vorn_ui/focus.h"
#include "vorn_ui/offscreen.h"

#if defined(__SANITIZE_ADDRESS__)
#define VORN_RANDOM_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VORN_RANDOM_SANITIZED 1
#endif
#endif

#if defined(VORN_RANDOM_SANITIZED)
extern "C" void __sanitizer_set_death_callback(void (*callback)(void));
#endif

namespace sarn {
namespace {

using vorn_ui::Event;
using vorn_ui::KeyEvent;
using vorn_ui::Modifiers;
using vorn_ui::NamedKey;
using vorn_ui::Point;
using vorn_ui::Rect;
using vorn_ui::Size;

constexpr std::uint64_t kDefaultSeed = 0x5a2b'17c3'9e04'd861ULL;
constexpr std::size_t kDefaultEvents = 10'000;

// ---- what a crash leaves on standard error ----

std::atomic<std::uint64_t> g_seed{0};
std::atomic<std::size_t> g_event{0};

// Only async-signal-safe calls: the process may be dying.
void write_number(std::uint64_t value) {
    char digits[24];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0 && n < 24);
    char out[24];
    for (int i = 0; i < n; ++i) out[i] = digits[n - 1 - i];
    (void)!::write(STDERR_FILENO, out, static_cast<std::size_t>(n));
}

void write_text(std::string_view text) { (void)!::write(STDERR_FILENO, text.data(), text.size()); }

void report_death() {
    write_text("\nRandomInput died at event ");
    write_number(g_event.load());
    write_text(" of seed ");
    write_number(g_seed.load());
    write_text("; repeat with VORN_RANDOM_SEED=");
    write_number(g_seed.load());
    write_text(" (VORN_RANDOM_TRACE=1 lists the events)\n");
}

#if !defined(VORN_RANDOM_SANITIZED)
void on_fatal_signal(int signal) {
    report_death();
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}
#endif

// The sanitizers report through their own handlers; a plain build has none.
void report_deaths() {
#if defined(VORN_RANDOM_SANITIZED)
    __sanitizer_set_death_callback(report_death);
#else
    for (int signal : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT}) ::signal(signal, on_fatal_signal);
#endif
}

// Warnings and criticals of the libraries that log through GLib (text
// layout, the toolkit's own types, the media framework) name faults that do
// not crash, such as text handed on as invalid UTF-8; here they fail the run.
// GLib takes one log writer per process, installed on first use.
class LibraryWarnings {
public:
    static LibraryWarnings& watch() {
        static LibraryWarnings warnings;
        static const bool installed = (g_log_set_writer_func(&LibraryWarnings::write, &warnings, nullptr), true);
        (void)installed;
        return warnings;
    }

    std::vector<std::string> take() {
        std::lock_guard lock(m_mutex);
        return std::exchange(m_seen, {});
    }

private:
    static GLogWriterOutput write(GLogLevelFlags level, const GLogField* fields, gsize count, gpointer self) {
        if ((level & (G_LOG_LEVEL_ERROR | G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING)) != 0) {
            std::string domain = "?", message;
            for (gsize i = 0; i < count; ++i) {
                const std::string_view key = fields[i].key;
                const auto* value = static_cast<const char*>(fields[i].value);
                if (value == nullptr || fields[i].length > 0) continue;  // only text fields
                if (key == "GLIB_DOMAIN") domain = value;
                if (key == "MESSAGE") message = value;
            }
            auto* warnings = static_cast<LibraryWarnings*>(self);
            std::lock_guard lock(warnings->m_mutex);
            warnings->m_seen.push_back(fmt::format("{} (event {}): {}", domain, g_event.load(), message));
        }
        return g_log_writer_default(level, fields, count, nullptr);
    }

    std::mutex m_mutex;
    std::vector<std::string> m_seen;
};

std::optional<std::uint64_t> env_number(const char* name) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') return std::nullopt;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text, &end, 0);
    if (end == nullptr || *end != '\0') return std::nullopt;
    return value;
}

// ---- the window loop without a window ----

// The root in a loop like the window's: events are delivered one at a time,
// frames come between batches of them. The shared document is the loop's
// own, in memory.
class HeadlessLoop {
public:
    HeadlessLoop(SarnApp app, Size view, float scale) : m_app(std::move(app)), m_view(view) {
        register_sarn_actions(m_registry);
        m_state.document = &m_document;
        set_scale(scale);
    }

    SarnApp& app() { return m_app; }
    Size view() const { return m_view; }
    float scale() const { return m_env.scale; }
    const vorn_ui::layout::LayoutTree& tree() const { return m_tree; }
    int failed_layouts() const { return m_failed_layouts; }
    int rebuilds() const { return m_rebuilds; }
    int focus_changes() const { return m_focus_changes; }

    void resize(Size view) {
        m_view = view;
        m_resized = true;
    }
    void set_scale(float scale) { m_pending_scale = scale; }

    void deliver(const Event& event) {
        if (std::holds_alternative<vorn_ui::PointerLeaveEvent>(event)) deliver(vorn_ui::PointerMoveEvent{{-1e6, -1e6}});
        vorn_ui::widget::EventContext cx(m_modifiers, m_state, m_env.scale, m_tree);
        if (const auto* key = std::get_if<KeyEvent>(&event)) {
            m_modifiers = key->modifiers;
            cx.modifiers = key->modifiers;
        }
        cx.clipboard = &m_clipboard;
        if (m_focus.deliver(m_app, event, cx, m_nodes.root, m_registry_nodes)) ++m_focus_changes;
        if (const auto* move = std::get_if<vorn_ui::PointerMoveEvent>(&event)) {
            const Point at{move->position.x / m_env.scale, move->position.y / m_env.scale};
            (void)m_app.cursor_shape(at);
        }
        run_invocations();
    }

    // One frame; false when the tree could not be built or solved.
    bool frame() {
        ++m_state.frame.frame;
        m_state.frame.now = std::chrono::steady_clock::now();
        m_app.sync(m_state);
        run_invocations();
        (void)m_app.take_dispatch_state();

        bool rebuild = !m_built;
        if (m_pending_scale != m_env.scale) {
            m_env.scale = m_pending_scale;
            m_env.theme = vorn_ui::Theme::dark().with_scale(m_env.scale);
            rebuild = true;
        }
        bool whole = false;
        bool rebuilt = false;
        if (m_app.take_structure_dirty() || rebuild) {
            whole = true;
            rebuilt = true;
            if (!build()) return false;
        }
        if (m_resized || m_view != m_solved_view) {
            vorn_ui::layout::Style top;
            top.size = {vorn_ui::layout::Dimension::length(static_cast<float>(m_view.width)),
                        vorn_ui::layout::Dimension::length(static_cast<float>(m_view.height))};
            (void)m_tree.set_style(m_nodes.top, top);
            m_env.viewport = m_view;
            m_resized = false;
            m_needs_solve = true;
        }
        if (m_needs_solve || m_app.layout_needs_measure()) {
            whole = true;
            auto solved = vorn_ui::widget::solve_root_layout(m_tree, m_nodes, m_view, m_registry_nodes, m_text);
            if (!solved) {
                ++m_failed_layouts;
                return false;
            }
            m_solved_view = m_view;
            m_needs_solve = false;
        }
        if (!whole) (void)vorn_ui::offscreen::scroll_only_change(m_app);
        m_app.apply_layout(m_tree, m_nodes.root, Point{0, 0});
        // As the window does: the focus goes back to the widget of the same id.
        if (rebuilt) m_focus.after_rebuild(m_app);
        if (whole || m_app.needs_redraw()) {
            (void)draw();
            m_app.mark_drawn();
        }
        (void)m_app.needs_idle_sync();
        (void)m_app.needs_animation_frame();
        (void)m_app.next_wake_deadline();
        return true;
    }

    vorn_ui::Scene draw() {
        vorn_ui::Scene scene;
        const auto transform = vorn_ui::Affine::scale(m_env.scale);
        const auto permissions = vorn_ui::widget::PermissionContext::allow_all();
        vorn_ui::widget::DrawContext dc{m_env.theme, m_text, permissions};
        vorn_ui::widget::PresenceContext presence;
        presence.clip = Rect{0, 0, m_view.width, m_view.height};
        m_app.draw_with_presence(scene, transform, dc, presence);
        m_focus.paint_ring(scene, transform, m_env.theme, m_app);
        return scene;
    }

    // The picture in device pixels, as the window would show it.
    std::optional<vorn_ui::offscreen::RenderedImage> render() {
        const auto width = static_cast<std::uint32_t>(std::max(1.0, m_view.width * m_env.scale));
        const auto height = static_cast<std::uint32_t>(std::max(1.0, m_view.height * m_env.scale));
        auto renderer = vorn_ui::offscreen::OffscreenRenderer::create(width, height);
        if (!renderer) return std::nullopt;
        auto image = renderer->render_resilient(draw(), m_env.theme.background);
        if (!image) return std::nullopt;
        return std::move(*image);
    }

    // Widgets that take a click or a focus, with their bounds, in tree order.
    std::vector<Rect> control_bounds() const {
        std::vector<Rect> out;
        auto walk = [&](auto& self, const vorn_ui::widget::Widget& w) -> void {
            const Rect b = w.bounds();
            if ((w.action_label() || w.is_focusable()) && b.x1 > b.x0 && b.y1 > b.y0) out.push_back(b);
            for (const auto& child : w.children()) {
                if (child) self(self, *child);
            }
        };
        walk(walk, m_app);
        return out;
    }

private:
    bool build() {
        m_focus.before_rebuild();
        m_tree.clear();
        m_registry_nodes.clear();
        m_env.viewport = m_view;
        vorn_ui::widget::LayoutContext cx{m_tree, m_registry_nodes, m_env};
        auto nodes = vorn_ui::widget::build_root_layout(m_app, cx, m_view);
        if (!nodes) {
            ++m_failed_layouts;
            return false;
        }
        m_nodes = *nodes;
        m_built = true;
        m_needs_solve = true;
        ++m_rebuilds;
        refresh_availability();
        return true;
    }

    void refresh_availability() {
        vorn_ui::AvailableActions available;
        auto collect = [&](auto& self, std::span<const vorn_actions::resource::Resource> resources) -> void {
            for (const auto& res : resources) {
                for (const auto& action : res.actions) {
                    if (!action.unavailability()) available.insert(vorn_ui::ActionAddress{res.id, action.name()});
                }
                self(self, res.children);
            }
        };
        const auto roots = m_app.action_resources();
        collect(collect, roots);
        m_app.refresh_control_action_availability(available);
    }

    // Operations of the root's kinds go back to it; actions go through the
    // registry onto the shared document.
    void run_invocations() {
        for (int guard = 0; guard < 64; ++guard) {
            auto invocation = m_app.take_control_invocation();
            if (!invocation) break;
            const auto roots = m_app.action_resources();
            auto encoded = vorn_actions::resource::run_invocation(roots, *invocation);
            if (!encoded) continue;
            const auto kinds = m_app.operation_kinds();
            if (std::find(kinds.begin(), kinds.end(), encoded->kind) != kinds.end()) {
                const std::uint32_t type = vorn_actions::resource::operation_type_of(roots, invocation->address);
                (void)m_app.perform_operation(vorn_ui::OperationRequest{type, encoded->kind, encoded->payload});
            } else if (m_registry.has_namespace(encoded->kind)) {
                auto context = vorn_actions::ActionContext::describe(encoded->payload, std::string(kApplicationId),
                                                                     std::string(kApplicationId));
                (void)m_registry.dispatch(m_dispatch, m_document, *encoded, &context);
            }
        }
    }

    SarnApp m_app;
    Size m_view;
    Size m_solved_view{};
    automerge::Document m_document;
    vorn_ui::widget::RuntimeState m_state;
    vorn_actions::ActionRegistry m_registry;
    vorn_ui::bound_dispatch::DispatchState m_dispatch;
    vorn_ui::layout::LayoutTree m_tree;
    vorn_ui::widget::NodeRegistry m_registry_nodes;
    vorn_ui::widget::Environment m_env;
    vorn_ui::TextRenderer m_text;
    vorn_ui::widget::RootLayout m_nodes;
    vorn_ui::widget::FocusManager m_focus;
    vorn_ui::MemoryClipboard m_clipboard;
    Modifiers m_modifiers;
    float m_pending_scale = 1.0f;
    bool m_built = false;
    bool m_resized = false;
    bool m_needs_solve = true;
    int m_failed_layouts = 0;
    int m_rebuilds = 0;
    int m_focus_changes = 0;
};

// ---- the random input ----

// Texts typed in one go: letters beyond ASCII, combining marks, letters whose
// lower case is longer, scripts written right to left, emoji with modifiers
// and joiners, invisible and white-space characters, a long run.
const std::vector<std::string>& typed_texts() {
    static const std::vector<std::string> texts = {
        "a", "Z", "7", " ", "ä", "é", "e\xcc\x81", "\xc3\x9f", "\xc4\xb0", "\xc4\xb1", "Ж", "ﬁ", "Ω", "日本語",
        "한국어", "שלום", "مرحبا", "ไทย", "😀", "👍🏽", "👩‍👩‍👧", "🇫🇷", "\xe2\x80\x8b", "\xe2\x80\x8f", "\t",
        "mesh", "MESH", "Donut", "  spaced  ", "caf\xc3\xa9 ☕", std::string(300, 'w'), "a\xcc\x81\xcc\x82\xcc\x83",
    };
    return texts;
}

// A random run of code points from a few scripts and the emoji planes.
std::string random_letters(std::mt19937_64& rng) {
    static constexpr std::pair<char32_t, char32_t> kRanges[] = {
        {0x20, 0x7e}, {0xa0, 0x24f}, {0x370, 0x3ff}, {0x400, 0x4ff}, {0x590, 0x6ff}, {0x300, 0x36f},
        {0x4e00, 0x4fff}, {0xac00, 0xacff}, {0x1f300, 0x1f64f}, {0x1f900, 0x1f9ff}, {0x200b, 0x200f},
    };
    std::string out;
    const std::size_t count = 1 + rng() % 12;
    for (std::size_t i = 0; i < count; ++i) {
        const auto& [low, high] = kRanges[rng() % std::size(kRanges)];
        json_reader::append_utf8(out, low + static_cast<char32_t>(rng() % (high - low + 1)));
    }
    return out;
}

// Every page the offline sample has: the six fixed ones, each video, channel
// and playlist, and searches that find much, little and nothing.
std::vector<Route> sample_routes(const Library& library) {
    std::vector<Route> routes = {Route::home(),    Route::trending(), Route::subscriptions(),
                                 Route::queue(),   Route::history(),  Route::settings(),
                                 Route::search("a"), Route::search("mesh"), Route::search("日本 😀"),
                                 Route::search("")};
    for (const Video& video : library.videos) routes.push_back(Route::watch(video.id));
    for (const Channel& channel : library.channels) routes.push_back(Route::channel(channel.id));
    for (const Playlist& playlist : library.playlists) routes.push_back(Route::playlist(playlist.id));
    return routes;
}

std::string route_label(const Route& route) {
    return Route::carries_text(route.kind) ? fmt::format("{}:{}", static_cast<int>(route.kind), route.text)
                                           : fmt::format("{}", static_cast<int>(route.kind));
}

class RandomInput {
public:
    RandomInput(HeadlessLoop& loop, std::uint64_t seed, bool trace) : m_loop(loop), m_rng(seed), m_trace(trace) {}

    std::size_t pick(std::size_t n) { return n == 0 ? 0 : static_cast<std::size_t>(m_rng() % n); }
    double uniform(double low, double high) {
        return low + (high - low) * (static_cast<double>(m_rng() >> 11) / static_cast<double>(1ULL << 53));
    }

    // A point in logical pixels: anywhere in (and a little around) the
    // window, or inside one of the controls on the page.
    Point target() {
        const Size view = m_loop.view();
        if (pick(5) < 3) {
            const auto controls = m_loop.control_bounds();
            if (!controls.empty()) {
                const Rect& b = controls[pick(controls.size())];
                return {uniform(b.x0, b.x1), uniform(b.y0, b.y1)};
            }
        }
        return {uniform(-20.0, view.width + 20.0), uniform(-20.0, view.height + 20.0)};
    }

    Point physical(Point logical) const { return {logical.x * m_loop.scale(), logical.y * m_loop.scale()}; }

    void send(const Event& event, std::string_view what) {
        if (m_trace) fmt::print(stderr, "event {}: {}\n", g_event.load(), what);
        m_loop.deliver(event);
    }

    void move(Point at) {
        m_pointer = at;
        send(vorn_ui::PointerMoveEvent{physical(at)}, fmt::format("move {:.1f},{:.1f}", at.x, at.y));
    }

    void button(vorn_ui::PointerButton which, bool pressed, std::uint8_t clicks = 1) {
        vorn_ui::PointerButtonEvent e{which, pressed, physical(m_pointer), clicks};
        send(e, fmt::format("button {} {} x{}", static_cast<int>(which), pressed ? "down" : "up", clicks));
    }

    void key(KeyEvent e) {
        const std::string name = e.kind == KeyEvent::Kind::Named ? fmt::format("key {}", vorn_ui::key_code(e.named))
                                                                 : fmt::format("char {:?}", e.text);
        send(e, fmt::format("{} mods {:#x}", name, e.modifiers.bits));
        e.released = true;
        send(e, "  released");
    }

    void click() {
        move(target());
        const std::size_t kind = pick(10);
        const auto which = kind < 8 ? vorn_ui::PointerButton::Primary
                                    : (kind == 8 ? vorn_ui::PointerButton::Secondary : vorn_ui::PointerButton::Middle);
        const std::uint8_t clicks = pick(8) == 0 ? 2 : 1;
        button(which, true, clicks);
        button(which, false, clicks);
    }

    void wheel() {
        if (pick(3) == 0) move(target());
        vorn_ui::ScrollEvent e;
        e.precise = pick(2) == 0;
        e.delta_y = e.precise ? uniform(-2400.0, 2400.0) : static_cast<double>(static_cast<int>(pick(21)) - 10);
        if (pick(4) == 0) e.delta_x = e.precise ? uniform(-300.0, 300.0) : static_cast<double>(pick(3)) - 1.0;
        e.position = physical(m_pointer);
        send(e, fmt::format("wheel {:.1f},{:.1f}{}", e.delta_x, e.delta_y, e.precise ? " precise" : ""));
    }

    void press_key() {
        static constexpr NamedKey kKeys[] = {
            NamedKey::Tab,      NamedKey::Tab,        NamedKey::Enter,     NamedKey::Enter,     NamedKey::Escape,
            NamedKey::Escape,   NamedKey::Backspace,  NamedKey::Delete,    NamedKey::Home,      NamedKey::End,
            NamedKey::ArrowLeft, NamedKey::ArrowRight, NamedKey::ArrowUp,  NamedKey::ArrowDown, NamedKey::PageUp,
            NamedKey::PageDown, NamedKey::Space,      NamedKey::Insert,    NamedKey::BrowserBack,
            NamedKey::BrowserForward, NamedKey::MediaPlayPause, NamedKey::F11,
        };
        const std::size_t choice = pick(10);
        if (choice < 2) {
            // The action search, and the editing shortcuts.
            static constexpr std::string_view kLetters[] = {"k", "K", "k", "a", "c", "v", "x", "z"};
            key(KeyEvent::character(std::string(kLetters[pick(std::size(kLetters))]), Modifiers{Modifiers::kControl}));
            return;
        }
        std::uint32_t mods = 0;
        if (pick(4) == 0) mods |= Modifiers::kShift;
        if (pick(8) == 0) mods |= Modifiers::kControl;
        if (pick(10) == 0) mods |= Modifiers::kAlt;
        key(KeyEvent::named_key(kKeys[pick(std::size(kKeys))], Modifiers{mods}));
    }

    void type() {
        const std::string text = pick(3) == 0 ? random_letters(m_rng) : typed_texts()[pick(typed_texts().size())];
        const bool one_ascii_key = text.size() == 1 && static_cast<unsigned char>(text[0]) < 0x80;
        if (one_ascii_key) {
            KeyEvent press = KeyEvent::character(text);
            send(press, fmt::format("char {:?}", text));
            send(vorn_ui::TextInputEvent{text}, "  text");
            press.released = true;
            send(press, "  released");
        } else {
            send(vorn_ui::TextInputEvent{text}, fmt::format("text {:?}", text));
        }
    }

    void drag() {
        // Now and then from the left edge, as a swipe back.
        const Point from = pick(4) == 0 ? Point{uniform(0.0, 24.0), uniform(0.0, m_loop.view().height)} : target();
        move(from);
        button(vorn_ui::PointerButton::Primary, true);
        const Point to = target();
        const std::size_t steps = 2 + pick(7);
        for (std::size_t i = 1; i <= steps; ++i) {
            const double t = static_cast<double>(i) / static_cast<double>(steps);
            move({from.x + (to.x - from.x) * t, from.y + (to.y - from.y) * t});
        }
        button(vorn_ui::PointerButton::Primary, false);
    }

    void resize() {
        const Size view{std::round(uniform(320.0, 2000.0)), std::round(uniform(240.0, 1400.0))};
        if (m_trace) fmt::print(stderr, "event {}: resize {}x{}\n", g_event.load(), view.width, view.height);
        m_loop.resize(view);
    }

    void rescale() {
        static constexpr float kScales[] = {1.0f, 1.25f, 1.5f, 1.75f, 2.0f, 3.0f};
        const float scale = kScales[pick(std::size(kScales))];
        if (m_trace) fmt::print(stderr, "event {}: scale {}\n", g_event.load(), scale);
        m_loop.set_scale(scale);
    }

    void leave() { send(vorn_ui::PointerLeaveEvent{}, "leave"); }

    // One event of a random kind, weighted towards what users do most.
    void any() {
        const std::size_t roll = pick(100);
        if (roll < 30) {
            click();
        } else if (roll < 42) {
            wheel();
        } else if (roll < 60) {
            press_key();
        } else if (roll < 75) {
            type();
        } else if (roll < 85) {
            drag();
        } else if (roll < 90) {
            move(target());
        } else if (roll < 94) {
            resize();
        } else if (roll < 97) {
            rescale();
        } else {
            leave();
        }
    }

    // Moves to a route as a page control would.
    void go_to(const Route& route) {
        if (m_trace) fmt::print(stderr, "event {}: route {}\n", g_event.load(), route_label(route));
        m_loop.app().intents().push(route.kind == Route::Kind::Watch ? ControlIntent{intent::OpenVideo{route.text}}
                                                                     : ControlIntent{intent::Navigate{route}});
        m_loop.deliver(vorn_ui::PointerLeaveEvent{});
    }

private:
    HeadlessLoop& m_loop;
    std::mt19937_64 m_rng;
    bool m_trace = false;
    Point m_pointer{};
};

// Everything in the root's page tree that names itself for assistive technology.
std::size_t accessible_nodes(const vorn_ui::widget::Widget& w) {
    std::size_t count = w.accessibility() ? 1 : 0;
    for (const auto& child : w.children()) {
        if (child) count += accessible_nodes(*child);
    }
    return count;
}

TEST(RandomInput, TenThousandEventsAcrossEveryRouteOfTheSample) {
    const std::uint64_t seed = env_number("VORN_RANDOM_SEED").value_or(kDefaultSeed);
    const std::size_t events = static_cast<std::size_t>(env_number("VORN_RANDOM_EVENTS").value_or(kDefaultEvents));
    const bool trace = env_number("VORN_RANDOM_TRACE").value_or(0) != 0;
    g_seed = seed;
    report_deaths();
    LibraryWarnings& warnings = LibraryWarnings::watch();
    (void)warnings.take();
    fmt::print("RandomInput: seed {}, {} events (VORN_RANDOM_SEED={} repeats this run)\n", seed, events, seed);
    SCOPED_TRACE(fmt::format("seed {} (VORN_RANDOM_SEED={} repeats it, VORN_RANDOM_TRACE=1 lists the events)", seed,
                             seed));

    // Requests are taken and never answered: the queue fills and refuses.
    test::StalledWorkers workers;
    HeadlessLoop loop(SarnApp::create(workers.options()).with_viewport_size(1280, 800), Size{1280, 800}, 1.0f);
    ASSERT_TRUE(loop.frame());
    RandomInput input(loop, seed, trace);

    // Each route gets two stretches of the run.
    const std::vector<Route> routes = sample_routes(loop.app().library());
    const std::size_t stretch = std::max<std::size_t>(1, events / (routes.size() * 2));
    std::set<std::string> visited;
    // What the input itself did, to show that it reached the pages.
    std::size_t moved_by_input = 0, palette_opened = 0, searches = 0;
    std::size_t next_route = 0;
    std::size_t until_frame = 1;
    for (std::size_t i = 0; i < events; ++i) {
        g_event = i;
        if (i % stretch == 0) {
            input.go_to(routes[next_route % routes.size()]);
            ++next_route;
        }
        const Route before = loop.app().library().route;
        const bool palette_before = loop.app().library().palette_open;
        const std::string query_before = loop.app().library().search_query;
        input.any();
        const Library& now = loop.app().library();
        visited.insert(route_label(now.route));
        moved_by_input += now.route != before;
        palette_opened += now.palette_open && !palette_before;
        searches += now.search_query != query_before;
        // The window frames after each batch of waiting events.
        if (--until_frame == 0) {
            ASSERT_TRUE(loop.frame()) << "at event " << i;
            until_frame = 1 + input.pick(5);
        }
        const Library& library = loop.app().library();
        ASSERT_LE(library.notices.size(), kNoticeLimit) << "at event " << i;
        ASSERT_LE(library.history.size(), kHistoryLimit) << "at event " << i;
    }
    g_event = events;

    fmt::print("RandomInput: {} rebuilds, {} focus changes, {} pages reached by input, the palette opened {} times, "
               "{} searches\n",
               loop.rebuilds(), loop.focus_changes(), moved_by_input, palette_opened, searches);
    for (const Route& route : routes) EXPECT_TRUE(visited.contains(route_label(route))) << route_label(route);
    EXPECT_EQ(loop.failed_layouts(), 0);
    for (const std::string& warning : warnings.take()) ADD_FAILURE() << warning;

    // The root still answers a frame, a picture and its page tree.
    input.go_to(Route::home());
    ASSERT_TRUE(loop.frame());
    ASSERT_TRUE(loop.frame());
    const auto image = loop.render();
    ASSERT_TRUE(image.has_value());
    EXPECT_GT(image->width, 0u);
    EXPECT_FALSE(image->rgba.empty());
    ASSERT_NE(loop.app().page_tree(), nullptr);
    EXPECT_GT(accessible_nodes(*loop.app().page_tree()), 10u);
    const auto root_node = loop.app().accessibility();
    ASSERT_TRUE(root_node.has_value());
    EXPECT_TRUE(root_node->name.has_value());
    const Rect bounds = loop.app().bounds();
    EXPECT_EQ(bounds.x1 - bounds.x0, loop.view().width);
}

}  // namespace
}  // namespace sarn
