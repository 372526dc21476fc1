#pragma once
// Flex: the program's one general container. Every page, card, row, button,
// chip and overlay is a Flex or a tree of them, with the runtime's stock
// widgets and the card widgets as leaves.
//
// A Flex turns its settings into one solver style (flex, block, or a grid of
// auto-filling columns), places itself and its children from the solved
// layout, paints an optional rounded background with an optional border and
// an optional clip, routes input to its children, and can itself be a
// control: with a ControlIntent (with_intent) or an action binding
// (with_binding) it is focusable, hoverable and clickable and emits that
// request when activated.
//
// Builders take the Flex by value and return it, so calls chain:
//
//     Flex::column().with_gap(10).with_padding(6)
//         .child(label_text("Title", 14))
//         .child_if(show_icon, IconWidget(64, 12));
//
// Control input, for a Flex with an action:
//
//   event                      condition                       effect
//   pointer moved              inside bounds differs from      hovered flips, redraw
//                              hovered
//   primary pressed            inside bounds, not handled      pressed; asks for the focus
//   primary released           pressed, inside bounds, not     emit; handled = emitted
//                              handled
//   primary released           (always)                        pressed cleared, redraw
//   Enter / Space pressed      focused, not handled            emit; handled when emitted
//
// Button events test their own position (hovered follows it), so a press
// inside and a release outside emits nothing even without a move between.
// Children see every event first (overlays before their siblings); a child
// that wants pointer capture (a modal child) receives the event alone and the
// Flex does nothing more with it.
//
// Interface thread only.

#include <concepts>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "sarn/app/action_emitter.h"
#include "sarn/app/control_intent.h"
#include "vorn_actions/resource.h"
#include "vorn_ui/color.h"
#include "vorn_ui/geometry.h"
#include "vorn_ui/layout.h"
#include "vorn_ui/widget.h"

namespace sarn::widgets {

// A preferred size: from the content, the whole parent, fixed logical pixels,
// or a fraction of the parent (1.0 is all of it).
struct FlexSize {
    enum class Kind : std::uint8_t { Auto, Fill, Px, Percent };
    Kind kind = Kind::Auto;
    float value = 0.0f;

    static constexpr FlexSize automatic() { return {}; }
    static constexpr FlexSize fill() { return {Kind::Fill, 0.0f}; }
    static constexpr FlexSize px(float pixels) { return {Kind::Px, pixels}; }
    static constexpr FlexSize percent(float fraction) { return {Kind::Percent, fraction}; }

    vorn_ui::layout::Dimension dimension() const;
    friend bool operator==(const FlexSize&, const FlexSize&) = default;
};

// Across the main axis Fill stretches the children; along it Fill spreads
// them with the free space between (first and last touch the edges).
enum class FlexAlign : std::uint8_t { Start, Center, End, Fill };

enum class FlexDirection : std::uint8_t { Row, Column };

struct BorderLine {
    double width = 1.0;
    vorn_ui::Color color;
    friend bool operator==(const BorderLine&, const BorderLine&) = default;
};

// A rounded rectangle over the bounds: filled, stroked, or both.
struct Background {
    std::optional<BorderLine> border;
    double radius = 0.0;
    std::optional<vorn_ui::Color> fill;

    static Background filled(vorn_ui::Color color, double radius = 0.0) { return {std::nullopt, radius, color}; }
    // A border only, nothing filled.
    static Background outlined(double width, vorn_ui::Color color, double radius = 0.0) {
        return {BorderLine{width, color}, radius, std::nullopt};
    }
    Background with_border(double width, vorn_ui::Color color) const {
        Background b = *this;
        b.border = BorderLine{width, color};
        return b;
    }
    friend bool operator==(const Background&, const Background&) = default;
};

struct Padding {
    float left = 0.0f;
    float top = 0.0f;
    float right = 0.0f;
    float bottom = 0.0f;
    friend bool operator==(const Padding&, const Padding&) = default;
};

template <class W>
concept WidgetValue = std::derived_from<std::remove_cvref_t<W>, vorn_ui::widget::Widget>;

class Flex final : public vorn_ui::widget::Widget {
public:
    explicit Flex(FlexDirection direction);
    static Flex row() { return Flex(FlexDirection::Row); }
    static Flex column() { return Flex(FlexDirection::Column); }

    Flex(Flex&&) noexcept = default;
    Flex& operator=(Flex&&) noexcept = default;
    ~Flex() override = default;

