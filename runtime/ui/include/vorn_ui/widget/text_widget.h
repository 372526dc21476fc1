// Text: a label that measures itself and wraps to the width it is given.
// Interface thread.
#pragma once

#include <optional>
#include <string>

#include "vorn_ui/widget.h"

namespace vorn_ui::widget {

class Text final : public Widget {
 public:
  explicit Text(std::string content) : m_content(std::move(content)) {}
  static Text make(std::string content) { return Text(std::move(content)); }

  Text with_size(float size) && {
    m_style.font_size = size;
    return std::move(*this);
  }
  Text with_color(Color c) && {
    m_color = c;
    return std::move(*this);
  }
  Text with_id(std::string id) && {
    m_id = std::move(id);
    return std::move(*this);
  }
  Text with_line_height(float lh) && {
    m_style.line_height = lh;
    return std::move(*this);
  }
  Text with_weight(FontWeight w) && {
    m_style.weight = w;
    return std::move(*this);
  }
  Text with_max_lines(std::uint32_t n) && {
    m_style.max_lines = n;
    return std::move(*this);
  }
  Text with_align(TextAlign a) && {
    m_style.align = a;
    return std::move(*this);
  }
  // Without wrapping the text stays on one line however narrow its box.
  Text with_wrap(bool wrap) && {
    m_wrap = wrap;
    return std::move(*this);
  }

  const std::string& content() const { return m_content; }
  const TextStyle& style() const { return m_style; }

  NodeId build_layout(LayoutContext& cx) override;
  layout::SizeF measure(const layout::MeasureInput& input, TextRenderer& text) override;
  void apply_layout(const layout::LayoutTree& tree, NodeId node, Point origin) override;
  void draw(Scene& scene, const Affine& transform, DrawContext& cx) override;
  std::string_view type_name() const override { return "Text"; }
  std::optional<std::string_view> widget_id() const override;
  Rect bounds() const override { return m_bounds; }
  std::optional<AccessNode> accessibility() const override;
  bool needs_redraw() const override { return m_needs_redraw; }
  void mark_drawn() override { m_needs_redraw = false; }
  bool is_layout_dirty() const override { return m_layout_dirty; }
  bool wants_sync() const override { return false; }

 private:
  std::string m_content;
  TextStyle m_style;
  std::optional<Color> m_color;
  std::optional<std::string> m_id;
  bool m_wrap = true;
  Rect m_bounds;
  bool m_needs_redraw = true;
  bool m_layout_dirty = true;
};

}  // namespace vorn_ui::widget
