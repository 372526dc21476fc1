// The layout solver. Each node is solved from its inputs (the sizes its parent
// fixed, the space offered, the bases of its percentages) into an output size;
// a node caches a few sizing answers and its last placement, and marking a node
// dirty drops the caches of the node and its ancestors.
#include "vorn_ui/layout.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace vorn_ui::layout {
namespace {

constexpr NodeId kNoNode = std::numeric_limits<NodeId>::max();

enum class Mode : std::uint8_t { ComputeSize, PerformLayout };

struct Input {
  std::optional<float> known_w;
  std::optional<float> known_h;
  AvailableSpace avail_w;
  AvailableSpace avail_h;
  std::optional<float> base_w;  // the parent's inner width, for percentages
  std::optional<float> base_h;
  friend bool operator==(const Input&, const Input&) = default;
};

struct Output {
  float w = 0, h = 0;
  float content_w = 0, content_h = 0;
};

struct CacheEntry {
  Input input;
  Output output;
};

struct Node {
  Style style;
  bool measured = false;
  bool alive = true;
  NodeId parent = kNoNode;
  std::vector<NodeId> children;
  Layout unrounded;
  Layout final;
  std::array<CacheEntry, 4> sizing{};
  std::uint8_t sizing_count = 0;
  std::uint8_t sizing_next = 0;
  std::optional<CacheEntry> placed;  // the inputs of the last PerformLayout
  void clear_cache() {
    sizing_count = 0;
    sizing_next = 0;
    placed.reset();
  }
};

std::optional<float> resolve(const Dimension& d, std::optional<float> base) {
  switch (d.kind) {
    case Dimension::Kind::Length:
      return d.value;
    case Dimension::Kind::Percent:
      if (base) return d.value * *base;
      return std::nullopt;
    case Dimension::Kind::Auto:
      return std::nullopt;
  }
  return std::nullopt;
}

float resolve_or_zero(const Dimension& d, std::optional<float> base) { return resolve(d, base).value_or(0.0f); }

float clamp_size(float v, std::optional<float> lo, std::optional<float> hi) {
  if (hi && v > *hi) v = *hi;
  if (lo && v < *lo) v = *lo;
  return v;
}

std::optional<float> opt_sub(std::optional<float> v, float d) {
  if (!v) return std::nullopt;
  return std::max(0.0f, *v - d);
}

AvailableSpace avail_sub(AvailableSpace a, float d) {
  if (a.is_definite()) return AvailableSpace::definite(std::max(0.0f, a.value - d));
  return a;
}

AvailableSpace avail_from(std::optional<float> known, AvailableSpace fallback) {
  if (known) return AvailableSpace::definite(*known);
  return fallback;
}

struct Box {
  float l = 0, t = 0, r = 0, b = 0;
  float horizontal() const { return l + r; }
  float vertical() const { return t + b; }
};

Box resolve_box(const Edges<Dimension>& e, std::optional<float> base_w) {
  // Percentages of paddings, borders and margins resolve against the width, as on the web.
  return {resolve_or_zero(e.left, base_w), resolve_or_zero(e.top, base_w), resolve_or_zero(e.right, base_w),
          resolve_or_zero(e.bottom, base_w)};
}

Box add(Box a, Box b) { return {a.l + b.l, a.t + b.t, a.r + b.r, a.b + b.b}; }

}  // namespace

struct LayoutTree::Impl {
  std::vector<Node> nodes;
  std::vector<NodeId> free_ids;
  SolveStats stats;
  bool rounding = true;
  const MeasureFn* measure = nullptr;

  bool valid(NodeId id) const { return id < nodes.size() && nodes[id].alive; }

  std::unexpected<LayoutError> invalid(NodeId id) const {
    return std::unexpected(LayoutError{LayoutError::Kind::InvalidNode, "no layout node " + std::to_string(id)});
  }

  NodeId allocate() {
    if (!free_ids.empty()) {
      NodeId id = free_ids.back();
      free_ids.pop_back();
      nodes[id] = Node{};
      return id;
    }
    nodes.emplace_back();
    return static_cast<NodeId>(nodes.size() - 1);
  }

  void mark_dirty_up(NodeId id) {
    while (id != kNoNode && id < nodes.size()) {
      nodes[id].clear_cache();
      id = nodes[id].parent;
    }
  }

  // ---- solving -------------------------------------------------------------

  Output compute(NodeId id, const Input& in, Mode mode) {
    Node& n = nodes[id];
    if (mode == Mode::PerformLayout) {
      if (n.placed && n.placed->input == in) {
        ++stats.cache_hits;
        return n.placed->output;
      }
    } else {
      if (n.placed && n.placed->input == in) {
        ++stats.cache_hits;
        return n.placed->output;
      }
      for (std::uint8_t i = 0; i < n.sizing_count; ++i) {
        if (n.sizing[i].input == in) {
          ++stats.cache_hits;
          return n.sizing[i].output;
        }
      }
    }
    ++stats.node_solves;
    Output out = solve(id, in, mode);
    Node& again = nodes[id];  // solving children never reallocates, but stay safe
    if (mode == Mode::PerformLayout) {
      again.placed = CacheEntry{in, out};
    } else {
      again.sizing[again.sizing_next] = CacheEntry{in, out};
      again.sizing_next = static_cast<std::uint8_t>((again.sizing_next + 1) % again.sizing.size());
      again.sizing_count = std::min<std::uint8_t>(static_cast<std::uint8_t>(again.sizing_count + 1),
                                                  static_cast<std::uint8_t>(again.sizing.size()));
    }
    return out;
  }

