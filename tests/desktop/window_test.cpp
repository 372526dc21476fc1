// The launcher in a real window on a private X server: it opens the window, draws a
// frame, sleeps until another thread wakes it, takes real pointer and key input, and
// quits cleanly. Screenshots come from the X server and are compared by regions.
#include "vorn_ui/launch.h"
#include "vorn_ui/local_state.h"
#include "vorn_ui/offscreen.h"
#include "vorn_ui/text_selection/clipboard.h"
#include "vorn_ui/wake.h"
#include "vorn_ui/widget/scrollable.h"
#include "vorn_ui/widget/text_input.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <functional>
#include <mutex>
#include <set>
#include <thread>

#include "x_client.h"
#include "xvfb_display.h"

// SDL asks the session bus for extras it can do without. With no bus named,
// libdbus would start one through the X server (dbus-launch), and that start can
// hang a test for good. These tests need no bus: point it at none.
[[maybe_unused]] const bool g_no_session_bus = [] {
    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/vorn-test-bus", 1);
    return true;
}();

namespace {

using namespace vorn_ui;
using namespace std::chrono_literals;

constexpr const char* kTitle = "vorn window test";

struct Shared {
    std::atomic<int> syncs{0};
    std::atomic<int> draws{0};
    std::atomic<bool> mark{false};
    std::atomic<int> presses{0};
    std::atomic<double> press_x{0}, press_y{0};
    std::mutex mu;
    std::vector<std::string> keys;  // "named:<code>" or "char:<text>" or "text:<text>"
    bool clipboard_ok = false;
};

// A leaf that fills the window, registered for `w`.
widget::NodeId window_leaf(widget::LayoutContext& cx, widget::Widget& w) {
    layout::Style style;
    style.size = {layout::Dimension::percent(1.0f), layout::Dimension::percent(1.0f)};
    const auto node = cx.tree.new_leaf(style);
    cx.registry.register_node(node, &w);
    return node;
}

// Left half red, right half blue; a green square once marked.
class PaintRoot : public widget::Widget {
public:
    explicit PaintRoot(Shared& s) : m_s(s) {}

    void sync(widget::RuntimeState&) override {
        m_s.syncs.fetch_add(1);
        if (m_s.mark.load() && !m_marked) {
            m_marked = true;
            m_redraw = true;
            text_selection::clipboard_copy("vorn clipboard");
            std::lock_guard lock(m_s.mu);
            m_s.clipboard_ok = text_selection::clipboard_text() == std::optional<std::string>("vorn clipboard");
        }
    }
    widget::NodeId build_layout(widget::LayoutContext& cx) override {
        return window_leaf(cx, *this);
    }
    void apply_layout(const layout::LayoutTree& tree, widget::NodeId node, Point origin) override {
        auto l = tree.layout(node);
        if (l) m_bounds = {origin.x + l->x, origin.y + l->y, origin.x + l->x + l->width, origin.y + l->y + l->height};
    }
    void draw(Scene& scene, const Affine& t, widget::DrawContext&) override {
        const double mid = (m_bounds.x0 + m_bounds.x1) / 2;
        scene.fill(FillRule::NonZero, t, Color::rgba8(230, 40, 30), Rect{m_bounds.x0, m_bounds.y0, mid, m_bounds.y1});
        scene.fill(FillRule::NonZero, t, Color::rgba8(20, 40, 220), Rect{mid, m_bounds.y0, m_bounds.x1, m_bounds.y1});
        if (m_marked) scene.fill(FillRule::NonZero, t, Color::rgba8(30, 200, 60), Rect{10, 10, 60, 60});
    }
    void handle_event(const Event& event, widget::EventContext& cx, widget::NodeId) override {
        if (const auto* b = std::get_if<PointerButtonEvent>(&event); b && b->pressed) {
            m_s.press_x = b->position.x / cx.scale;
            m_s.press_y = b->position.y / cx.scale;
            m_s.presses.fetch_add(1);
        }
        std::lock_guard lock(m_s.mu);
        if (const auto* k = std::get_if<KeyEvent>(&event); k && !k->released) {
            m_s.keys.push_back(k->kind == KeyEvent::Kind::Named ? "named:" + std::to_string(key_code(k->named))
                                                                 : "char:" + k->text);
        }
        if (const auto* t = std::get_if<TextInputEvent>(&event)) m_s.keys.push_back("text:" + t->text);
    }
    std::string_view type_name() const override { return "PaintRoot"; }
    Rect bounds() const override { return m_bounds; }
    bool needs_redraw() const override { return m_redraw; }
    void mark_drawn() override {
        m_redraw = false;
        m_s.draws.fetch_add(1);
    }

private:
    Shared& m_s;
    Rect m_bounds;
    bool m_redraw = true;
    bool m_marked = false;
};

// 0xRRGGBB close to the wanted colour.
bool near(std::uint32_t got, std::uint32_t want) {
    for (int shift : {16, 8, 0}) {
        const int a = static_cast<int>((got >> shift) & 0xFF), b = static_cast<int>((want >> shift) & 0xFF);
        if (std::abs(a - b) > 6) return false;
    }
    return true;
}

bool wait_until(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (done()) return true;
        std::this_thread::sleep_for(10ms);
    }
    return done();
}

