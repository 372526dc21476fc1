// Drives the root widget headless, the way the window loop does: sync,
// rebuild when the structure changed, solve, place; input events in
// between, with the runtime's keyboard focus and a clipboard of its own.
// The shared document is the harness's own.
#pragma once

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "../support/detached_app_options.h"
#include "automerge/document.h"
#include "sarn/actions/shared_reducer.h"
#include "sarn/app/sarn_app.h"
#include "vorn_actions/resource.h"
#include "sarn/sync/queue.h"
#include "vorn_ui/action_host.h"
#include "vorn_ui/clipboard.h"
#include "vorn_ui/focus.h"
#include "vorn_ui/offscreen.h"
#include "vorn_ui/widget.h"

namespace sarn::test {

// A fixed owner and memory-only history, so that no test touches the user's
// files; a worker that can never start, and pictures that never arrive.
inline SarnAppOptions quiet_options() {
    SarnAppOptions options = support::detached_app_options("tester", "tests");
    options.image_store = [] {
        return vorn_ui::image_store::ImageStore::create(
            [](const std::string&) -> std::optional<std::vector<std::uint8_t>> { return std::nullopt; });
    };
    return options;
}

// Fetch workers whose threads never run: requests are taken and never
// answered, and the queues stay open while the keeper lives. A kept body
// holds the configuration that holds the keeper's list, so the keeper lets
// the bodies go when it ends.
class StalledWorkers {
public:
    StalledWorkers() = default;
    StalledWorkers(const StalledWorkers&) = delete;
    StalledWorkers& operator=(const StalledWorkers&) = delete;
    ~StalledWorkers() { m_bodies->clear(); }

    // quiet_options with such a worker.
    SarnAppOptions options() const {
        SarnAppOptions options = quiet_options();
        options.fetch_config = [bodies = m_bodies] {
            FetchWorkerConfig config;
            config.start_thread = [bodies](std::function<void()> body) -> std::expected<void, std::string> {
                bodies->push_back(std::move(body));
                return {};
            };
            return config;
        };
        return options;
    }
    std::size_t started() const { return m_bodies->size(); }

private:
    std::shared_ptr<std::vector<std::function<void()>>> m_bodies =
        std::make_shared<std::vector<std::function<void()>>>();
};

// A device-sync handle whose worker end the test holds: statuses and pulled
// results go in through `events`, the root's commands come out of `commands`.
struct SyncPeer {
    QueueSender<SyncWorkerEvent> events;
    QueueReceiver<SyncCommand> commands;
};

inline std::pair<DeviceSyncHandle, SyncPeer> controlled_sync() {
    auto [event_tx, event_rx] = make_queue<SyncWorkerEvent>(0);
    auto [command_tx, command_rx] = make_queue<SyncCommand>(kSyncCommandCapacity);
    DeviceSyncHandle handle(std::move(event_rx), std::move(command_tx), "Ready", DeviceSyncState::Ready);
    return {std::move(handle), SyncPeer{std::move(event_tx), std::move(command_rx)}};
}

class RootHarness {
public:
    explicit RootHarness(SarnApp app, double width = 1280, double height = 800, float scale = 1.0f,
                         vorn_ui::Theme theme = vorn_ui::Theme::dark())
        : m_app(std::move(app)), m_view{width, height} {
        m_env.scale = scale;
        m_env.theme = theme.with_scale(scale);
        m_env.viewport = m_view;
    }

    const vorn_ui::widget::Environment& env() const { return m_env; }

    // The window changes size; the next frame lays out in the new viewport.
    void resize(double width, double height) {
        m_view = {width, height};
        m_env.viewport = m_view;
    }

    // The picture's size in device pixels.
    std::uint32_t pixel_width() const { return static_cast<std::uint32_t>(m_view.width * m_env.scale); }
    std::uint32_t pixel_height() const { return static_cast<std::uint32_t>(m_view.height * m_env.scale); }