  Output solve(NodeId id, const Input& in, Mode mode) {
    const Style& s = nodes[id].style;
    if (s.display == Display::None) return {};
    const bool has_children = !nodes[id].children.empty();
    if (!has_children) return solve_leaf(id, in);
    switch (s.display) {
      case Display::Block:
        return solve_block(id, in, mode);
      case Display::Grid:
        return solve_grid(id, in, mode);
      default:
        return solve_flex(id, in, mode);
    }
  }

  // Sizes a node's auto dimensions may not pass.
  void own_limits(const Style& s, const Input& in, std::optional<float>& min_w, std::optional<float>& max_w,
                  std::optional<float>& min_h, std::optional<float>& max_h) {
    min_w = resolve(s.min_size.width, in.base_w);
    max_w = resolve(s.max_size.width, in.base_w);
    min_h = resolve(s.min_size.height, in.base_h);
    max_h = resolve(s.max_size.height, in.base_h);
  }

  Output finish(const Style& s, const Input& in, float w, float h, float cw, float ch, const Box& pb) {
    std::optional<float> min_w, max_w, min_h, max_h;
    own_limits(s, in, min_w, max_w, min_h, max_h);
    if (!in.known_w) w = clamp_size(w, min_w, max_w);
    if (!in.known_h) h = clamp_size(h, min_h, max_h);
    w = std::max(w, pb.horizontal());
    h = std::max(h, pb.vertical());
    return {w, h, std::max(cw, w), std::max(ch, h)};
  }

  Output solve_leaf(NodeId id, const Input& given) {
    const Node& n = nodes[id];
    const Style& s = n.style;
    Box pb = add(resolve_box(s.padding, given.base_w), resolve_box(s.border, given.base_w));
    // A ratio fixes the second size as soon as the first one is known.
    Input in = given;
    if (s.aspect_ratio && *s.aspect_ratio > 0.0f && std::isfinite(*s.aspect_ratio)) {
      if (in.known_w && !in.known_h) in.known_h = std::max(*in.known_w / *s.aspect_ratio, pb.vertical());
      if (in.known_h && !in.known_w) in.known_w = std::max(*in.known_h * *s.aspect_ratio, pb.horizontal());
    }
    float w = in.known_w.value_or(pb.horizontal());
    float h = in.known_h.value_or(pb.vertical());
    if (n.measured && measure && *measure && (!in.known_w || !in.known_h)) {
      MeasureInput mi;
      mi.known_width = opt_sub(in.known_w, pb.horizontal());
      mi.known_height = opt_sub(in.known_h, pb.vertical());
      std::optional<float> min_w, max_w, min_h, max_h;
      own_limits(s, in, min_w, max_w, min_h, max_h);
      AvailableSpace aw = avail_sub(in.avail_w, pb.horizontal());
      if (max_w && (!aw.is_definite() || *max_w - pb.horizontal() < aw.value))
        if (aw.kind != AvailableSpace::Kind::MinContent)
          aw = AvailableSpace::definite(std::max(0.0f, *max_w - pb.horizontal()));
      mi.available_width = mi.known_width ? AvailableSpace::definite(*mi.known_width) : aw;
      mi.available_height = mi.known_height ? AvailableSpace::definite(*mi.known_height)
                                            : avail_sub(in.avail_h, pb.vertical());
      ++stats.measure_calls;
      SizeF m = (*measure)(id, mi);
      if (!in.known_w) w = m.width + pb.horizontal();
      if (!in.known_h) h = m.height + pb.vertical();
    }
    return finish(s, given, w, h, 0, 0, pb);
  }

  // The box a child contributes to its parent's content size.
  static void extend_content(float& cw, float& ch, const Node& c) {
    const Layout& l = c.unrounded;
    bool visible_x = c.style.overflow.width == Overflow::Visible;
    bool visible_y = c.style.overflow.height == Overflow::Visible;
    cw = std::max(cw, l.x + (visible_x ? std::max(l.width, l.content_width) : l.width));
    ch = std::max(ch, l.y + (visible_y ? std::max(l.height, l.content_height) : l.height));
  }

  void place(NodeId child, float x, float y, const Output& o) {
    Layout& l = nodes[child].unrounded;
    l.x = x;
    l.y = y;
    l.width = o.w;
    l.height = o.h;
    l.content_width = o.content_w;
    l.content_height = o.content_h;
  }

