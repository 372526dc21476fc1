// Scroll blit: a frame that only scrolls moves the previous pixels of the
// viewport and draws the exposed strips; every pixel must equal a full drawing.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "test_widgets.h"
#include "vorn_ui/offscreen.h"
#include "vorn_ui/painters.h"
#include "vorn_ui/widget/scrollable.h"

namespace {

using namespace vorn_ui_test;
using vorn_ui::offscreen::OffscreenRenderer;
using vorn_ui::offscreen::ScrollBlit;

Rect place(const layout::LayoutTree& tree, NodeId node, Point origin) {
  auto l = tree.layout(node);
  return {origin.x + l->x, origin.y + l->y, origin.x + l->x + l->width, origin.y + l->y + l->height};
}

ImageRef picture() {
  std::vector<std::uint8_t> px;
  for (int y = 0; y < 18; ++y)
    for (int x = 0; x < 32; ++x)
      px.insert(px.end(), {std::uint8_t(x * 8), std::uint8_t(((x + y) / 4) % 2 ? 200 : 40), std::uint8_t(y * 14), 255});
  return Image::from_rgba8(32, 18, px);
}

// A row of the list: as wide as given, or the list's width when none is; never shrunk.
NodeId row_leaf(LayoutContext& cx, Widget* widget, float width, float height) {
  layout::Style s;
  s.size = {width > 0 ? layout::Dimension::length(width) : layout::Dimension::percent(1),
            layout::Dimension::length(height)};
  s.flex_shrink = 0;
  NodeId n = cx.tree.new_leaf(s);
  cx.registry.register_node(n, widget);
  return n;
}

// A row drawing a bit of everything the scene has: a gradient rounded
// rectangle, a stroked circle, a path, a cover picture, a translucent layer
// and wrapped text. The text runs past the row's bottom edge, so a row left
// out of the drawing while its text still shows leaves pixels behind.
class Swatch final : public Widget {
 public:
  Swatch(int index, ImageRef image, float width = 0) : m_index(index), m_image(std::move(image)), m_width(width) {}
  NodeId build_layout(LayoutContext& cx) override { return row_leaf(cx, this, m_width, 41); }
  void apply_layout(const layout::LayoutTree& tree, NodeId node, Point origin) override {
    m_bounds = place(tree, node, origin);
  }
  void draw(Scene& scene, const Affine& t, DrawContext& cx) override {
    const Rect b = m_bounds;
    const auto shade = static_cast<std::uint8_t>(40 + (m_index * 37) % 180);
    LinearGradient g{{b.x0, b.y0}, {b.x1, b.y1}, {{0.0f, Color::rgba8(shade, 60, 120)}, {1.0f, Color::rgba8(20, shade, 90)}}};
    scene.fill(FillRule::NonZero, t, g, RoundedRect{b, 9});
    scene.stroke(Stroke::with_width(2.5), t, Color::white(), Circle{{b.x0 + 20, b.center().y}, 11});
    Path tri;
    tri.move_to({b.x0 + 36, b.y1 - 6})
        .line_to({b.x0 + 48, b.y0 + 5})
        .cubic_to({b.x0 + 52, b.y0 + 9}, {b.x0 + 58, b.y1 - 9}, {b.x0 + 60, b.y1 - 6})
        .close();
    scene.fill(FillRule::EvenOdd, t, Color::rgba8(250, 200, 40), tri);
    if (m_index % 3 == 0) paint_image_cover(scene, t, Rect{b.x1 - 70, b.y0 + 4, b.x1 - 14, b.y1 - 4}, 6, m_image);
    scene.push_layer(BlendMode::Normal, 0.5f, t, RoundedRect{Rect{b.x0 + 64, b.y0 + 3, b.x0 + 96, b.y1 - 3}, 5});
    scene.fill(FillRule::NonZero, t, Color::white(), b);
    scene.pop_layer();
    cx.text.draw_style(scene, t, "Row " + std::to_string(m_index) + " has a title long enough to wrap",
                       TextStyle::sized(12.5f), Color::rgba8(230, 230, 240), Point{b.x0 + 100, b.y0 + 2}, 110.0);
  }
  std::string_view type_name() const override { return "Swatch"; }
  Rect bounds() const override { return m_bounds; }

