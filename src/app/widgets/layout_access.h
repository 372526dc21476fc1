#pragma once
// Layout access of the program's widgets: creating a widget's own node,
// reading a node's solved box, turning it into bounds. Used only with nodes
// the widget itself created in the same solver, so a failure is a broken
// invariant and stops the program. Interface thread only.

#include <span>
#include <string_view>

#include "vorn_ui/geometry.h"
#include "vorn_ui/layout.h"
#include "vorn_ui/widget.h"

namespace sarn::widgets::detail {

[[noreturn]] void invariant_broken(std::string_view what);

// A leaf with the style, registered to the widget.
vorn_ui::widget::NodeId new_leaf(vorn_ui::widget::LayoutContext& cx, const vorn_ui::layout::Style& style,
                                 vorn_ui::widget::Widget& widget, bool measured = false);
// A node with the children in order (a leaf when there are none), registered to the widget.
vorn_ui::widget::NodeId new_node(vorn_ui::widget::LayoutContext& cx, const vorn_ui::layout::Style& style,
                                 std::span<const vorn_ui::widget::NodeId> children, vorn_ui::widget::Widget& widget);
vorn_ui::layout::Layout layout_of(const vorn_ui::layout::LayoutTree& tree, vorn_ui::widget::NodeId node);
// origin + location, origin + location + size.
vorn_ui::Rect bounds_of(const vorn_ui::layout::LayoutTree& tree, vorn_ui::widget::NodeId node, vorn_ui::Point origin);

// The style of the card widgets' leaves: everything the solver's default but
// the size, with grow and shrink 0.
vorn_ui::layout::Style leaf_style(vorn_ui::layout::Dimension width, vorn_ui::layout::Dimension height);

}  // namespace sarn::widgets::detail
