#include "sarn/app/widgets/thumbnail.h"

#include <algorithm>

#include "layout_access.h"
#include "sarn/app/format.h"
#include "vorn_ui/format.h"
#include "vorn_ui/painters.h"

namespace sarn::widgets {

namespace layout = vorn_ui::layout;
using vorn_ui::Color;
using vorn_ui::FillRule;

namespace {

constexpr Color kLiveRed = Color::rgba8(204, 0, 0);
constexpr Color kProgressRed = Color::rgba8(255, 0, 51);

}  // namespace

Thumbnail::Thumbnail(std::string seed, std::uint32_t duration_secs) : m_seed(std::move(seed)), m_duration(duration_secs) {}

Thumbnail Thumbnail::with_image(ImageStoreHandle store, std::string image_url) && {
    m_store = std::move(store);
    m_image_url = std::move(image_url);
    return std::move(*this);
}

Thumbnail Thumbnail::with_height(float height) && {
    m_height = height;
    return std::move(*this);
}

Thumbnail Thumbnail::with_aspect_ratio(float ratio) && {
    m_aspect_ratio = ratio;
    return std::move(*this);
}

Thumbnail Thumbnail::with_live(bool live) && {
    m_live = live;
    return std::move(*this);
}

Thumbnail Thumbnail::with_progress(std::optional<float> progress) && {
    m_progress = progress;
    return std::move(*this);
}

Thumbnail Thumbnail::with_time_badge(bool shown) && {
    m_time_badge = shown;
    return std::move(*this);
}

std::optional<std::string> Thumbnail::badge_text() const {
    if (m_live) return std::string("LIVE");
    if (!m_time_badge) return std::nullopt;
    return vorn_ui::format::timecode(m_duration);
}

void Thumbnail::sync(vorn_ui::widget::RuntimeState& state) {
    (void)state;
    fetch_image(m_store, m_image_url, m_image);
}

vorn_ui::widget::NodeId Thumbnail::build_layout(vorn_ui::widget::LayoutContext& cx) {
    if (!m_aspect_ratio) return build_leaf(cx, layout::Dimension::percent(1.0f), layout::Dimension::length(m_height));
    layout::Style style = detail::leaf_style(layout::Dimension::percent(1.0f), layout::Dimension::auto_());
    style.aspect_ratio = m_aspect_ratio;
    return detail::new_leaf(cx, style, *this);
}

void Thumbnail::draw(vorn_ui::Scene& scene, const vorn_ui::Affine& transform, vorn_ui::widget::DrawContext& cx) {
    const vorn_ui::Rect& b = m_bounds;
    const double width = b.width();
    if (!(width > 0.0)) return;
    const double radius = std::min(std::min(width, b.height()) / 2.0, 12.0);
    const vorn_ui::RoundedRect shape{b, radius};

    if (m_image) {
        vorn_ui::paint_image_cover(scene, transform, b, 12.0, *m_image);
    } else {
        const auto [start, end] = seed_gradient(m_seed);
        scene.fill(FillRule::NonZero, transform,
                   vorn_ui::LinearGradient{{b.x0, b.y0}, {b.x1, b.y1}, {{0.0f, start}, {1.0f, end}}}, shape);
        scene.push_layer(vorn_ui::BlendMode::Normal, 1.0f, transform, shape);
        scene.fill(FillRule::NonZero, transform, Color::rgba8(255, 255, 255, 18), vorn_ui::Circle{{b.x1 - 30, b.y0 + 26}, 40});
        scene.fill(FillRule::NonZero, transform, Color::rgba8(0, 0, 0, 24), vorn_ui::Circle{{b.x0 + 24, b.y1 - 18}, 52});
        const vorn_ui::Point c = b.center();
        constexpr double R = 22.0;
        scene.fill(FillRule::NonZero, transform, Color::rgba8(0, 0, 0, 110), vorn_ui::Circle{c, R});
        vorn_ui::Path play;
        play.move_to({c.x - R / 4, c.y - R / 2}).line_to({c.x - R / 4, c.y + R / 2}).line_to({c.x + R / 2, c.y}).close();
        scene.fill(FillRule::NonZero, transform, Color::white(), play);
        scene.pop_layer();
    }

    if (auto badge = badge_text()) {
        const Color background = m_live ? kLiveRed : Color::rgba8(0, 0, 0, 200);
        draw_badge_text(scene, transform, cx.text, *badge, background, Color::white(), {b.x1 - 8, b.y1 - 26}, 11.0f,
                        true);
    }

    if (m_progress) {
        scene.fill(FillRule::NonZero, transform, Color::rgba8(255, 255, 255, 60), vorn_ui::Rect{b.x0, b.y1 - 4, b.x1, b.y1});
        const double watched = b.x0 + static_cast<double>(*m_progress) * width;
        scene.fill(FillRule::NonZero, transform, kProgressRed, vorn_ui::Rect{b.x0, b.y1 - 4, watched, b.y1});
    }

    vorn_ui::Stroke outline = vorn_ui::Stroke::with_width(1.0);
    outline.join = vorn_ui::LineJoin::Round;
    outline.cap = vorn_ui::LineCap::Round;
    outline.miter_limit = 4.0;
    scene.stroke(outline, transform, Color::rgba8(255, 255, 255, 20), shape);
}

void draw_badge_text(vorn_ui::Scene& scene, const vorn_ui::Affine& transform, vorn_ui::TextRenderer& text,
                     std::string_view content, Color background, Color text_color, vorn_ui::Point anchor,
                     float font_size, bool right_aligned) {
    const double w = text.measure(content, font_size).width;
    const double badge_width = w + 12.0;
    const double left = right_aligned ? anchor.x - badge_width : anchor.x;
    const vorn_ui::Rect badge{left, anchor.y, left + badge_width, anchor.y + font_size + 6.0};
    scene.fill(FillRule::NonZero, transform, background, vorn_ui::RoundedRect{badge, 4.0});
    text.draw_text(scene, transform, content, font_size, text_color, {left + 6.0, anchor.y + 3.0});
}

}  // namespace sarn::widgets