  // Children with absolute position, placed against the padding box.
  void place_absolute(NodeId id, float w, float h, const Box& border, float& cw, float& ch, Mode mode) {
    if (mode != Mode::PerformLayout) return;
    const float pw = std::max(0.0f, w - border.horizontal());
    const float ph = std::max(0.0f, h - border.vertical());
    for (NodeId c : nodes[id].children) {
      const Style& cs = nodes[c].style;
      if (cs.position != Position::Absolute || cs.display == Display::None) continue;
      auto left = resolve(cs.inset.left, pw), right = resolve(cs.inset.right, pw);
      auto top = resolve(cs.inset.top, ph), bottom = resolve(cs.inset.bottom, ph);
      auto cw_known = resolve(cs.size.width, pw), ch_known = resolve(cs.size.height, ph);
      if (!cw_known && left && right) cw_known = std::max(0.0f, pw - *left - *right);
      if (!ch_known && top && bottom) ch_known = std::max(0.0f, ph - *top - *bottom);
      if (cw_known) cw_known = clamp_size(*cw_known, resolve(cs.min_size.width, pw), resolve(cs.max_size.width, pw));
      if (ch_known) ch_known = clamp_size(*ch_known, resolve(cs.min_size.height, ph), resolve(cs.max_size.height, ph));
      Input ci{cw_known, ch_known, AvailableSpace::definite(pw), AvailableSpace::definite(ph), pw, ph};
      Output sized = compute(c, ci, Mode::ComputeSize);
      Input fin{sized.w, sized.h, AvailableSpace::definite(pw), AvailableSpace::definite(ph), pw, ph};
      Output o = compute(c, fin, Mode::PerformLayout);
      float x = left ? *left : (right ? pw - *right - o.w : 0.0f);
      float y = top ? *top : (bottom ? ph - *bottom - o.h : 0.0f);
      place(c, border.l + x, border.t + y, o);
      extend_content(cw, ch, nodes[c]);
    }
  }

  static bool in_flow(const Node& c) {
    return c.style.position != Position::Absolute && c.style.display != Display::None;
  }

  void hide(NodeId c) {
    // Undisplayed nodes get an empty box at the origin.
    nodes[c].unrounded = Layout{};
  }

  // ---- block ---------------------------------------------------------------

  Output solve_block(NodeId id, const Input& in, Mode mode) {
    const Style& s = nodes[id].style;
    Box pad = resolve_box(s.padding, in.base_w), border = resolve_box(s.border, in.base_w);
    Box pb = add(pad, border);
    std::optional<float> inner_w = opt_sub(in.known_w, pb.horizontal());
    std::optional<float> inner_h = opt_sub(in.known_h, pb.vertical());
    AvailableSpace avail_w = avail_from(inner_w, avail_sub(in.avail_w, pb.horizontal()));
    const float gap = resolve_or_zero(s.gap.height, inner_h);

    const std::vector<NodeId> kids = nodes[id].children;
    // Width of the children: the inner width, or the widest child when the width is open.
    float content_inner_w = 0;
    if (!inner_w) {
      for (NodeId c : kids) {
        if (!in_flow(nodes[c])) continue;
        const Style& cs = nodes[c].style;
        Box m = resolve_box(cs.margin, std::nullopt);
        Input ci{resolve(cs.size.width, std::nullopt), resolve(cs.size.height, std::nullopt), avail_w,
                 AvailableSpace::max_content(), std::nullopt, std::nullopt};
        content_inner_w = std::max(content_inner_w, compute(c, ci, Mode::ComputeSize).w + m.horizontal());
      }
    }
    const float child_base_w = inner_w.value_or(content_inner_w);
    float y = 0;
    bool first = true;
    float cw = 0, ch = 0;
    for (NodeId c : kids) {
      if (!in_flow(nodes[c])) {
        if (nodes[c].style.display == Display::None) hide(c);
        continue;
      }
      const Style& cs = nodes[c].style;
      Box m = resolve_box(cs.margin, child_base_w);
      std::optional<float> w = resolve(cs.size.width, child_base_w);
      if (!w) w = std::max(0.0f, child_base_w - m.horizontal());
      *w = clamp_size(*w, resolve(cs.min_size.width, child_base_w), resolve(cs.max_size.width, child_base_w));
      std::optional<float> h = resolve(cs.size.height, inner_h);
      if (h) *h = clamp_size(*h, resolve(cs.min_size.height, inner_h), resolve(cs.max_size.height, inner_h));
      Input ci{w, h, AvailableSpace::definite(*w), AvailableSpace::max_content(), child_base_w, inner_h};
      if (!first) y += gap;
      first = false;
      y += m.t;
      Output o = compute(c, ci, mode == Mode::PerformLayout ? Mode::ComputeSize : Mode::ComputeSize);
      if (mode == Mode::PerformLayout) {
        Input fin{o.w, o.h, AvailableSpace::definite(o.w), AvailableSpace::definite(o.h), child_base_w, inner_h};
        o = compute(c, fin, Mode::PerformLayout);
        place(c, pb.l + m.l, pb.t + y, o);
        extend_content(cw, ch, nodes[c]);
      }
      y += o.h + m.b;
    }
    float w = in.known_w.value_or(child_base_w + pb.horizontal());
    float h = in.known_h.value_or(y + pb.vertical());
    Output out = finish(s, in, w, h, 0, 0, pb);
    place_absolute(id, out.w, out.h, border, cw, ch, mode);
    out.content_w = std::max(out.w, cw + pad.r + border.r);
    out.content_h = std::max(out.h, ch + pad.b + border.b);
    if (mode != Mode::PerformLayout) out.content_w = out.w, out.content_h = out.h;
    return out;
  }

  // ---- grid ----------------------------------------------------------------

