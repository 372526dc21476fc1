// The widget contract: the interface every widget implements, the contexts
// the runtime hands to its operations, and the provided behaviour of every
// operation a widget does not implement. Interface thread only.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "vorn_ui/access.h"
#include "vorn_ui/clipboard.h"
#include "vorn_ui/control.h"
#include "vorn_ui/event.h"
#include "vorn_ui/geometry.h"
#include "vorn_ui/layout.h"
#include "vorn_ui/scene.h"
#include "vorn_ui/text.h"
#include "vorn_ui/theme.h"

namespace automerge {
class Document;
}
namespace vorn_ui::search {
class SearchProvider;
}

namespace vorn_ui::widget {

class Widget;
using NodeId = layout::NodeId;

// Which widget each layout node belongs to (the node map). Filled by
// build_layout, read by the solver's measure callback and by hit testing.
class NodeRegistry {
 public:
  void register_node(NodeId node, Widget* widget);
  Widget* widget_for(NodeId node) const;
  void clear() { m_widgets.clear(); }
  std::size_t size() const { return m_widgets.size(); }

 private:
  std::vector<Widget*> m_widgets;  // indexed by node id
};

// What the runtime knows at layout time.
struct Environment {
  Theme theme = Theme::dark();
  float scale = 1.0f;       // display scale: physical pixels per logical pixel
  float text_scale = 1.0f;  // user text size preference
  Size viewport{};          // window size in logical pixels; zero when not known
};

struct LayoutContext {
  layout::LayoutTree& tree;
  NodeRegistry& registry;
  const Environment& env;
};

// The per-frame context handed to sync.
struct FrameContext {
  std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now();
  std::uint64_t frame = 0;
};

// The runtime state the widget operations see: the shared document (may be
// absent) and the frame context.
struct RuntimeState {
  automerge::Document* document = nullptr;
  // Why the document's stored file could not be loaded; none when it loaded
  // (or there is none). While set, the document is an empty one in memory
  // and nothing done to it is saved.
  std::optional<std::string> document_error;
  FrameContext frame;
};

// What may be shown or done while drawing (the host's grants).
struct PermissionContext {
  bool permissive = true;
  static PermissionContext allow_all() { return {}; }
};

// Drawing arguments besides the scene and the transform.
struct DrawContext {
  const Theme& theme;
  TextRenderer& text;
  const PermissionContext& permissions;
};

// What the runtime knows about visibility while drawing: the visible region
// in logical pixels, when it has one.
struct PresenceContext {
  std::optional<Rect> clip;
};

// True when the bounds lie wholly outside the presence clip (zero-area
// overlap); never true without a clip.
bool is_clipped_out(const Rect& bounds, const PresenceContext& presence);

// Input arguments besides the event and the widget's own node.
struct EventContext {
  EventContext(Modifiers mods, RuntimeState& runtime_state, double display_scale, const layout::LayoutTree& layout_tree)
      : modifiers(mods), state(runtime_state), scale(display_scale), tree(layout_tree) {}

  Modifiers modifiers;
  RuntimeState& state;
  double scale = 1.0;  // divide event positions by this for logical pixels
  const layout::LayoutTree& tree;
  bool handled = false;                 // set by whoever consumed the event
  std::optional<NodeId> focus_request;  // a widget asks to be focused here
  // A widget asks for the widget with this id to be focused: now when the tree
  // holds it, else once the tree is next built. Wins over focus_request.
  std::optional<std::string> focus_id;
  bool release_focus = false;     // the focused widget lets go: the focus goes back to the page
  Clipboard* clipboard = nullptr;  // the desktop's selections, when the driver has them
};

// The player view the runtime reads from a player host.
class PlayerHostAccess {
 public:
  virtual ~PlayerHostAccess() = default;
  virtual std::optional<bool> state() const = 0;
  // A 64-bit player value and whether it is meaningful.
  virtual std::pair<std::int64_t, bool> value() const { return {1, false}; }
  virtual void set_state(bool on) = 0;
};

// A label shown for a point (tooltips, hover hints).
struct PointLabel {
  Rect bounds;
  std::string text;
};

// The pending document heads of a typed dispatch, handed to the runtime.
struct DispatchState {
  std::vector<std::array<std::uint8_t, 32>> heads;
};

using ActionResources = std::vector<vorn_actions::resource::Resource>;
using SearchProviders = std::vector<std::shared_ptr<search::SearchProvider>>;

class Widget {
 public:
  virtual ~Widget() = default;

