#pragma once
// LeafWidget: what the program's card and control leaves share. Each builds
// one solver leaf of its own style (grow and shrink 0), takes its bounds from
// the solved location and size (content size unused), reports its layout
// dirty until first placed, and keeps its own repaint flag.
//
// Interface thread only.

#include <cstdint>
#include <optional>
#include <string>

#include "vorn_ui/image.h"
#include "vorn_ui/image_store.h"
#include "vorn_ui/widget.h"

namespace sarn::widgets {

using ImageStoreHandle = std::optional<vorn_ui::image_store::ImageStore>;

class LeafWidget : public vorn_ui::widget::Widget {
public:
    void apply_layout(const vorn_ui::layout::LayoutTree& tree, vorn_ui::widget::NodeId node,
                      vorn_ui::Point origin) override;
    vorn_ui::Rect bounds() const override { return m_bounds; }
    // True until the widget is first placed (its bounds are still all 0).
    bool is_layout_dirty() const override { return m_bounds == vorn_ui::Rect{}; }
    bool needs_redraw() const override { return m_needs_redraw; }
    void mark_drawn() override { m_needs_redraw = false; }

protected:
    enum class MoveRedraw : std::uint8_t { OnNewBounds, Never };
    explicit LeafWidget(MoveRedraw move_redraw = MoveRedraw::OnNewBounds) : m_move_redraw(move_redraw) {}

    // Creates and registers the leaf node of the given size.
    vorn_ui::widget::NodeId build_leaf(vorn_ui::widget::LayoutContext& cx, vorn_ui::layout::Dimension width,
                                       vorn_ui::layout::Dimension height, bool measured = false);
    // The image fetch of `sync`: while no image is held and a store and an
    // address are given, asks the store; an arriving image is kept and
    // repainted.
    void fetch_image(const ImageStoreHandle& store, const std::string& address,
                     std::optional<vorn_ui::ImageRef>& image);
    // Whether fetch_image may still bring an image (wants_sync of a leaf
    // whose sync is only that fetch).
    static bool awaits_image(const ImageStoreHandle& store, const std::string& address,
                             const std::optional<vorn_ui::ImageRef>& image) {
        return !image && store && !address.empty();
    }
    void request_redraw() { m_needs_redraw = true; }

    vorn_ui::Rect m_bounds;

private:
    MoveRedraw m_move_redraw;
    bool m_needs_redraw = true;
};

}  // namespace sarn::widgets