 private:
  int m_index;
  ImageRef m_image;
  float m_width;
  Rect m_bounds;
};

// A row of shapes in one colour each, at fractions of a pixel: rounded
// rectangles filled and bordered as boxes are, circles, curved and mitred
// paths, and a thumbnail with a gradient and a rounded clip. The viewport's edges and the areas drawn afresh cut them across
// their rows; each must come out as a whole drawing gives it.
class SolidSwatch final : public Widget {
 public:
  SolidSwatch(int index, float width = 0) : m_index(index), m_width(width) {}
  NodeId build_layout(LayoutContext& cx) override { return row_leaf(cx, this, m_width, 43.3f); }
  void apply_layout(const layout::LayoutTree& tree, NodeId node, Point origin) override {
    m_bounds = place(tree, node, origin);
  }
  void draw(Scene& scene, const Affine& t, DrawContext&) override {
    const Rect b = m_bounds;
    const double f = 0.13 * (m_index % 7);
    const auto shade = static_cast<std::uint8_t>(40 + (m_index * 53) % 200);
    const Rect card{b.x0 + 2 + f, b.y0 + 1.5 + f, b.x1 - 3 - f, b.y1 - 2};
    scene.fill(FillRule::NonZero, t, Color::rgba8(shade, 70, 110), RoundedRect{card, 10.0 + m_index % 3});
    Stroke border = Stroke::with_width(m_index % 2 ? 1.0 : 1.5);
    border.join = LineJoin::Round;
    border.cap = LineCap::Round;
    scene.stroke(border, t, Color::rgba8(230, 230, 240, 200), RoundedRect{card.inset(0.5), 9.5});
    scene.fill(FillRule::NonZero, t, Color::rgba8(250, 200, 40), Circle{{b.x0 + 22.3 + f, b.center().y + f}, 12.7});
    scene.stroke(Stroke::with_width(2.5), t, Color::white(), Circle{{b.x0 + 52.6, b.center().y - f}, 9.2});
    Path curve;
    curve.move_to({b.x0 + 70.2, b.y1 - 4.4})
        .line_to({b.x0 + 83.7 + f, b.y0 + 3.1})
        .cubic_to({b.x0 + 95, b.y0 + 12}, {b.x0 + 101, b.y1 - 15}, {b.x0 + 120.5, b.y1 - 3.3})
        .close();
    scene.fill(FillRule::EvenOdd, t, Color::rgba8(60, 200, 140), curve);
    Path zigzag;
    zigzag.move_to({b.x0 + 130, b.y1 - 6}).line_to({b.x0 + 142.4, b.y0 + 5.2}).line_to({b.x0 + 151.1, b.y1 - 9})
        .line_to({b.x0 + 166.8, b.y0 + 7.7});
    Stroke mitred = Stroke::with_width(3.0);
    mitred.join = LineJoin::Miter;
    mitred.miter_limit = 4.0;
    scene.stroke(mitred, t, Color::rgba8(200, 90, 220), zigzag);
    scene.fill(FillRule::NonZero, t, Color::rgba8(20, 20, 26, 160), RoundedRect{Rect{b.x0 + 175.5, b.y0 - 1.2, b.x0 + 240.2, b.y1 + 1.4}, 6});
    // A thumbnail: a gradient card, what is drawn on it clipped to its
    // rounded shape, a faint outline.
    const RoundedRect thumb{Rect{b.x0 + 200.3 + f, b.y0 + 2.2, b.x0 + 268.7, b.y1 - 1.6 - f}, 12};
    scene.fill(FillRule::NonZero, t,
               LinearGradient{{thumb.rect.x0, thumb.rect.y0}, {thumb.rect.x1, thumb.rect.y1},
                              {{0.0f, Color::rgba8(shade, 40, 90)}, {1.0f, Color::rgba8(30, shade, 200)}}},
               thumb);
    scene.push_layer(BlendMode::Normal, 1.0f, t, thumb);
    scene.fill(FillRule::NonZero, t, Color::rgba8(255, 255, 255, 18), Circle{{thumb.rect.x1 - 10, thumb.rect.y0 + 6}, 21});
    scene.fill(FillRule::NonZero, t, Color::rgba8(0, 0, 0, 110), Circle{thumb.rect.center(), 11.5});
    Path play;
    const Point c = thumb.rect.center();
    play.move_to({c.x - 3, c.y - 6}).line_to({c.x - 3, c.y + 6}).line_to({c.x + 6, c.y}).close();
    scene.fill(FillRule::NonZero, t, Color::white(), play);
    scene.pop_layer();
    Stroke outline = Stroke::with_width(1.0);
    outline.join = LineJoin::Round;
    outline.cap = LineCap::Round;
    scene.stroke(outline, t, Color::rgba8(255, 255, 255, 20), thumb);
  }
  std::string_view type_name() const override { return "SolidSwatch"; }
  Rect bounds() const override { return m_bounds; }

