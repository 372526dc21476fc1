// The layout solver: a tree of styled nodes (flex, block, grid with one
// auto-fill column track, absolute overlays) solved into rectangles, with a
// per-node cache so that an unchanged tree is not solved twice.
// Interface thread only.
#pragma once

#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace vorn_ui::layout {

using NodeId = std::uint32_t;

struct LayoutError {
  enum class Kind : std::uint8_t { InvalidNode, ChildIsAncestor };
  Kind kind;
  std::string message;
};

template <class T>
struct Size2 {
  T width{};
  T height{};
  friend bool operator==(const Size2&, const Size2&) = default;
};
using SizeF = Size2<float>;

template <class T>
struct Edges {
  T left{};
  T top{};
  T right{};
  T bottom{};
  friend bool operator==(const Edges&, const Edges&) = default;
};

// A length, a fraction of the parent's size, or automatic.
struct Dimension {
  enum class Kind : std::uint8_t { Auto, Length, Percent };
  Kind kind = Kind::Auto;
  float value = 0.0f;

  static constexpr Dimension auto_() { return {}; }
  static constexpr Dimension length(float v) { return {Kind::Length, v}; }
  static constexpr Dimension percent(float fraction) { return {Kind::Percent, fraction}; }
  constexpr bool is_auto() const { return kind == Kind::Auto; }
  friend bool operator==(const Dimension&, const Dimension&) = default;
};

// Space offered to a node along one axis.
struct AvailableSpace {
  enum class Kind : std::uint8_t { Definite, MinContent, MaxContent };
  Kind kind = Kind::MaxContent;
  float value = 0.0f;

  static constexpr AvailableSpace definite(float v) { return {Kind::Definite, v}; }
  static constexpr AvailableSpace min_content() { return {Kind::MinContent, 0.0f}; }
  static constexpr AvailableSpace max_content() { return {Kind::MaxContent, 0.0f}; }
  constexpr bool is_definite() const { return kind == Kind::Definite; }
  friend bool operator==(const AvailableSpace&, const AvailableSpace&) = default;
};

enum class Display : std::uint8_t { Flex, Block, Grid, None };
enum class Position : std::uint8_t { Relative, Absolute };
enum class FlexDirection : std::uint8_t { Row, Column };
enum class FlexWrap : std::uint8_t { NoWrap, Wrap };
enum class AlignItems : std::uint8_t { Start, End, FlexStart, FlexEnd, Center, Stretch };
enum class JustifyContent : std::uint8_t {
  Start, End, FlexStart, FlexEnd, Center, Stretch, SpaceBetween, SpaceAround, SpaceEvenly
};
enum class Overflow : std::uint8_t { Visible, Hidden, Scroll };

struct Style {
  Display display = Display::Flex;
  Position position = Position::Relative;
  // Offsets of an absolutely positioned node from its parent's padding box;
  // Auto leaves that side free.
  Edges<Dimension> inset{Dimension::auto_(), Dimension::auto_(), Dimension::auto_(), Dimension::auto_()};
  Size2<Dimension> size;
  Size2<Dimension> min_size;
  Size2<Dimension> max_size;
  Edges<Dimension> margin{Dimension::length(0), Dimension::length(0), Dimension::length(0), Dimension::length(0)};
  Edges<Dimension> padding{Dimension::length(0), Dimension::length(0), Dimension::length(0), Dimension::length(0)};
  Edges<Dimension> border{Dimension::length(0), Dimension::length(0), Dimension::length(0), Dimension::length(0)};
  std::optional<AlignItems> align_items;  // unset: stretch
  std::optional<AlignItems> align_self;
  std::optional<JustifyContent> justify_content;  // unset: start
  Size2<Dimension> gap{Dimension::length(0), Dimension::length(0)};  // width: between columns
  FlexDirection flex_direction = FlexDirection::Row;
  FlexWrap flex_wrap = FlexWrap::NoWrap;
  Dimension flex_basis = Dimension::auto_();
  float flex_grow = 0.0f;
  float flex_shrink = 1.0f;
  Size2<Overflow> overflow{Overflow::Visible, Overflow::Visible};
  // Grid only: columns repeat(auto-fill, minmax(this length, 1fr)); rows are
  // implicit and sized by their content.
  std::optional<float> grid_auto_fill_min_column;
  // Leaves only: width / height. A leaf whose width is fixed and height
  // automatic takes its height from the ratio, and the other way round.
  std::optional<float> aspect_ratio;

  friend bool operator==(const Style&, const Style&) = default;
};

// A node's solved box, relative to its parent's border box.
struct Layout {
  float x = 0.0f;
  float y = 0.0f;
  float width = 0.0f;
  float height = 0.0f;
  // Extent of the children (and padding) from the node's origin; larger than
  // the size when the content overflows.
  float content_width = 0.0f;
  float content_height = 0.0f;
  friend bool operator==(const Layout&, const Layout&) = default;
};

// What a leaf is asked to measure: the sizes already fixed by the solver, and
// the space offered on each axis.
struct MeasureInput {
  std::optional<float> known_width;
  std::optional<float> known_height;
  AvailableSpace available_width;
  AvailableSpace available_height;
};

// Measures a leaf node's content. Called only for leaves that were created
// with `measured` set.
using MeasureFn = std::function<SizeF(NodeId, const MeasureInput&)>;

struct SolveStats {
  std::uint64_t node_solves = 0;    // nodes whose layout was computed, not taken from the cache
  std::uint64_t cache_hits = 0;     // nodes answered from the cache
  std::uint64_t measure_calls = 0;  // leaf measure callbacks
};

class LayoutTree {
 public:
  LayoutTree();
  ~LayoutTree();
  LayoutTree(LayoutTree&&) noexcept;
  LayoutTree& operator=(LayoutTree&&) noexcept;

  // A node without children. With `measured` set the solver asks the measure
  // callback for its content size.
  NodeId new_leaf(const Style& style, bool measured = false);
  std::expected<NodeId, LayoutError> new_with_children(const Style& style, std::span<const NodeId> children);
  std::expected<void, LayoutError> set_style(NodeId node, const Style& style);
  std::expected<void, LayoutError> set_children(NodeId node, std::span<const NodeId> children);
  std::expected<std::span<const NodeId>, LayoutError> children(NodeId node) const;
  std::expected<const Style*, LayoutError> style(NodeId node) const;
  // The solved box; an error for an unknown node.
  std::expected<Layout, LayoutError> layout(NodeId node) const;

  // Drops the cached solutions of a node and of every ancestor.
  std::expected<void, LayoutError> mark_dirty(NodeId node);
  bool is_dirty(NodeId node) const;
  // Drops every cached solution (the next solve recomputes everything).
  void invalidate_all();

  // Solves the subtree at `root` for the available space. Nodes whose inputs
  // did not change since the last solve are answered from the cache.
  std::expected<void, LayoutError> compute_layout(NodeId root, Size2<AvailableSpace> available,
                                                  const MeasureFn& measure = {});

  // Removes every node; ids are reused afterwards.
  void clear();
  std::size_t node_count() const;
  const SolveStats& stats() const;
  void reset_stats();

  // Whether pixel rounding of the solved boxes is on (default on).
  void set_rounding(bool on);

  struct Impl;

 private:
  std::unique_ptr<Impl> m_impl;
};

}  // namespace vorn_ui::layout
