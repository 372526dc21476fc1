#include "sarn/app/widgets/player_host.h"

#include "layout_access.h"

namespace sarn::widgets {

namespace layout = vorn_ui::layout;

std::optional<bool> PlayerHost::state() const {
    if (!m_player) return std::nullopt;
    return m_player->host_state();
}

void PlayerHost::set_state(bool on) {
    if (m_player) m_player->set_host_state(on);
}

void PlayerHost::sync(vorn_ui::widget::RuntimeState& state) {
    if (m_player) m_player->sync(state);
}

vorn_ui::widget::NodeId PlayerHost::build_layout(vorn_ui::widget::LayoutContext& cx) {
    const auto node =
        detail::new_leaf(cx, detail::leaf_style(layout::Dimension::percent(1.0f), layout::Dimension::length(m_height)),
                         *this);
    m_node = node;
    return node;
}

void PlayerHost::apply_layout(const layout::LayoutTree& tree, vorn_ui::widget::NodeId node, vorn_ui::Point origin) {
    m_bounds = detail::bounds_of(tree, node, origin);
    if (m_player) m_player->apply_layout(tree, node, origin);
}

void PlayerHost::draw(vorn_ui::Scene& scene, const vorn_ui::Affine& transform, vorn_ui::widget::DrawContext& cx) {
    if (m_player) m_player->draw(scene, transform, cx);
}

void PlayerHost::handle_event(const vorn_ui::Event& event, vorn_ui::widget::EventContext& cx,
                              vorn_ui::widget::NodeId node) {
    if (m_player) m_player->handle_event(event, cx, node);
}

std::optional<vorn_ui::CursorShape> PlayerHost::cursor_shape(vorn_ui::Point point) const {
    if (!m_player) return std::nullopt;
    return m_player->cursor_shape(point);
}

void PlayerHost::set_focus(bool focused) {
    if (m_player) m_player->set_focus(focused);
}

bool PlayerHost::has_focus() const { return m_player && m_player->has_focus(); }

std::optional<vorn_ui::AccessNode> PlayerHost::accessibility() const {
    if (!m_player) return std::nullopt;
    return m_player->accessibility();
}

bool PlayerHost::needs_animation_frame() const { return m_player && m_player->needs_animation_frame(); }

bool PlayerHost::needs_redraw() const { return m_player && m_player->redraw_requested(); }

void PlayerHost::mark_drawn() {
    if (m_player) m_player->mark_drawn();
}

}  // namespace sarn::widgets
