// IconWidget: one glyph of the icon set in a square box. Interface thread.
#pragma once

#include <cstdint>
#include <optional>

#include "vorn_ui/icons.h"
#include "vorn_ui/widget.h"

namespace vorn_ui::widget {

class IconWidget final : public Widget {
 public:
  IconWidget(std::uint16_t icon, float size) : m_icon(icon), m_size(size) {}
  static IconWidget make(std::uint16_t icon, float size, float stroke, Color color) {
    return IconWidget(icon, size).with_stroke(stroke).with_color(color);
  }

  IconWidget with_color(Color c) && {
    m_color = c;
    return std::move(*this);
  }
  IconWidget with_stroke(float s) && {
    m_stroke = s;
    return std::move(*this);
  }

  std::uint16_t icon() const { return m_icon; }

  NodeId build_layout(LayoutContext& cx) override;
  void apply_layout(const layout::LayoutTree& tree, NodeId node, Point origin) override;
  void draw(Scene& scene, const Affine& transform, DrawContext& cx) override;
  std::string_view type_name() const override { return "IconWidget"; }
  Rect bounds() const override { return m_bounds; }
  bool needs_redraw() const override { return m_needs_redraw; }
  void mark_drawn() override { m_needs_redraw = false; }
  bool is_layout_dirty() const override { return !m_placed; }
  bool wants_sync() const override { return false; }

 private:
  std::uint16_t m_icon;
  float m_size;
  float m_stroke = 1.5f;
  std::optional<Color> m_color;
  Rect m_bounds;
  bool m_placed = false;
  bool m_needs_redraw = true;
};

}  // namespace vorn_ui::widget
