#include "vorn_ui/widget/scrollable.h"

#include <algorithm>
#include <cmath>

namespace vorn_ui::widget::scrollable {
namespace {

constexpr double kDragThreshold = 6.0;  // logical pixels before a press becomes a drag

Point logical(Point p, double scale) { return {p.x / scale, p.y / scale}; }

}  // namespace

Scrollable Scrollable::with_child(WidgetPtr child) {
  Scrollable s;
  s.m_child = std::move(child);
  return s;
}

Scrollable Scrollable::with_persisted_offset(SharedScrollOffset offset) && {
  if (offset) m_offset = std::move(offset);
  return std::move(*this);
}

Scrollable Scrollable::with_settings(float wheel_step, float fling_decay_x, float fling_decay_y, float drag_follow) && {
  m_settings.wheel_step = wheel_step;
  m_settings.fling_decay_x = std::clamp(fling_decay_x, 0.0f, 0.99f);
  m_settings.fling_decay_y = std::clamp(fling_decay_y, 0.0f, 0.99f);
  m_settings.drag_follow = drag_follow;
  return std::move(*this);
}

Scrollable Scrollable::with_scrollbar_width(float width) && {
  m_settings.scrollbar_width = std::max(0.0f, width);
  return std::move(*this);
}

Size Scrollable::max_offset() const {
  return {std::max(0.0, m_content.width - m_bounds.width()), std::max(0.0, m_content.height - m_bounds.height())};
}

bool Scrollable::set_offset(double x, double y) {
  const Size max = max_offset();
  const float nx = static_cast<float>(std::clamp(x, 0.0, max.width));
  const float ny = static_cast<float>(std::clamp(y, 0.0, max.height));
  if (nx == m_offset->x && ny == m_offset->y) return false;
  m_offset->x = nx;
  m_offset->y = ny;
  return true;
}

bool Scrollable::scroll_by(double dx, double dy) { return set_offset(m_offset->x + dx, m_offset->y + dy); }

void Scrollable::sync(RuntimeState& state) {
  if (m_drag == Drag::Idle && (m_velocity_x != 0 || m_velocity_y != 0)) {
    if (!scroll_by(m_velocity_x, m_velocity_y)) m_velocity_x = m_velocity_y = 0;
    m_velocity_x *= m_settings.fling_decay_x;
    m_velocity_y *= m_settings.fling_decay_y;
    if (std::abs(m_velocity_x) < 0.25) m_velocity_x = 0;
    if (std::abs(m_velocity_y) < 0.25) m_velocity_y = 0;
  }
  if (m_child) m_child->sync(state);
}

NodeId Scrollable::build_layout(LayoutContext& cx) {
  layout::Style style;
  style.flex_direction = layout::FlexDirection::Column;
  style.size = {layout::Dimension::percent(1.0f), layout::Dimension::percent(1.0f)};
  style.min_size = {layout::Dimension::length(0), layout::Dimension::length(0)};
  style.flex_grow = 1.0f;
  style.flex_shrink = 1.0f;
  style.align_items = layout::AlignItems::Stretch;
  style.overflow = {layout::Overflow::Scroll, layout::Overflow::Scroll};
  NodeId node = 0;
  if (m_child) {
    NodeId kids[] = {m_child->build_layout(cx)};
    node = *cx.tree.new_with_children(style, kids);
  } else {
    node = cx.tree.new_leaf(style);
  }
  cx.registry.register_node(node, this);
  return node;
}

void Scrollable::apply_layout(const layout::LayoutTree& tree, NodeId node, Point origin) {
  auto l = tree.layout(node);
  if (!l) return;
  Rect b{origin.x + l->x, origin.y + l->y, origin.x + l->x + l->width, origin.y + l->y + l->height};
  if (b != m_bounds) m_needs_redraw = true;
  m_bounds = b;
  m_content = {std::max<double>(l->content_width, l->width), std::max<double>(l->content_height, l->height)};
  auto kids = tree.children(node);
  if (m_child && kids && !kids->empty()) {
    if (auto cl = tree.layout((*kids)[0])) {
      m_content.width = std::max<double>(m_content.width, cl->x + std::max(cl->width, cl->content_width));
      m_content.height = std::max<double>(m_content.height, cl->y + std::max(cl->height, cl->content_height));
    }
    // A persisted offset beyond the content (a shorter page) is pulled back.
    set_offset(m_offset->x, m_offset->y);
    m_child->apply_layout(tree, (*kids)[0], Point{m_bounds.x0 - m_offset->x, m_bounds.y0 - m_offset->y});
  }
}

std::optional<Rect> Scrollable::thumb_rect() const {
  const double view = m_bounds.height(), content = m_content.height;
  if (!(content > view + 0.5) || !(view > 0)) return std::nullopt;
  const double track = view - 4;
  const double len = std::max(24.0, track * view / content);
  const double pos = (track - len) * (m_offset->y / std::max(1.0, content - view));
  const double w = std::max(4.0, static_cast<double>(m_settings.scrollbar_width) * 0.45);
  return Rect{m_bounds.x1 - w - 3, m_bounds.y0 + 2 + pos, m_bounds.x1 - 3, m_bounds.y0 + 2 + pos + len};
}

void Scrollable::draw_with_presence(Scene& scene, const Affine& transform, DrawContext& cx,
                                    const PresenceContext& presence) {
  if (is_clipped_out(m_bounds, presence)) return;
  scene.push_scroll_layer(transform, m_bounds, Point{m_offset->x, m_offset->y});
  if (m_child) {
    PresenceContext inner{presence.clip ? presence.clip->intersect(m_bounds) : m_bounds};
    m_child->draw_with_presence(scene, transform, cx, inner);
  }
  scene.pop_layer();
  if (auto thumb = thumb_rect()) {
    Color c = cx.theme.scrollbar;
    if (m_drag == Drag::Thumb || m_drag == Drag::Dragging) c = c.multiply_alpha(1.6f);
    scene.fill(FillRule::NonZero, transform, c, RoundedRect{*thumb, thumb->width() / 2});
  }
}

void Scrollable::draw(Scene& scene, const Affine& transform, DrawContext& cx) {
  draw_with_presence(scene, transform, cx, PresenceContext{m_bounds});
}

void Scrollable::handle_event(const Event& event, EventContext& cx, NodeId node) {
  const double scale = cx.scale > 0 ? cx.scale : 1.0;
  NodeId child_node = 0;
  bool have_child_node = false;
  if (auto kids = cx.tree.children(node); kids && !kids->empty()) {
    child_node = (*kids)[0];
    have_child_node = true;
  }
  auto to_child = [&] {
    if (m_child && have_child_node && !cx.handled) m_child->handle_event(event, cx, child_node);
  };

  if (const auto* scroll = std::get_if<ScrollEvent>(&event)) {
    to_child();  // an inner scroll container goes first
    if (cx.handled) return;
    const Point p = logical(scroll->position, scale);
    if (!m_bounds.contains(p) && !(scroll->position == Point{})) return;
    const double step = scroll->precise ? 1.0 : m_settings.wheel_step;
    m_velocity_x = m_velocity_y = 0;
    if (scroll_by(-scroll->delta_x * step, -scroll->delta_y * step)) cx.handled = true;
    return;
  }
  if (const auto* button = std::get_if<PointerButtonEvent>(&event)) {
    const Point p = logical(button->position, scale);
    if (button->button == PointerButton::Primary && button->pressed) {
      if (auto thumb = thumb_rect(); thumb && p.x >= m_bounds.x1 - m_settings.scrollbar_width && m_bounds.contains(p)) {
        m_drag = Drag::Thumb;
        m_drag_start = p;
        m_drag_start_offset = *m_offset;
        cx.handled = true;
        m_needs_redraw = true;
        return;
      }
      to_child();
      if (m_bounds.contains(p) && max_offset().height + max_offset().width > 0) {
        m_drag = Drag::Armed;
        m_drag_start = m_last_pointer = p;
        m_drag_start_offset = *m_offset;
        m_velocity_x = m_velocity_y = 0;
      }
      return;
    }
    if (button->button == PointerButton::Primary && !button->pressed) {
      const Drag was = m_drag;
      m_drag = Drag::Idle;
      if (was == Drag::Dragging || was == Drag::Thumb) {
        // A drag ends here: the children never see this release as a click,
        // but they see it already handled, so that a control pressed where
        // the drag began lets go of its press.
        cx.handled = true;
        m_needs_redraw = true;
        if (was == Drag::Thumb) m_velocity_x = m_velocity_y = 0;
        if (m_child && have_child_node) m_child->handle_event(event, cx, child_node);
        return;
      }
      to_child();
      return;
    }
    to_child();
    return;
  }
  if (const auto* move = std::get_if<PointerMoveEvent>(&event)) {
    const Point p = logical(move->position, scale);
    const auto now = std::chrono::steady_clock::now();
    if (m_drag == Drag::Thumb) {
      const double track = m_bounds.height() - 4;
      const double view = m_bounds.height(), content = m_content.height;
      const double len = std::max(24.0, track * view / std::max(content, 1.0));
      const double per_px = (content - view) / std::max(1.0, track - len);
      set_offset(m_drag_start_offset.x, m_drag_start_offset.y + (p.y - m_drag_start.y) * per_px);
      cx.handled = true;
      return;
    }
    if (m_drag == Drag::Armed && std::hypot(p.x - m_drag_start.x, p.y - m_drag_start.y) >= kDragThreshold) {
      m_drag = Drag::Dragging;
    }
    if (m_drag == Drag::Dragging) {
      const double f = m_settings.drag_follow;
      const double before_y = m_offset->y, before_x = m_offset->x;
      set_offset(m_drag_start_offset.x - (p.x - m_drag_start.x) * f, m_drag_start_offset.y - (p.y - m_drag_start.y) * f);
      if (m_last_move_time != std::chrono::steady_clock::time_point{}) {
        m_velocity_x = m_offset->x - before_x;
        m_velocity_y = m_offset->y - before_y;
      }
      m_last_move_time = now;
      m_last_pointer = p;
      cx.handled = true;
      return;
    }
    to_child();
    return;
  }
  if (const auto* key = std::get_if<KeyEvent>(&event)) {
    to_child();  // a focused field or control inside goes first
    if (cx.handled || key->released || key->kind != KeyEvent::Kind::Named) return;
    if (key->modifiers.control() || key->modifiers.alt()) return;
    const double page = std::max(40.0, m_bounds.height() - 40.0);
    double dy = 0;
    switch (key->named) {
      case NamedKey::ArrowDown: dy = 40; break;
      case NamedKey::ArrowUp: dy = -40; break;
      case NamedKey::PageDown: dy = page; break;
      case NamedKey::PageUp: dy = -page; break;
      case NamedKey::Space: dy = key->modifiers.shift() ? -page : page; break;
      case NamedKey::Home: dy = -static_cast<double>(m_offset->y); break;
      case NamedKey::End: dy = max_offset().height - m_offset->y; break;
      default: return;
    }
    m_velocity_x = m_velocity_y = 0;
    if (scroll_by(0, dy)) cx.handled = true;
    return;
  }
  to_child();
}

bool Scrollable::reveal_descendant(const Widget* target) {
  if (!m_child || target == nullptr) return false;
  if (m_child.get() != target && !m_child->reveal_descendant(target)) return false;
  scroll_to_show(target->bounds());
  return true;
}

// The shortest scroll that brings the target in: its top when it is taller
// than the room, else whichever edge lies outside.
void Scrollable::scroll_to_show(const Rect& target) {
  auto needed = [](double t0, double t1, double v0, double v1) {
    const double margin = std::min(24.0, std::max(0.0, (v1 - v0) / 4));
    v0 += margin;
    v1 -= margin;
    if (t1 - t0 > v1 - v0 || t0 < v0) return t0 - v0;
    if (t1 > v1) return t1 - v1;
    return 0.0;
  };
  const double dx = needed(target.x0, target.x1, m_bounds.x0, m_bounds.x1);
  const double dy = needed(target.y0, target.y1, m_bounds.y0, m_bounds.y1);
  if (dx == 0 && dy == 0) return;
  m_velocity_x = m_velocity_y = 0;
  scroll_by(dx, dy);
}

std::optional<CursorShape> Scrollable::cursor_shape(Point point) const {
  if (m_drag == Drag::Dragging || m_drag == Drag::Thumb) return CursorShape::Grabbing;
  if (m_child) {
    if (auto c = m_child->cursor_shape(point)) return c;
  }
  return std::nullopt;
}

std::optional<AccessNode> Scrollable::accessibility() const { return AccessNode(Role::ScrollView, m_bounds); }

bool Scrollable::wants_pointer_capture() const {
  if (m_drag == Drag::Dragging || m_drag == Drag::Thumb) return true;
  return m_child && m_child->wants_pointer_capture();
}

bool Scrollable::needs_animation_frame() const {
  if (m_drag == Drag::Idle && (m_velocity_x != 0 || m_velocity_y != 0)) return true;
  return m_child && m_child->needs_animation_frame();
}

Point Scrollable::scroll_since_drawn() const {
  return {static_cast<double>(m_drawn_offset.x) - m_offset->x, static_cast<double>(m_drawn_offset.y) - m_offset->y};
}

bool Scrollable::needs_redraw() const {
  if (m_needs_redraw || (m_child && m_child->needs_redraw())) return true;
  return !m_ignore_pending_scroll && (m_drawn_offset.x != m_offset->x || m_drawn_offset.y != m_offset->y);
}

void Scrollable::mark_drawn() {
  m_needs_redraw = false;
  m_drawn_offset = *m_offset;
  if (m_child) m_child->mark_drawn();
}

}  // namespace vorn_ui::widget::scrollable