  virtual const PlayerHostAccess* as_player_host() const { return nullptr; }
  virtual PlayerHostAccess* as_player_host_mut() { return nullptr; }
  // Once per frame before layout.
  virtual void sync(RuntimeState& state) { (void)state; }
  // Whether a later sync may still do something for this widget (for a
  // container: for one of its children). Once false it stays false, and a
  // container stops syncing the child. The default keeps a widget synced.
  virtual bool wants_sync() const { return true; }
  virtual bool update(const FrameContext& frame) {
    (void)frame;
    return false;
  }
  // Creates this widget's layout node (and its children's), registers it and returns it.
  virtual NodeId build_layout(LayoutContext& cx) = 0;
  // Content size of a measured leaf; no intrinsic size by default.
  virtual layout::SizeF measure(const layout::MeasureInput& input, TextRenderer& text);
  // Places the widget from its solved node; `origin` is the parent's top-left.
  virtual void apply_layout(const layout::LayoutTree& tree, NodeId node, Point origin) = 0;
  virtual void draw(Scene& scene, const Affine& transform, DrawContext& cx) = 0;
  virtual void handle_event(const Event& event, EventContext& cx, NodeId node) {
    (void)event;
    (void)cx;
    (void)node;
  }
  virtual std::span<const std::unique_ptr<Widget>> children() const { return {}; }
  // Calls `fn` once for each child of children_mut, in order.
  template <class F>
  void for_each_child(F&& fn) {
    for (auto& child : children_mut())
      if (child) fn(*child);
  }
  virtual std::span<std::unique_ptr<Widget>> children_mut() { return {}; }
  virtual std::vector<std::string> operation_kinds() const { return {}; }
  virtual std::string_view type_name() const = 0;
  virtual std::optional<std::string_view> widget_id() const { return std::nullopt; }
  // True when `target` is a child or some child reveals it (first true wins).
  virtual bool reveal_descendant(const Widget* target);
  virtual std::optional<Rect> child_clip_rect() const { return std::nullopt; }
  virtual Rect bounds() const = 0;
  virtual std::optional<CursorShape> cursor_shape(Point point) const {
    (void)point;
    return std::nullopt;
  }
  virtual std::optional<std::string_view> action_label() const { return std::nullopt; }
  // The bounds and a copy of action_label when the point lies inside and the label is not empty.
  virtual std::optional<PointLabel> label_at(Point point) const;
  virtual bool is_focusable() const { return false; }
  virtual void set_focus(bool focused) { (void)focused; }
  virtual bool has_focus() const { return false; }
  virtual std::optional<Rect> ime_cursor_rect() const { return std::nullopt; }
  virtual std::optional<AccessNode> accessibility() const { return std::nullopt; }
  virtual bool perform_action(AccessRequest request) {
    (void)request;
    return false;
  }
  // An activation request goes to perform_action unchanged.
  virtual bool activate(AccessRequest request) { return perform_action(request); }
  // A well-formed identifier "vorn.key-action:<kind>" ("activate", "focus",
  // "toggle", "scroll-into-view", or the kind's number) hands `request` to
  // perform_action and answers its answer; any other identifier answers false.
  virtual bool handle_key_action(std::string_view identifier, AccessRequest request);
  virtual bool needs_commit() const;
  // The first invocation any child gives, children asked in order.
  virtual std::optional<ControlInvocation> take_control_invocation();
  // Bindings derived from the own accessibility node, then every child's.
  virtual std::vector<ControlBindingMetadata> control_action_bindings() const;
  virtual void refresh_control_action_availability(const AvailableActions& available);
  virtual std::optional<std::string> get_state() const { return std::nullopt; }
  virtual void set_state(std::string_view state) { (void)state; }
  virtual std::optional<std::string> text_review() const { return std::nullopt; }
  virtual std::optional<std::string> presence_key() const { return std::nullopt; }
  virtual bool needs_idle_sync() const { return false; }
  virtual std::optional<std::string> permission_scope() const { return std::nullopt; }
  virtual ActionResources action_resources() const;
  virtual SearchProviders search_providers() const;
  virtual std::optional<DispatchState> take_dispatch_state() { return std::nullopt; }
  // Children asked in order, first handling answer wins; a leaf answers not handled.
  virtual OperationResult perform_operation(const OperationRequest& request);
  virtual bool wants_pointer_capture() const { return false; }
  virtual bool draws_above_siblings() const { return false; }
  virtual bool needs_animation_frame() const;
  virtual std::optional<std::chrono::steady_clock::time_point> next_wake_deadline() const;
  virtual bool take_structure_dirty() { return false; }
  virtual bool needs_redraw() const { return false; }
  virtual void mark_drawn() {}
  // Appends the whole bounds when needs_redraw; children are not asked.
  virtual void collect_damage(std::vector<Rect>& damage) const;
  virtual bool is_layout_dirty() const { return false; }
  // With children: whether any child needs a measure; without: is_layout_dirty.
  virtual bool layout_needs_measure() const;
  // Nothing when clipped out of the presence clip, otherwise draw.
  virtual void draw_with_presence(Scene& scene, const Affine& transform, DrawContext& cx,
                                  const PresenceContext& presence);
  virtual void draw_overlay(Scene& scene, const Affine& transform, DrawContext& cx);
};

using WidgetPtr = std::unique_ptr<Widget>;

// Control bindings derived from an accessibility node: a focusable,
// enabled, named control node yields one binding named after the node.
std::vector<ControlBindingMetadata> semantic_action_bindings(const std::optional<AccessNode>& node);

// The measure callback the solver uses with a node map: asks the widget
// registered for the node, (0, 0) for an unregistered one.
layout::MeasureFn measure_with(const NodeRegistry& registry, TextRenderer& text);

// The whole frame without a window: sync is the caller's; this builds the
// layout for `root` inside a fixed-size top node, solves and applies it.
struct RootLayout {
  NodeId top = 0;
  NodeId root = 0;
};
std::expected<RootLayout, layout::LayoutError> build_root_layout(Widget& root, LayoutContext& cx, Size viewport);
std::expected<void, layout::LayoutError> solve_root_layout(layout::LayoutTree& tree, const RootLayout& nodes,
                                                           Size viewport, const NodeRegistry& registry,
                                                           TextRenderer& text);

}  // namespace vorn_ui::widget