  Output solve_grid(NodeId id, const Input& in, Mode mode) {
    const Style& s = nodes[id].style;
    Box pad = resolve_box(s.padding, in.base_w), border = resolve_box(s.border, in.base_w);
    Box pb = add(pad, border);
    std::optional<float> inner_w = opt_sub(in.known_w, pb.horizontal());
    std::optional<float> inner_h = opt_sub(in.known_h, pb.vertical());
    const float col_gap = resolve_or_zero(s.gap.width, inner_w);
    const float row_gap = resolve_or_zero(s.gap.height, inner_h);
    const float min_track = std::max(0.0f, s.grid_auto_fill_min_column.value_or(0.0f));

    const std::vector<NodeId> kids = nodes[id].children;
    std::vector<NodeId> items;
    for (NodeId c : kids) {
      if (in_flow(nodes[c]))
        items.push_back(c);
      else if (nodes[c].style.display == Display::None)
        hide(c);
    }

    std::optional<float> width = inner_w;
    if (!width && in.avail_w.is_definite()) {
      // An auto-width grid offered a definite width fills it, like a block.
      width = std::max(0.0f, in.avail_w.value - pb.horizontal());
    }
    std::size_t columns = 1;
    float col_w = min_track;
    if (width) {
      if (min_track + col_gap > 0) {
        // Bounded so that a huge or non-finite width cannot ask for absurd track counts.
        const float fit = std::floor((*width + col_gap) / (min_track + col_gap));
        columns = std::isfinite(fit) ? static_cast<std::size_t>(std::clamp(fit, 1.0f, 4096.0f)) : 1;
      }
      col_w = std::max(0.0f, (*width - col_gap * static_cast<float>(columns - 1)) / static_cast<float>(columns));
    } else {
      // One repetition when the width is open: the track is as wide as the widest item.
      for (NodeId c : items) {
        Input ci{std::nullopt, std::nullopt, in.avail_w, AvailableSpace::max_content(), std::nullopt, std::nullopt};
        col_w = std::max(col_w, compute(c, ci, Mode::ComputeSize).w);
      }
    }
    const AlignItems align = s.align_items.value_or(AlignItems::Stretch);

    float y = 0;
    float cw = 0, ch = 0;
    for (std::size_t row_start = 0; row_start < items.size(); row_start += columns) {
      const std::size_t row_end = std::min(items.size(), row_start + columns);
      float row_h = 0;
      struct Cell {
        float w;
        std::optional<float> h;
        Output sized;
      };
      std::vector<Cell> cells;
      for (std::size_t i = row_start; i < row_end; ++i) {
        const Style& cs = nodes[items[i]].style;
        std::optional<float> w = resolve(cs.size.width, col_w);
        float iw = clamp_size(w.value_or(col_w), resolve(cs.min_size.width, col_w), resolve(cs.max_size.width, col_w));
        std::optional<float> h = resolve(cs.size.height, inner_h);
        Input ci{iw, h, AvailableSpace::definite(iw), AvailableSpace::max_content(), col_w, inner_h};
        Output o = compute(items[i], ci, Mode::ComputeSize);
        row_h = std::max(row_h, o.h);
        cells.push_back({iw, h, o});
      }
      if (row_start > 0) y += row_gap;
      if (mode == Mode::PerformLayout) {
        for (std::size_t i = row_start; i < row_end; ++i) {
          Cell& cell = cells[i - row_start];
          const Style& cs = nodes[items[i]].style;
          AlignItems a = cs.align_self.value_or(align);
          float h = cell.sized.h;
          float off = 0;
          if (a == AlignItems::Stretch && !cell.h)
            h = clamp_size(row_h, resolve(cs.min_size.height, inner_h), resolve(cs.max_size.height, inner_h));
          else if (a == AlignItems::Center)
            off = (row_h - h) / 2;
          else if (a == AlignItems::End || a == AlignItems::FlexEnd)
            off = row_h - h;
          Input fin{cell.w, h, AvailableSpace::definite(cell.w), AvailableSpace::definite(h), col_w, inner_h};
          Output o = compute(items[i], fin, Mode::PerformLayout);
          const std::size_t col = i - row_start;
          place(items[i], pb.l + static_cast<float>(col) * (col_w + col_gap), pb.t + y + off, o);
          extend_content(cw, ch, nodes[items[i]]);
        }
      }
      y += row_h;
    }
    const float used_w =
        static_cast<float>(columns) * col_w + col_gap * static_cast<float>(columns > 0 ? columns - 1 : 0);
    float w = in.known_w.value_or((width ? *width : used_w) + pb.horizontal());
    float h = in.known_h.value_or(y + pb.vertical());
    Output out = finish(s, in, w, h, 0, 0, pb);
    place_absolute(id, out.w, out.h, border, cw, ch, mode);
    out.content_w = std::max(out.w, cw + pad.r + border.r);
    out.content_h = std::max(out.h, ch + pad.b + border.b);
    if (mode != Mode::PerformLayout) out.content_w = out.w, out.content_h = out.h;
    return out;
  }

  // ---- flex ----------------------------------------------------------------

  struct Item {
    NodeId id;
    Box margin;
    std::optional<float> main_size, cross_size;  // from the style
    std::optional<float> min_main, max_main, min_cross, max_cross;
    float basis = 0;
    float hypothetical = 0;
    float target = 0;  // final main size
    float cross = 0;   // final cross size
    bool frozen = false;
    bool content_basis = false;  // the basis came from the content
    AlignItems align = AlignItems::Stretch;
  };