    // The scene of the laid-out tree as the window draws it, at the display
    // scale; the tree is marked drawn.
    vorn_ui::Scene draw(bool with_focus_ring = true) {
        vorn_ui::Scene scene;
        const auto transform = vorn_ui::Affine::scale(m_env.scale);
        vorn_ui::widget::PermissionContext permissions = vorn_ui::widget::PermissionContext::allow_all();
        vorn_ui::widget::DrawContext dc{m_env.theme, m_text, permissions};
        vorn_ui::widget::PresenceContext presence;
        presence.clip = vorn_ui::Rect{0, 0, m_view.width, m_view.height};
        m_app.draw_with_presence(scene, transform, dc, presence);
        if (with_focus_ring) m_focus.paint_ring(scene, transform, m_env.theme, m_app);
        m_app.mark_drawn();
        return scene;
    }

    // Draws the laid-out tree as the window does, at the display scale (the
    // focus ring too, unless asked not to).
    vorn_ui::offscreen::RenderedImage render(bool with_focus_ring = true) {
        auto renderer = vorn_ui::offscreen::OffscreenRenderer::create(pixel_width(), pixel_height());
        EXPECT_TRUE(renderer.has_value());
        const vorn_ui::Scene scene = draw(with_focus_ring);
        auto image = renderer->render_resilient(scene, m_env.theme.background);
        EXPECT_TRUE(image.has_value());
        return image ? std::move(*image) : vorn_ui::offscreen::RenderedImage{};
    }

    // Writes the picture when VORN_SHOT_DIR names a folder (for looking at pages).
    void shoot(const std::string& name) {
        const char* dir = std::getenv("VORN_SHOT_DIR");
        if (dir == nullptr) return;
        const auto image = render();
        auto png = vorn_ui::offscreen::encode_png(image.width, image.height, image.rgba);
        ASSERT_TRUE(png.has_value());
        ASSERT_TRUE(vorn_ui::offscreen::write_file_atomically(std::filesystem::path(dir) / (name + ".png"), *png));
    }

    SarnApp& app() { return m_app; }
    vorn_ui::widget::FocusManager& focus() { return m_focus; }
    vorn_ui::MemoryClipboard& clipboard() { return m_clipboard; }
    // The id of the widget that holds the keyboard focus, if any.
    std::optional<std::string> focused_id() const {
        const auto* w = m_focus.focused();
        if (w == nullptr) return std::nullopt;
        if (auto id = w->widget_id()) return std::string(*id);
        return std::string(w->type_name());
    }
    automerge::Document& document() { return m_document; }
    // What the runtime says of the document's file from the next frame on.
    void set_document_error(std::optional<std::string> error) { m_document_error = std::move(error); }
    const vorn_ui::layout::LayoutTree& tree() const { return m_tree; }

    // One frame; answers whether the tree was rebuilt.
    bool frame() {
        vorn_ui::widget::RuntimeState state;
        state.document = &m_document;
        state.document_error = m_document_error;
        m_app.sync(state);
        const bool rebuild = m_app.take_structure_dirty() || !m_built;
        if (rebuild) build_tree();
        if (!rebuild) {
            // The window's size may have changed since the tree was built.
            vorn_ui::layout::Style top;
            top.size = {vorn_ui::layout::Dimension::length(static_cast<float>(m_view.width)),
                        vorn_ui::layout::Dimension::length(static_cast<float>(m_view.height))};
            (void)m_tree.set_style(m_nodes.top, top);
        }
        auto solved = vorn_ui::widget::solve_root_layout(m_tree, m_nodes, m_view, m_registry, m_text);
        EXPECT_TRUE(solved.has_value());
        m_app.apply_layout(m_tree, m_nodes.root, vorn_ui::Point{0, 0});
        if (rebuild) m_focus.after_rebuild(m_app);
        if (auto heads = m_app.take_dispatch_state()) ++m_dispatches;
        return rebuild;
    }