TEST(LaunchArgs, ReadsSwitchesValuesAndWindowSize) {
    const std::vector<std::string> switches = {"--narrow", "--palette"};
    const std::vector<std::string> valued = {"--route", "--palette-query"};
    const struct {
        std::vector<std::string> argv;
        bool narrow;
        std::optional<std::string> route;
        std::optional<std::pair<std::uint32_t, std::uint32_t>> size;
        bool any;
    } cases[] = {
        {{"prog"}, false, std::nullopt, std::nullopt, false},
        {{"prog", "--narrow"}, true, std::nullopt, std::nullopt, true},
        {{"prog", "--route", "settings", "--narrow"}, true, "settings", std::nullopt, true},
        {{"prog", "--route=watch:abc"}, false, "watch:abc", std::nullopt, true},
        {{"prog", "--route"}, false, std::nullopt, std::nullopt, false},
        {{"prog", "--route=a", "--route=b"}, false, "a", std::nullopt, true},
        {{"prog", "--window-size", "800x600"}, false, std::nullopt, std::pair<std::uint32_t, std::uint32_t>{800, 600}, false},
        {{"prog", "--window-size=12x9000000"}, false, std::nullopt, std::nullopt, false},
        {{"prog", "--unknown", "--narrowish", "narrow"}, false, std::nullopt, std::nullopt, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.argv.size() > 1 ? c.argv[1] : "none");
        const auto args = launch::LaunchArgs::parse(c.argv, switches, valued);
        EXPECT_EQ(args.has("--narrow"), c.narrow);
        EXPECT_FALSE(args.has("--palette"));
        EXPECT_EQ(args.value("--route"), c.route);
        EXPECT_EQ(args.window_size(), c.size);
        EXPECT_EQ(args.any_given(), c.any);
    }
}

TEST(LaunchTheme, ChosenByTheEnvironment) {
    const char* old = std::getenv(launch::kThemeVariable);
    const std::optional<std::string> saved = old != nullptr ? std::optional<std::string>(old) : std::nullopt;
    const struct {
        const char* value;  // nullptr: unset
        Theme want;
    } cases[] = {
        {nullptr, Theme::dark()},         {"", Theme::dark()},    {"light", Theme::light()},
        {"high-contrast", Theme::high_contrast()}, {"Light", Theme::dark()}, {"dark", Theme::dark()},
        {"light ", Theme::dark()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value != nullptr ? c.value : "(unset)");
        if (c.value != nullptr) {
            setenv(launch::kThemeVariable, c.value, 1);
        } else {
            unsetenv(launch::kThemeVariable);
        }
        const Theme got = launch::theme_from_environment();
        EXPECT_EQ(got.background, c.want.background);
        EXPECT_EQ(got.text, c.want.text);
    }
    if (saved) {
        setenv(launch::kThemeVariable, saved->c_str(), 1);
    } else {
        unsetenv(launch::kThemeVariable);
    }
}

TEST(Clipboard, KeepsTextWithoutAWindow) {
    EXPECT_TRUE(text_selection::clipboard_copy("offline text"));
    EXPECT_EQ(text_selection::clipboard_text(), std::optional<std::string>("offline text"));
}

TEST(Launch, FailsCleanlyWithoutADisplay) {
    const char* old = std::getenv("DISPLAY");
    const std::string saved = old != nullptr ? old : "";
    setenv("DISPLAY", ":9999", 1);
    Shared shared;
    launch::LaunchSpec spec;
    spec.application_id = "org.vorn.WindowTest";
    spec.arguments = std::vector<std::string>{"test"};
    spec.build_root = [&] { return std::make_unique<PaintRoot>(shared); };
    auto result = launch::run(std::move(spec));
    if (old != nullptr) {
        setenv("DISPLAY", saved.c_str(), 1);
    } else {
        unsetenv("DISPLAY");
    }
    ASSERT_FALSE(result.has_value());
    EXPECT_FALSE(result.error().message.empty());
    EXPECT_EQ(shared.syncs.load(), 0);
}

