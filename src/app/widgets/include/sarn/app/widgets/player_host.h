#pragma once
// PlayerHost: where the watch page shows the one video player that the root
// owns for the whole run, so that playback survives page rebuilds. The host
// lays itself out as a full-width box of its height and forwards every other
// widget operation to the shared player; it also gives the runtime the
// player-host view of the player (its on/off state).
//
// Each forwarded call uses the player only for its own duration. A host
// built without a player lays out and draws nothing else.
//
// Interface thread only.

#include <memory>
#include <optional>

#include "vorn_ui/widget.h"
#include "vorn_ui/widget/video_player.h"

namespace sarn::widgets {

class PlayerHost final : public vorn_ui::widget::Widget, public vorn_ui::widget::PlayerHostAccess {
public:
    using SharedPlayer = std::shared_ptr<vorn_ui::widget::video_player::VideoPlayer>;

    PlayerHost(SharedPlayer player, float height) : m_player(std::move(player)), m_height(height) {}

    const SharedPlayer& player() const { return m_player; }
    float height() const { return m_height; }
    std::optional<vorn_ui::widget::NodeId> node() const { return m_node; }

    // ---- PlayerHostAccess ----
    // The player's on/off state once it was ever changed, else nothing.
    std::optional<bool> state() const override;
    // Stores a changed state and asks the player for a redraw; the stored
    // value again changes nothing.
    void set_state(bool on) override;

    // ---- Widget ----
    const vorn_ui::widget::PlayerHostAccess* as_player_host() const override { return this; }
    vorn_ui::widget::PlayerHostAccess* as_player_host_mut() override { return this; }
    void sync(vorn_ui::widget::RuntimeState& state) override;
    vorn_ui::widget::NodeId build_layout(vorn_ui::widget::LayoutContext& cx) override;
    void apply_layout(const vorn_ui::layout::LayoutTree& tree, vorn_ui::widget::NodeId node,
                      vorn_ui::Point origin) override;
    void draw(vorn_ui::Scene& scene, const vorn_ui::Affine& transform, vorn_ui::widget::DrawContext& cx) override;
    void handle_event(const vorn_ui::Event& event, vorn_ui::widget::EventContext& cx,
                      vorn_ui::widget::NodeId node) override;
    std::string_view type_name() const override { return "PlayerHost"; }
    std::optional<std::string_view> widget_id() const override { return "watch_video_surface"; }
    vorn_ui::Rect bounds() const override { return m_bounds; }
    std::optional<vorn_ui::CursorShape> cursor_shape(vorn_ui::Point point) const override;
    bool is_focusable() const override { return true; }
    void set_focus(bool focused) override;
    bool has_focus() const override;
    std::optional<vorn_ui::AccessNode> accessibility() const override;
    bool needs_animation_frame() const override;
    bool needs_redraw() const override;
    void mark_drawn() override;

private:
    SharedPlayer m_player;
    std::optional<vorn_ui::widget::NodeId> m_node;
    vorn_ui::Rect m_bounds;
    float m_height;
};

}  // namespace sarn::widgets