 private:
  int m_index;
  float m_width;
  Rect m_bounds;
};

// A column of rows; each row leaves itself out of the drawing when it lies
// outside the visible region.
class Stack final : public Widget {
 public:
  template <class W>
  W& add(W w) {
    auto p = std::make_unique<W>(std::move(w));
    W& ref = *p;
    m_children.push_back(std::move(p));
    return ref;
  }
  NodeId build_layout(LayoutContext& cx) override {
    std::vector<NodeId> kids;
    for (auto& c : m_children) kids.push_back(c->build_layout(cx));
    layout::Style s;
    s.flex_direction = layout::FlexDirection::Column;
    s.gap = {layout::Dimension::length(5), layout::Dimension::length(5)};
    s.align_items = layout::AlignItems::Start;
    s.flex_shrink = 0;
    NodeId n = *cx.tree.new_with_children(s, kids);
    cx.registry.register_node(n, this);
    return n;
  }
  void apply_layout(const layout::LayoutTree& tree, NodeId node, Point origin) override {
    m_bounds = place(tree, node, origin);
    auto kids = tree.children(node);
    for (std::size_t i = 0; i < m_children.size(); ++i) m_children[i]->apply_layout(tree, (*kids)[i], m_bounds.origin());
  }
  void draw(Scene& scene, const Affine& t, DrawContext& cx) override { draw_with_presence(scene, t, cx, {}); }
  void draw_with_presence(Scene& scene, const Affine& t, DrawContext& cx, const PresenceContext& p) override {
    for (auto& c : m_children) c->draw_with_presence(scene, t, cx, p);
  }
  std::span<const std::unique_ptr<Widget>> children() const override { return m_children; }
  std::span<std::unique_ptr<Widget>> children_mut() override { return m_children; }
  std::string_view type_name() const override { return "Stack"; }
  Rect bounds() const override { return m_bounds; }
  bool needs_redraw() const override {
    for (const auto& c : m_children)
      if (c->needs_redraw()) return true;
    return false;
  }
  void mark_drawn() override {
    for (auto& c : m_children) c->mark_drawn();
  }

