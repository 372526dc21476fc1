// Small widgets for driving the runtime in tests: a fixed-size box that
// records what it sees, and a column container that routes to its children.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "vorn_ui/widget.h"

namespace vorn_ui_test {

using namespace vorn_ui;
using namespace vorn_ui::widget;

class Box : public Widget {
 public:
  Box(float w, float h) : m_w(w), m_h(h) {}

  NodeId build_layout(LayoutContext& cx) override {
    layout::Style s;
    s.size = {w_dim(), layout::Dimension::length(m_h)};
    s.flex_shrink = 0;
    NodeId n = cx.tree.new_leaf(s);
    cx.registry.register_node(n, this);
    return n;
  }
  void apply_layout(const layout::LayoutTree& tree, NodeId node, Point origin) override {
    auto l = tree.layout(node);
    m_bounds = {origin.x + l->x, origin.y + l->y, origin.x + l->x + l->width, origin.y + l->y + l->height};
    m_placed = true;
  }
  void draw(Scene& scene, const Affine& t, DrawContext&) override {
    ++draws;
    scene.fill(FillRule::NonZero, t, Color::white(), m_bounds);
  }
  void handle_event(const Event& e, EventContext& cx, NodeId) override {
    if (const auto* b = std::get_if<PointerButtonEvent>(&e)) {
      const Point p{b->position.x / cx.scale, b->position.y / cx.scale};
      if (!b->pressed && m_bounds.contains(p) && !cx.handled) {
        ++clicks;
        cx.handled = true;
      }
    }
    ++events;
  }
  std::string_view type_name() const override { return "Box"; }
  Rect bounds() const override { return m_bounds; }
  std::optional<std::string_view> action_label() const override {
    if (label.empty()) return std::nullopt;
    return std::string_view(label);
  }
  bool is_layout_dirty() const override { return !m_placed || dirty; }
  bool needs_redraw() const override { return redraw; }
  std::optional<ControlInvocation> take_control_invocation() override {
    if (invocations.empty()) return std::nullopt;
    auto i = invocations.front();
    invocations.erase(invocations.begin());
    return i;
  }
  OperationResult perform_operation(const OperationRequest& r) override {
    if (r.kind == handles) return OperationResult::handled();
    return OperationResult::not_handled();
  }
  std::optional<std::chrono::steady_clock::time_point> next_wake_deadline() const override { return deadline; }
  bool perform_action(AccessRequest r) override {
    last_request = r;
    return true;
  }

  bool fill_width = false;
  int draws = 0, events = 0, clicks = 0;
  bool dirty = false, redraw = false;
  std::string label;
  std::string handles;
  std::vector<ControlInvocation> invocations;
  std::optional<std::chrono::steady_clock::time_point> deadline;
  std::optional<AccessRequest> last_request;

 private:
  layout::Dimension w_dim() const { return fill_width ? layout::Dimension::percent(1) : layout::Dimension::length(m_w); }
  float m_w, m_h;
  Rect m_bounds;
  bool m_placed = false;
};

class Column : public Widget {
 public:
  Column& add(WidgetPtr w) {
    m_children.push_back(std::move(w));
    return *this;
  }
  template <class W>
  W& add_widget(W w) {
    auto p = std::make_unique<W>(std::move(w));
    W& ref = *p;
    m_children.push_back(std::move(p));
    return ref;
  }

