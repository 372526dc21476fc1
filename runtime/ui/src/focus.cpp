#include "vorn_ui/focus.h"

#include <algorithm>
#include <cmath>

namespace vorn_ui::widget::focus {
namespace {

bool has_area(const Rect& r) { return r.width() > 0 && r.height() > 0; }

// The children in reading order: sorted by their tops, then gathered into
// lines (a child that starts above the lowest bottom of the line so far
// joins it), each line from left to right. Ties keep the tree's order.
std::vector<Widget*> reading_order(std::span<std::unique_ptr<Widget>> children) {
  std::vector<Widget*> placed;
  for (auto& child : children) {
    if (child && has_area(child->bounds())) placed.push_back(child.get());
  }
  std::stable_sort(placed.begin(), placed.end(),
                   [](const Widget* a, const Widget* b) { return a->bounds().y0 < b->bounds().y0; });
  std::vector<Widget*> out;
  out.reserve(placed.size());
  std::size_t line_start = 0;
  double line_bottom = 0;
  auto close_line = [&](std::size_t end) {
    std::stable_sort(placed.begin() + static_cast<std::ptrdiff_t>(line_start),
                     placed.begin() + static_cast<std::ptrdiff_t>(end),
                     [](const Widget* a, const Widget* b) { return a->bounds().x0 < b->bounds().x0; });
    out.insert(out.end(), placed.begin() + static_cast<std::ptrdiff_t>(line_start),
               placed.begin() + static_cast<std::ptrdiff_t>(end));
  };
  for (std::size_t i = 0; i < placed.size(); ++i) {
    const Rect b = placed[i]->bounds();
    if (i > line_start && b.y0 >= line_bottom) {
      close_line(i);
      line_start = i;
    }
    line_bottom = i == line_start ? b.y1 : std::max(line_bottom, b.y1);
  }
  close_line(placed.size());
  return out;
}

void collect(Widget& widget, std::vector<Widget*>& out) {
  if (!has_area(widget.bounds())) return;
  if (widget.is_focusable()) out.push_back(&widget);
  auto children = widget.children_mut();
  for (auto& child : children) {
    if (child && child->wants_pointer_capture()) {
      collect(*child, out);
      return;
    }
  }
  for (Widget* child : reading_order(children)) collect(*child, out);
}

// The widgets from the root down to the target, both included; empty when
// the target is not in the tree.
bool path_to(Widget& widget, const Widget* target, std::vector<Widget*>& path) {
  path.push_back(&widget);
  if (&widget == target) return true;
  for (auto& child : widget.children_mut()) {
    if (child && path_to(*child, target, path)) return true;
  }
  path.pop_back();
  return false;
}

bool is_tab(const Event& event, Direction& direction) {
  const auto* key = std::get_if<KeyEvent>(&event);
  if (key == nullptr || key->released || !key->is_named(NamedKey::Tab)) return false;
  if (key->modifiers.control() || key->modifiers.alt() || key->modifiers.has(Modifiers::kSuper)) return false;
  direction = key->modifiers.shift() ? Direction::Previous : Direction::Next;
  return true;
}

bool is_primary_press(const Event& event) {
  const auto* button = std::get_if<PointerButtonEvent>(&event);
  return button != nullptr && button->pressed && button->button == PointerButton::Primary;
}

}  // namespace

std::vector<Widget*> focus_order(Widget& root) {
  std::vector<Widget*> out;
  collect(root, out);
  return out;
}

Widget* find_focusable(Widget& root, std::string_view id) {
  for (Widget* w : focus_order(root)) {
    if (w->widget_id() == id) return w;
  }
  return nullptr;
}

bool reveal(Widget& root, const Widget& target) {
  if (&root == &target) return true;
  return root.reveal_descendant(&target);
}

bool FocusManager::focus(Widget* widget) {
  if (widget == m_focused) {
    if (widget != nullptr && !widget->has_focus()) widget->set_focus(true);
    return false;
  }
  if (m_focused != nullptr) m_focused->set_focus(false);
  m_focused = widget;
  if (m_focused != nullptr) m_focused->set_focus(true);
  return true;
}

bool FocusManager::focus_id(Widget& root, std::string_view id) {
  Widget* found = find_focusable(root, id);
  if (found == nullptr) return false;
  focus(found);
  return true;
}

bool FocusManager::move(Widget& root, Direction direction) {
  const std::vector<Widget*> order = focus_order(root);
  if (order.empty()) return focus(nullptr);
  const auto at = std::find(order.begin(), order.end(), m_focused);
  std::size_t next = 0;
  if (at == order.end()) {
    next = direction == Direction::Next ? 0 : order.size() - 1;
  } else {
    const auto index = static_cast<std::size_t>(at - order.begin());
    next = direction == Direction::Next ? (index + 1) % order.size() : (index + order.size() - 1) % order.size();
  }
  const bool was_ring = m_ring;
  m_ring = true;
  const bool changed = focus(order[next]);
  reveal(root, *order[next]);
  return changed || !was_ring;
}

bool FocusManager::deliver(Widget& root, const Event& event, EventContext& cx, NodeId root_node,
                           const NodeRegistry& registry) {
  root.handle_event(event, cx, root_node);
  Widget* const before = m_focused;
  const bool ring_before = ring_visible();
  // A widget that let go by itself (a field pressed outside) no longer holds it.
  if (m_focused != nullptr && !m_focused->has_focus()) m_focused = nullptr;
  if (cx.release_focus) focus(nullptr);
  const bool press = is_primary_press(event);
  if (press) m_ring = false;
  if (cx.focus_request) {
    if (Widget* asked = registry.widget_for(*cx.focus_request)) focus(asked);
  }
  if (cx.focus_id) {
    if (!focus_id(root, *cx.focus_id)) m_pending_id = *cx.focus_id;
  }
  if (press && !cx.focus_request && !cx.focus_id) focus(nullptr);
  Direction direction = Direction::Next;
  if (!cx.handled && is_tab(event, direction)) {
    move(root, direction);
    cx.handled = true;
  }
  return m_focused != before || ring_visible() != ring_before;
}

void FocusManager::before_rebuild() {
  m_kept.reset();
  if (m_focused == nullptr) return;
  if (m_focused->has_focus()) {
    if (auto id = m_focused->widget_id()) m_kept = Kept{std::string(*id), m_focused->get_state()};
  }
  // The old widget lets go first, so that state it shares beyond the tree (a
  // player's focus) does not stay focused.
  m_focused->set_focus(false);
  m_focused = nullptr;
}

void FocusManager::after_rebuild(Widget& root) {
  if (m_pending_id) {
    const std::string id = std::move(*m_pending_id);
    m_pending_id.reset();
    if (focus_id(root, id)) {
      m_kept.reset();
      return;
    }
  }
  if (!m_kept) return;
  const Kept kept = std::move(*m_kept);
  m_kept.reset();
  Widget* found = find_focusable(root, kept.id);
  if (found == nullptr) return;
  focus(found);
  if (kept.state) found->set_state(*kept.state);
}

void FocusManager::paint_ring(Scene& scene, const Affine& transform, const Theme& theme, Widget& root) const {
  if (!ring_visible()) return;
  std::vector<Widget*> path;
  if (!path_to(root, m_focused, path)) return;
  // What the containers around it show of it.
  Rect visible = root.bounds();
  for (std::size_t i = 0; i + 1 < path.size(); ++i) {
    if (auto clip = path[i]->child_clip_rect()) visible = visible.intersect(*clip);
  }
  const Rect b = m_focused->bounds();
  if (!has_area(b) || !has_area(visible.intersect(b))) return;
  // A halo in the page's colour under the ring keeps it visible on any
  // background, in every theme.
  constexpr double kOffset = 2.5;
  const double radius = std::min(12.0, std::min(b.width(), b.height()) / 2) + kOffset;
  const RoundedRect shape{Rect{b.x0 - kOffset, b.y0 - kOffset, b.x1 + kOffset, b.y1 + kOffset}, radius};
  scene.push_layer(BlendMode::Normal, 1.0f, transform, visible);
  Stroke halo = Stroke::with_width(4.0);
  halo.join = LineJoin::Round;
  scene.stroke(halo, transform, theme.background, shape);
  Stroke ring = Stroke::with_width(2.0);
  ring.join = LineJoin::Round;
  scene.stroke(ring, transform, theme.focus_ring, shape);
  scene.pop_layer();
}

}  // namespace vorn_ui::widget::focus
