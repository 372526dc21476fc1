#pragma once
// LargeVideoMeta: the title and the two meta lines (channel; views and date)
// under a video card in the large-scale layout. Full width, as high as the
// three wrapped texts with their spacing. Ignores input.
//
// Measuring and drawing use one text style, scaled by the text scale of the
// last layout, so what is drawn fills exactly the height that was measured.
//
// Interface thread only.

#include <string>

#include "sarn/app/widgets/leaf_widget.h"
#include "vorn_ui/text.h"

namespace sarn::widgets {

class LargeVideoMeta final : public LeafWidget {
public:
    LargeVideoMeta(std::string title, std::string channel, std::string meta);

    // Title 14.5 and meta lines 12.5 (line height 1.25), times the text scale
    // over the renderer's scale factor.
    static vorn_ui::TextStyle title_style(float text_scale, const vorn_ui::TextRenderer& text);
    static vorn_ui::TextStyle meta_style(float text_scale, const vorn_ui::TextRenderer& text);

    // Where the lines sit for a width: offsets of the channel and meta lines
    // from the top, and the whole height.
    struct Metrics {
        float channel_offset = 0.0f;
        float meta_offset = 0.0f;
        float height = 0.0f;
    };
    Metrics metrics_at(double width, vorn_ui::TextRenderer& text) const;

    const std::string& title() const { return m_title; }
    const std::string& channel() const { return m_channel; }
    const std::string& meta() const { return m_meta; }
    float text_scale() const { return m_text_scale; }
    // What the last measure stored.
    const Metrics& measured() const { return m_measured; }

    vorn_ui::widget::NodeId build_layout(vorn_ui::widget::LayoutContext& cx) override;
    vorn_ui::layout::SizeF measure(const vorn_ui::layout::MeasureInput& input, vorn_ui::TextRenderer& text) override;
    void draw(vorn_ui::Scene& scene, const vorn_ui::Affine& transform, vorn_ui::widget::DrawContext& cx) override;
    std::string_view type_name() const override { return "LargeVideoMeta"; }

private:
    std::string m_title;
    std::string m_channel;
    std::string m_meta;
    Metrics m_measured;
    std::optional<double> m_measured_width;
    float m_text_scale = 1.0f;
};

}  // namespace sarn::widgets
