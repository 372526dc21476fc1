// Keyboard focus over a widget tree: which widget holds it, Tab and Shift+Tab
// through the focusable widgets in reading order, what the handlers of an
// event ask for, the focus kept across a rebuild of the tree, and the ring
// that shows it. Interface thread only.
//
// What moves the focus (FocusManager::deliver, after the tree handled the event):
//
//   the tree asked                         effect
//   focus_id (an id)                       that widget, now or after the next rebuild
//   focus_request (a node)                 that widget
//   release_focus                          nobody: the page has the keyboard again
//   nothing, on a primary press            nobody (a press on the page's background)
//   nothing, on Tab / Shift+Tab unhandled  the next / previous focusable widget,
//                                          wrapping at the ends, scrolled into view
//
// The ring shows while the focus was last moved from the keyboard (Tab); a
// primary press hides it until the next Tab, as desktop toolkits do.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vorn_ui/widget.h"

namespace vorn_ui::widget::focus {

enum class Direction : unsigned char { Next, Previous };

// The focusable widgets of the tree in reading order: children line by line
// (those whose boxes share a vertical band form one line), left to right in
// a line. A child that takes the pointer (a modal overlay) takes the traversal
// alone; a widget without area (not placed, or hidden) is left out with
// everything inside it.
std::vector<Widget*> focus_order(Widget& root);

// The first focusable widget with this id, in focus order.
Widget* find_focusable(Widget& root, std::string_view id);

// Scrolls the containers around `target` so that it comes into view; false
// when the target is not in the tree.
bool reveal(Widget& root, const Widget& target);

class FocusManager {
 public:
  Widget* focused() const { return m_focused; }
  bool ring_visible() const { return m_ring && m_focused != nullptr; }

  // Hands the event to the root, then carries out what its handlers asked
  // for (table above). Answers whether the focus or its ring changed.
  bool deliver(Widget& root, const Event& event, EventContext& cx, NodeId root_node, const NodeRegistry& registry);

  // The next or previous focusable widget takes the focus, wrapping at the
  // ends, and is scrolled into view; the ring shows. From no focus, Next
  // starts at the first widget and Previous at the last.
  bool move(Widget& root, Direction direction);
  // `widget` (or nobody) takes the focus; answers whether it changed.
  bool focus(Widget* widget);
  // The first focusable widget with the id takes the focus; false when there is none.
  bool focus_id(Widget& root, std::string_view id);

  // Whether an id asked for waits for the next build of the tree: the driver
  // builds it before it hands on further input, which is that widget's.
  bool waiting_for_tree() const { return m_pending_id.has_value(); }

  // Around a rebuild of the tree: the old focused widget lets go and its id
  // and state are kept; afterwards the new widget of that id gets both (a
  // requested id goes first). Call before_rebuild before the old tree goes.
  void before_rebuild();
  void after_rebuild(Widget& root);

  // The ring around the focused widget, clipped to the part of the window its
  // containers show; nothing while no ring shows.
  void paint_ring(Scene& scene, const Affine& transform, const Theme& theme, Widget& root) const;

 private:
  struct Kept {
    std::string id;
    std::optional<std::string> state;
  };
  Widget* m_focused = nullptr;
  bool m_ring = false;
  std::optional<Kept> m_kept;
  std::optional<std::string> m_pending_id;
};

}  // namespace vorn_ui::widget::focus

namespace vorn_ui::widget {
using focus::FocusManager;
}
