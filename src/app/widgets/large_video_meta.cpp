#include "sarn/app/widgets/large_video_meta.h"

#include <algorithm>
#include <cmath>

namespace sarn::widgets {

namespace layout = vorn_ui::layout;

namespace {

vorn_ui::TextStyle scaled_style(float size, float text_scale, const vorn_ui::TextRenderer& text) {
    const float factor = text.scale_factor() > 0.0f ? text.scale_factor() : 1.0f;
    vorn_ui::TextStyle style;
    style.font_size = size * text_scale / factor;
    style.line_height = 1.25f;
    return style;
}

}  // namespace

LargeVideoMeta::LargeVideoMeta(std::string title, std::string channel, std::string meta)
    : m_title(std::move(title)), m_channel(std::move(channel)), m_meta(std::move(meta)) {}

vorn_ui::TextStyle LargeVideoMeta::title_style(float text_scale, const vorn_ui::TextRenderer& text) {
    return scaled_style(14.5f, text_scale, text);
}

vorn_ui::TextStyle LargeVideoMeta::meta_style(float text_scale, const vorn_ui::TextRenderer& text) {
    return scaled_style(12.5f, text_scale, text);
}

LargeVideoMeta::Metrics LargeVideoMeta::metrics_at(double width, vorn_ui::TextRenderer& text) const {
    const auto title = title_style(m_text_scale, text);
    const auto meta = meta_style(m_text_scale, text);
    const auto h_title = static_cast<float>(text.measure_style(m_title, title, width).height);
    const auto h_channel = static_cast<float>(text.measure_style(m_channel, meta, width).height);
    const auto h_meta = static_cast<float>(text.measure_style(m_meta, meta, width).height);
    Metrics m;
    m.channel_offset = 12.0f * m_text_scale + h_title;
    m.meta_offset = m.channel_offset + h_channel + 8.0f * m_text_scale;
    m.height = m.meta_offset + h_meta + 18.0f * m_text_scale;
    return m;
}

vorn_ui::widget::NodeId LargeVideoMeta::build_layout(vorn_ui::widget::LayoutContext& cx) {
    m_text_scale = cx.env.text_scale;
    return build_leaf(cx, layout::Dimension::percent(1.0f), layout::Dimension::auto_(), true);
}

layout::SizeF LargeVideoMeta::measure(const layout::MeasureInput& input, vorn_ui::TextRenderer& text) {
    using Kind = layout::AvailableSpace::Kind;
    float width = 900.0f;
    if (input.known_width) {
        width = *input.known_width;
    } else if (input.available_width.kind == Kind::Definite) {
        width = input.available_width.value;
    } else if (input.available_width.kind == Kind::MinContent) {
        width = 1.0f;
    }
    width = std::max(width, 1.0f);
    m_measured = metrics_at(width, text);
    m_measured_width = width;
    return {width, m_measured.height};
}

void LargeVideoMeta::draw(vorn_ui::Scene& scene, const vorn_ui::Affine& transform, vorn_ui::widget::DrawContext& cx) {
    if (!(m_bounds.width() > 0.0)) return;
    // Wrap where the measure did: pixel rounding may have moved the box's edge
    // by up to a pixel from the width that was measured.
    double wrap = m_bounds.width();
    if (m_measured_width && std::abs(*m_measured_width - wrap) <= 1.0) wrap = *m_measured_width;
    const Metrics m = metrics_at(wrap, cx.text);
    const auto title = title_style(m_text_scale, cx.text);
    const auto meta = meta_style(m_text_scale, cx.text);
    const double x = m_bounds.x0;
    const double y = m_bounds.y0;
    cx.text.draw_style(scene, transform, m_title, title, cx.theme.text, {x, y}, wrap);
    cx.text.draw_style(scene, transform, m_channel, meta, cx.theme.text_muted, {x, y + m.channel_offset}, wrap);
    cx.text.draw_style(scene, transform, m_meta, meta, cx.theme.text_muted, {x, y + m.meta_offset}, wrap);
}

}  // namespace sarn::widgets
