// NavSplit: a navigation pane beside the content. In a viewport narrower
// than the compact threshold the revealed pane lies over the content at the
// leading edge instead of pushing it aside; a hidden pane takes no room.
// Interface thread.
#pragma once

#include "vorn_ui/widget.h"

namespace vorn_ui::widget::nav_split {

class NavSplit final : public Widget {
 public:
  // `reveal` 0 hides the pane, 1 shows it (values between show it).
  static NavSplit make(WidgetPtr sidebar, WidgetPtr content, float compact_threshold, float sidebar_width,
                       float reveal);
  template <class S, class C>
  static NavSplit make(S sidebar, C content, float compact_threshold, float sidebar_width, float reveal) {
    return make(WidgetPtr(std::make_unique<S>(std::move(sidebar))), WidgetPtr(std::make_unique<C>(std::move(content))),
                compact_threshold, sidebar_width, reveal);
  }

  bool is_overlay() const { return m_overlay; }
  bool sidebar_shown() const { return m_reveal > 0.0f; }

  // Both panes are synchronised every frame and report their structure
  // changes, shown or not.
  void sync(RuntimeState& state) override;
  bool take_structure_dirty() override;
  NodeId build_layout(LayoutContext& cx) override;
  void apply_layout(const layout::LayoutTree& tree, NodeId node, Point origin) override;
  void draw(Scene& scene, const Affine& transform, DrawContext& cx) override;
  void handle_event(const Event& event, EventContext& cx, NodeId node) override;
  std::span<const std::unique_ptr<Widget>> children() const override { return m_children; }
  std::span<std::unique_ptr<Widget>> children_mut() override { return m_children; }
  std::string_view type_name() const override { return "NavSplit"; }
  Rect bounds() const override { return m_bounds; }
  bool needs_redraw() const override;
  // A hidden pane is never placed, so only the shown parts count.
  bool layout_needs_measure() const override;
  void mark_drawn() override;
  void draw_with_presence(Scene& scene, const Affine& transform, DrawContext& cx,
                          const PresenceContext& presence) override;

 private:
  NavSplit() = default;
  // children: [0] content, [1] sidebar (drawn and hit-tested above in overlay mode)
  std::vector<WidgetPtr> m_children;
  float m_threshold = 760;
  float m_sidebar_width = 86;
  float m_reveal = 1;
  bool m_overlay = false;
  Rect m_bounds;
  bool m_needs_redraw = true;
};

}  // namespace vorn_ui::widget::nav_split

namespace vorn_ui::widget {
using nav_split::NavSplit;
}
