#include "vorn_ui/widget/icon_widget.h"

#include <algorithm>

namespace vorn_ui::widget {

NodeId IconWidget::build_layout(LayoutContext& cx) {
  layout::Style style;
  style.size = {layout::Dimension::length(m_size), layout::Dimension::length(m_size)};
  style.flex_shrink = 0.0f;
  NodeId node = cx.tree.new_leaf(style);
  cx.registry.register_node(node, this);
  return node;
}

void IconWidget::apply_layout(const layout::LayoutTree& tree, NodeId node, Point origin) {
  auto l = tree.layout(node);
  Rect b{origin.x, origin.y, origin.x, origin.y};
  if (l) b = Rect{origin.x + l->x, origin.y + l->y, origin.x + l->x + l->width, origin.y + l->y + l->height};
  if (b != m_bounds) {
    m_bounds = b;
    m_needs_redraw = true;
  }
  m_placed = true;
}

void IconWidget::draw(Scene& scene, const Affine& transform, DrawContext& cx) {
  const double side = std::min(m_bounds.width(), m_bounds.height());
  if (!(side > 0)) return;
  const Point c = m_bounds.center();
  icons::draw_icon(scene, transform, m_icon, Point{c.x - side / 2, c.y - side / 2}, side,
                   m_color.value_or(cx.theme.text), m_stroke);
}

}  // namespace vorn_ui::widget