  Output solve_flex(NodeId id, const Input& in, Mode mode) {
    const Style& s = nodes[id].style;
    const bool row = s.flex_direction == FlexDirection::Row;
    Box pad = resolve_box(s.padding, in.base_w), border = resolve_box(s.border, in.base_w);
    Box pb = add(pad, border);
    std::optional<float> inner_w = opt_sub(in.known_w, pb.horizontal());
    std::optional<float> inner_h = opt_sub(in.known_h, pb.vertical());
    AvailableSpace avail_w = avail_from(inner_w, avail_sub(in.avail_w, pb.horizontal()));
    AvailableSpace avail_h = avail_from(inner_h, avail_sub(in.avail_h, pb.vertical()));
    // A max size bounds the space offered to the children.
    if (!inner_w) {
      if (auto mw = resolve(s.max_size.width, in.base_w); mw && avail_w.kind != AvailableSpace::Kind::MinContent) {
        float cap = std::max(0.0f, *mw - pb.horizontal());
        if (!avail_w.is_definite() || cap < avail_w.value) avail_w = AvailableSpace::definite(cap);
      }
    }

    auto main_of = [row](float w, float h) { return row ? w : h; };
    auto cross_of = [row](float w, float h) { return row ? h : w; };
    const std::optional<float> inner_main = row ? inner_w : inner_h;
    const std::optional<float> inner_cross = row ? inner_h : inner_w;
    const AvailableSpace avail_main = row ? avail_w : avail_h;
    const AvailableSpace avail_cross = row ? avail_h : avail_w;
    const float gap_main = resolve_or_zero(row ? s.gap.width : s.gap.height, inner_main);
    const float gap_cross = resolve_or_zero(row ? s.gap.height : s.gap.width, inner_cross);
    const AlignItems container_align = s.align_items.value_or(AlignItems::Stretch);
    const bool wrap = s.flex_wrap == FlexWrap::Wrap;

    const std::vector<NodeId> kids = nodes[id].children;
    std::vector<Item> items;
    items.reserve(kids.size());
    for (NodeId c : kids) {
      if (!in_flow(nodes[c])) {
        if (nodes[c].style.display == Display::None) hide(c);
        continue;
      }
      const Style& cs = nodes[c].style;
      Item it;
      it.id = c;
      it.margin = resolve_box(cs.margin, inner_w);
      auto w = resolve(cs.size.width, inner_w), h = resolve(cs.size.height, inner_h);
      it.main_size = row ? w : h;
      it.cross_size = row ? h : w;
      auto min_w = resolve(cs.min_size.width, inner_w), min_h = resolve(cs.min_size.height, inner_h);
      auto max_w = resolve(cs.max_size.width, inner_w), max_h = resolve(cs.max_size.height, inner_h);
      it.min_main = row ? min_w : min_h;
      it.max_main = row ? max_w : max_h;
      it.min_cross = row ? min_h : min_w;
      it.max_cross = row ? max_h : max_w;
      it.align = cs.align_self.value_or(container_align);
      if (it.cross_size) it.cross_size = clamp_size(*it.cross_size, it.min_cross, it.max_cross);
      const float margin_cross = row ? it.margin.vertical() : it.margin.horizontal();
      const float margin_main = row ? it.margin.horizontal() : it.margin.vertical();

      // Flex basis: explicit, else the main size, else the content size.
      std::optional<float> basis = resolve(cs.flex_basis, inner_main);
      if (!basis) basis = it.main_size;
      if (!basis) {
        std::optional<float> cross_known = it.cross_size;
        if (!cross_known && it.align == AlignItems::Stretch && inner_cross && !wrap)
          cross_known = clamp_size(std::max(0.0f, *inner_cross - margin_cross), it.min_cross, it.max_cross);
        AvailableSpace am = avail_sub(avail_main, margin_main);
        AvailableSpace ac = avail_sub(avail_cross, margin_cross);
        Input ci = row ? Input{std::nullopt, cross_known, am, ac, inner_w, inner_h}
                       : Input{cross_known, std::nullopt, ac, am, inner_w, inner_h};
        Output o = compute(c, ci, Mode::ComputeSize);
        basis = main_of(o.w, o.h);
        it.content_basis = true;
      }
      it.basis = std::max(0.0f, *basis);
      // Automatic minimum size: an item whose content is visible does not
      // shrink below its content; across a column that is its content height,
      // along a row its min-content width.
      const bool visible_main = (row ? cs.overflow.width : cs.overflow.height) == Overflow::Visible;
      if (!it.min_main && visible_main && cs.flex_shrink > 0 && it.content_basis) {
        if (!row) {
          it.min_main = it.basis;
        } else {
          Input ci{std::nullopt, it.cross_size, AvailableSpace::min_content(), avail_sub(avail_cross, margin_cross),
                   inner_w, inner_h};
          it.min_main = compute(c, ci, Mode::ComputeSize).w;
        }
        if (it.max_main && *it.min_main > *it.max_main) it.min_main = it.max_main;
      }
      it.hypothetical = clamp_size(it.basis, it.min_main, it.max_main);
      items.push_back(it);
    }

    // Lines.
    std::optional<float> line_limit = inner_main;
    if (!line_limit && avail_main.is_definite()) line_limit = avail_main.value;
    std::vector<std::pair<std::size_t, std::size_t>> lines;
    {
      std::size_t start = 0;
      float used = 0;
      for (std::size_t i = 0; i < items.size(); ++i) {
        const float outer = items[i].hypothetical + (row ? items[i].margin.horizontal() : items[i].margin.vertical());
        if (wrap && line_limit && i > start && used + gap_main + outer > *line_limit + 0.001f) {
          lines.emplace_back(start, i);
          start = i;
          used = outer;
        } else {
          used += (i > start ? gap_main : 0.0f) + outer;
        }
      }
      if (start < items.size() || items.empty()) lines.emplace_back(start, items.size());
    }

    // Resolve flexible lengths of each line.
    float container_main_content = 0;
    for (auto [a, b] : lines) {
      float sum_outer = 0;
      for (std::size_t i = a; i < b; ++i)
        sum_outer += items[i].hypothetical + (row ? items[i].margin.horizontal() : items[i].margin.vertical());
      const float gaps = b > a ? gap_main * static_cast<float>(b - a - 1) : 0.0f;
      for (std::size_t i = a; i < b; ++i) {
        items[i].target = items[i].hypothetical;
        items[i].frozen = false;
      }
      if (inner_main) {
        const float free_space = *inner_main - sum_outer - gaps;
        const bool growing = free_space > 0;
        for (std::size_t i = a; i < b; ++i) {
          const Style& cs = nodes[items[i].id].style;
          const float factor = growing ? cs.flex_grow : cs.flex_shrink;
          if (factor <= 0 || free_space == 0) {
            items[i].frozen = true;
            items[i].target = items[i].hypothetical;
          } else {
            items[i].target = items[i].basis;  // flexing starts from the basis
          }
        }
        // Distribute, freezing items that hit their limits, until stable.
        for (std::size_t round = 0; round <= b - a; ++round) {
          float used = gaps;
          float factors = 0;
          for (std::size_t i = a; i < b; ++i) {
            const Style& cs = nodes[items[i].id].style;
            used += (items[i].frozen ? items[i].target : items[i].basis) +
                    (row ? items[i].margin.horizontal() : items[i].margin.vertical());
            if (!items[i].frozen) factors += growing ? cs.flex_grow : cs.flex_shrink * items[i].basis;
          }
          const float remaining = *inner_main - used;
          if (factors <= 0) break;
          bool clamped = false;
          for (std::size_t i = a; i < b; ++i) {
            if (items[i].frozen) continue;
            const Style& cs = nodes[items[i].id].style;
            const float share = growing ? cs.flex_grow : cs.flex_shrink * items[i].basis;
            float t = items[i].basis + remaining * share / factors;
            float c = clamp_size(std::max(0.0f, t), items[i].min_main, items[i].max_main);
            items[i].target = c;
            if (c != t) {
              items[i].frozen = true;
              clamped = true;
            }
          }
          if (!clamped) break;
        }
      }
      float line_main = gaps;
      for (std::size_t i = a; i < b; ++i)
        line_main += items[i].target + (row ? items[i].margin.horizontal() : items[i].margin.vertical());
      container_main_content = std::max(container_main_content, line_main);
    }

    // Cross sizes.
    const bool single_line = lines.size() <= 1;
    std::vector<float> line_cross(lines.size(), 0.0f);
    for (std::size_t li = 0; li < lines.size(); ++li) {
      auto [a, b] = lines[li];
      for (std::size_t i = a; i < b; ++i) {
        Item& it = items[i];
        const float margin_cross = row ? it.margin.vertical() : it.margin.horizontal();
        if (it.cross_size) {
          it.cross = *it.cross_size;
        } else if (it.align == AlignItems::Stretch && single_line && inner_cross) {
          it.cross = clamp_size(std::max(0.0f, *inner_cross - margin_cross), it.min_cross, it.max_cross);
        } else {
          AvailableSpace ac = avail_sub(inner_cross ? AvailableSpace::definite(*inner_cross) : avail_cross, margin_cross);
          Input ci = row ? Input{it.target, std::nullopt, AvailableSpace::definite(it.target), ac, inner_w, inner_h}
                         : Input{std::nullopt, it.target, ac, AvailableSpace::definite(it.target), inner_w, inner_h};
          Output o = compute(it.id, ci, Mode::ComputeSize);
          it.cross = clamp_size(cross_of(o.w, o.h), it.min_cross, it.max_cross);
        }
        line_cross[li] = std::max(line_cross[li], it.cross + margin_cross);
      }
      if (single_line && inner_cross) line_cross[li] = *inner_cross;
    }
    // Stretch auto-sized items to their line.
    for (std::size_t li = 0; li < lines.size(); ++li) {
      auto [a, b] = lines[li];
      for (std::size_t i = a; i < b; ++i) {
        Item& it = items[i];
        if (it.align == AlignItems::Stretch && !it.cross_size) {
          const float margin_cross = row ? it.margin.vertical() : it.margin.horizontal();
          it.cross = clamp_size(std::max(0.0f, line_cross[li] - margin_cross), it.min_cross, it.max_cross);
        }
      }
    }
    float cross_content = 0;
    for (std::size_t li = 0; li < lines.size(); ++li) cross_content += line_cross[li] + (li ? gap_cross : 0.0f);

    const float main_total = inner_main.value_or(container_main_content);
    const float cross_total = inner_cross.value_or(cross_content);
    float w = in.known_w.value_or((row ? main_total : cross_total) + pb.horizontal());
    float h = in.known_h.value_or((row ? cross_total : main_total) + pb.vertical());
    Output out = finish(s, in, w, h, 0, 0, pb);
    if (mode != Mode::PerformLayout) return out;

    // Placement.
    const float final_inner_main = std::max(0.0f, main_of(out.w, out.h) - (row ? pb.horizontal() : pb.vertical()));
    const JustifyContent justify = s.justify_content.value_or(JustifyContent::FlexStart);
    float cw = 0, ch = 0;
    float cross_pos = 0;
    for (std::size_t li = 0; li < lines.size(); ++li) {
      auto [a, b] = lines[li];
      const std::size_t count = b - a;
      float used = count ? gap_main * static_cast<float>(count - 1) : 0.0f;
      for (std::size_t i = a; i < b; ++i)
        used += items[i].target + (row ? items[i].margin.horizontal() : items[i].margin.vertical());
      const float free_space = final_inner_main - used;
      float start = 0, between = gap_main;
      switch (justify) {
        case JustifyContent::Center:
          start = free_space / 2;
          break;
        case JustifyContent::End:
        case JustifyContent::FlexEnd:
          start = free_space;
          break;
        case JustifyContent::SpaceBetween:
          if (count > 1 && free_space > 0) between += free_space / static_cast<float>(count - 1);
          break;
        case JustifyContent::SpaceAround:
          if (count > 0 && free_space > 0) {
            start = free_space / static_cast<float>(count) / 2;
            between += free_space / static_cast<float>(count);
          }
          break;
        case JustifyContent::SpaceEvenly:
          if (count > 0 && free_space > 0) {
            start = free_space / static_cast<float>(count + 1);
            between += free_space / static_cast<float>(count + 1);
          }
          break;
        default:
          break;
      }
      float main_pos = start;
      for (std::size_t i = a; i < b; ++i) {
        Item& it = items[i];
        const float mm_start = row ? it.margin.l : it.margin.t;
        const float mm_end = row ? it.margin.r : it.margin.b;
        const float mc_start = row ? it.margin.t : it.margin.l;
        const float mc_total = row ? it.margin.vertical() : it.margin.horizontal();
        float offset = 0;
        switch (it.align) {
          case AlignItems::Center:
            offset = (line_cross[li] - it.cross - mc_total) / 2;
            break;
          case AlignItems::End:
          case AlignItems::FlexEnd:
            offset = line_cross[li] - it.cross - mc_total;
            break;
          default:
            break;
        }
        main_pos += mm_start;
        const float cw_item = row ? it.target : it.cross;
        const float ch_item = row ? it.cross : it.target;
        Input fin{cw_item, ch_item, AvailableSpace::definite(cw_item), AvailableSpace::definite(ch_item), inner_w,
                  inner_h};
        Output o = compute(it.id, fin, Mode::PerformLayout);
        const float x = row ? main_pos : cross_pos + offset + mc_start;
        const float y = row ? cross_pos + offset + mc_start : main_pos;
        place(it.id, pb.l + x, pb.t + y, o);
        extend_content(cw, ch, nodes[it.id]);
        main_pos += it.target + mm_end + between;
      }
      cross_pos += line_cross[li] + gap_cross;
    }
    place_absolute(id, out.w, out.h, border, cw, ch, mode);
    out.content_w = std::max(out.w, cw + pad.r + border.r);
    out.content_h = std::max(out.h, ch + pad.b + border.b);
    return out;
  }

