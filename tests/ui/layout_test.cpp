#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "vorn_ui/layout.h"

namespace {

using namespace vorn_ui::layout;

Style fixed(float w, float h) {
  Style s;
  s.size = {Dimension::length(w), Dimension::length(h)};
  return s;
}

Size2<AvailableSpace> space(float w, float h) { return {AvailableSpace::definite(w), AvailableSpace::definite(h)}; }

struct Expect {
  NodeId node;
  Layout rect;  // x, y, width, height (content not compared)
};

void check(const LayoutTree& tree, const std::vector<Expect>& expects, const std::string& name) {
  for (std::size_t i = 0; i < expects.size(); ++i) {
    auto l = tree.layout(expects[i].node);
    ASSERT_TRUE(l.has_value()) << name;
    EXPECT_FLOAT_EQ(l->x, expects[i].rect.x) << name << " child " << i << " x";
    EXPECT_FLOAT_EQ(l->y, expects[i].rect.y) << name << " child " << i << " y";
    EXPECT_FLOAT_EQ(l->width, expects[i].rect.width) << name << " child " << i << " width";
    EXPECT_FLOAT_EQ(l->height, expects[i].rect.height) << name << " child " << i << " height";
  }
}

// Each case builds a tree, solves it in 1000 x 800 and lists the expected boxes.
struct Case {
  const char* name;
  std::function<std::vector<Expect>(LayoutTree&, NodeId&)> build;
};

const std::vector<Case>& cases() {
  static const std::vector<Case> table = {
      {"row with gap and padding, children centred on the cross axis",
       [](LayoutTree& t, NodeId& root) {
         NodeId a = t.new_leaf(fixed(100, 20)), b = t.new_leaf(fixed(50, 40));
         Style s = fixed(400, 100);
         s.padding = {Dimension::length(10), Dimension::length(5), Dimension::length(10), Dimension::length(5)};
         s.gap = {Dimension::length(8), Dimension::length(8)};
         s.align_items = AlignItems::Center;
         NodeId kids[] = {a, b};
         root = *t.new_with_children(s, kids);
         return std::vector<Expect>{{a, {10, 40, 100, 20}}, {b, {118, 30, 50, 40}}};
       }},
      {"grow shares free space after zero bases",
       [](LayoutTree& t, NodeId& root) {
         Style g1;
         g1.flex_grow = 1;
         g1.flex_basis = Dimension::length(0);
         Style g2 = g1;
         g2.flex_grow = 3;
         NodeId a = t.new_leaf(g1), b = t.new_leaf(g2), c = t.new_leaf(fixed(100, 10));
         Style s = fixed(500, 50);
         NodeId kids[] = {a, b, c};
         root = *t.new_with_children(s, kids);
         return std::vector<Expect>{{a, {0, 0, 100, 50}}, {b, {100, 0, 300, 50}}, {c, {400, 0, 100, 10}}};
       }},
      {"shrink by basis, clamped by a minimum",
       [](LayoutTree& t, NodeId& root) {
         Style a_s = fixed(300, 10), b_s = fixed(300, 10);
         a_s.flex_shrink = 1;
         b_s.flex_shrink = 1;
         b_s.min_size.width = Dimension::length(280);
         NodeId a = t.new_leaf(a_s), b = t.new_leaf(b_s);
         Style s = fixed(400, 10);
         NodeId kids[] = {a, b};
         root = *t.new_with_children(s, kids);
         return std::vector<Expect>{{a, {0, 0, 120, 10}}, {b, {120, 0, 280, 10}}};
       }},
      {"zero shrink overflows instead of squeezing",
       [](LayoutTree& t, NodeId& root) {
         Style a_s = fixed(300, 10);
         a_s.flex_shrink = 0;
         NodeId a = t.new_leaf(a_s), b = t.new_leaf(a_s);
         NodeId kids[] = {a, b};
         root = *t.new_with_children(fixed(400, 10), kids);
         return std::vector<Expect>{{a, {0, 0, 300, 10}}, {b, {300, 0, 300, 10}}};
       }},
      {"column stretches children across, justify space-between",
       [](LayoutTree& t, NodeId& root) {
         Style leaf;
         leaf.size.height = Dimension::length(30);
         NodeId a = t.new_leaf(leaf), b = t.new_leaf(leaf);
         Style s = fixed(200, 300);
         s.flex_direction = FlexDirection::Column;
         s.justify_content = JustifyContent::SpaceBetween;
         NodeId kids[] = {a, b};
         root = *t.new_with_children(s, kids);
         return std::vector<Expect>{{a, {0, 0, 200, 30}}, {b, {0, 270, 200, 30}}};
       }},
      {"justify center and end",
       [](LayoutTree& t, NodeId& root) {
         NodeId a = t.new_leaf(fixed(100, 10));
         Style s = fixed(300, 10);
         s.justify_content = JustifyContent::Center;
         NodeId kids[] = {a};
         NodeId centred = *t.new_with_children(s, kids);
         NodeId b = t.new_leaf(fixed(100, 10));
         s.justify_content = JustifyContent::FlexEnd;
         NodeId kids2[] = {b};
         NodeId ended = *t.new_with_children(s, kids2);
         Style col;
         col.flex_direction = FlexDirection::Column;
         col.align_items = AlignItems::Start;
         NodeId outer[] = {centred, ended};
         root = *t.new_with_children(col, outer);
         return std::vector<Expect>{{a, {100, 0, 100, 10}}, {b, {200, 0, 100, 10}}, {ended, {0, 10, 300, 10}}};
       }},
      {"wrap breaks lines at the width, gap on both axes",
       [](LayoutTree& t, NodeId& root) {
         std::vector<NodeId> kids;
         for (int i = 0; i < 5; ++i) kids.push_back(t.new_leaf(fixed(100, 20)));
         Style s;
         s.size.width = Dimension::length(330);
         s.flex_wrap = FlexWrap::Wrap;
         s.gap = {Dimension::length(10), Dimension::length(6)};
         s.align_items = AlignItems::Start;
         root = *t.new_with_children(s, kids);
         return std::vector<Expect>{{kids[0], {0, 0, 100, 20}},  {kids[2], {220, 0, 100, 20}},
                                    {kids[3], {0, 26, 100, 20}}, {kids[4], {110, 26, 100, 20}},
                                    {root, {0, 0, 330, 46}}};
       }},
      {"percent sizes and max width",
       [](LayoutTree& t, NodeId& root) {
         Style half;
         half.size = {Dimension::percent(0.5f), Dimension::percent(0.25f)};
         Style capped;
         capped.size.width = Dimension::percent(1.0f);
         capped.size.height = Dimension::length(10);
         capped.max_size.width = Dimension::length(560);
         NodeId a = t.new_leaf(half), b = t.new_leaf(capped);
         Style s = fixed(800, 400);
         s.flex_direction = FlexDirection::Column;
         s.align_items = AlignItems::Start;
         NodeId kids[] = {a, b};
         root = *t.new_with_children(s, kids);
         return std::vector<Expect>{{a, {0, 0, 400, 100}}, {b, {0, 100, 560, 10}}};
       }},
      {"block stacks at full width with the gap",
       [](LayoutTree& t, NodeId& root) {
         Style h20;
         h20.size.height = Dimension::length(20);
         Style h30;
         h30.size.height = Dimension::length(30);
         NodeId a = t.new_leaf(h20), b = t.new_leaf(h30);
         Style s;
         s.display = Display::Block;
         s.size.width = Dimension::length(300);
         s.padding = {Dimension::length(24), Dimension::length(24), Dimension::length(24), Dimension::length(24)};
         s.gap = {Dimension::length(18), Dimension::length(18)};
         NodeId kids[] = {a, b};
         root = *t.new_with_children(s, kids);
         return std::vector<Expect>{{a, {24, 24, 252, 20}}, {b, {24, 62, 252, 30}}, {root, {0, 0, 300, 116}}};
       }},
      {"grid of width 1000, gap 10, minimum track 300 gives three columns",
       [](LayoutTree& t, NodeId& root) {
         std::vector<NodeId> kids;
         Style cell;
         cell.size.height = Dimension::length(50);
         for (int i = 0; i < 4; ++i) kids.push_back(t.new_leaf(cell));
         Style s;
         s.display = Display::Grid;
         s.size.width = Dimension::length(1000);
         s.gap = {Dimension::length(10), Dimension::length(10)};
         s.grid_auto_fill_min_column = 300;
         s.flex_direction = FlexDirection::Column;  // the grid ignores direction and wrap
         s.flex_wrap = FlexWrap::Wrap;
         root = *t.new_with_children(s, kids);
         // Columns are (1000 - 20) / 3 = 326.67 wide; rounding keeps the edges exact.
         return std::vector<Expect>{{kids[0], {0, 0, 327, 50}},
                                    {kids[1], {337, 0, 326, 50}},
                                    {kids[2], {673, 0, 327, 50}},
                                    {kids[3], {0, 60, 327, 50}},
                                    {root, {0, 0, 1000, 110}}};
       }},
      {"a grid narrower than one track still has one column",
       [](LayoutTree& t, NodeId& root) {
         Style cell;
         cell.size.height = Dimension::length(10);
         NodeId a = t.new_leaf(cell), b = t.new_leaf(cell);
         Style s;
         s.display = Display::Grid;
         s.size.width = Dimension::length(200);
         s.gap = {Dimension::length(18), Dimension::length(18)};
         s.grid_auto_fill_min_column = 300;
         NodeId kids[] = {a, b};
         root = *t.new_with_children(s, kids);
         return std::vector<Expect>{{a, {0, 0, 200, 10}}, {b, {0, 28, 200, 10}}};
       }},
      {"absolute overlay with zero insets covers its parent",
       [](LayoutTree& t, NodeId& root) {
         NodeId content = t.new_leaf(fixed(100, 100));
         Style ov;
         ov.position = Position::Absolute;
         ov.inset = {Dimension::length(0), Dimension::length(0), Dimension::length(0), Dimension::length(0)};
         NodeId overlay = t.new_leaf(ov);
         Style s = fixed(640, 480);
         s.padding = {Dimension::length(20), Dimension::length(20), Dimension::length(20), Dimension::length(20)};
         NodeId kids[] = {content, overlay};
         root = *t.new_with_children(s, kids);
         return std::vector<Expect>{{content, {20, 20, 100, 100}}, {overlay, {0, 0, 640, 480}}};
       }},
  };
  return table;
}

TEST(Layout, TreesSolveToTheExpectedRectangles) {
  for (const Case& c : cases()) {
    LayoutTree tree;
    NodeId root = 0;
    auto expects = c.build(tree, root);
    ASSERT_TRUE(tree.compute_layout(root, space(1000, 800)).has_value()) << c.name;
    check(tree, expects, c.name);
  }
}

// Leaf text stand-in: 10 px per character, wrapping into lines of 20 px.
SizeF measure_words(const std::vector<std::string>& texts, NodeId first, NodeId id, const MeasureInput& in,
                    std::vector<AvailableSpace>* seen) {
  const std::string& text = texts[id - first];
  if (seen) seen->push_back(in.available_width);
  const float full = 10.0f * static_cast<float>(text.size());
  float width = full;
  if (in.known_width)
    width = *in.known_width;
  else if (in.available_width.kind == AvailableSpace::Kind::MinContent)
    width = 50.0f;  // longest word
  else if (in.available_width.is_definite())
    width = std::min(full, in.available_width.value);
  const float lines = width > 0 ? std::ceil(full / std::max(width, 1.0f)) : 1.0f;
  return {width, 20.0f * std::max(lines, 1.0f)};
}

TEST(Layout, MeasuredLeavesWrapAtTheOfferedWidth) {
  LayoutTree tree;
  std::vector<std::string> texts = {std::string(50, 'a'), std::string(10, 'b')};
  NodeId first = tree.new_leaf(Style{}, true);
  NodeId second = tree.new_leaf(Style{}, true);
  Style col;
  col.flex_direction = FlexDirection::Column;
  col.align_items = AlignItems::Start;
  col.size.width = Dimension::length(200);
  NodeId kids[] = {first, second};
  NodeId root = *tree.new_with_children(col, kids);
  std::vector<AvailableSpace> seen;
  MeasureFn fn = [&](NodeId id, const MeasureInput& in) { return measure_words(texts, first, id, in, &seen); };
  ASSERT_TRUE(tree.compute_layout(root, space(1000, 800), fn).has_value());
  EXPECT_EQ(tree.layout(first)->width, 200);
  EXPECT_EQ(tree.layout(first)->height, 60);  // 500 px of text in lines of 200
  EXPECT_EQ(tree.layout(second)->y, 60);
  EXPECT_EQ(tree.layout(second)->width, 100);
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.front(), AvailableSpace::definite(200));