TEST(Launch, OpensDrawsWakesTakesInputAndQuits) {
    vorn_test::XvfbDisplay display("1024x768x24");
    ASSERT_TRUE(display.ok()) << "Xvfb did not start";
    Shared shared;

    struct Findings {
        bool window = false;
        bool first_frame = false, halves = false, slept = false, woke = false, green = false;
        bool clicked = false, key = false, outlived_x_error = false;
        std::string note;
    } found;

    std::thread driver([&] {
        vorn_test::XClient x;
        if (!x.ok()) {
            found.note = "no X connection";
            launch::request_quit();
            return;
        }
        found.first_frame = wait_until([&] { return shared.draws.load() >= 1; });
        std::optional<unsigned long> win;
        wait_until([&] { return (win = x.find_window(kTitle)).has_value(); }, 5s);
        found.window = win.has_value();
        if (found.first_frame && win) {
            // The server shows a frame a moment after it is drawn (longer on a
            // loaded machine): look until it does.
            found.halves = wait_until([&] {
                auto s = x.screenshot(*win);
                if (!s) return false;
                found.note = "first shot: " + std::to_string(s->w) + "x" + std::to_string(s->h);
                return s->w == 400 && s->h == 300 && near(s->at(50, 150), 0xE6281E) &&
                       near(s->at(350, 150), 0x1428DC) && near(s->at(30, 30), 0xE6281E) &&
                       near(s->at(199, 299), 0xE6281E) && near(s->at(200, 0), 0x1428DC);
            });
            // Nothing asks for frames now: once the window system's own start-up events
            // are through, the loop sleeps.
            for (int settle = 0; settle < 10; ++settle) {
                const int before = shared.syncs.load();
                std::this_thread::sleep_for(200ms);
                if (shared.syncs.load() == before) break;
            }
            const int syncs = shared.syncs.load();
            std::this_thread::sleep_for(400ms);
            found.slept = shared.syncs.load() == syncs;
            // A wake-up from this thread brings one more frame.
            shared.mark = true;
            vorn_ui::wake::wake_loop();
            found.woke = wait_until([&] { return shared.draws.load() >= 2; }, 5s);
            found.green = wait_until([&] {
                auto s = x.screenshot(*win);
                return s && near(s->at(30, 30), 0x1EC83C) && near(s->at(350, 150), 0x1428DC);
            });
            // Real input through the X server.
            x.click(*win, 120, 90);
            found.clicked = wait_until([&] { return shared.presses.load() == 1; }, 5s) &&
                            std::abs(shared.press_x.load() - 120) < 1.5 && std::abs(shared.press_y.load() - 90) < 1.5;
            x.key(vorn_test::XClient::Key::K);
            x.key(vorn_test::XClient::Key::Escape);
            found.key = wait_until([&] {
                std::lock_guard lock(shared.mu);
                const auto& k = shared.keys;
                return std::find(k.begin(), k.end(), "char:k") != k.end() &&
                       std::find(k.begin(), k.end(), "text:k") != k.end() &&
                       std::find(k.begin(), k.end(), "named:42") != k.end();
            }, 5s);
            // A request the server refuses (as SDL's wake-up to a window that has just
            // gone is) ends nothing: Xlib's own handler would end the process here.
            x.send_to_a_window_that_is_gone();
            found.outlived_x_error = true;
        }
        launch::request_quit();
    });

    launch::LaunchSpec spec;
    spec.application_id = "org.vorn.WindowTest";
    spec.window_title = kTitle;
    spec.arguments = std::vector<std::string>{"test"};
    spec.build_root = [&] { return std::make_unique<PaintRoot>(shared); };
    spec.window_size = [](const launch::LaunchArgs&) { return std::pair<std::uint32_t, std::uint32_t>{400, 300}; };
    auto result = launch::run(std::move(spec));
    driver.join();

    ASSERT_TRUE(result.has_value()) << result.error().message;
    EXPECT_TRUE(found.window);
    EXPECT_TRUE(found.first_frame);
    EXPECT_TRUE(found.halves) << found.note;
    EXPECT_TRUE(found.slept) << "the loop kept syncing with nothing to do";
    EXPECT_TRUE(found.woke);
    EXPECT_TRUE(found.green);
    EXPECT_TRUE(found.clicked) << shared.press_x.load() << "," << shared.press_y.load();
    EXPECT_TRUE(found.key);
    EXPECT_TRUE(found.outlived_x_error);
    std::lock_guard lock(shared.mu);
    EXPECT_TRUE(shared.clipboard_ok);
}

// What the loop did, as the second window test's root saw it.
struct LoopLog {
    std::mutex mu;
    std::vector<std::string> first_frame;  // operations up to the first mark_drawn
    std::set<std::string> available;       // addresses of the last availability pass
    std::vector<std::string> keys;         // named keys seen ("named:<code>")
    std::atomic<int> syncs{0};
    std::atomic<int> builds{0};
    std::atomic<bool> idle{false};     // the root asks for idle syncs while set
    std::atomic<bool> focused{false};  // the field had the focus at the last sync
    std::atomic<bool> renamed{false};  // the next tree gives the field's host another id
};

// A host over a field that outlives the tree, as a player host over the shared
// player: the root builds a new host on every rebuild.
class FieldHost : public widget::Widget {
public:
    FieldHost(std::shared_ptr<widget::TextInput> field, std::string id) : m_field(std::move(field)), m_id(std::move(id)) {}
    void sync(widget::RuntimeState& state) override { m_field->sync(state); }
    widget::NodeId build_layout(widget::LayoutContext& cx) override {
        const widget::NodeId node = m_field->build_layout(cx);
        cx.registry.register_node(node, this);
        return node;
    }
    void apply_layout(const layout::LayoutTree& tree, widget::NodeId node, Point origin) override {
        m_field->apply_layout(tree, node, origin);
    }
    void draw(Scene& scene, const Affine& t, widget::DrawContext& cx) override { m_field->draw(scene, t, cx); }
    void handle_event(const Event& event, widget::EventContext& cx, widget::NodeId node) override {
        m_field->handle_event(event, cx, node);
    }
    std::string_view type_name() const override { return "FieldHost"; }
    std::optional<std::string_view> widget_id() const override { return m_id; }
    Rect bounds() const override { return m_field->bounds(); }
    bool is_focusable() const override { return true; }
    void set_focus(bool focused) override { m_field->set_focus(focused); }
    bool has_focus() const override { return m_field->has_focus(); }
    bool needs_redraw() const override { return m_field->needs_redraw(); }
    void mark_drawn() override { m_field->mark_drawn(); }

private:
    std::shared_ptr<widget::TextInput> m_field;
    std::string m_id;
};

// A root over one search field bound to a shared cell. Like the program's palette,
// it rebuilds its tree whenever the cell's text changed; it offers one available
// and one unavailable action.
class FieldRoot : public widget::Widget {
public:
    FieldRoot(LoopLog& log, local_state::TextState cell)
        : m_log(log),
          m_cell(cell),
          m_field(std::make_shared<widget::TextInput>(widget::TextInput::from_state(std::move(cell)).with_kind(2))) {}

