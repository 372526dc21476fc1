#include "vorn_ui/widget/nav_split.h"

namespace vorn_ui::widget::nav_split {

NavSplit NavSplit::make(WidgetPtr sidebar, WidgetPtr content, float compact_threshold, float sidebar_width,
                        float reveal) {
  NavSplit n;
  n.m_children.push_back(std::move(content));
  n.m_children.push_back(std::move(sidebar));
  n.m_threshold = compact_threshold;
  n.m_sidebar_width = sidebar_width;
  n.m_reveal = reveal;
  return n;
}

NodeId NavSplit::build_layout(LayoutContext& cx) {
  using namespace layout;
  const bool shown = m_reveal > 0.0f;
  m_overlay = shown && cx.env.viewport.width > 0 && cx.env.viewport.width < m_threshold;

  NodeId content = m_children[0] ? m_children[0]->build_layout(cx) : cx.tree.new_leaf(Style{});
  Style content_slot;
  content_slot.flex_grow = 1.0f;
  content_slot.flex_shrink = 1.0f;
  content_slot.flex_basis = Dimension::length(0);
  content_slot.min_size = {Dimension::length(0), Dimension::length(0)};
  content_slot.flex_direction = FlexDirection::Column;
  NodeId content_kids[] = {content};
  NodeId content_wrap = *cx.tree.new_with_children(content_slot, content_kids);

  NodeId sidebar = m_children[1] ? m_children[1]->build_layout(cx) : cx.tree.new_leaf(Style{});
  Style side_slot;
  side_slot.flex_direction = FlexDirection::Column;
  side_slot.flex_shrink = 0.0f;
  side_slot.size.width = Dimension::length(m_sidebar_width * std::min(m_reveal, 1.0f));
  side_slot.overflow = {Overflow::Hidden, Overflow::Hidden};
  if (!shown) side_slot.display = Display::None;
  if (m_overlay) {
    side_slot.position = Position::Absolute;
    side_slot.inset = {Dimension::length(0), Dimension::length(0), Dimension::auto_(), Dimension::length(0)};
  }
  NodeId side_kids[] = {sidebar};
  NodeId side_wrap = *cx.tree.new_with_children(side_slot, side_kids);

  Style row;
  row.flex_direction = FlexDirection::Row;
  row.size = {Dimension::percent(1.0f), Dimension::percent(1.0f)};
  row.flex_grow = 1.0f;
  row.align_items = AlignItems::Stretch;
  // Beside the content the pane comes first; as an overlay it is placed
  // absolutely, so the order only decides the drawing order.
  NodeId kids_side[] = {side_wrap, content_wrap};
  NodeId kids_overlay[] = {content_wrap, side_wrap};
  NodeId node = *cx.tree.new_with_children(row, m_overlay ? std::span<const NodeId>(kids_overlay)
                                                          : std::span<const NodeId>(kids_side));
  cx.registry.register_node(node, this);
  return node;
}

void NavSplit::apply_layout(const layout::LayoutTree& tree, NodeId node, Point origin) {
  auto l = tree.layout(node);
  if (!l) return;
  Rect b{origin.x + l->x, origin.y + l->y, origin.x + l->x + l->width, origin.y + l->y + l->height};
  if (b != m_bounds) m_needs_redraw = true;
  m_bounds = b;
  auto kids = tree.children(node);
  if (!kids || kids->size() < 2) return;
  const NodeId side_wrap = m_overlay ? (*kids)[1] : (*kids)[0];
  const NodeId content_wrap = m_overlay ? (*kids)[0] : (*kids)[1];
  auto place = [&](NodeId wrap, const WidgetPtr& w) {
    auto wl = tree.layout(wrap);
    auto inner = tree.children(wrap);
    if (!wl || !inner || inner->empty() || !w) return;
    w->apply_layout(tree, (*inner)[0], Point{m_bounds.x0 + wl->x, m_bounds.y0 + wl->y});
  };
  place(content_wrap, m_children[0]);
  if (m_reveal > 0.0f) place(side_wrap, m_children[1]);
}

void NavSplit::draw_with_presence(Scene& scene, const Affine& transform, DrawContext& cx,
                                  const PresenceContext& presence) {
  if (is_clipped_out(m_bounds, presence)) return;
  if (m_children[0]) m_children[0]->draw_with_presence(scene, transform, cx, presence);
  if (m_children[1] && m_reveal > 0.0f) m_children[1]->draw_with_presence(scene, transform, cx, presence);
}

void NavSplit::draw(Scene& scene, const Affine& transform, DrawContext& cx) {
  draw_with_presence(scene, transform, cx, PresenceContext{});
}

void NavSplit::handle_event(const Event& event, EventContext& cx, NodeId node) {
  auto kids = cx.tree.children(node);
  if (!kids || kids->size() < 2) return;
  const NodeId side_wrap = m_overlay ? (*kids)[1] : (*kids)[0];
  const NodeId content_wrap = m_overlay ? (*kids)[0] : (*kids)[1];
  auto inner = [&](NodeId wrap) -> std::optional<NodeId> {
    auto c = cx.tree.children(wrap);
    if (!c || c->empty()) return std::nullopt;
    return (*c)[0];
  };
  auto send = [&](const WidgetPtr& w, NodeId wrap) {
    if (cx.handled || !w) return;
    if (auto n = inner(wrap)) w->handle_event(event, cx, *n);
  };
  if (m_reveal > 0.0f) send(m_children[1], side_wrap);  // the pane lies above in overlay mode
  send(m_children[0], content_wrap);
}

bool NavSplit::layout_needs_measure() const {
  if (m_children[0] && m_children[0]->layout_needs_measure()) return true;
  return m_reveal > 0.0f && m_children[1] && m_children[1]->layout_needs_measure();
}

void NavSplit::sync(RuntimeState& state) {
  for (auto& c : m_children)
    if (c) c->sync(state);
}

bool NavSplit::take_structure_dirty() {
  bool any = false;
  for (auto& c : m_children)
    if (c) any = c->take_structure_dirty() || any;
  return any;
}

bool NavSplit::needs_redraw() const {
  if (m_needs_redraw) return true;
  for (const auto& c : m_children)
    if (c && c->needs_redraw()) return true;
  return false;
}

void NavSplit::mark_drawn() {
  m_needs_redraw = false;
  for (auto& c : m_children)
    if (c) c->mark_drawn();
}

}  // namespace vorn_ui::widget::nav_split