    // ---- children ----
    Flex child(vorn_ui::widget::WidgetPtr widget) &&;
    template <WidgetValue W>
    Flex child(W widget) && {
        return std::move(*this).child(vorn_ui::widget::WidgetPtr(std::make_unique<W>(std::move(widget))));
    }
    // Appends the widget only when `condition` holds (otherwise it is dropped).
    template <WidgetValue W>
    Flex child_if(bool condition, W widget) && {
        if (!condition) return std::move(*this);
        return std::move(*this).child(std::move(widget));
    }
    // Appends every widget of the list, in order.
    template <WidgetValue W>
    Flex children_from(std::vector<W> widgets) && {
        for (auto& w : widgets) m_children.push_back(std::make_unique<W>(std::move(w)));
        m_sync_listed = false;
        return std::move(*this);
    }

    // ---- identity and control ----
    Flex with_id(std::string id) &&;
    // The accessible name; also the action label while none is set.
    Flex with_label(std::string label) &&;
    // Activating appends a copy of the intent to the queue; label and action
    // label become the intent's palette label (replacing earlier ones).
    Flex with_intent(IntentQueue queue, ControlIntent intent) &&;
    // Activating queues an invocation of the binding (drops any intent).
    Flex with_binding(vorn_actions::resource::ActionBinding binding) &&;

    // ---- look ----
    Flex with_background(Background background) &&;
    // Painted instead of the background while the pointer is over a control.
    Flex with_hover_background(Background background) &&;
    // Clips the children to the solved box and hides their overflow.
    Flex with_clip(bool clip) &&;

    // ---- size ----
    Flex with_width(FlexSize width) &&;
    Flex with_height(FlexSize height) &&;
    Flex with_min_width(float width) &&;
    Flex with_min_height(float height) &&;
    Flex with_max_width(float width) &&;
    Flex with_grow(float grow) &&;
    Flex with_shrink(float shrink) &&;

    // ---- arrangement ----
    Flex with_padding(float all) &&;
    Flex with_padding_xy(float left_right, float top_bottom) &&;
    Flex with_padding_edges(float left, float top, float right, float bottom) &&;
    // Between children on both axes (block and grid containers too).
    Flex with_gap(float gap) &&;
    Flex with_wrap(bool wrap) &&;
    // Children stacked at full width, one below the other.
    Flex with_block(bool block) &&;
    // A grid of as many columns of at least `width` as fit, sharing the rest.
    Flex with_min_track(float width) &&;
    // A Flex without children keeps this width / height ratio: with its
    // width fixed, its height follows.
    Flex with_aspect_ratio(float ratio) &&;
    Flex with_cross_align(FlexAlign align) &&;
    Flex with_main_align(FlexAlign align) &&;
    // Covers the parent and takes every event the parent receives.
    Flex with_modal(bool modal) &&;
    // Covers the parent; drawn after and hit-tested before its siblings.
    Flex with_overlay(bool overlay) &&;

    // ---- reading back ----
    FlexDirection direction() const { return m_direction; }
    bool has_action() const { return m_intent.has_value() || m_emitter.has_value(); }
    const std::optional<ControlIntent>& intent() const { return m_intent; }
    const ActionEmitter* emitter() const { return m_emitter ? &*m_emitter : nullptr; }
    const std::optional<std::string>& label() const { return m_label; }
    const std::optional<Background>& background() const { return m_background; }
    const std::optional<Background>& hover_background() const { return m_hover_background; }
    FlexSize width() const { return m_width; }
    FlexSize height() const { return m_height; }
    std::optional<float> max_width() const { return m_max_width; }
    std::optional<float> min_track() const { return m_min_track; }
    std::optional<float> aspect_ratio() const { return m_aspect_ratio; }
    float gap() const { return m_gap; }
    float grow() const { return m_grow; }
    const Padding& padding() const { return m_padding; }
    FlexAlign cross_align() const { return m_cross_align; }
    FlexAlign main_align() const { return m_main_align; }
    bool is_block() const { return m_block; }
    bool is_wrap() const { return m_wrap; }
    bool is_clip() const { return m_clip; }
    bool is_modal() const { return m_modal; }
    bool is_overlay() const { return m_overlay; }
    bool is_hovered() const { return m_hovered; }
    bool is_pressed() const { return m_pressed; }
    // The solved box (origin + location, origin + location + size), which
    // the clip layer uses; `bounds` also covers overflowing content.
    vorn_ui::Rect solved_box() const { return m_solved_box; }
    // The layout style the Flex hands the solver.
    vorn_ui::layout::Style layout_style() const;

    // Emits the control's request: an invocation of the binding, else the
    // intent into the queue. Answers whether something was emitted (a
    // disabled binding counts as emitted and queues nothing).
    bool emit_intent();