  // Under a max-content constraint the same text stays on one line.
  LayoutTree open;
  NodeId leaf = open.new_leaf(Style{}, true);
  ASSERT_TRUE(open.compute_layout(leaf, {AvailableSpace::max_content(), AvailableSpace::max_content()},
                                  [&](NodeId, const MeasureInput& in) { return measure_words(texts, leaf, leaf, in, nullptr); })
                  .has_value());
  EXPECT_EQ(open.layout(leaf)->width, 500);
  EXPECT_EQ(open.layout(leaf)->height, 20);
}

// A leaf with a ratio takes its second size from the first, in a column (its
// width stretched, its height following), in a row (its height fixed, its width
// following) and in a block, and keeps a size given outright.
TEST(Display, LeavesKeepTheirAspectRatio) {
  LayoutTree tree;
  auto ratio_leaf = [&](Dimension w, Dimension h) {
    Style s;
    s.size = {w, h};
    s.aspect_ratio = 16.0f / 9.0f;
    s.flex_shrink = 0;
    return tree.new_leaf(s);
  };
  const NodeId in_column = ratio_leaf(Dimension::percent(1.0f), Dimension::auto_());
  const NodeId below = tree.new_leaf(fixed(10, 10));
  const NodeId given = ratio_leaf(Dimension::length(100), Dimension::length(30));
  Style column = fixed(640, 700);
  column.flex_direction = FlexDirection::Column;
  NodeId column_kids[] = {in_column, below, given};
  const NodeId col = *tree.new_with_children(column, column_kids);

  const NodeId in_row = ratio_leaf(Dimension::auto_(), Dimension::length(90));
  Style row = fixed(300, 90);
  row.align_items = AlignItems::Start;
  NodeId row_kids[] = {in_row};
  const NodeId r = *tree.new_with_children(row, row_kids);

  const NodeId in_block = ratio_leaf(Dimension::auto_(), Dimension::auto_());
  Style block = fixed(320, 100);
  block.display = Display::Block;
  NodeId block_kids[] = {in_block};
  const NodeId b = *tree.new_with_children(block, block_kids);

  Style top;
  top.flex_direction = FlexDirection::Column;
  NodeId top_kids[] = {col, r, b};
  const NodeId root = *tree.new_with_children(top, top_kids);
  ASSERT_TRUE(tree.compute_layout(root, space(1000, 2000)).has_value());
  check(tree,
        {{in_column, {0, 0, 640, 360}}, {below, {0, 360, 10, 10}}, {given, {0, 370, 100, 30}},
         {in_row, {0, 0, 160, 90}}, {in_block, {0, 0, 320, 180}}},
        "ratio");
}

