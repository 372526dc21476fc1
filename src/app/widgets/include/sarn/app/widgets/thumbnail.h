#pragma once
// Thumbnail: a video's (or playlist's) picture in a full-width box of a
// fixed height (or of a fixed shape, its height following its width), with a seeded play placeholder until the picture arrives, a
// "LIVE" or duration badge in the lower right corner and an optional watch
// progress strip along the bottom. Ignores input.
//
// Interface thread only.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "sarn/app/widgets/leaf_widget.h"
#include "vorn_ui/color.h"
#include "vorn_ui/scene.h"
#include "vorn_ui/text.h"

namespace sarn::widgets {

class Thumbnail final : public LeafWidget {
public:
    static constexpr float kDefaultHeight = 169.0f;

    Thumbnail(std::string seed, std::uint32_t duration_secs);
    Thumbnail with_image(ImageStoreHandle store, std::string image_url) &&;
    Thumbnail with_height(float height) &&;
    // The box keeps this width / height ratio instead of a fixed height.
    Thumbnail with_aspect_ratio(float ratio) &&;
    Thumbnail with_live(bool live) &&;
    // The watched fraction, 0 to 1; none draws no strip.
    Thumbnail with_progress(std::optional<float> progress) &&;
    // Whether a non-live thumbnail shows its duration (on by default). A
    // playlist cover has no duration of its own and turns it off.
    Thumbnail with_time_badge(bool shown) &&;

    const std::string& seed() const { return m_seed; }
    const std::string& image_url() const { return m_image_url; }
    std::uint32_t duration() const { return m_duration; }
    float height() const { return m_height; }
    std::optional<float> aspect_ratio() const { return m_aspect_ratio; }
    bool live() const { return m_live; }
    std::optional<float> progress() const { return m_progress; }
    bool shows_time_badge() const { return m_time_badge; }
    bool has_image() const { return m_image.has_value(); }
    // The badge text: "LIVE", the duration's time code, or none.
    std::optional<std::string> badge_text() const;

    void sync(vorn_ui::widget::RuntimeState& state) override;
    bool wants_sync() const override { return awaits_image(m_store, m_image_url, m_image); }
    vorn_ui::widget::NodeId build_layout(vorn_ui::widget::LayoutContext& cx) override;
    void draw(vorn_ui::Scene& scene, const vorn_ui::Affine& transform, vorn_ui::widget::DrawContext& cx) override;
    std::string_view type_name() const override { return "Thumbnail"; }

private:
    ImageStoreHandle m_store;
    std::string m_seed;
    std::string m_image_url;
    std::optional<float> m_progress;
    std::optional<float> m_aspect_ratio;
    std::optional<vorn_ui::ImageRef> m_image;
    std::uint32_t m_duration;
    float m_height = kDefaultHeight;
    bool m_live = false;
    bool m_time_badge = true;
};

// A rounded badge behind a line of text: as wide as the text plus 12, as high
// as the font size plus 6, corner radius 4, the text 6 in and 3 down. Placed
// with its top left at the anchor or, right-aligned, ending at it.
void draw_badge_text(vorn_ui::Scene& scene, const vorn_ui::Affine& transform, vorn_ui::TextRenderer& text,
                     std::string_view content, vorn_ui::Color background, vorn_ui::Color text_color,
                     vorn_ui::Point anchor, float font_size, bool right_aligned);

}  // namespace sarn::widgets