    void sync(widget::RuntimeState& state) override {
        m_log.syncs.fetch_add(1);
        note("sync");
        if (m_cell.generation() != m_built_generation || m_log.renamed.load() != m_built_renamed) m_dirty = true;
        if (m_children[0]) {
            m_children[0]->sync(state);
            m_log.focused = m_children[0]->has_focus();
        }
    }
    bool take_structure_dirty() override {
        note("take_structure_dirty");
        return std::exchange(m_dirty, false);
    }
    widget::NodeId build_layout(widget::LayoutContext& cx) override {
        note("build_layout");
        m_log.builds.fetch_add(1);
        m_built_generation = m_cell.generation();
        m_built_renamed = m_log.renamed.load();
        m_children[0] = std::make_unique<FieldHost>(m_field, m_built_renamed ? "other_input" : "palette_input");
        layout::Style style;
        style.flex_direction = layout::FlexDirection::Column;
        style.size = {layout::Dimension::percent(1.0f), layout::Dimension::percent(1.0f)};
        widget::NodeId kids[] = {m_children[0]->build_layout(cx)};
        const auto node = *cx.tree.new_with_children(style, kids);
        cx.registry.register_node(node, this);
        return node;
    }
    void apply_layout(const layout::LayoutTree& tree, widget::NodeId node, Point origin) override {
        note("apply_layout");
        auto l = tree.layout(node);
        if (l) m_bounds = {origin.x + l->x, origin.y + l->y, origin.x + l->x + l->width, origin.y + l->y + l->height};
        if (auto kids = tree.children(node); kids && !kids->empty()) m_children[0]->apply_layout(tree, (*kids)[0], m_bounds.origin());
    }
    void draw(Scene& scene, const Affine& t, widget::DrawContext& cx) override {
        scene.fill(FillRule::NonZero, t, cx.theme.background, m_bounds);
        m_children[0]->draw(scene, t, cx);
    }
    void draw_with_presence(Scene& scene, const Affine& t, widget::DrawContext& cx,
                            const widget::PresenceContext&) override {
        note("draw_with_presence");
        draw(scene, t, cx);
    }
    void handle_event(const Event& event, widget::EventContext& cx, widget::NodeId node) override {
        if (const auto* k = std::get_if<KeyEvent>(&event); k && !k->released && k->kind == KeyEvent::Kind::Named) {
            std::lock_guard lock(m_log.mu);
            m_log.keys.push_back("named:" + std::to_string(key_code(k->named)));
        }
        if (auto kids = cx.tree.children(node); kids && !kids->empty()) m_children[0]->handle_event(event, cx, (*kids)[0]);
    }
    std::span<const std::unique_ptr<widget::Widget>> children() const override { return m_children; }
    std::span<std::unique_ptr<widget::Widget>> children_mut() override { return m_children; }
    std::string_view type_name() const override { return "FieldRoot"; }
    Rect bounds() const override { return m_bounds; }
    bool needs_idle_sync() const override { return m_log.idle.load(); }
    bool needs_redraw() const override { return m_children[0] && m_children[0]->needs_redraw(); }
    void mark_drawn() override {
        note("mark_drawn");
        m_first_frame_done = true;
        if (m_children[0]) m_children[0]->mark_drawn();
    }
    widget::ActionResources action_resources() const override {
        using vorn_actions::resource::ActionSpec;
        using vorn_actions::resource::Resource;
        auto fixed = [](const char* name) {
            return ActionSpec::fixed(name, name, vorn_actions::EncodedAction{"test.operation", "{}"});
        };
        widget::ActionResources out;
        out.push_back(Resource("test.res", "test", "Test")
                          .with_action(fixed("go"))
                          .with_action(fixed("gone").unavailable("test_off", "not now")));
        return out;
    }
    void refresh_control_action_availability(const AvailableActions& available) override {
        note("refresh_control_action_availability");
        std::lock_guard lock(m_log.mu);
        m_log.available.clear();
        for (const auto& a : available) m_log.available.insert(a.resource + "#" + a.action);
    }

private:
    void note(const char* what) {
        if (m_first_frame_done) return;
        std::lock_guard lock(m_log.mu);
        m_log.first_frame.emplace_back(what);
    }

    LoopLog& m_log;
    local_state::TextState m_cell;
    std::shared_ptr<widget::TextInput> m_field;
    std::uint64_t m_built_generation = 0;
    bool m_built_renamed = false;
    bool m_dirty = false;
    bool m_first_frame_done = false;
    std::vector<std::unique_ptr<widget::Widget>> m_children = std::vector<std::unique_ptr<widget::Widget>>(1);
    Rect m_bounds;
};