TEST(Layout, OverflowReportsTheContentSize) {
  LayoutTree tree;
  NodeId tall = tree.new_leaf(fixed(100, 900));
  Style page;
  page.display = Display::Block;
  NodeId page_kids[] = {tall};
  NodeId content = *tree.new_with_children(page, page_kids);
  Style scroll;
  scroll.size = {Dimension::percent(1), Dimension::percent(1)};
  scroll.flex_direction = FlexDirection::Column;
  scroll.overflow = {Overflow::Scroll, Overflow::Scroll};
  NodeId scroll_kids[] = {content};
  NodeId scroller = *tree.new_with_children(scroll, scroll_kids);
  Style root_style = fixed(300, 400);
  NodeId root_kids[] = {scroller};
  NodeId root = *tree.new_with_children(root_style, root_kids);
  ASSERT_TRUE(tree.compute_layout(root, space(300, 400)).has_value());
  auto l = *tree.layout(scroller);
  EXPECT_EQ(l.height, 400);
  EXPECT_EQ(l.content_height, 900);
  EXPECT_EQ(tree.layout(content)->height, 900);
  // The scroller's own box, not its content, counts towards its parent.
  EXPECT_EQ(tree.layout(root)->content_height, 400);
}

TEST(Layout, PixelRoundingKeepsEdgesAdjacent) {
  LayoutTree tree;
  std::vector<NodeId> kids;
  Style third;
  third.flex_grow = 1;
  third.flex_basis = Dimension::length(0);
  for (int i = 0; i < 3; ++i) kids.push_back(tree.new_leaf(third));
  NodeId root = *tree.new_with_children(fixed(100, 10), kids);
  ASSERT_TRUE(tree.compute_layout(root, space(100, 10)).has_value());
  float edge = 0;
  for (NodeId k : kids) {
    auto l = *tree.layout(k);
    EXPECT_EQ(l.x, edge);
    EXPECT_EQ(l.width, std::round(l.width));
    edge = l.x + l.width;
  }
  EXPECT_EQ(edge, 100);
}

