#pragma once
// ChannelAvatar: a round channel picture, or the channel's initials on a
// colour of their own until (or unless) the picture arrives from the image
// store. A square leaf of the given size; ignores input.
//
// Interface thread only.

#include <optional>
#include <string>
#include <string_view>

#include "sarn/app/widgets/leaf_widget.h"

namespace sarn::widgets {

class ChannelAvatar final : public LeafWidget {
public:
    // The initials are taken from `name` here, once. An empty address (or no
    // store) shows the initials only.
    ChannelAvatar(ImageStoreHandle store, std::string avatar_url, std::string_view name, float size);

    const std::string& initials() const { return m_initials; }
    const std::string& avatar_url() const { return m_avatar_url; }
    float size() const { return m_size; }
    bool has_image() const { return m_image.has_value(); }

    void sync(vorn_ui::widget::RuntimeState& state) override;
    bool wants_sync() const override { return awaits_image(m_store, m_avatar_url, m_image); }
    vorn_ui::widget::NodeId build_layout(vorn_ui::widget::LayoutContext& cx) override;
    void draw(vorn_ui::Scene& scene, const vorn_ui::Affine& transform, vorn_ui::widget::DrawContext& cx) override;
    std::string_view type_name() const override { return "ChannelAvatar"; }
    // An image node named by the initials.
    std::optional<vorn_ui::AccessNode> accessibility() const override;

private:
    ImageStoreHandle m_store;
    std::string m_avatar_url;
    std::string m_initials;
    std::optional<vorn_ui::ImageRef> m_image;
    float m_size;
};

}  // namespace sarn::widgets
