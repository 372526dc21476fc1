// The page tree: the page of the current route inside the shell, placed,
// drawn behind, and named for assistive technology.
#include "sarn/app/palette_search.h"
#include "sarn/app/sarn_app.h"
#include "vorn_ui/widget/text_widget.h"

namespace sarn {

namespace {
constexpr float kPageScrollParameter = 14.0f;
}  // namespace

vorn_ui::widget::NodeId SarnApp::build_layout(vorn_ui::widget::LayoutContext& cx) {
    m_scale = cx.env.scale;
    current_video_resource();
    m_last_layout_mode = is_compact();

    const std::string key = route_scroll_key(m_library.route);
    auto& offset = m_scroll_offsets[key];
    if (!offset) offset = std::make_shared<vorn_ui::widget::scrollable::ScrollOffset>();

    auto page = vorn_ui::widget::Text::make(route_screen_name(m_library.route, m_library)).with_size(21);
    auto scroller = std::make_unique<vorn_ui::widget::scrollable::Scrollable>(
        vorn_ui::widget::scrollable::Scrollable::with_child(std::move(page)).with_persisted_offset(offset));
    (void)kPageScrollParameter;
    m_scroller = scroller.get();
    m_child = std::move(scroller);
    return m_child->build_layout(cx);
}

void SarnApp::apply_layout(const vorn_ui::layout::LayoutTree& tree, vorn_ui::widget::NodeId node,
                           vorn_ui::Point origin) {
    if (auto solved = tree.layout(node)) {
        m_bounds = vorn_ui::Rect{origin.x + solved->x, origin.y + solved->y, origin.x + solved->x + solved->width,
                                 origin.y + solved->y + solved->height};
    }
    if (m_child) m_child->apply_layout(tree, node, origin);
    if (m_bounds.x1 - m_bounds.x0 > 0.0) {
        const bool compact = is_compact();
        if (m_compact && *m_compact != compact) {
            m_sidebar_override = 2;
            m_structure_dirty = true;
        }
        m_compact = compact;
        if (m_last_layout_mode != compact) m_structure_dirty = true;
    }
}

void SarnApp::draw(vorn_ui::Scene& scene, const vorn_ui::Affine& transform, vorn_ui::widget::DrawContext& cx) {
    scene.fill(vorn_ui::FillRule::NonZero, transform, cx.theme.background, m_bounds);
    if (m_child) m_child->draw(scene, transform, cx);
}

void SarnApp::draw_with_presence(vorn_ui::Scene& scene, const vorn_ui::Affine& transform,
                                 vorn_ui::widget::DrawContext& cx, const vorn_ui::widget::PresenceContext& presence) {
    scene.fill(vorn_ui::FillRule::NonZero, transform, cx.theme.background, m_bounds);
    if (m_child) m_child->draw_with_presence(scene, transform, cx, presence);
}

void SarnApp::mark_drawn() {
    if (m_child) m_child->mark_drawn();
}

std::span<const std::unique_ptr<vorn_ui::widget::Widget>> SarnApp::children() const {
    return {&m_child, m_child ? 1u : 0u};
}

std::span<std::unique_ptr<vorn_ui::widget::Widget>> SarnApp::children_mut() { return {&m_child, m_child ? 1u : 0u}; }

const vorn_ui::widget::scrollable::Scrollable* SarnApp::page_scroller() const { return m_child ? m_scroller : nullptr; }

std::optional<vorn_ui::AccessNode> SarnApp::accessibility() const {
    vorn_ui::AccessNode node(vorn_ui::Role::Window, m_bounds);
    node.name = "Sarn — " + route_screen_name(m_library.route, m_library);
    node.description = m_library.status.live ? "Privacy-respecting video client; live catalogue"
                                             : "Privacy-respecting video client; offline";
    node.busy = m_library.home_loading || m_library.search_loading;
    if (!m_library.notices.empty()) node.announcement = m_library.notices.front();
    return node;
}

vorn_ui::widget::SearchProviders SarnApp::search_providers() const {
    return {std::make_shared<SarnSearchProvider>(register_library_catalog(m_library))};
}

}  // namespace sarn