TEST(Layout, UnchangedTreeIsAnsweredFromTheCache) {
  LayoutTree tree;
  std::vector<std::string> texts(20, "some words here");
  std::vector<NodeId> leaves;
  for (std::size_t i = 0; i < texts.size(); ++i) leaves.push_back(tree.new_leaf(Style{}, true));
  const NodeId first = leaves.front();
  Style grid;
  grid.display = Display::Grid;
  grid.grid_auto_fill_min_column = 120;
  grid.gap = {Dimension::length(8), Dimension::length(8)};
  NodeId root = *tree.new_with_children(grid, leaves);
  int measures = 0;
  MeasureFn fn = [&](NodeId id, const MeasureInput& in) {
    ++measures;
    return measure_words(texts, first, id, in, nullptr);
  };
  ASSERT_TRUE(tree.compute_layout(root, space(1000, 800), fn).has_value());
  const auto before = *tree.layout(leaves[7]);
  EXPECT_GT(measures, 0);

  tree.reset_stats();
  measures = 0;
  ASSERT_TRUE(tree.compute_layout(root, space(1000, 800), fn).has_value());
  EXPECT_EQ(measures, 0);
  EXPECT_EQ(tree.stats().node_solves, 0u);
  EXPECT_EQ(*tree.layout(leaves[7]), before);

  // Dirtying one leaf re-solves its ancestors and that leaf only.
  tree.reset_stats();
  ASSERT_TRUE(tree.mark_dirty(leaves[3]).has_value());
  EXPECT_TRUE(tree.is_dirty(root));
  EXPECT_FALSE(tree.is_dirty(leaves[4]));
  ASSERT_TRUE(tree.compute_layout(root, space(1000, 800), fn).has_value());
  EXPECT_GT(tree.stats().node_solves, 0u);
  EXPECT_LE(measures, 3);
  EXPECT_EQ(*tree.layout(leaves[7]), before);

  // A different viewport is a new question.
  measures = 0;
  ASSERT_TRUE(tree.compute_layout(root, space(500, 800), fn).has_value());
  EXPECT_GT(measures, 0);
  EXPECT_NE(tree.layout(leaves[7])->x, before.x);
}