  // ---- rounding ------------------------------------------------------------

  void round_tree(NodeId id, float abs_x, float abs_y, float parent_rx, float parent_ry) {
    Node& n = nodes[id];
    const Layout& u = n.unrounded;
    const float ax = abs_x + u.x, ay = abs_y + u.y;
    if (rounding) {
      const float rx = std::round(ax), ry = std::round(ay);
      n.final.x = rx - parent_rx;
      n.final.y = ry - parent_ry;
      n.final.width = std::round(ax + u.width) - rx;
      n.final.height = std::round(ay + u.height) - ry;
      n.final.content_width = std::round(ax + u.content_width) - rx;
      n.final.content_height = std::round(ay + u.content_height) - ry;
      for (NodeId c : n.children) round_tree(c, ax, ay, rx, ry);
    } else {
      n.final = u;
      for (NodeId c : n.children) round_tree(c, ax, ay, ax, ay);
    }
  }
};

LayoutTree::LayoutTree() : m_impl(std::make_unique<Impl>()) {}
LayoutTree::~LayoutTree() = default;
LayoutTree::LayoutTree(LayoutTree&&) noexcept = default;
LayoutTree& LayoutTree::operator=(LayoutTree&&) noexcept = default;

NodeId LayoutTree::new_leaf(const Style& style, bool measured) {
  NodeId id = m_impl->allocate();
  m_impl->nodes[id].style = style;
  m_impl->nodes[id].measured = measured;
  return id;
}

