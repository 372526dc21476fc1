#include "vorn_ui/widget/text_widget.h"

#include <algorithm>
#include <cmath>

namespace vorn_ui::widget {
namespace {

Rect bounds_from(const layout::LayoutTree& tree, NodeId node, Point origin) {
  auto l = tree.layout(node);
  if (!l) return Rect{origin.x, origin.y, origin.x, origin.y};
  return Rect{origin.x + l->x, origin.y + l->y, origin.x + l->x + l->width, origin.y + l->y + l->height};
}

// The widest word, for the min-content width.
double widest_word(std::string_view text, const TextStyle& style, TextRenderer& renderer) {
  double widest = 0;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find_first_of(" \n\t", start);
    if (end == std::string_view::npos) end = text.size();
    if (end > start) widest = std::max(widest, renderer.measure_style(text.substr(start, end - start), style).width);
    start = end + 1;
  }
  return widest;
}

}  // namespace

NodeId Text::build_layout(LayoutContext& cx) {
  layout::Style style;
  style.flex_shrink = 1.0f;
  NodeId node = cx.tree.new_leaf(style, true);
  cx.registry.register_node(node, this);
  return node;
}

layout::SizeF Text::measure(const layout::MeasureInput& in, TextRenderer& text) {
  using Kind = layout::AvailableSpace::Kind;
  const Size natural = text.measure_style(m_content, m_style);
  double width = natural.width;
  std::optional<double> wrap;
  if (m_wrap) {
    if (in.known_width) {
      wrap = *in.known_width;
    } else if (in.available_width.kind == Kind::Definite && in.available_width.value < natural.width) {
      wrap = in.available_width.value;
    } else if (in.available_width.kind == Kind::MinContent) {
      wrap = widest_word(m_content, m_style, text);
    }
  }
  double height = natural.height;
  if (wrap) {
    const Size wrapped = text.measure_style(m_content, m_style, *wrap);
    width = in.known_width ? *in.known_width : std::min(natural.width, std::max(wrapped.width, *wrap));
    height = wrapped.height;
  } else if (in.known_width) {
    width = *in.known_width;
  }
  if (in.known_height) height = *in.known_height;
  return {static_cast<float>(width), static_cast<float>(height)};
}

void Text::apply_layout(const layout::LayoutTree& tree, NodeId node, Point origin) {
  Rect b = bounds_from(tree, node, origin);
  if (b != m_bounds) {
    m_bounds = b;
    m_needs_redraw = true;
  }
  m_layout_dirty = false;
}

void Text::draw(Scene& scene, const Affine& transform, DrawContext& cx) {
  if (m_content.empty() || !(m_bounds.width() > 0)) return;
  std::optional<double> wrap;
  if (m_wrap) {
    // Pixel rounding may have made the box up to a pixel narrower than the
    // width the text was measured at; wrapping at the box plus that pixel
    // keeps every line that was measured on one line.
    wrap = m_bounds.width() + 1.0;
    if (cx.text.measure_style(m_content, m_style).width <= *wrap) wrap.reset();
  }
  cx.text.draw_style(scene, transform, m_content, m_style, m_color.value_or(cx.theme.text), m_bounds.origin(), wrap);
}

std::optional<std::string_view> Text::widget_id() const {
  if (!m_id) return std::nullopt;
  return std::string_view(*m_id);
}

std::optional<AccessNode> Text::accessibility() const {
  if (m_content.empty()) return std::nullopt;
  return AccessNode(Role::Label, m_bounds).with_name(m_content);
}

}  // namespace vorn_ui::widget
