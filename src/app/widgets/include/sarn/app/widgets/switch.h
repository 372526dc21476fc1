#pragma once
// Switch: the on/off control of a setting. Clicking it (or activating it from
// assistive technology) appends its intent to the root's intent queue and
// asks for focus; the displayed state does not change on its own: the page is
// rebuilt with the new setting. A 46 × 26 leaf.
//
// Input: a pointer move sets hovered from the position; a primary release
// over the switch (the release's own position counts) that nothing handled
// yet emits, requests focus for the switch's node and marks the event
// handled. Presses are not tracked. Space or Enter pressed while the switch
// has the focus emits and marks the key handled. Other events are ignored.
//
// Interface thread only.

#include <optional>
#include <string>

#include "sarn/app/control_intent.h"
#include "sarn/app/widgets/leaf_widget.h"

namespace sarn::widgets {

class Switch final : public LeafWidget {
public:
    Switch(bool on, ControlIntent intent, IntentQueue intent_queue);

    Switch with_id(std::string id) &&;
    // The accessible name.
    Switch with_label(std::string label) &&;

    // Appends a copy of the intent to the shared queue.
    void emit_toggle();

    bool on() const { return m_on; }
    bool is_hovered() const { return m_hovered; }
    const ControlIntent& intent() const { return m_intent; }
    const std::optional<std::string>& label() const { return m_label; }

    vorn_ui::widget::NodeId build_layout(vorn_ui::widget::LayoutContext& cx) override;
    void draw(vorn_ui::Scene& scene, const vorn_ui::Affine& transform, vorn_ui::widget::DrawContext& cx) override;
    void handle_event(const vorn_ui::Event& event, vorn_ui::widget::EventContext& cx,
                      vorn_ui::widget::NodeId node) override;
    std::string_view type_name() const override { return "Switch"; }
    std::optional<std::string_view> widget_id() const override;
    std::optional<vorn_ui::CursorShape> cursor_shape(vorn_ui::Point point) const override;
    bool is_focusable() const override { return true; }
    void set_focus(bool focused) override;
    bool has_focus() const override { return m_focused; }
    std::optional<vorn_ui::AccessNode> accessibility() const override;
    // Activate and Toggle emit and answer true; anything else answers false.
    bool perform_action(vorn_ui::AccessRequest request) override;

private:
    ControlIntent m_intent;
    IntentQueue m_intent_queue;
    std::optional<std::string> m_id;
    std::optional<std::string> m_label;
    bool m_on;
    bool m_hovered = false;
    bool m_focused = false;
};

}  // namespace sarn::widgets