 private:
  std::vector<WidgetPtr> m_children;
  Rect m_bounds;
};

// The window: a background, a header, the scroll container below it, and a
// badge drawn over the viewport after it.
class Stage final : public Widget {
 public:
  explicit Stage(WidgetPtr body) : m_body(std::move(body)) {}
  NodeId build_layout(LayoutContext& cx) override {
    layout::Style s;
    s.flex_direction = layout::FlexDirection::Column;
    s.size = {layout::Dimension::percent(1), layout::Dimension::percent(1)};
    s.padding = {layout::Dimension::length(10), layout::Dimension::length(28), layout::Dimension::length(12),
                 layout::Dimension::length(12)};  // left, top, right, bottom
    NodeId kids[] = {m_body->build_layout(cx)};
    NodeId n = *cx.tree.new_with_children(s, kids);
    cx.registry.register_node(n, this);
    return n;
  }
  void apply_layout(const layout::LayoutTree& tree, NodeId node, Point origin) override {
    m_bounds = place(tree, node, origin);
    m_body->apply_layout(tree, (*tree.children(node))[0], m_bounds.origin());
  }
  void draw(Scene& scene, const Affine& t, DrawContext& cx) override { draw_with_presence(scene, t, cx, {}); }
  void draw_with_presence(Scene& scene, const Affine& t, DrawContext& cx, const PresenceContext& p) override {
    const Rect b = m_bounds;
    if (gradient_under) {
      scene.fill(FillRule::NonZero, t,
                 LinearGradient{{b.x0, b.y0}, {b.x0, b.y1}, {{0.0f, Color::rgba8(10, 10, 30)}, {1.0f, Color::rgba8(60, 20, 20)}}},
                 b);
    } else {
      scene.fill(FillRule::NonZero, t, Color::rgba8(18, 18, 24), b);
    }
    scene.fill(FillRule::NonZero, t, Color::rgba8(40, 40, 70), Rect{b.x0, b.y0, b.x1, b.y0 + 23});
    cx.text.draw_text(scene, t, "Header", 13, Color::white(), Point{b.x0 + 6, b.y0 + 4});
    m_body->draw_with_presence(scene, t, cx, p);
    if (badge) {
      const Rect r{b.x0 + 20, b.y1 - 60, b.x0 + 140, b.y1 - 31};
      scene.fill(FillRule::NonZero, t, Color::rgba8(200, 40, 40, 190), RoundedRect{r, 7});
      cx.text.draw_text(scene, t, "Over the list", 12, Color::white(), Point{r.x0 + 8, r.y0 + 6});
    }
  }
  std::span<const std::unique_ptr<Widget>> children() const override { return {&m_body, 1}; }
  std::span<std::unique_ptr<Widget>> children_mut() override { return {&m_body, 1}; }
  std::string_view type_name() const override { return "Stage"; }
  void handle_event(const Event& e, EventContext& cx, NodeId node) override {
    m_body->handle_event(e, cx, (*cx.tree.children(node))[0]);
  }
  bool needs_redraw() const override { return m_body->needs_redraw(); }
  void mark_drawn() override { m_body->mark_drawn(); }
  Rect bounds() const override { return m_bounds; }

  bool gradient_under = false;
  bool badge = true;

 private:
  WidgetPtr m_body;
  Rect m_bounds;
};

// A stage with a scroll container of swatches, driven frame by frame as the
// window loop drives it: each frame is drawn with render_frame into one
// picture and compared with a full drawing of the same scene.
struct Rig {
  static constexpr double kWidth = 300, kHeight = 220;  // the viewport: 10..288 x 28..208
  explicit Rig(double display_scale, float row_width = 0, bool solid = false) : scale(display_scale) {
    Stack list;
    auto image = picture();
    for (int i = 0; i < 24; ++i) {
      if (solid) {
        list.add(SolidSwatch(i, row_width));
      } else {
        list.add(Swatch(i, image, row_width));
      }
    }
    box = &list.add(Box(50, 20));
    auto scroll = std::make_unique<Scrollable>(Scrollable::with_child(std::move(list)));
    scroller = scroll.get();
    stage = std::make_unique<Stage>(std::move(scroll));
    h.layout(*stage, kWidth, kHeight);
    auto r = OffscreenRenderer::create(static_cast<std::uint32_t>(std::ceil(kWidth * scale)),
                                       static_cast<std::uint32_t>(std::ceil(kHeight * scale)));
    EXPECT_TRUE(r.has_value());
    renderer.emplace(std::move(*r));
  }