std::expected<NodeId, LayoutError> LayoutTree::new_with_children(const Style& style, std::span<const NodeId> children) {
  for (NodeId c : children)
    if (!m_impl->valid(c)) return m_impl->invalid(c);
  NodeId id = m_impl->allocate();
  Node& n = m_impl->nodes[id];
  n.style = style;
  n.children.assign(children.begin(), children.end());
  for (NodeId c : children) {
    NodeId old = m_impl->nodes[c].parent;
    if (old != kNoNode && old != id && m_impl->valid(old)) {
      auto& sib = m_impl->nodes[old].children;
      sib.erase(std::remove(sib.begin(), sib.end(), c), sib.end());
      m_impl->mark_dirty_up(old);
    }
    m_impl->nodes[c].parent = id;
  }
  return id;
}

std::expected<void, LayoutError> LayoutTree::set_style(NodeId node, const Style& style) {
  if (!m_impl->valid(node)) return m_impl->invalid(node);
  if (m_impl->nodes[node].style == style) return {};
  m_impl->nodes[node].style = style;
  m_impl->mark_dirty_up(node);
  return {};
}

std::expected<void, LayoutError> LayoutTree::set_children(NodeId node, std::span<const NodeId> children) {
  if (!m_impl->valid(node)) return m_impl->invalid(node);
  for (NodeId c : children) {
    if (!m_impl->valid(c)) return m_impl->invalid(c);
    for (NodeId a = node; a != kNoNode; a = m_impl->nodes[a].parent)
      if (a == c)
        return std::unexpected(LayoutError{LayoutError::Kind::ChildIsAncestor, "a node cannot hold its ancestor"});
  }
  for (NodeId old : m_impl->nodes[node].children)
    if (m_impl->nodes[old].parent == node) m_impl->nodes[old].parent = kNoNode;
  m_impl->nodes[node].children.assign(children.begin(), children.end());
  for (NodeId c : children) m_impl->nodes[c].parent = node;
  m_impl->mark_dirty_up(node);
  return {};
}