TEST(Launch, FramesInOrderIdleSyncsAndFocusAcrossRebuilds) {
    vorn_test::XvfbDisplay display("1024x768x24");
    ASSERT_TRUE(display.ok()) << "Xvfb did not start";
    LoopLog log;
    local_state::TextState cell("");

    struct Findings {
        bool first_frame = false, idle_synced = false, idle_bounded = false, focused = false;
        bool first_key = false, rebuilt = false, second_key = false, prev_key_sent = false, let_go = false;
        int idle_syncs = 0;
        std::string note;
    } found;

    std::thread driver([&] {
        vorn_test::XClient x;
        std::optional<unsigned long> win;
        if (!x.ok() || !wait_until([&] { return (win = x.find_window("vorn loop test")).has_value(); }, 5s)) {
            found.note = "no window";
            launch::request_quit();
            return;
        }
        found.first_frame = wait_until([&] {
            std::lock_guard lock(log.mu);
            return !log.first_frame.empty() && log.first_frame.back() == "mark_drawn";
        });
        // Let the start-up events pass, then ask for idle syncs for a second: they come
        // without any input, at a bounded rate.
        std::this_thread::sleep_for(500ms);
        const int before = log.syncs.load();
        log.idle = true;
        vorn_ui::wake::wake_loop();
        std::this_thread::sleep_for(1s);
        log.idle = false;
        found.idle_syncs = log.syncs.load() - before;
        found.idle_synced = found.idle_syncs >= 5;
        found.idle_bounded = found.idle_syncs <= 2 * launch::kIdleSyncHz;

        // The media key for the previous track is no page navigation.
        found.prev_key_sent = x.key(vorn_test::XClient::Key::AudioPrev);

        // Focus the field, type: every typed letter rebuilds the tree, and the focus
        // follows the field into the new tree.
        x.click(*win, 20, 8);
        found.focused = wait_until([&] { return log.focused.load(); }, 5s);
        const int builds = log.builds.load();
        x.key(vorn_test::XClient::Key::K);
        found.first_key = wait_until([&] { return cell.text() == "k"; }, 5s);
        found.rebuilt = wait_until([&] { return log.builds.load() > builds && log.focused.load(); }, 5s);
        x.key(vorn_test::XClient::Key::K);
        found.second_key = wait_until([&] { return cell.text() == "kk"; }, 5s);
        // A tree without a widget of that id takes the focus from the field that
        // outlives it.
        const int before_rename = log.builds.load();
        log.renamed = true;
        vorn_ui::wake::wake_loop();
        found.let_go = wait_until([&] { return log.builds.load() > before_rename; }, 5s) && wait_until([&] {
            vorn_ui::wake::wake_loop();  // a frame after the rebuild reports the field's focus
            return !log.focused.load();
        }, 5s);
        launch::request_quit();
    });

    launch::LaunchSpec spec;
    spec.application_id = "org.vorn.LoopTest";
    spec.window_title = "vorn loop test";
    spec.arguments = std::vector<std::string>{"test"};
    spec.build_root = [&] { return std::make_unique<FieldRoot>(log, cell); };
    spec.window_size = [](const launch::LaunchArgs&) { return std::pair<std::uint32_t, std::uint32_t>{300, 200}; };
    auto result = launch::run(std::move(spec));
    driver.join();

    ASSERT_TRUE(result.has_value()) << result.error().message;
    EXPECT_TRUE(found.first_frame) << found.note;
    {
        std::lock_guard lock(log.mu);
        const std::vector<std::string> order = {"sync",         "take_structure_dirty", "build_layout",
                                                "refresh_control_action_availability", "apply_layout",
                                                "draw_with_presence", "mark_drawn"};
        EXPECT_EQ(log.first_frame, order);
        EXPECT_EQ(log.available, (std::set<std::string>{"test.res#go"}));
        if (found.prev_key_sent) {
            EXPECT_EQ(std::count(log.keys.begin(), log.keys.end(), "named:150"), 0) << "a media key went back a page";
        }
    }
    EXPECT_TRUE(found.idle_synced) << found.idle_syncs;
    EXPECT_TRUE(found.idle_bounded) << found.idle_syncs;
    EXPECT_TRUE(found.focused);
    EXPECT_TRUE(found.first_key);
    EXPECT_TRUE(found.rebuilt);
    EXPECT_TRUE(found.second_key) << "after the rebuild the field had lost the focus: " << cell.text();
    EXPECT_TRUE(found.let_go) << "the field kept the focus although no widget of its id was left";
}

// Records what text measures during a frame at display scale 2.
class ScaledRoot : public widget::Widget {
public:
    struct Seen {
        float scale = 0, text_scale = 0;
        Size drawn_size, measured_size;
        bool drawn = false;
    };
    explicit ScaledRoot(Seen& seen) : m_seen(seen) {}

    widget::NodeId build_layout(widget::LayoutContext& cx) override {
        m_seen.scale = cx.env.scale;
        m_seen.text_scale = cx.env.text_scale;
        return window_leaf(cx, *this);
    }
    void apply_layout(const layout::LayoutTree& tree, widget::NodeId node, Point origin) override {
        auto l = tree.layout(node);
        if (l) m_bounds = {origin.x + l->x, origin.y + l->y, origin.x + l->x + l->width, origin.y + l->y + l->height};
    }
    void draw(Scene& scene, const Affine& t, widget::DrawContext& cx) override {
        // A widget that measures at its font size times the text scale over the
        // renderer's scale factor, and draws at its font size.
        m_seen.measured_size = cx.text.measure("Large video title", 14.5f * m_seen.text_scale / cx.text.scale_factor());
        m_seen.drawn_size = cx.text.measure("Large video title", 14.5f);
        cx.text.draw_text(scene, t, "Large video title", 14.5f, cx.theme.text, m_bounds.origin());
        m_seen.drawn = true;
    }
    std::string_view type_name() const override { return "ScaledRoot"; }
    Rect bounds() const override { return m_bounds; }
    void mark_drawn() override { launch::request_quit(); }

private:
    Seen& m_seen;
    Rect m_bounds;
};

TEST(Launch, TextMeasuresInLogicalPixelsOnAScaledDisplay) {
    vorn_test::XvfbDisplay display("1024x768x24");
    ASSERT_TRUE(display.ok()) << "Xvfb did not start";
    const char* old = std::getenv("VORN_UI_SCALE");
    const std::string saved = old != nullptr ? old : "";
    setenv("VORN_UI_SCALE", "2", 1);
    ScaledRoot::Seen seen;
    launch::LaunchSpec spec;
    spec.application_id = "org.vorn.ScaleTest";
    spec.arguments = std::vector<std::string>{"test"};
    spec.build_root = [&] { return std::make_unique<ScaledRoot>(seen); };
    spec.window_size = [](const launch::LaunchArgs&) { return std::pair<std::uint32_t, std::uint32_t>{300, 200}; };
    auto result = launch::run(std::move(spec));
    if (old != nullptr) {
        setenv("VORN_UI_SCALE", saved.c_str(), 1);
    } else {
        unsetenv("VORN_UI_SCALE");
    }
    ASSERT_TRUE(result.has_value()) << result.error().message;
    ASSERT_TRUE(seen.drawn);
    EXPECT_FLOAT_EQ(seen.scale, 2.0f);
    EXPECT_EQ(seen.measured_size, seen.drawn_size) << "measured " << seen.measured_size.height << " for text drawn "
                                                    << seen.drawn_size.height << " high";
}

