#include "sarn/app/widgets/channel_avatar.h"

#include <algorithm>

#include "sarn/app/format.h"
#include "vorn_ui/painters.h"

namespace sarn::widgets {

namespace layout = vorn_ui::layout;

ChannelAvatar::ChannelAvatar(ImageStoreHandle store, std::string avatar_url, std::string_view name, float size)
    : m_store(std::move(store)), m_avatar_url(std::move(avatar_url)), m_initials(sarn::initials(name)), m_size(size) {}

void ChannelAvatar::sync(vorn_ui::widget::RuntimeState& state) {
    (void)state;
    fetch_image(m_store, m_avatar_url, m_image);
}

vorn_ui::widget::NodeId ChannelAvatar::build_layout(vorn_ui::widget::LayoutContext& cx) {
    return build_leaf(cx, layout::Dimension::length(m_size), layout::Dimension::length(m_size));
}

void ChannelAvatar::draw(vorn_ui::Scene& scene, const vorn_ui::Affine& transform, vorn_ui::widget::DrawContext& cx) {
    const double w = m_bounds.width();
    const double h = m_bounds.height();
    if (!(w > 0.0) || !(h > 0.0)) return;
    if (!m_image || !*m_image) {
        const vorn_ui::Color color = vorn_ui::Avatar::color_for_initials(m_initials, cx.theme);
        vorn_ui::Avatar::draw_at(scene, transform, m_bounds, m_initials, color, cx.theme, cx.text);
        return;
    }
    const vorn_ui::Image& image = **m_image;
    scene.push_layer(vorn_ui::BlendMode::Normal, 1.0f, transform,
                     vorn_ui::Circle{m_bounds.center(), std::min(w, h) / 2.0});
    // Cover the circle's box: the larger scale, centred (a side of 0 counts as 1).
    const double iw = image.width() == 0 ? 1.0 : image.width();
    const double ih = image.height() == 0 ? 1.0 : image.height();
    const double s = std::max(w / iw, h / ih);
    const double ox = m_bounds.x0 + (w - iw * s) / 2.0;
    const double oy = m_bounds.y0 + (h - ih * s) / 2.0;
    scene.draw_image(*m_image, vorn_ui::Affine{s, 0.0, 0.0, s, ox, oy}, transform, 1.0f);
    scene.pop_layer();
}

std::optional<vorn_ui::AccessNode> ChannelAvatar::accessibility() const {
    return vorn_ui::AccessNode(vorn_ui::Role::Image, m_bounds).with_optional_name(m_initials);
}

}  // namespace sarn::widgets