TEST(Layout, OddSizesDoNotBreakTheSolver) {
  // An infinite grid width or a zero-size row neither crashes nor gives negative boxes.
  LayoutTree tree;
  Style cell;
  cell.size.height = Dimension::length(10);
  NodeId a = tree.new_leaf(cell), b = tree.new_leaf(cell);
  Style grid;
  grid.display = Display::Grid;
  grid.grid_auto_fill_min_column = 100;
  grid.size.width = Dimension::length(std::numeric_limits<float>::infinity());
  NodeId kids[] = {a, b};
  NodeId root = *tree.new_with_children(grid, kids);
  ASSERT_TRUE(tree.compute_layout(root, space(100, 100)).has_value());
  EXPECT_EQ(tree.layout(a)->height, 10);
  EXPECT_EQ(tree.layout(b)->y, 10);  // a non-finite width falls back to one column

  LayoutTree flex;
  Style grow;
  grow.flex_grow = 1;
  NodeId g = flex.new_leaf(grow);
  NodeId gk[] = {g};
  NodeId row = *flex.new_with_children(fixed(0, 0), gk);
  ASSERT_TRUE(flex.compute_layout(row, space(0, 0)).has_value());
  EXPECT_EQ(flex.layout(g)->width, 0);
}

TEST(Layout, BadNodesAreErrors) {
  LayoutTree tree;
  EXPECT_FALSE(tree.layout(42).has_value());
  EXPECT_FALSE(tree.children(42).has_value());
  NodeId ghost[] = {7};
  EXPECT_FALSE(tree.new_with_children(Style{}, ghost).has_value());
  NodeId leaf = tree.new_leaf(Style{});
  NodeId kids[] = {leaf};
  NodeId parent = *tree.new_with_children(Style{}, kids);
  NodeId cycle[] = {parent};
  EXPECT_FALSE(tree.set_children(leaf, cycle).has_value());
  EXPECT_FALSE(tree.compute_layout(99, space(10, 10)).has_value());
}

}  // namespace