// A root that writes a key of the shared document for every "k" typed, and whose
// sync can be held so that input piles up while the loop is busy.
class WritingRoot : public widget::Widget {
public:
    struct Gate {
        std::mutex mu;
        std::condition_variable cv;
        bool hold = false;
        bool holding = false;
        std::atomic<int> draws{0};
        std::atomic<int> writes{0};
    };
    explicit WritingRoot(Gate& g) : m_g(g) {}

    void sync(widget::RuntimeState&) override {
        std::unique_lock lock(m_g.mu);
        if (!m_g.hold) return;
        m_g.holding = true;
        m_g.cv.notify_all();
        m_g.cv.wait_for(lock, 5s, [&] { return !m_g.hold; });
        m_g.holding = false;
    }
    widget::NodeId build_layout(widget::LayoutContext& cx) override {
        return window_leaf(cx, *this);
    }
    void apply_layout(const layout::LayoutTree&, widget::NodeId, Point) override {}
    void draw(Scene&, const Affine&, widget::DrawContext&) override {}
    Rect bounds() const override { return {}; }
    void handle_event(const Event& event, widget::EventContext& cx, widget::NodeId) override {
        const auto* k = std::get_if<KeyEvent>(&event);
        if (k == nullptr || k->released || k->kind != KeyEvent::Kind::Character || k->text != "k") return;
        automerge::Document& doc = *cx.state.document;
        const int n = m_g.writes.fetch_add(1) + 1;
        if (doc.put(automerge::ObjId::root(), "typed", automerge::Value::str(std::to_string(n)))) doc.commit();
    }
    std::string_view type_name() const override { return "WritingRoot"; }
    void mark_drawn() override { m_g.draws.fetch_add(1); }

private:
    Gate& m_g;
};

