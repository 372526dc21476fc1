#include "sarn/app/widgets/flex.h"

#include <algorithm>
#include <cmath>

#include "layout_access.h"

namespace sarn::widgets {

namespace layout = vorn_ui::layout;
using vorn_ui::widget::NodeId;
using vorn_ui::widget::WidgetPtr;

namespace {

layout::AlignItems align_items_of(FlexAlign align) {
    switch (align) {
        case FlexAlign::Start:
            return layout::AlignItems::FlexStart;
        case FlexAlign::Center:
            return layout::AlignItems::Center;
        case FlexAlign::End:
            return layout::AlignItems::FlexEnd;
        case FlexAlign::Fill:
            return layout::AlignItems::Stretch;
    }
    return layout::AlignItems::FlexStart;
}

layout::JustifyContent justify_of(FlexAlign align) {
    switch (align) {
        case FlexAlign::Start:
            return layout::JustifyContent::FlexStart;
        case FlexAlign::Center:
            return layout::JustifyContent::Center;
        case FlexAlign::End:
            return layout::JustifyContent::FlexEnd;
        case FlexAlign::Fill:
            return layout::JustifyContent::SpaceBetween;
    }
    return layout::JustifyContent::FlexStart;
}

// The larger of the solved size and the content extent; the size when the
// extent is not a number.
double extent(float size, float content) {
    if (std::isnan(content)) return size;
    return std::max(size, content);
}

vorn_ui::Point logical(vorn_ui::Point physical, double scale) {
    if (!(scale > 0.0)) return physical;
    return {physical.x / scale, physical.y / scale};
}

// The line a border of `width` is stroked along so that it covers the band
// just inside the rounded rectangle of `box`: the rectangle inset by half
// the width (at most to its centre), its radius less the same.
vorn_ui::RoundedRect border_path(const vorn_ui::Rect& box, double radius, double width) {
    if (!(width > 0.0) || !std::isfinite(width)) return {box, radius};
    const double half_x = std::min(width / 2.0, std::max(box.x1 - box.x0, 0.0) / 2.0);
    const double half_y = std::min(width / 2.0, std::max(box.y1 - box.y0, 0.0) / 2.0);
    const vorn_ui::Rect inner{box.x0 + half_x, box.y0 + half_y, box.x1 - half_x, box.y1 - half_y};
    return {inner, std::max(radius - width / 2.0, 0.0)};
}

}  // namespace

layout::Dimension FlexSize::dimension() const {
    switch (kind) {
        case Kind::Auto:
            return layout::Dimension::auto_();
        case Kind::Fill:
            return layout::Dimension::percent(1.0f);
        case Kind::Px:
            return layout::Dimension::length(value);
        case Kind::Percent:
            return layout::Dimension::percent(value);
    }
    return layout::Dimension::auto_();
}

Flex::Flex(FlexDirection direction)
    : m_direction(direction), m_cross_align(direction == FlexDirection::Row ? FlexAlign::Center : FlexAlign::Start) {}

// ---- builders ----

Flex Flex::child(WidgetPtr widget) && {
    if (widget) m_children.push_back(std::move(widget));
    m_sync_listed = false;
    return std::move(*this);
}

Flex Flex::with_id(std::string id) && {
    m_id = std::move(id);
    return std::move(*this);
}

Flex Flex::with_label(std::string label) && {
    if (!m_action_label) m_action_label = label;
    m_label = std::move(label);
    return std::move(*this);
}

Flex Flex::with_intent(IntentQueue queue, ControlIntent intent) && {
    const std::string label(action_palette_label(intent));
    m_label = label;
    m_action_label = label;
    m_intent_queue = std::move(queue);
    m_intent = std::move(intent);
    return std::move(*this);
}

Flex Flex::with_binding(vorn_actions::resource::ActionBinding binding) && {
    m_intent_queue.reset();
    m_intent.reset();
    m_emitter.emplace(std::move(binding));
    return std::move(*this);
}

Flex Flex::with_background(Background background) && {
    m_background = std::move(background);
    return std::move(*this);
}

Flex Flex::with_hover_background(Background background) && {
    m_hover_background = std::move(background);
    return std::move(*this);
}

Flex Flex::with_clip(bool clip) && {
    m_clip = clip;
    return std::move(*this);
}

Flex Flex::with_width(FlexSize width) && {
    m_width = width;
    return std::move(*this);
}

Flex Flex::with_height(FlexSize height) && {
    m_height = height;
    return std::move(*this);
}

Flex Flex::with_min_width(float width) && {
    m_min_width = width;
    return std::move(*this);
}

Flex Flex::with_min_height(float height) && {
    m_min_height = height;
    return std::move(*this);
}

Flex Flex::with_max_width(float width) && {
    m_max_width = width;
    return std::move(*this);
}

Flex Flex::with_grow(float grow) && {
    m_grow = grow;
    return std::move(*this);
}

Flex Flex::with_shrink(float shrink) && {
    m_shrink = shrink;
    return std::move(*this);
}

Flex Flex::with_padding(float all) && {
    m_padding = {all, all, all, all};
    return std::move(*this);
}

Flex Flex::with_padding_xy(float left_right, float top_bottom) && {
    m_padding = {left_right, top_bottom, left_right, top_bottom};
    return std::move(*this);
}

Flex Flex::with_padding_edges(float left, float top, float right, float bottom) && {
    m_padding = {left, top, right, bottom};
    return std::move(*this);
}

Flex Flex::with_gap(float gap) && {
    m_gap = gap;
    return std::move(*this);
}

Flex Flex::with_wrap(bool wrap) && {
    m_wrap = wrap;
    return std::move(*this);
}

Flex Flex::with_block(bool block) && {
    m_block = block;
    return std::move(*this);
}

Flex Flex::with_min_track(float width) && {
    m_min_track = width;
    return std::move(*this);
}

Flex Flex::with_aspect_ratio(float ratio) && {
    m_aspect_ratio = ratio;
    return std::move(*this);
}

Flex Flex::with_cross_align(FlexAlign align) && {
    m_cross_align = align;
    return std::move(*this);
}

Flex Flex::with_main_align(FlexAlign align) && {
    m_main_align = align;
    return std::move(*this);
}

Flex Flex::with_modal(bool modal) && {
    m_modal = modal;
    return std::move(*this);
}

Flex Flex::with_overlay(bool overlay) && {
    m_overlay = overlay;
    return std::move(*this);
}

// ---- layout ----

layout::Style Flex::layout_style() const {
    layout::Style s;
    if (m_min_track) {
        s.display = layout::Display::Grid;
        s.grid_auto_fill_min_column = *m_min_track;
    } else if (m_block) {
        s.display = layout::Display::Block;
    } else {
        s.display = layout::Display::Flex;
    }
    if (m_modal || m_overlay) {
        s.position = layout::Position::Absolute;
        const auto zero = layout::Dimension::length(0.0f);
        s.inset = {zero, zero, zero, zero};
    } else {
        s.position = layout::Position::Relative;
    }
    s.size = {m_width.dimension(), m_height.dimension()};
    s.min_size = {m_min_width ? layout::Dimension::length(*m_min_width) : layout::Dimension::auto_(),
                  m_min_height ? layout::Dimension::length(*m_min_height) : layout::Dimension::auto_()};
    s.max_size = {m_max_width ? layout::Dimension::length(*m_max_width) : layout::Dimension::auto_(),
                  layout::Dimension::auto_()};
    const auto zero = layout::Dimension::length(0.0f);
    s.margin = {zero, zero, zero, zero};
    s.border = {zero, zero, zero, zero};
    s.padding = {layout::Dimension::length(m_padding.left), layout::Dimension::length(m_padding.top),
                 layout::Dimension::length(m_padding.right), layout::Dimension::length(m_padding.bottom)};
    s.align_items = align_items_of(m_cross_align);
    s.justify_content = justify_of(m_main_align);
    s.gap = {layout::Dimension::length(m_gap), layout::Dimension::length(m_gap)};
    s.flex_direction = m_direction == FlexDirection::Row ? layout::FlexDirection::Row : layout::FlexDirection::Column;
    s.flex_wrap = m_wrap ? layout::FlexWrap::Wrap : layout::FlexWrap::NoWrap;
    s.flex_basis = m_grow > 0.0f ? layout::Dimension::length(0.0f) : layout::Dimension::auto_();
    s.flex_grow = m_grow;
    s.flex_shrink = m_shrink;
    const auto overflow = m_clip ? layout::Overflow::Hidden : layout::Overflow::Visible;
    s.overflow = {overflow, overflow};
    s.aspect_ratio = m_aspect_ratio;
    return s;
}

NodeId Flex::build_layout(vorn_ui::widget::LayoutContext& cx) {
    std::vector<NodeId> nodes;
    nodes.reserve(m_children.size());
    for (auto& c : m_children) nodes.push_back(c->build_layout(cx));
    return detail::new_node(cx, layout_style(), nodes, *this);
}

void Flex::apply_layout(const layout::LayoutTree& tree, NodeId node, vorn_ui::Point origin) {
    const auto l = detail::layout_of(tree, node);
    const double x0 = origin.x + l.x;
    const double y0 = origin.y + l.y;
    m_bounds = {x0, y0, x0 + extent(l.width, l.content_width), y0 + extent(l.height, l.content_height)};
    m_solved_box = {x0, y0, x0 + l.width, y0 + l.height};
    auto kids = tree.children(node);
    if (!kids) return;
    const std::size_t n = std::min(m_children.size(), kids->size());
    for (std::size_t i = 0; i < n; ++i) m_children[i]->apply_layout(tree, (*kids)[i], {x0, y0});
}

// ---- drawing ----

void Flex::paint_background(vorn_ui::Scene& scene, const vorn_ui::Affine& transform,
                            const Background& background) const {
    const vorn_ui::RoundedRect shape{m_bounds, background.radius};
    if (background.fill) scene.fill(vorn_ui::FillRule::NonZero, transform, *background.fill, shape);
    if (background.border) {
        // The border lies inside the box: its outer edge follows the box's
        // rounded rectangle, so that nothing is drawn past the bounds (over a
        // neighbour, such as the page beside the top bar and the sidebar,
        // whose scrolled picture the renderer then moves instead of drawing).
        const double width = background.border->width;
        vorn_ui::Stroke stroke = vorn_ui::Stroke::with_width(width);
        stroke.join = vorn_ui::LineJoin::Round;
        stroke.cap = vorn_ui::LineCap::Round;
        stroke.miter_limit = 4.0;
        scene.stroke(stroke, transform, background.border->color, border_path(m_bounds, background.radius, width));
    }
}

void Flex::paint(vorn_ui::Scene& scene, const vorn_ui::Affine& transform, vorn_ui::widget::DrawContext& cx,
                 const vorn_ui::widget::PresenceContext* presence) {
    const std::optional<Background>& chosen =
        m_hovered && m_hover_background ? m_hover_background : m_background;
    if (chosen) paint_background(scene, transform, *chosen);
    // The clip follows the solved box: content that overflows it is what a
    // clipping container hides.
    if (m_clip) scene.push_layer(vorn_ui::BlendMode::Normal, 1.0f, transform, m_solved_box);
    for (const bool above : {false, true}) {
        for (auto& c : m_children) {
            if (c->draws_above_siblings() != above) continue;
            const vorn_ui::Affine copy = transform;
            if (presence)
                c->draw_with_presence(scene, copy, cx, *presence);
            else
                c->draw(scene, copy, cx);
        }
    }
    if (m_clip) scene.pop_layer();
}

void Flex::draw(vorn_ui::Scene& scene, const vorn_ui::Affine& transform, vorn_ui::widget::DrawContext& cx) {
    paint(scene, transform, cx, nullptr);
}

void Flex::draw_with_presence(vorn_ui::Scene& scene, const vorn_ui::Affine& transform,
                              vorn_ui::widget::DrawContext& cx, const vorn_ui::widget::PresenceContext& presence) {
    if (vorn_ui::widget::is_clipped_out(m_bounds, presence)) return;
    paint(scene, transform, cx, &presence);
}

// ---- input ----

void Flex::dispatch_to_children(const vorn_ui::Event& event, vorn_ui::widget::EventContext& cx,
                                std::span<const NodeId> nodes) {
    const std::size_t n = std::min(m_children.size(), nodes.size());
    for (const bool above : {true, false}) {
        for (std::size_t i = 0; i < n; ++i) {
            if (cx.handled) return;
            if (m_children[i]->draws_above_siblings() != above) continue;
            m_children[i]->handle_event(event, cx, nodes[i]);
        }
    }
}

void Flex::handle_event(const vorn_ui::Event& event, vorn_ui::widget::EventContext& cx, NodeId node) {
    if (auto kids = cx.tree.children(node)) {
        bool captured = false;
        for (std::size_t i = 0; i < m_children.size(); ++i) {
            if (!m_children[i]->wants_pointer_capture()) continue;
            if (i < kids->size()) {
                m_children[i]->handle_event(event, cx, (*kids)[i]);
                captured = true;
            }
            break;
        }
        if (captured) return;
        dispatch_to_children(event, cx, *kids);
    }
    if (has_action()) handle_own_event(event, cx, node);
}

void Flex::set_hovered(bool hovered) {
    if (hovered == m_hovered) return;
    m_hovered = hovered;
    m_needs_redraw = true;
}

void Flex::handle_own_event(const vorn_ui::Event& event, vorn_ui::widget::EventContext& cx, NodeId node) {
    if (const auto* move = std::get_if<vorn_ui::PointerMoveEvent>(&event)) {
        set_hovered(m_bounds.contains(logical(move->position, cx.scale)));
        return;
    }
    if (const auto* button = std::get_if<vorn_ui::PointerButtonEvent>(&event)) {
        if (button->button != vorn_ui::PointerButton::Primary) return;
        // A button event brings its own position: hover follows it, so that a
        // release away from the control never counts as a click on it.
        set_hovered(m_bounds.contains(logical(button->position, cx.scale)));
        if (button->pressed) {
            if (m_hovered && !cx.handled) {
                m_pressed = true;
                m_needs_redraw = true;
                // A control pressed takes the keyboard focus, so that Enter or Space
                // act on it next rather than on the page around it.
                cx.focus_request = node;
            }
            return;
        }
        if (m_pressed && m_hovered && !cx.handled) cx.handled = emit_intent();
        m_pressed = false;
        m_needs_redraw = true;
        return;
    }
    if (const auto* key = std::get_if<vorn_ui::KeyEvent>(&event)) {
        if (key->released) return;
        if (!key->is_named(vorn_ui::NamedKey::Enter) && !key->is_named(vorn_ui::NamedKey::Space)) return;
        if (m_focused && !cx.handled && emit_intent()) cx.handled = true;
    }
}

bool Flex::emit_intent() {
    if (m_emitter) return m_emitter->emit().has_value();
    if (m_intent_queue && m_intent) {
        push_intent(*m_intent_queue, *m_intent);
        return true;
    }
    return false;
}

bool Flex::perform_action(vorn_ui::AccessRequest request) {
    if (!has_action()) return false;
    switch (request) {
        case vorn_ui::AccessRequest::Activate:
            return emit_intent();
        case vorn_ui::AccessRequest::Focus:
            if (!m_focused) {
                m_focused = true;
                m_needs_redraw = true;
            }
            return true;
        default:
            return false;
    }
}

// ---- the rest of the contract ----

void Flex::sync(vorn_ui::widget::RuntimeState& state) {
    // A page of many cards has thousands of leaves whose sync does nothing
    // (texts, icons, pictures that arrived): each is visited once, then left.
    if (!m_sync_listed) {
        m_syncing.resize(m_children.size());
        for (std::size_t i = 0; i < m_syncing.size(); ++i) m_syncing[i] = i;
        m_sync_listed = true;
    }
    std::erase_if(m_syncing, [&](std::size_t i) {
        vorn_ui::widget::Widget& child = *m_children[i];
        child.sync(state);
        return !child.wants_sync();
    });
}

std::optional<std::string_view> Flex::widget_id() const {
    if (!m_id) return std::nullopt;
    return std::string_view(*m_id);
}

std::optional<vorn_ui::CursorShape> Flex::cursor_shape(vorn_ui::Point point) const {
    if (has_action() && m_bounds.contains(point)) return vorn_ui::CursorShape::Pointer;
    return std::nullopt;
}

std::optional<std::string_view> Flex::action_label() const {
    if (!has_action() || !m_action_label) return std::nullopt;
    return std::string_view(*m_action_label);
}

void Flex::set_focus(bool focused) {
    if (focused == m_focused) return;
    m_focused = focused;
    m_needs_redraw = true;
}

std::optional<std::string> Flex::get_state() const {
    if (!m_pressed) return std::nullopt;
    return std::string("pressed");
}

void Flex::set_state(std::string_view state) {
    if (state == "pressed" && has_action()) m_pressed = true;
}

std::optional<vorn_ui::AccessNode> Flex::accessibility() const {
    if (!has_action()) return std::nullopt;
    return vorn_ui::AccessNode(vorn_ui::Role::Button, m_bounds)
        .with_name(m_label.value_or("Action"))
        .with_focus(true, m_focused);
}

std::optional<vorn_ui::ControlInvocation> Flex::take_control_invocation() {
    if (m_emitter) {
        if (auto own = m_emitter->take()) return own;
    }
    return Widget::take_control_invocation();
}

std::vector<vorn_ui::ControlBindingMetadata> Flex::control_action_bindings() const {
    std::vector<vorn_ui::ControlBindingMetadata> out;
    if (m_emitter) out.push_back({m_id.value_or("sarn.custom-control"), m_emitter->address()});
    for (const auto& c : m_children) {
        auto more = c->control_action_bindings();
        out.insert(out.end(), std::make_move_iterator(more.begin()), std::make_move_iterator(more.end()));
    }
    return out;
}

void Flex::refresh_control_action_availability(const vorn_ui::AvailableActions& available) {
    if (m_emitter) m_emitter->refresh_availability(available);
    for (auto& c : m_children) c->refresh_control_action_availability(available);
}

bool Flex::wants_pointer_capture() const {
    if (m_modal) return true;
    return std::ranges::any_of(m_children, [](const WidgetPtr& c) { return c->wants_pointer_capture(); });
}

bool Flex::take_structure_dirty() {
    bool any = false;
    for (auto& c : m_children) any = c->take_structure_dirty() || any;
    return any;
}

bool Flex::needs_redraw() const {
    if (m_needs_redraw) return true;
    return std::ranges::any_of(m_children, [](const WidgetPtr& c) { return c->needs_redraw(); });
}

void Flex::mark_drawn() {
    m_needs_redraw = false;
    for (auto& c : m_children) c->mark_drawn();
}

bool Flex::is_layout_dirty() const {
    return std::ranges::any_of(m_children, [](const WidgetPtr& c) { return c->is_layout_dirty(); });
}

}  // namespace sarn::widgets