std::expected<std::span<const NodeId>, LayoutError> LayoutTree::children(NodeId node) const {
  if (!m_impl->valid(node)) return m_impl->invalid(node);
  return std::span<const NodeId>(m_impl->nodes[node].children);
}

std::expected<const Style*, LayoutError> LayoutTree::style(NodeId node) const {
  if (!m_impl->valid(node)) return m_impl->invalid(node);
  return &m_impl->nodes[node].style;
}

std::expected<Layout, LayoutError> LayoutTree::layout(NodeId node) const {
  if (!m_impl->valid(node)) return m_impl->invalid(node);
  return m_impl->nodes[node].final;
}

std::expected<void, LayoutError> LayoutTree::mark_dirty(NodeId node) {
  if (!m_impl->valid(node)) return m_impl->invalid(node);
  m_impl->mark_dirty_up(node);
  return {};
}

bool LayoutTree::is_dirty(NodeId node) const {
  if (!m_impl->valid(node)) return true;
  return !m_impl->nodes[node].placed.has_value();
}

void LayoutTree::invalidate_all() {
  for (Node& n : m_impl->nodes) n.clear_cache();
}

std::expected<void, LayoutError> LayoutTree::compute_layout(NodeId root, Size2<AvailableSpace> available,
                                                            const MeasureFn& measure) {
  if (!m_impl->valid(root)) return m_impl->invalid(root);
  Impl& im = *m_impl;
  const Style& s = im.nodes[root].style;
  std::optional<float> base_w, base_h;
  if (available.width.is_definite()) base_w = available.width.value;
  if (available.height.is_definite()) base_h = available.height.value;
  auto known_w = resolve(s.size.width, base_w), known_h = resolve(s.size.height, base_h);
  if (known_w) *known_w = clamp_size(*known_w, resolve(s.min_size.width, base_w), resolve(s.max_size.width, base_w));
  if (known_h) *known_h = clamp_size(*known_h, resolve(s.min_size.height, base_h), resolve(s.max_size.height, base_h));
  Input in{known_w, known_h, available.width, available.height, base_w, base_h};
  Node& r = im.nodes[root];
  if (r.placed && r.placed->input == in) {
    ++im.stats.cache_hits;
    return {};
  }
  im.measure = &measure;
  Output sized = im.compute(root, in, Mode::ComputeSize);
  Input fin{sized.w, sized.h, available.width, available.height, base_w, base_h};
  Output o = im.compute(root, fin, Mode::PerformLayout);
  im.measure = nullptr;
  // Remember the outer inputs too, so that the same call is answered at once next time.
  im.nodes[root].placed = CacheEntry{in, o};
  im.place(root, 0, 0, o);
  im.round_tree(root, 0, 0, 0, 0);
  return {};
}

void LayoutTree::clear() {
  m_impl->nodes.clear();
  m_impl->free_ids.clear();
}

std::size_t LayoutTree::node_count() const {
  return m_impl->nodes.size() - m_impl->free_ids.size();
}

const SolveStats& LayoutTree::stats() const { return m_impl->stats; }
void LayoutTree::reset_stats() { m_impl->stats = {}; }

void LayoutTree::set_rounding(bool on) {
  if (m_impl->rounding == on) return;
  m_impl->rounding = on;
  invalidate_all();
}

}  // namespace vorn_ui::layout
