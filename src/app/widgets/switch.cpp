#include "sarn/app/widgets/switch.h"

#include "vorn_ui/painters.h"

namespace sarn::widgets {

namespace layout = vorn_ui::layout;

Switch::Switch(bool on, ControlIntent intent, IntentQueue intent_queue)
    : LeafWidget(MoveRedraw::Never), m_intent(std::move(intent)), m_intent_queue(std::move(intent_queue)), m_on(on) {}

Switch Switch::with_id(std::string id) && {
    m_id = std::move(id);
    return std::move(*this);
}

Switch Switch::with_label(std::string label) && {
    m_label = std::move(label);
    return std::move(*this);
}

void Switch::emit_toggle() { push_intent(m_intent_queue, m_intent); }

vorn_ui::widget::NodeId Switch::build_layout(vorn_ui::widget::LayoutContext& cx) {
    return build_leaf(cx, layout::Dimension::length(46.0f), layout::Dimension::length(26.0f));
}

void Switch::draw(vorn_ui::Scene& scene, const vorn_ui::Affine& transform, vorn_ui::widget::DrawContext& cx) {
    vorn_ui::Toggle::paint(scene, transform, cx.theme,
                           vorn_ui::ToggleState{m_bounds, m_on, m_hovered, m_focused, false});
}

void Switch::handle_event(const vorn_ui::Event& event, vorn_ui::widget::EventContext& cx,
                          vorn_ui::widget::NodeId node) {
    auto hover_at = [&](vorn_ui::Point physical) {
        const double scale = cx.scale > 0.0 ? cx.scale : 1.0;
        const bool inside = m_bounds.contains({physical.x / scale, physical.y / scale});
        if (inside == m_hovered) return;
        m_hovered = inside;
        request_redraw();
    };
    if (const auto* move = std::get_if<vorn_ui::PointerMoveEvent>(&event)) {
        hover_at(move->position);
        return;
    }
    // Space (or Enter) on the focused switch flips it, as a click does.
    if (const auto* key = std::get_if<vorn_ui::KeyEvent>(&event)) {
        if (key->released || !m_focused || cx.handled) return;
        if (!key->is_named(vorn_ui::NamedKey::Space) && !key->is_named(vorn_ui::NamedKey::Enter)) return;
        emit_toggle();
        cx.handled = true;
        return;
    }
    const auto* button = std::get_if<vorn_ui::PointerButtonEvent>(&event);
    if (!button || button->button != vorn_ui::PointerButton::Primary) return;
    hover_at(button->position);
    if (button->pressed || !m_hovered || cx.handled) return;
    emit_toggle();
    cx.focus_request = node;
    cx.handled = true;
}

std::optional<std::string_view> Switch::widget_id() const {
    if (!m_id) return std::nullopt;
    return std::string_view(*m_id);
}

std::optional<vorn_ui::CursorShape> Switch::cursor_shape(vorn_ui::Point point) const {
    if (m_bounds.contains(point)) return vorn_ui::CursorShape::Pointer;
    return std::nullopt;
}

void Switch::set_focus(bool focused) {
    if (focused == m_focused) return;
    m_focused = focused;
    request_redraw();
}

std::optional<vorn_ui::AccessNode> Switch::accessibility() const {
    return vorn_ui::toggle_accessibility(m_on, m_focused, m_label, true, m_bounds);
}

bool Switch::perform_action(vorn_ui::AccessRequest request) {
    if (request != vorn_ui::AccessRequest::Activate && request != vorn_ui::AccessRequest::Toggle) return false;
    emit_toggle();
    return true;
}

}  // namespace sarn::widgets
