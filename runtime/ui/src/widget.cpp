#include "vorn_ui/widget.h"

#include <algorithm>

namespace vorn_ui::widget {

void NodeRegistry::register_node(NodeId node, Widget* widget) {
  if (node >= m_widgets.size()) m_widgets.resize(std::size_t{node} + 1, nullptr);
  m_widgets[node] = widget;
}

Widget* NodeRegistry::widget_for(NodeId node) const { return node < m_widgets.size() ? m_widgets[node] : nullptr; }

bool is_clipped_out(const Rect& bounds, const PresenceContext& presence) {
  if (!presence.clip) return false;
  return bounds.intersect(*presence.clip).area() == 0.0;
}

layout::SizeF Widget::measure(const layout::MeasureInput& input, TextRenderer& text) {
  (void)input;
  (void)text;
  return {0.0f, 0.0f};
}

bool Widget::reveal_descendant(const Widget* target) {
  for (auto& child : children_mut()) {
    if (!child) continue;
    if (child.get() == target || child->reveal_descendant(target)) return true;
  }
  return false;
}

std::optional<PointLabel> Widget::label_at(Point point) const {
  if (!bounds().contains(point)) return std::nullopt;
  auto label = action_label();
  if (!label || label->empty()) return std::nullopt;
  return PointLabel{bounds(), std::string(*label)};
}

bool Widget::handle_key_action(std::string_view identifier, AccessRequest request) {
  constexpr std::string_view prefix = "vorn.key-action:";
  if (!identifier.starts_with(prefix)) return false;
  std::string_view rest = identifier.substr(prefix.size());
  // A well-formed identifier names a request kind after the prefix, by name
  // or number; the request given then goes to perform_action.
  static constexpr std::string_view names[] = {"activate", "focus", "toggle", "scroll-into-view",
                                               "0",        "1",     "2",      "3"};
  for (std::string_view name : names) {
    if (rest == name) return perform_action(request);
  }
  return false;
}

bool Widget::needs_commit() const {
  for (const auto& child : children())
    if (child && child->needs_commit()) return true;
  return false;
}

std::optional<ControlInvocation> Widget::take_control_invocation() {
  for (auto& child : children_mut()) {
    if (!child) continue;
    if (auto inv = child->take_control_invocation()) return inv;
  }
  return std::nullopt;
}

std::vector<ControlBindingMetadata> Widget::control_action_bindings() const {
  auto out = semantic_action_bindings(accessibility());
  for (const auto& child : children()) {
    if (!child) continue;
    auto more = child->control_action_bindings();
    out.insert(out.end(), std::make_move_iterator(more.begin()), std::make_move_iterator(more.end()));
  }
  return out;
}

void Widget::refresh_control_action_availability(const AvailableActions& available) {
  for (auto& child : children_mut())
    if (child) child->refresh_control_action_availability(available);
}

ActionResources Widget::action_resources() const { return {}; }
SearchProviders Widget::search_providers() const { return {}; }

OperationResult Widget::perform_operation(const OperationRequest& request) {
  for (auto& child : children_mut()) {
    if (!child) continue;
    auto result = child->perform_operation(request);
    if (result.is_handled()) return result;
  }
  return OperationResult::not_handled();
}

bool Widget::needs_animation_frame() const {
  for (const auto& child : children())
    if (child && child->needs_animation_frame()) return true;
  return false;
}

std::optional<std::chrono::steady_clock::time_point> Widget::next_wake_deadline() const {
  std::optional<std::chrono::steady_clock::time_point> best;
  for (const auto& child : children()) {
    if (!child) continue;
    auto d = child->next_wake_deadline();
    if (d && (!best || *d < *best)) best = d;
  }
  return best;
}

void Widget::collect_damage(std::vector<Rect>& damage) const {
  if (needs_redraw()) damage.push_back(bounds());
}

bool Widget::layout_needs_measure() const {
  auto kids = children();
  if (kids.empty()) return is_layout_dirty();
  for (const auto& child : kids)
    if (child && child->layout_needs_measure()) return true;
  return false;
}

void Widget::draw_with_presence(Scene& scene, const Affine& transform, DrawContext& cx,
                                const PresenceContext& presence) {
  if (is_clipped_out(bounds(), presence)) return;
  draw(scene, transform, cx);
}

void Widget::draw_overlay(Scene& scene, const Affine& transform, DrawContext& cx) {
  for (auto& child : children_mut()) {
    if (!child) continue;
    Affine copy = transform;
    child->draw_overlay(scene, copy, cx);
  }
}

std::vector<ControlBindingMetadata> semantic_action_bindings(const std::optional<AccessNode>& node) {
  std::vector<ControlBindingMetadata> out;
  if (!node || !node->focusable || !node->enabled || !node->name || node->name->empty()) return out;
  const char* action = nullptr;
  switch (node->role) {
    case Role::Button:
    case Role::Link:
      action = "activate";
      break;
    case Role::Switch:
      action = "toggle";
      break;
    case Role::TextInput:
    case Role::SearchInput:
    case Role::Video:
      action = "focus";
      break;
    default:
      return out;
  }
  out.push_back({*node->name, ActionAddress{"vorn.control:" + *node->name, action}});
  return out;
}

layout::MeasureFn measure_with(const NodeRegistry& registry, TextRenderer& text) {
  return [&registry, &text](NodeId node, const layout::MeasureInput& input) -> layout::SizeF {
    Widget* w = registry.widget_for(node);
    if (!w) return {0.0f, 0.0f};
    return w->measure(input, text);
  };
}

std::expected<RootLayout, layout::LayoutError> build_root_layout(Widget& root, LayoutContext& cx, Size viewport) {
  NodeId root_node = root.build_layout(cx);
  layout::Style top;
  top.size = {layout::Dimension::length(static_cast<float>(viewport.width)),
              layout::Dimension::length(static_cast<float>(viewport.height))};
  NodeId kids[] = {root_node};
  auto top_node = cx.tree.new_with_children(top, kids);
  if (!top_node) return std::unexpected(top_node.error());
  return RootLayout{*top_node, root_node};
}

std::expected<void, layout::LayoutError> solve_root_layout(layout::LayoutTree& tree, const RootLayout& nodes,
                                                           Size viewport, const NodeRegistry& registry,
                                                           TextRenderer& text) {
  using layout::AvailableSpace;
  return tree.compute_layout(nodes.top,
                             {AvailableSpace::definite(static_cast<float>(viewport.width)),
                              AvailableSpace::definite(static_cast<float>(viewport.height))},
                             measure_with(registry, text));
}

}  // namespace vorn_ui::widget