  // One frame; answers whether the picture was moved rather than drawn whole.
  bool frame() {
    hint = offscreen::scroll_only_change(*stage);
    h.reposition(*stage);
    Scene scene;
    DrawContext dcx{h.env.theme, h.text, h.permissions};
    stage->draw_with_presence(scene, Affine::scale(scale), dcx, PresenceContext{Rect{0, 0, kWidth, kHeight}});
    stage->mark_drawn();
    const bool moved = renderer->render_frame(scene, kClear, hint);
    auto full = OffscreenRenderer::create(renderer->width(), renderer->height());
    full->render_into(scene, kClear);
    mismatches = 0;
    for (std::uint32_t y = 0; y < renderer->height(); ++y) {
      const auto* a = renderer->argb32_pixels().data() + y * renderer->stride();
      const auto* b = full->argb32_pixels().data() + y * full->stride();
      for (std::uint32_t x = 0; x < renderer->width(); ++x)
        if (std::memcmp(a + x * 4, b + x * 4, 4) != 0 && mismatches++ == 0)
          first_mismatch = {static_cast<double>(x), static_cast<double>(y)};
    }
    return moved;
  }

  static constexpr Color kClear = Color::rgba8(5, 5, 5);
  double scale;
  Harness h;
  std::unique_ptr<Stage> stage;
  Scrollable* scroller = nullptr;
  Box* box = nullptr;
  std::optional<OffscreenRenderer> renderer;
  std::optional<ScrollBlit> hint;
  int mismatches = 0;
  Point first_mismatch;
};

TEST(ScrollBlit, MovedPicturesEqualFullDrawings) {
  struct Step {
    double scale;
    float row_width;  // 0: as wide as the viewport; wider rows scroll sideways too
    double dx, dy;    // scroll by, logical pixels
    bool moved;       // whether the picture is moved rather than drawn whole
  };
  // The steps of one scale and row width run in order on one picture, so a
  // wrong pixel would also spoil the steps after it. The viewport is 278 x
  // 180 logical pixels.
  const Step steps[] = {
      {1.0, 0, 0, 50, true},      {1.0, 0, 0, 3, true},     {1.0, 0, 0, -7, true},
      {1.0, 0, 0, 1.5, false},    // not a whole pixel
      {1.0, 0, 0, 0.5, false},    {1.0, 0, 0, 40, true},
      {1.0, 0, 0, 180, false},    // not smaller than the viewport
      {1.0, 0, 0, 179, true},     {1.0, 0, 0, -300, false}, {1.0, 0, 0, -1000, true},  // stops at the top: by 123
      // A stroked circle cut by the viewport's top edge (at offset 206) is
      // drawn otherwise at that edge than where it was not cut.
      {1.0, 0, 0, 147, true},     {1.0, 0, 0, 59, true},
      // A picture at half a pixel (offset 64.5) is resampled, otherwise at each place.
      {1.0, 0, 0, -141.5, false}, {1.0, 0, 0, 27, true},
      {2.0, 0, 0, 50, true},      {2.0, 0, 0, 1.5, true},   // 3 device pixels
      {2.0, 0, 0, 0.25, false},   {2.0, 0, 0, -4, true},
      {1.5, 0, 0, 50, true},      {1.5, 0, 0, 2, true},     {1.5, 0, 0, 1, false}, {1.5, 0, 0, -4, true},
      {1.5, 0, 0, 20, true},      {1.5, 0, 0, -14, true},
      {1.25, 0, 0, 8, false},     // the viewport's edges fall inside device pixels
      {1.0, 620, 30, 0, true},    {1.0, 620, -7, 12, true}, {1.0, 620, 300, 0, false}, {1.0, 620, -2.5, 0, false},
      {1.0, 620, -0.5, 0, false}, {1.0, 620, -20, 0, true},
  };
  std::optional<Rig> rig;
  float rig_width = 0;
  for (const Step& s : steps) {
    if (!rig || rig->scale != s.scale || s.row_width != rig_width) {
      rig.emplace(s.scale, s.row_width);
      rig_width = s.row_width;
      ASSERT_FALSE(rig->frame());  // the first frame is drawn whole
      EXPECT_EQ(rig->mismatches, 0);
    }
    const auto before = rig->scroller->offset();
    ASSERT_TRUE(rig->scroller->scroll_by(s.dx, s.dy)) << s.dx << "," << s.dy;
    const std::string at = "scale " + std::to_string(s.scale) + ", by " + std::to_string(s.dx) + "," + std::to_string(s.dy);
    EXPECT_EQ(rig->frame(), s.moved) << at;
    ASSERT_TRUE(rig->hint.has_value()) << at;  // the widgets answer every scroll; the scene decides
    EXPECT_EQ(rig->hint->viewport, rig->scroller->bounds());
    EXPECT_EQ(rig->hint->shift.x, before.x - rig->scroller->offset().x);
    EXPECT_EQ(rig->hint->shift.y, before.y - rig->scroller->offset().y);
    EXPECT_EQ(rig->mismatches, 0) << at << ": first at " << rig->first_mismatch.x << "," << rig->first_mismatch.y;
  }
}

TEST(ScrollBlit, ARandomScrollEqualsFullDrawingsFrameByFrame) {
  // Rows come into view and leave it, the scroll bar moves under the badge,
  // pictures and shapes cross the viewport's edges at every place.
  std::mt19937 random(11);
  for (double scale : {1.0, 1.5, 2.0}) {
    for (float width : {0.0f, 520.0f}) {
      Rig rig(scale, width);
      ASSERT_FALSE(rig.frame());
      int moved = 0;
      for (int step = 0; step < 40; ++step) {
        const double dy = static_cast<double>(static_cast<int>(random() % 121) - 60) / (step % 7 == 3 ? 2 : 1);
        const double dx = width > 0 ? static_cast<double>(static_cast<int>(random() % 41) - 20) : 0.0;
        if (!rig.scroller->scroll_by(dx, dy)) continue;
        moved += rig.frame();
        ASSERT_EQ(rig.mismatches, 0) << "scale " << scale << " width " << width << " step " << step << ": first at "
                                     << rig.first_mismatch.x << "," << rig.first_mismatch.y;
      }
      EXPECT_GT(moved, 5) << "scale " << scale << " width " << width;
    }
  }
}

TEST(ScrollBlit, SolidShapesCutAcrossRowsMoveWithTheirPixels) {
  // Shapes in one colour that the viewport's top and bottom edges, and the
  // strips drawn afresh, cut across their rows: moved, they equal a whole
  // drawing at every scale, from offsets at fractions of a logical pixel and
  // of a device pixel, also rows wider than the viewport scrolled sideways
  // (those its side edges cut).
  std::mt19937 random(29);
  for (double scale : {1.0, 1.5, 2.0}) {
    for (float width : {0.0f, 520.0f}) {
      Rig rig(scale, width, true);
      ASSERT_FALSE(rig.frame());
      int moved = 0;
      for (int step = 0; step < 60; ++step) {
        // Whole device pixels (half a logical one at scale 2, two at 1.5),
        // but now and then half a device pixel: the picture is drawn whole
        // and the moves after it start from there.
        const double unit = scale == 1.5 ? 2.0 : 1.0 / scale;
        const double dy = step % 11 == 5 ? 0.5 / scale
                                         : unit * static_cast<double>(static_cast<int>(random() % 41) - 20);
        const double dx =
            width > 0 && step % 3 == 0 ? unit * static_cast<double>(static_cast<int>(random() % 11) - 5) : 0.0;
        if (!rig.scroller->scroll_by(dx, dy)) continue;
        moved += rig.frame();
        ASSERT_EQ(rig.mismatches, 0) << "scale " << scale << " width " << width << " step " << step << ": first at "
                                     << rig.first_mismatch.x << "," << rig.first_mismatch.y;
      }
      EXPECT_GT(moved, 30) << "scale " << scale << " width " << width;
    }
  }
}

TEST(ScrollBlit, WhatLiesUnderOrAroundTheViewportDecides) {
  // A gradient under the viewport would move with the pixels: drawn whole,
  // although only the scroll changed.
  Rig gradient(1.0);
  gradient.stage->gradient_under = true;
  ASSERT_FALSE(gradient.frame());
  gradient.scroller->scroll_by(0, 3);
  EXPECT_FALSE(gradient.frame());
  EXPECT_TRUE(gradient.hint.has_value());
  EXPECT_EQ(gradient.mismatches, 0);

  // Without the badge over the viewport; a drawing by another path between
  // two frames leaves no previous frame to move.
  Rig plain(1.0);
  plain.stage->badge = false;
  ASSERT_FALSE(plain.frame());
  plain.scroller->scroll_by(0, 5);
  EXPECT_TRUE(plain.frame());
  EXPECT_EQ(plain.mismatches, 0);
  plain.renderer->render_into(Scene{}, Rig::kClear);
  plain.scroller->scroll_by(0, 5);
  EXPECT_FALSE(plain.frame());
  EXPECT_EQ(plain.mismatches, 0);
  plain.scroller->scroll_by(0, -5);
  EXPECT_TRUE(plain.frame());
  EXPECT_EQ(plain.mismatches, 0);
}

TEST(ScrollBlit, AnyOtherChangeDrawsTheWholePicture) {
  Rig rig(1.0);
  ASSERT_FALSE(rig.frame());
  // Nothing scrolled: nothing to move.
  EXPECT_FALSE(offscreen::scroll_only_change(*rig.stage));

  // A widget inside the viewport asks for a redraw: the frame is drawn whole.
  rig.box->redraw = true;
  rig.scroller->scroll_by(0, 3);
  EXPECT_FALSE(rig.frame());
  EXPECT_FALSE(rig.hint.has_value());
  EXPECT_EQ(rig.mismatches, 0);
  rig.box->redraw = false;
  rig.scroller->scroll_by(0, 3);
  EXPECT_TRUE(rig.frame());
  EXPECT_EQ(rig.mismatches, 0);

  // The container's own state changes (a press on its scroll bar).
  rig.scroller->scroll_by(0, 3);
  rig.h.send(*rig.stage, press(Rig::kWidth - 15, 40));
  EXPECT_FALSE(offscreen::scroll_only_change(*rig.stage));
  EXPECT_FALSE(rig.frame());
  rig.h.send(*rig.stage, release(Rig::kWidth - 15, 40));
  EXPECT_FALSE(rig.frame());

  // The asking leaves the tree as it was: the scroll still asks for a redraw.
  rig.scroller->scroll_by(0, 3);
  EXPECT_TRUE(offscreen::scroll_only_change(*rig.stage));
  EXPECT_TRUE(rig.stage->children()[0]->needs_redraw());
  EXPECT_TRUE(rig.frame());
  EXPECT_FALSE(rig.scroller->needs_redraw());
}

TEST(ScrollBlit, TwoContainersScrolledTogetherDrawTheWholePicture) {
  // Two scroll containers side by side, both scrolled in one frame.
  Column row;
  row.direction = layout::FlexDirection::Row;
  row.size = {layout::Dimension::percent(1), layout::Dimension::percent(1)};
  std::vector<Scrollable*> scrollers;
  for (int k = 0; k < 2; ++k) {
    Stack list;
    for (int i = 0; i < 12; ++i) list.add(Swatch(i + k, picture()));
    scrollers.push_back(&row.add_widget(Scrollable::with_child(std::move(list))));
  }
  Harness h;
  h.layout(row, 400, 200);
  auto draw_and_mark = [&] {
    Scene scene = h.draw(row, Rect{0, 0, 400, 200});
    for (Scrollable* s : scrollers) s->mark_drawn();
  };
  draw_and_mark();
  scrollers[0]->scroll_by(0, 3);
  scrollers[1]->scroll_by(0, 3);
  EXPECT_FALSE(offscreen::scroll_only_change(row));
  draw_and_mark();
  scrollers[1]->scroll_by(0, 3);
  auto only = offscreen::scroll_only_change(row);
  ASSERT_TRUE(only.has_value());
  EXPECT_EQ(only->viewport, scrollers[1]->bounds());
  EXPECT_EQ(only->shift.y, -3);
}

// A frame in which only one area changed (a video picture under an overlay)
// is drawn in that area alone, rounded out to whole pixels: there its pixels
// are those of a full drawing, outside it the previous frame stays.
TEST(AreaFrame, DrawsOnlyTheAreaWithTheFullDrawingsPixels) {
  Harness h;
  constexpr double kScale = 1.5;
  const Rect area{40.3, 30.6, 180.2, 110.5};  // logical pixels
  const Affine t = Affine::scale(kScale);
  auto scene_with = [&](ImageRef frame, Color aside) {
    Scene scene;
    scene.fill(FillRule::NonZero, t, Color::rgba8(30, 30, 60), Rect{0, 0, 240, 160});
    scene.fill(FillRule::NonZero, t, aside, Rect{190, 10, 230, 40});  // outside the area
    scene.push_layer(BlendMode::Normal, 1.0f, t, area);
    scene.draw_image(frame, Affine::translate(area.x0, area.y0) * Affine::scale(140.0 / frame->width()), t);
    scene.pop_layer();
    // Drawn over the area's edge after the picture.
    scene.fill(FillRule::NonZero, t, Color::white().with_alpha(0.5f), Circle{{area.x1, area.y0}, 14});
    h.text.draw_text(scene, t, "over the picture", 14.0f, Color::white(), {area.x0 + 4, area.y1 - 20});
    return scene;
  };
  auto full_drawing = [](const Scene& scene, Color clear) {
    auto full = OffscreenRenderer::create(360, 240);
    full->render_into(scene, clear);
    return full;
  };
  auto differing = [](const OffscreenRenderer& a, const OffscreenRenderer& b, const OffscreenRenderer::PixelArea& inside) {
    int outside = 0, within = 0;
    for (std::uint32_t y = 0; y < a.height(); ++y) {
      for (std::uint32_t x = 0; x < a.width(); ++x) {
        const bool differs = std::memcmp(a.argb32_pixels().data() + y * a.stride() + x * 4,
                                         b.argb32_pixels().data() + y * b.stride() + x * 4, 4) != 0;
        const bool in = x >= inside.x0 && x < inside.x1 && y >= inside.y0 && y < inside.y1;
        (in ? within : outside) += differs ? 1 : 0;
      }
    }
    return std::pair{within, outside};
  };
  constexpr Color kClear = Color::rgba8(5, 5, 5);
  const Rect device{area.x0 * kScale, area.y0 * kScale, area.x1 * kScale, area.y1 * kScale};
  auto renderer = OffscreenRenderer::create(360, 240);
  ASSERT_TRUE(renderer.has_value());

  // No previous frame: the whole picture.
  const Scene first = scene_with(Image::solid(64, 36, 200, 40, 40), Color::rgba8(0, 160, 0));
  EXPECT_FALSE(renderer->render_frame_area(first, kClear, device).has_value());
  EXPECT_EQ(differing(*renderer, *full_drawing(first, kClear), {}), (std::pair{0, 0}));

  // A new picture: the area alone, equal to a full drawing everywhere.
  const Scene second = scene_with(picture(), Color::rgba8(0, 160, 0));
  const auto drawn = renderer->render_frame_area(second, kClear, device);
  ASSERT_TRUE(drawn.has_value());
  EXPECT_EQ(*drawn, (OffscreenRenderer::PixelArea{60, 45, 271, 166}));
  EXPECT_EQ(differing(*renderer, *full_drawing(second, kClear), {}), (std::pair{0, 0}));

  // A change outside the area is not drawn: only what the caller names is.
  const Scene third = scene_with(Image::solid(64, 36, 20, 40, 200), Color::rgba8(160, 0, 0));
  ASSERT_TRUE(renderer->render_frame_area(third, kClear, device).has_value());
  const auto [within, outside] = differing(*renderer, *full_drawing(third, kClear), *drawn);
  EXPECT_EQ(within, 0);
  EXPECT_GT(outside, 0) << "the change beside the area stays undrawn";

  // Another clear colour draws the whole picture again.
  EXPECT_FALSE(renderer->render_frame_area(third, Color::rgba8(9, 9, 9), device).has_value());
  EXPECT_EQ(differing(*renderer, *full_drawing(third, Color::rgba8(9, 9, 9)), {}), (std::pair{0, 0}));
}

}  // namespace
