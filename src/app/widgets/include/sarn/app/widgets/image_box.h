#pragma once
// ImageBox: a full-width picture of a fixed height with rounded corners (a
// channel banner), drawn to cover its box; until the picture arrives, a
// seeded gradient stands in. Ignores input.
//
// Interface thread only.

#include <optional>
#include <string>

#include "sarn/app/widgets/leaf_widget.h"

namespace sarn::widgets {

class ImageBox final : public LeafWidget {
public:
    ImageBox(std::string seed, std::optional<vorn_ui::ImageRef> image, float height, double corner_radius);
    // Fetches the picture at `image_url` from the store (an empty address
    // keeps the placeholder).
    ImageBox with_image(ImageStoreHandle store, std::string image_url) &&;

    const std::string& seed() const { return m_seed; }
    const std::string& image_url() const { return m_image_url; }
    bool has_image() const { return m_image.has_value(); }
    float height() const { return m_height; }

    void sync(vorn_ui::widget::RuntimeState& state) override;
    bool wants_sync() const override { return awaits_image(m_store, m_image_url, m_image); }
    vorn_ui::widget::NodeId build_layout(vorn_ui::widget::LayoutContext& cx) override;
    void draw(vorn_ui::Scene& scene, const vorn_ui::Affine& transform, vorn_ui::widget::DrawContext& cx) override;
    std::string_view type_name() const override { return "ImageBox"; }

private:
    ImageStoreHandle m_store;
    std::string m_seed;
    std::string m_image_url;
    std::optional<vorn_ui::ImageRef> m_image;
    double m_corner_radius;
    float m_height;
};

}  // namespace sarn::widgets
