#include "sarn/app/widgets/leaf_widget.h"

#include "layout_access.h"

namespace sarn::widgets {

void LeafWidget::apply_layout(const vorn_ui::layout::LayoutTree& tree, vorn_ui::widget::NodeId node,
                              vorn_ui::Point origin) {
    const vorn_ui::Rect placed = detail::bounds_of(tree, node, origin);
    if (placed == m_bounds) return;
    m_bounds = placed;
    if (m_move_redraw == MoveRedraw::OnNewBounds) m_needs_redraw = true;
}

vorn_ui::widget::NodeId LeafWidget::build_leaf(vorn_ui::widget::LayoutContext& cx, vorn_ui::layout::Dimension width,
                                               vorn_ui::layout::Dimension height, bool measured) {
    return detail::new_leaf(cx, detail::leaf_style(width, height), *this, measured);
}

void LeafWidget::fetch_image(const ImageStoreHandle& store, const std::string& address,
                             std::optional<vorn_ui::ImageRef>& image) {
    if (image || !store || address.empty()) return;
    if (auto arrived = store->get(address); arrived && *arrived) {
        image = std::move(*arrived);
        m_needs_redraw = true;
    }
}

}  // namespace sarn::widgets
