// Scrollable: shows part of a taller child. Wheel, touchpad, drag, scroll bar
// and keys the child leaves unhandled (arrows, Page Up/Down, Space, Home,
// End) move the child only (no re-measure): the offset is applied when the
// child is placed. Interface thread.
#pragma once

#include <memory>
#include <optional>

#include "vorn_ui/widget.h"

namespace vorn_ui::widget::scrollable {

// A scroll position that outlives the widget (kept by the page's owner).
struct ScrollOffset {
  float x = 0.0f;
  float y = 0.0f;
};
using SharedScrollOffset = std::shared_ptr<ScrollOffset>;

struct ScrollSettings {
  float wheel_step = 48.0f;      // pixels per wheel notch
  float fling_decay_x = 0.9f;    // per-frame velocity factor after a drag is let go
  float fling_decay_y = 0.9f;
  float drag_follow = 1.0f;      // share of the pointer movement a drag applies
  float scrollbar_width = 10.0f;  // width of the scroll bar's grab area
};

class Scrollable final : public Widget {
 public:
  static Scrollable with_child(WidgetPtr child);
  template <class W>
  static Scrollable with_child(W child) {
    return with_child(WidgetPtr(std::make_unique<W>(std::move(child))));
  }

  // Shares the offset with its owner: read when placed, written when scrolled.
  Scrollable with_persisted_offset(SharedScrollOffset offset) &&;
  // Wheel step, the two fling decay factors and the drag follow factor.
  Scrollable with_settings(float wheel_step, float fling_decay_x, float fling_decay_y, float drag_follow) &&;
  Scrollable with_scrollbar_width(float width) &&;

  ScrollOffset offset() const { return *m_offset; }
  // Scrolls by pixels (positive y reveals what lies below); answers whether it moved.
  bool scroll_by(double dx, double dy);
  // The largest offsets the content allows (known once placed).
  Size max_offset() const;
  const ScrollSettings& settings() const { return m_settings; }
  // How far the content moved on screen since it was last drawn: the offset
  // then minus the offset now.
  Point scroll_since_drawn() const;
  // While set, needs_redraw leaves out the movement since the last draw, so
  // that the runtime can ask whether anything besides a scroll changed.
  void set_pending_scroll_ignored(bool ignored) { m_ignore_pending_scroll = ignored; }

  void sync(RuntimeState& state) override;
  NodeId build_layout(LayoutContext& cx) override;
  void apply_layout(const layout::LayoutTree& tree, NodeId node, Point origin) override;
  void draw(Scene& scene, const Affine& transform, DrawContext& cx) override;
  void handle_event(const Event& event, EventContext& cx, NodeId node) override;
  std::span<const std::unique_ptr<Widget>> children() const override { return {&m_child, m_child ? 1u : 0u}; }
  std::span<std::unique_ptr<Widget>> children_mut() override { return {&m_child, m_child ? 1u : 0u}; }
  std::string_view type_name() const override { return "Scrollable"; }
  // Scrolls so that the target, somewhere inside, lies in the viewport (with
  // a margin where the viewport has room for one).
  bool reveal_descendant(const Widget* target) override;
  std::optional<Rect> child_clip_rect() const override { return m_bounds; }
  Rect bounds() const override { return m_bounds; }
  std::optional<CursorShape> cursor_shape(Point point) const override;
  std::optional<AccessNode> accessibility() const override;
  bool wants_pointer_capture() const override;
  bool needs_animation_frame() const override;
  bool needs_redraw() const override;
  void mark_drawn() override;
  void draw_with_presence(Scene& scene, const Affine& transform, DrawContext& cx,
                          const PresenceContext& presence) override;

 private:
  Scrollable() = default;
  bool set_offset(double x, double y);
  void scroll_to_show(const Rect& target);
  std::optional<Rect> thumb_rect() const;

  WidgetPtr m_child;
  SharedScrollOffset m_offset = std::make_shared<ScrollOffset>();
  ScrollSettings m_settings;
  Rect m_bounds;
  Size m_content;  // the child's extent
  // Drag state: idle → armed (primary press inside) → dragging (moved past
  // the threshold, or pressed on the scroll bar) → idle on release.
  enum class Drag : std::uint8_t { Idle, Armed, Dragging, Thumb };
  Drag m_drag = Drag::Idle;
  Point m_drag_start;
  ScrollOffset m_drag_start_offset;
  Point m_last_pointer;
  std::chrono::steady_clock::time_point m_last_move_time{};
  double m_velocity_x = 0, m_velocity_y = 0;
  bool m_needs_redraw = true;  // for any reason besides the offset
  ScrollOffset m_drawn_offset;   // the offset when last drawn
  bool m_ignore_pending_scroll = false;
};

}  // namespace vorn_ui::widget::scrollable

namespace vorn_ui::widget {
using scrollable::Scrollable;
}