  NodeId build_layout(LayoutContext& cx) override {
    std::vector<NodeId> kids;
    for (auto& c : m_children) kids.push_back(c->build_layout(cx));
    layout::Style s;
    s.flex_direction = direction;
    s.size = size;
    s.gap = {layout::Dimension::length(gap), layout::Dimension::length(gap)};
    s.align_items = align;
    NodeId n = *cx.tree.new_with_children(s, kids);
    cx.registry.register_node(n, this);
    return n;
  }
  void apply_layout(const layout::LayoutTree& tree, NodeId node, Point origin) override {
    auto l = tree.layout(node);
    m_bounds = {origin.x + l->x, origin.y + l->y, origin.x + l->x + l->width, origin.y + l->y + l->height};
    auto kids = tree.children(node);
    for (std::size_t i = 0; i < m_children.size() && i < kids->size(); ++i)
      m_children[i]->apply_layout(tree, (*kids)[i], m_bounds.origin());
  }
  void draw(Scene& scene, const Affine& t, DrawContext& cx) override {
    for (auto& c : m_children) c->draw(scene, t, cx);
  }
  void draw_with_presence(Scene& scene, const Affine& t, DrawContext& cx, const PresenceContext& p) override {
    if (is_clipped_out(m_bounds, p)) return;
    for (auto& c : m_children) c->draw_with_presence(scene, t, cx, p);
  }
  void handle_event(const Event& e, EventContext& cx, NodeId node) override {
    auto kids = cx.tree.children(node);
    if (!kids) return;
    for (std::size_t i = 0; i < m_children.size() && i < kids->size() && !cx.handled; ++i)
      m_children[i]->handle_event(e, cx, (*kids)[i]);
  }
  std::span<const std::unique_ptr<Widget>> children() const override { return m_children; }
  std::span<std::unique_ptr<Widget>> children_mut() override { return m_children; }
  std::string_view type_name() const override { return "Column"; }
  Rect bounds() const override { return m_bounds; }
  bool is_layout_dirty() const override { return true; }  // ignored while there are children
  bool needs_redraw() const override {
    for (auto& c : m_children)
      if (c->needs_redraw()) return true;
    return false;
  }

  layout::Size2<layout::Dimension> size{layout::Dimension::percent(1), layout::Dimension::auto_()};
  float gap = 0;
  layout::FlexDirection direction = layout::FlexDirection::Column;
  layout::AlignItems align = layout::AlignItems::Stretch;

 private:
  std::vector<WidgetPtr> m_children;
  Rect m_bounds;
};

// Lays out a root in a viewport and keeps what the frame needs.
struct Harness {
  layout::LayoutTree tree;
  NodeRegistry registry;
  Environment env;
  TextRenderer text;
  RuntimeState state;
  PermissionContext permissions;
  RootLayout nodes;

  void layout(Widget& root, double w, double h) {
    env.viewport = {w, h};
    tree.clear();
    registry.clear();
    LayoutContext cx{tree, registry, env};
    nodes = *build_root_layout(root, cx, {w, h});
    ASSERT_TRUE(solve_root_layout(tree, nodes, {w, h}, registry, text).has_value());
    root.apply_layout(tree, nodes.root, {0, 0});
  }
  void reposition(Widget& root) { root.apply_layout(tree, nodes.root, {0, 0}); }
  // Delivers an event to the root; answers whether something handled it.
  EventContext send(Widget& root, const Event& e, double scale = 1.0) {
    EventContext cx{Modifiers{}, state, scale, tree};
    root.handle_event(e, cx, nodes.root);
    return cx;
  }
  Scene draw(Widget& root, std::optional<Rect> clip = std::nullopt) {
    Scene scene;
    DrawContext dcx{env.theme, text, permissions};
    root.draw_with_presence(scene, Affine::identity(), dcx, PresenceContext{clip});
    return scene;
  }
};

inline Event scroll(double dy, bool precise = true, Point at = {}) {
  ScrollEvent s;
  s.delta_y = dy;
  s.precise = precise;
  s.position = at;
  return s;
}
inline Event press(double x, double y) { return PointerButtonEvent{PointerButton::Primary, true, {x, y}}; }
inline Event release(double x, double y) { return PointerButtonEvent{PointerButton::Primary, false, {x, y}}; }
inline Event move(double x, double y) { return PointerMoveEvent{{x, y}}; }

}  // namespace vorn_ui_test