// Input and the window's close request that reach the loop in one batch: what the
// input changed in the shared document is saved before the loop ends.
TEST(Launch, AQuitInTheSameBatchAsAnEditStillSavesIt) {
    vorn_test::XvfbDisplay display("1024x768x24");
    ASSERT_TRUE(display.ok()) << "Xvfb did not start";
    const auto dir = std::filesystem::temp_directory_path() / ("vorn-quit-save-" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    const auto file = dir / "shared.automerge";
    WritingRoot::Gate gate;
    std::string note;
    std::atomic<bool> loop_done{false};

    std::thread driver([&] {
        vorn_test::XClient x;
        std::optional<unsigned long> win;
        if (!x.ok() || !wait_until([&] { return gate.draws.load() >= 1; }) ||
            !wait_until([&] { return (win = x.find_window("vorn quit test")).has_value(); }, 5s)) {
            note = "no window";
            launch::request_quit();
            return;
        }
        {
            std::unique_lock lock(gate.mu);
            gate.hold = true;
        }
        wake::wake_loop();
        {
            std::unique_lock lock(gate.mu);
            if (!gate.cv.wait_for(lock, 5s, [&] { return gate.holding; })) note = "the loop never synced";
        }
        // While the loop is held, the key and the close request queue up behind it.
        if (!x.key(vorn_test::XClient::Key::K)) note = "no key for k";
        x.close(*win);
        std::this_thread::sleep_for(300ms);
        {
            std::unique_lock lock(gate.mu);
            gate.hold = false;
        }
        gate.cv.notify_all();
        if (!wait_until([&] { return gate.writes.load() > 0; }, 5s)) note = "the key never arrived";
        // Should the close request not end the loop, do not hang the test.
        if (!wait_until([&] { return loop_done.load(); }, 5s)) {
            note = "the close request did not end the loop";
            launch::request_quit();
        }
    });

    launch::LaunchSpec spec;
    spec.application_id = "org.vorn.QuitSaveTest";
    spec.window_title = "vorn quit test";
    spec.arguments = std::vector<std::string>{"test"};
    spec.build_root = [&] { return std::make_unique<WritingRoot>(gate); };
    spec.window_size = [](const launch::LaunchArgs&) { return std::pair<std::uint32_t, std::uint32_t>{200, 150}; };
    spec.open_store = [&](std::string_view) -> std::expected<persist::DocumentStore, persist::PersistError> {
        return persist::DocumentStore::open_at(file);
    };
    auto result = launch::run(std::move(spec));
    loop_done = true;
    driver.join();
    ASSERT_TRUE(result.has_value()) << result.error().message;
    ASSERT_TRUE(note.empty()) << note;
    ASSERT_EQ(gate.writes.load(), 1);

    std::ifstream in(file, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    auto doc = automerge::Document::load(bytes);
    ASSERT_TRUE(doc.has_value()) << "no saved document";
    auto typed = doc->get(automerge::ObjId::root(), "typed");
    ASSERT_TRUE(typed.has_value() && typed->has_value()) << "the edit was not saved";
    std::filesystem::remove_all(dir);
}

// A tall list of rows (stripes, circles, text), each row drawn only while visible.
class Rows : public widget::Widget {
public:
    widget::NodeId build_layout(widget::LayoutContext& cx) override {
        layout::Style style;
        style.size = {layout::Dimension::percent(1.0f), layout::Dimension::length(2400)};
        style.flex_shrink = 0;
        const auto node = cx.tree.new_leaf(style);
        cx.registry.register_node(node, this);
        return node;
    }
    void apply_layout(const layout::LayoutTree& tree, widget::NodeId node, Point origin) override {
        auto l = tree.layout(node);
        if (l) m_bounds = {origin.x + l->x, origin.y + l->y, origin.x + l->x + l->width, origin.y + l->y + l->height};
    }
    void draw(Scene& scene, const Affine& t, widget::DrawContext& cx) override { draw_with_presence(scene, t, cx, {}); }
    void draw_with_presence(Scene& scene, const Affine& t, widget::DrawContext& cx,
                            const widget::PresenceContext& presence) override {
        for (int i = 0; i < 60; ++i) {
            const Rect row{m_bounds.x0, m_bounds.y0 + i * 40, m_bounds.x1, m_bounds.y0 + i * 40 + 36};
            if (widget::is_clipped_out(row, presence)) continue;
            scene.fill(FillRule::NonZero, t, i % 2 ? Color::rgba8(40, 60, 90) : Color::rgba8(70, 40, 60),
                       RoundedRect{row, 8});
            scene.stroke(Stroke::with_width(2), t, Color::white(), Circle{{row.x0 + 20, row.center().y}, 11});
            cx.text.draw_text(scene, t, "Row " + std::to_string(i), 14, Color::white(), Point{row.x0 + 40, row.y0 + 9});
        }
    }
    std::string_view type_name() const override { return "Rows"; }
    Rect bounds() const override { return m_bounds; }

private:
    Rect m_bounds;
};

// A header, the rows in a scroll container below it, and a badge drawn over them.
class ScrollRoot : public widget::Widget {
public:
    ScrollRoot(widget::scrollable::SharedScrollOffset offset, std::atomic<int>* draws, std::atomic<float>* drawn_at)
        : m_draws(draws), m_drawn_at(drawn_at), m_offset(offset) {
        m_scroll.push_back(std::make_unique<widget::Scrollable>(
            widget::Scrollable::with_child(Rows{}).with_persisted_offset(std::move(offset))));
    }
    widget::NodeId build_layout(widget::LayoutContext& cx) override {
        layout::Style style;
        style.flex_direction = layout::FlexDirection::Column;
        style.size = {layout::Dimension::percent(1.0f), layout::Dimension::percent(1.0f)};
        style.padding.top = layout::Dimension::length(40);
        widget::NodeId kids[] = {m_scroll[0]->build_layout(cx)};
        const auto node = *cx.tree.new_with_children(style, kids);
        cx.registry.register_node(node, this);
        return node;
    }
    void apply_layout(const layout::LayoutTree& tree, widget::NodeId node, Point origin) override {
        auto l = tree.layout(node);
        if (l) m_bounds = {origin.x + l->x, origin.y + l->y, origin.x + l->x + l->width, origin.y + l->y + l->height};
        m_scroll[0]->apply_layout(tree, (*tree.children(node))[0], m_bounds.origin());
    }
    void draw(Scene& scene, const Affine& t, widget::DrawContext& cx) override { draw_with_presence(scene, t, cx, {}); }
    void draw_with_presence(Scene& scene, const Affine& t, widget::DrawContext& cx,
                            const widget::PresenceContext& presence) override {
        scene.fill(FillRule::NonZero, t, Color::rgba8(30, 30, 40), Rect{m_bounds.x0, m_bounds.y0, m_bounds.x1, 40});
        cx.text.draw_text(scene, t, "Header", 16, Color::white(), Point{10, 10});
        m_scroll[0]->draw_with_presence(scene, t, cx, presence);
        const Rect badge{20, m_bounds.y1 - 50, 160, m_bounds.y1 - 20};
        scene.fill(FillRule::NonZero, t, Color::rgba8(200, 40, 40, 200), RoundedRect{badge, 8});
        cx.text.draw_text(scene, t, "Over the rows", 13, Color::white(), Point{badge.x0 + 10, badge.y0 + 7});
    }
    void handle_event(const Event& event, widget::EventContext& cx, widget::NodeId node) override {
        auto kids = cx.tree.children(node);  // none before the first frame's layout
        if (kids && !kids->empty()) m_scroll[0]->handle_event(event, cx, (*kids)[0]);
    }
    std::span<const std::unique_ptr<widget::Widget>> children() const override { return m_scroll; }
    std::span<std::unique_ptr<widget::Widget>> children_mut() override { return m_scroll; }
    std::string_view type_name() const override { return "ScrollRoot"; }
    Rect bounds() const override { return m_bounds; }
    bool needs_redraw() const override { return m_scroll[0]->needs_redraw(); }
    void mark_drawn() override {
        m_scroll[0]->mark_drawn();
        if (m_drawn_at) m_drawn_at->store(m_offset->y);
        if (m_draws) m_draws->fetch_add(1);
    }

private:
    std::atomic<int>* m_draws;
    std::atomic<float>* m_drawn_at;
    widget::scrollable::SharedScrollOffset m_offset;
    std::vector<widget::WidgetPtr> m_scroll;
    Rect m_bounds;
};

TEST(Launch, ScrolledFramesShowWhatAWholeDrawingShows) {
    // Wheel notches scroll the rows by whole pixels: the loop moves the last
    // picture and draws the strip that came into view. Every frame shown must
    // equal the whole scene drawn afresh.
    vorn_test::XvfbDisplay display("1024x768x24");
    ASSERT_TRUE(display.ok()) << "Xvfb did not start";
    std::atomic<int> draws{0};
    std::atomic<float> drawn_at{0};
    struct Shot {
        float offset;
        vorn_test::XClient::Shot pixels;
    };
    std::vector<Shot> shots;
    std::string note;

    std::thread driver([&] {
        vorn_test::XClient x;
        std::optional<unsigned long> win;
        if (!x.ok() || !wait_until([&] { return draws.load() >= 1 && (win = x.find_window(kTitle)).has_value(); })) {
            note = "no window";
            launch::request_quit();
            return;
        }
        auto settle_and_shoot = [&] {
            // The frame for the last notch is drawn once no more frames come.
            for (int last = -1; last != draws.load();) {
                last = draws.load();
                std::this_thread::sleep_for(150ms);
            }
            if (auto s = x.screenshot(*win)) shots.push_back({drawn_at.load(), std::move(*s)});
        };
        settle_and_shoot();
        for (bool down : {true, true, true, false, true, true, false, false}) {
            const int before = draws.load();
            x.wheel(*win, 200, 150, down);
            if (!wait_until([&] { return draws.load() > before; }, 5s)) note = "a notch drew no frame";
            settle_and_shoot();
        }
        launch::request_quit();
    });

    launch::LaunchSpec spec;
    spec.application_id = "org.vorn.ScrollTest";
    spec.window_title = kTitle;
    spec.arguments = std::vector<std::string>{"test"};
    spec.build_root = [&] {
        return std::make_unique<ScrollRoot>(std::make_shared<widget::scrollable::ScrollOffset>(), &draws, &drawn_at);
    };
    spec.window_size = [](const launch::LaunchArgs&) { return std::pair<std::uint32_t, std::uint32_t>{400, 300}; };
    auto result = launch::run(std::move(spec));
    driver.join();
    ASSERT_TRUE(result.has_value()) << result.error().message;
    ASSERT_TRUE(note.empty()) << note;
    ASSERT_EQ(shots.size(), 9u);

    std::set<float> offsets;
    for (const Shot& shot : shots) {
        offsets.insert(shot.offset);
        auto offset = std::make_shared<widget::scrollable::ScrollOffset>();
        offset->y = shot.offset;
        ScrollRoot root(offset, nullptr, nullptr);
        auto want = offscreen::render_widget(root, 400, 300, Theme::dark());
        ASSERT_TRUE(want.has_value());
        ASSERT_EQ(shot.pixels.w, 400);
        ASSERT_EQ(shot.pixels.h, 300);
        int differ = 0;
        for (int y = 0; y < 300; ++y) {
            for (int x = 0; x < 400; ++x) {
                const std::uint32_t rgba = want->rgba_at(static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y));
                if (shot.pixels.at(x, y) != rgba >> 8) ++differ;
            }
        }
        EXPECT_EQ(differ, 0) << "at offset " << shot.offset;
    }
    EXPECT_EQ(offsets.size(), 5u);  // 0, 48, 96, 144 and 192 were shown
}

// A root that notes input reaching it before it was ever laid out.
class FirstInputRoot : public widget::Widget {
public:
    struct Seen {
        std::atomic<int> early{0};
        std::atomic<int> events{0};
        std::atomic<int> draws{0};
    };
    explicit FirstInputRoot(Seen& s) : m_s(s) {}
    widget::NodeId build_layout(widget::LayoutContext& cx) override {
        const auto node = window_leaf(cx, *this);
        m_built = true;
        return node;
    }
    void apply_layout(const layout::LayoutTree&, widget::NodeId, Point) override {}
    void draw(Scene&, const Affine&, widget::DrawContext&) override {}
    Rect bounds() const override { return {}; }
    void handle_event(const Event&, widget::EventContext& cx, widget::NodeId node) override {
        m_s.events.fetch_add(1);
        if (!m_built || !cx.tree.layout(node)) m_s.early.fetch_add(1);
    }
    std::string_view type_name() const override { return "FirstInputRoot"; }
    void mark_drawn() override { m_s.draws.fetch_add(1); }

private:
    Seen& m_s;
    bool m_built = false;
};

// Input already queued when the window opens (the pointer is over it) reaches a
// root that has been laid out.
TEST(Launch, InputWaitsForTheFirstLayout) {
    vorn_test::XvfbDisplay display("1024x768x24");
    ASSERT_TRUE(display.ok()) << "Xvfb did not start";
    FirstInputRoot::Seen seen;
    std::thread driver([&] {
        vorn_test::XClient x;
        std::optional<unsigned long> win;
        if (x.ok() && wait_until([&] { return (win = x.find_window("vorn first input")).has_value(); }, 5s)) {
            for (int i = 0; i < 5; ++i) x.click(*win, 100 + 10 * i, 100);
        }
        wait_until([&] { return seen.events.load() >= 5 && seen.draws.load() >= 1; }, 5s);
        launch::request_quit();
    });
    launch::LaunchSpec spec;
    spec.application_id = "org.vorn.FirstInputTest";
    spec.window_title = "vorn first input";
    spec.arguments = std::vector<std::string>{"test"};
    spec.build_root = [&] { return std::make_unique<FirstInputRoot>(seen); };
    spec.window_size = [](const launch::LaunchArgs&) { return std::pair<std::uint32_t, std::uint32_t>{1024, 768}; };
    auto result = launch::run(std::move(spec));
    driver.join();
    ASSERT_TRUE(result.has_value()) << result.error().message;
    EXPECT_GT(seen.events.load(), 0);
    EXPECT_EQ(seen.early.load(), 0) << "input reached the root before its first layout";
}

}  // namespace