    // One frame after the first as the window loop runs it: the layout is
    // built again only when the structure changed and solved only when a
    // measure is asked for; otherwise the answer is the scroll container
    // whose offset alone changed (asked before the tree is placed), which
    // the window hands to the renderer with the frame's drawing.
    std::optional<vorn_ui::offscreen::ScrollBlit> window_frame() {
        vorn_ui::widget::RuntimeState state;
        state.document = &m_document;
        state.document_error = m_document_error;
        m_app.sync(state);
        bool whole = false, rebuilt = false;
        if (m_app.take_structure_dirty() || !m_built) {
            build_tree();
            whole = rebuilt = true;
        }
        if (whole || m_app.layout_needs_measure()) {
            auto solved = vorn_ui::widget::solve_root_layout(m_tree, m_nodes, m_view, m_registry, m_text);
            EXPECT_TRUE(solved.has_value());
            whole = true;
        }
        std::optional<vorn_ui::offscreen::ScrollBlit> scroll;
        if (!whole) scroll = vorn_ui::offscreen::scroll_only_change(m_app);
        m_app.apply_layout(m_tree, m_nodes.root, vorn_ui::Point{0, 0});
        if (rebuilt) m_focus.after_rebuild(m_app);
        return scroll;
    }

    // Delivers one event; answers the handled flag.
    bool send(const vorn_ui::Event& event, vorn_ui::Modifiers mods = {}) {
        vorn_ui::widget::RuntimeState state;
        state.document = &m_document;
        state.document_error = m_document_error;
        vorn_ui::widget::EventContext cx(mods, state, m_env.scale, m_tree);
        cx.clipboard = &m_clipboard;
        m_focus.deliver(m_app, event, cx, m_nodes.root, m_registry);
        return cx.handled;
    }

    bool key(vorn_ui::NamedKey named, vorn_ui::Modifiers mods = {}) {
        return send(vorn_ui::KeyEvent::named_key(named, mods), mods);
    }
    bool character(std::string text, vorn_ui::Modifiers mods = {}) {
        return send(vorn_ui::KeyEvent::character(std::move(text), mods), mods);
    }

    // Carries out the control invocations queued so far whose actions are the
    // root's own operations, as the window does after every event (those of
    // the shared document are left queued). Answers how many ran.
    int perform_invocations() {
        int ran = 0;
        while (auto invocation = m_app.take_control_invocation()) {
            const auto roots = m_app.action_resources();
            auto encoded = vorn_actions::resource::run_invocation(roots, *invocation);
            if (!encoded) continue;
            const auto kinds = m_app.operation_kinds();
            if (std::find(kinds.begin(), kinds.end(), encoded->kind) == kinds.end()) continue;
            const std::uint32_t type = vorn_actions::resource::operation_type_of(roots, invocation->address);
            (void)m_app.perform_operation(vorn_ui::OperationRequest{type, encoded->kind, encoded->payload});
            ++ran;
        }
        return ran;
    }

    // Runs intents as if a control had queued them during an event.
    void run(std::vector<ControlIntent> intents) {
        for (auto& intent : intents) m_app.intents().push(std::move(intent));
        send(vorn_ui::PointerLeaveEvent{});
    }

    // Puts an action on the shared document directly (another device did it).
    void apply_shared(const SarnAction& action) {
        vorn_ui::bound_dispatch::DispatchState state;
        ASSERT_TRUE(vorn_ui::action_host::ActionHost::dispatch_with_context(state, m_document, kSharedActionKind,
                                                                            TypedSarnAction(action), nullptr));
    }

    int dispatches() const { return m_dispatches; }

private:
    // The root's layout built afresh, as the window does when the structure changed.
    void build_tree() {
        m_focus.before_rebuild();
        m_tree.clear();
        m_registry.clear();
        vorn_ui::widget::LayoutContext cx{m_tree, m_registry, m_env};
        auto nodes = vorn_ui::widget::build_root_layout(m_app, cx, m_view);
        EXPECT_TRUE(nodes.has_value());
        if (nodes) m_nodes = *nodes;
        m_built = true;
    }

    SarnApp m_app;
    vorn_ui::Size m_view;
    automerge::Document m_document;
    std::optional<std::string> m_document_error;
    vorn_ui::layout::LayoutTree m_tree;
    vorn_ui::widget::NodeRegistry m_registry;
    vorn_ui::widget::Environment m_env;
    vorn_ui::TextRenderer m_text;
    vorn_ui::widget::RootLayout m_nodes;
    vorn_ui::widget::FocusManager m_focus;
    vorn_ui::MemoryClipboard m_clipboard;
    bool m_built = false;
    int m_dispatches = 0;
};

}  // namespace sarn::test
