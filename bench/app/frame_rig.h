// The root driven frame by frame as the window loop drives it, with each
// part of a frame callable on its own so that a benchmark can time it: sync,
// the rebuild of a changed structure (build, solve, place, draw) and the
// frame as a whole. The shared document is the rig's own, in memory.
// Interface thread (the benchmark's main thread) only.
#pragma once

#include <chrono>
#include <optional>

#include "sarn/app/sarn_app.h"
#include "vorn_ui/scene.h"
#include "vorn_ui/text.h"
#include "vorn_ui/widget.h"

namespace sarn::bench {

class FrameRig {
public:
    FrameRig(SarnApp app, double width, double height) : m_app(std::move(app)), m_view{width, height} {
        m_env.theme = vorn_ui::Theme::dark();
        m_env.viewport = m_view;
        m_state.document = &m_document;
    }

    SarnApp& app() { return m_app; }
    automerge::Document& document() { return m_document; }
    vorn_ui::TextRenderer& text() { return m_text; }

    void sync() { m_app.sync(m_state); }

    // The tree built afresh, solved, placed and drawn: what a structure
    // change costs a frame. False when the layout failed.
    bool rebuild() {
        m_tree.clear();
        m_registry.clear();
        vorn_ui::widget::LayoutContext cx{m_tree, m_registry, m_env};
        auto nodes = vorn_ui::widget::build_root_layout(m_app, cx, m_view);
        if (!nodes) return false;
        m_nodes = *nodes;
        m_built = true;
        if (!vorn_ui::widget::solve_root_layout(m_tree, m_nodes, m_view, m_registry, m_text)) return false;
        m_app.apply_layout(m_tree, m_nodes.root, vorn_ui::Point{0, 0});
        draw();
        return true;
    }

    // One whole frame: sync, then a rebuild when the structure changed.
    bool frame() {
        sync();
        (void)m_app.take_dispatch_state();
        if (m_app.take_structure_dirty() || !m_built) return rebuild();
        return true;
    }

    void draw() {
        vorn_ui::Scene scene;
        const auto permissions = vorn_ui::widget::PermissionContext::allow_all();
        vorn_ui::widget::DrawContext cx{m_env.theme, m_text, permissions};
        m_app.draw_with_presence(scene, vorn_ui::Affine::identity(), cx,
                                 vorn_ui::widget::PresenceContext{vorn_ui::Rect{0, 0, m_view.width, m_view.height}});
        m_app.mark_drawn();
    }

private:
    SarnApp m_app;
    vorn_ui::Size m_view;
    automerge::Document m_document;
    vorn_ui::widget::RuntimeState m_state;
    vorn_ui::layout::LayoutTree m_tree;
    vorn_ui::widget::NodeRegistry m_registry;
    vorn_ui::widget::Environment m_env;
    vorn_ui::TextRenderer m_text;
    vorn_ui::widget::RootLayout m_nodes;
    bool m_built = false;
};

// Milliseconds and microseconds of a steady-clock stretch.
using Clock = std::chrono::steady_clock;
inline double ms_since(Clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}
inline double us_since(Clock::time_point t0) {
    return std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
}

}  // namespace sarn::bench