    // ---- Widget ----
    // Syncs the children that still want it; after the first sync only those.
    void sync(vorn_ui::widget::RuntimeState& state) override;
    bool wants_sync() const override { return !m_sync_listed || !m_syncing.empty(); }
    vorn_ui::widget::NodeId build_layout(vorn_ui::widget::LayoutContext& cx) override;
    void apply_layout(const vorn_ui::layout::LayoutTree& tree, vorn_ui::widget::NodeId node,
                      vorn_ui::Point origin) override;
    void draw(vorn_ui::Scene& scene, const vorn_ui::Affine& transform, vorn_ui::widget::DrawContext& cx) override;
    void handle_event(const vorn_ui::Event& event, vorn_ui::widget::EventContext& cx,
                      vorn_ui::widget::NodeId node) override;
    std::span<const std::unique_ptr<vorn_ui::widget::Widget>> children() const override { return m_children; }
    std::span<std::unique_ptr<vorn_ui::widget::Widget>> children_mut() override { return m_children; }
    std::string_view type_name() const override { return "Flex"; }
    std::optional<std::string_view> widget_id() const override;
    vorn_ui::Rect bounds() const override { return m_bounds; }
    std::optional<vorn_ui::CursorShape> cursor_shape(vorn_ui::Point point) const override;
    std::optional<std::string_view> action_label() const override;
    bool is_focusable() const override { return has_action(); }
    void set_focus(bool focused) override;
    bool has_focus() const override { return m_focused; }
    // A control held down stays held when the page is built anew before the
    // button comes up (a result that lands mid-click), so the click still counts.
    std::optional<std::string> get_state() const override;
    void set_state(std::string_view state) override;
    std::optional<vorn_ui::AccessNode> accessibility() const override;
    bool perform_action(vorn_ui::AccessRequest request) override;
    std::optional<vorn_ui::ControlInvocation> take_control_invocation() override;
    std::vector<vorn_ui::ControlBindingMetadata> control_action_bindings() const override;
    void refresh_control_action_availability(const vorn_ui::AvailableActions& available) override;
    bool wants_pointer_capture() const override;
    bool draws_above_siblings() const override { return m_overlay; }
    bool take_structure_dirty() override;
    bool needs_redraw() const override;
    void mark_drawn() override;
    bool is_layout_dirty() const override;
    void draw_with_presence(vorn_ui::Scene& scene, const vorn_ui::Affine& transform,
                            vorn_ui::widget::DrawContext& cx, const vorn_ui::widget::PresenceContext& presence) override;

private:
    void paint(vorn_ui::Scene& scene, const vorn_ui::Affine& transform, vorn_ui::widget::DrawContext& cx,
               const vorn_ui::widget::PresenceContext* presence);
    void paint_background(vorn_ui::Scene& scene, const vorn_ui::Affine& transform, const Background& background) const;
    void dispatch_to_children(const vorn_ui::Event& event, vorn_ui::widget::EventContext& cx,
                              std::span<const vorn_ui::widget::NodeId> nodes);
    void handle_own_event(const vorn_ui::Event& event, vorn_ui::widget::EventContext& cx,
                          vorn_ui::widget::NodeId node);
    void set_hovered(bool hovered);

    std::optional<Background> m_background;
    std::optional<Background> m_hover_background;
    std::optional<ControlIntent> m_intent;
    std::vector<vorn_ui::widget::WidgetPtr> m_children;
    // The children that still want sync, by index; listed on the first sync.
    std::vector<std::size_t> m_syncing;
    bool m_sync_listed = false;
    std::optional<ActionEmitter> m_emitter;
    std::optional<std::string> m_label;
    std::optional<std::string> m_action_label;
    std::optional<std::string> m_id;
    std::optional<float> m_min_width;
    std::optional<float> m_min_height;
    std::optional<float> m_max_width;
    std::optional<float> m_min_track;
    std::optional<float> m_aspect_ratio;
    FlexSize m_width;
    FlexSize m_height;
    Padding m_padding;
    std::optional<IntentQueue> m_intent_queue;
    vorn_ui::Rect m_bounds;
    vorn_ui::Rect m_solved_box;
    float m_gap = 0.0f;
    float m_grow = 0.0f;
    float m_shrink = 0.0f;
    FlexDirection m_direction;
    bool m_wrap = false;
    bool m_block = false;
    bool m_clip = false;
    bool m_modal = false;
    bool m_overlay = false;
    bool m_hovered = false;
    bool m_pressed = false;
    bool m_focused = false;
    bool m_needs_redraw = true;
    FlexAlign m_cross_align;
    FlexAlign m_main_align = FlexAlign::Start;
};

}  // namespace sarn::widgets
