#include "layout_access.h"

#include <cstdio>
#include <cstdlib>

namespace sarn::widgets::detail {

void invariant_broken(std::string_view what) {
    std::fprintf(stderr, "%.*s\n", static_cast<int>(what.size()), what.data());
    std::abort();
}

vorn_ui::widget::NodeId new_leaf(vorn_ui::widget::LayoutContext& cx, const vorn_ui::layout::Style& style,
                                 vorn_ui::widget::Widget& widget, bool measured) {
    const auto node = cx.tree.new_leaf(style, measured);
    cx.registry.register_node(node, &widget);
    return node;
}

vorn_ui::widget::NodeId new_node(vorn_ui::widget::LayoutContext& cx, const vorn_ui::layout::Style& style,
                                 std::span<const vorn_ui::widget::NodeId> children, vorn_ui::widget::Widget& widget) {
    if (children.empty()) return new_leaf(cx, style, widget);
    auto node = cx.tree.new_with_children(style, children);
    if (!node) invariant_broken("the layout solver refused a node built from its own children");
    cx.registry.register_node(*node, &widget);
    return *node;
}

vorn_ui::layout::Layout layout_of(const vorn_ui::layout::LayoutTree& tree, vorn_ui::widget::NodeId node) {
    auto layout = tree.layout(node);
    if (!layout) invariant_broken("a widget's own layout node has no solved layout");
    return *layout;
}

vorn_ui::Rect bounds_of(const vorn_ui::layout::LayoutTree& tree, vorn_ui::widget::NodeId node,
                        vorn_ui::Point origin) {
    const auto l = layout_of(tree, node);
    const double x0 = origin.x + l.x;
    const double y0 = origin.y + l.y;
    return {x0, y0, x0 + l.width, y0 + l.height};
}

vorn_ui::layout::Style leaf_style(vorn_ui::layout::Dimension width, vorn_ui::layout::Dimension height) {
    vorn_ui::layout::Style style;
    style.size = {width, height};
    style.flex_grow = 0.0f;
    style.flex_shrink = 0.0f;
    return style;
}

}  // namespace sarn::widgets::detail
