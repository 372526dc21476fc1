#include "sarn/app/widgets/image_box.h"

#include "sarn/app/format.h"
#include "vorn_ui/painters.h"

namespace sarn::widgets {

namespace layout = vorn_ui::layout;

ImageBox::ImageBox(std::string seed, std::optional<vorn_ui::ImageRef> image, float height, double corner_radius)
    : m_seed(std::move(seed)), m_image(std::move(image)), m_corner_radius(corner_radius), m_height(height) {
    if (m_image && !*m_image) m_image.reset();
}

ImageBox ImageBox::with_image(ImageStoreHandle store, std::string image_url) && {
    m_store = std::move(store);
    m_image_url = std::move(image_url);
    return std::move(*this);
}

void ImageBox::sync(vorn_ui::widget::RuntimeState& state) {
    (void)state;
    fetch_image(m_store, m_image_url, m_image);
}

vorn_ui::widget::NodeId ImageBox::build_layout(vorn_ui::widget::LayoutContext& cx) {
    return build_leaf(cx, layout::Dimension::percent(1.0f), layout::Dimension::length(m_height));
}

void ImageBox::draw(vorn_ui::Scene& scene, const vorn_ui::Affine& transform, vorn_ui::widget::DrawContext& cx) {
    (void)cx;
    if (!(m_bounds.width() > 0.0) || !(m_bounds.height() > 0.0)) return;
    if (m_image) {
        vorn_ui::paint_image_cover(scene, transform, m_bounds, m_corner_radius, *m_image);
        return;
    }
    const vorn_ui::RoundedRect shape{m_bounds, m_corner_radius};
    const auto [start, end] = seed_gradient(m_seed);
    const vorn_ui::LinearGradient gradient{{m_bounds.x0, m_bounds.y0}, {m_bounds.x1, m_bounds.y1}, {{0.0f, start}, {1.0f, end}}};
    scene.fill(vorn_ui::FillRule::NonZero, transform, gradient, shape);
    scene.fill(vorn_ui::FillRule::NonZero, transform, vorn_ui::Color::rgba8(0, 0, 0, 30), shape);
}

}  // namespace sarn::widgets
