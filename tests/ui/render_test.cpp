#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "test_widgets.h"
#include "vorn_ui/color_compat.h"
#include "vorn_ui/icons.h"
#include "vorn_ui/offscreen.h"
#include "vorn_ui/painters.h"
#include "vorn_ui/text.h"
#include "vorn_ui/widget/text_widget.h"

namespace {

using namespace vorn_ui;
using vorn_ui::offscreen::OffscreenRenderer;
using vorn_ui::offscreen::RenderedImage;

RenderedImage render(const Scene& scene, std::uint32_t w, std::uint32_t h, Color clear = Color::black()) {
  auto r = OffscreenRenderer::create(w, h);
  EXPECT_TRUE(r.has_value());
  auto img = r->render_resilient(scene, clear);
  EXPECT_TRUE(img.has_value());
  return *img;
}

constexpr std::uint32_t kBlack = 0x000000ff;
constexpr std::uint32_t kRed = 0xff0000ff;

TEST(Rendering, RoundedRectangleFillsInsideItsCorners) {
  Scene scene;
  scene.fill(FillRule::NonZero, Affine::identity(), Color::rgba8(255, 0, 0), RoundedRect{Rect{10, 10, 90, 50}, 16});
  auto img = render(scene, 100, 60);
  EXPECT_EQ(img.rgba_at(50, 30), kRed);
  EXPECT_EQ(img.rgba_at(11, 30), kRed);   // straight edge
  EXPECT_EQ(img.rgba_at(11, 11), kBlack);  // cut off by the corner
  EXPECT_EQ(img.rgba_at(88, 48), kBlack);
  EXPECT_EQ(img.rgba_at(5, 30), kBlack);
}

TEST(Rendering, ClipLayersBoundWhatIsDrawn) {
  Scene scene;
  scene.push_layer(BlendMode::Normal, 1.0f, Affine::identity(), Circle{{50, 50}, 20});
  scene.fill(FillRule::NonZero, Affine::identity(), Color::rgba8(255, 0, 0), Rect{0, 0, 100, 100});
  scene.pop_layer();
  scene.push_layer(BlendMode::Normal, 1.0f, Affine::identity(), RoundedRect{Rect{0, 80, 30, 100}, 0});
  scene.fill(FillRule::NonZero, Affine::identity(), Color::rgba8(0, 0, 255), Rect{0, 0, 100, 100});
  scene.pop_layer();
  auto img = render(scene, 100, 100);
  EXPECT_EQ(img.rgba_at(50, 50), kRed);
  EXPECT_EQ(img.rgba_at(50, 32), kRed);
  EXPECT_EQ(img.rgba_at(50, 25), kBlack);
  EXPECT_EQ(img.rgba_at(80, 80), kBlack);
  EXPECT_EQ(img.rgba_at(10, 90), 0x0000ffffu);
  EXPECT_EQ(img.rgba_at(40, 90), kBlack);
}

TEST(Rendering, AlphaGradientsStrokesAndTransforms) {
  Scene scene;
  // Half-transparent white over black gives mid grey.
  scene.fill(FillRule::NonZero, Affine::identity(), Color{1, 1, 1, 0.5f}, Rect{0, 0, 20, 20});
  LinearGradient g{{20, 0}, {120, 0}, {{0.0f, Color::rgba8(255, 0, 0)}, {1.0f, Color::rgba8(0, 0, 255)}}};
  scene.fill(FillRule::NonZero, Affine::identity(), g, Rect{20, 0, 120, 20});
  scene.stroke(Stroke::with_width(4), Affine::identity(), Color::white(), Rect{10, 40, 60, 60});
  scene.fill(FillRule::NonZero, Affine::translate(100, 30) * Affine::scale(2), Color::rgba8(0, 255, 0),
             Rect{0, 0, 5, 5});
  auto img = render(scene, 130, 70);
  const std::uint32_t grey = img.rgba_at(10, 10);
  EXPECT_NEAR(static_cast<int>(grey >> 24), 128, 1);
  EXPECT_EQ(grey & 0xff, 0xffu);
  EXPECT_GT(img.rgba_at(21, 10) >> 24, 0xf0u);         // red end
  EXPECT_GT((img.rgba_at(118, 10) >> 8) & 0xff, 0xf0u);  // blue end
  EXPECT_EQ(img.rgba_at(10, 50), 0xffffffffu);          // on the stroke
  EXPECT_EQ(img.rgba_at(35, 50), kBlack);               // inside the outline
  EXPECT_EQ(img.rgba_at(109, 39), 0x00ff00ffu);         // scaled square ends at 110
  EXPECT_EQ(img.rgba_at(111, 41), kBlack);
}

TEST(Rendering, CoverImagesFillTheirFrame) {
  // A 20 x 10 picture, left half red and right half blue, covering a 40 x 40
  // frame: scaled by 4 and centred, so the frame shows the middle of both halves.
  std::vector<std::uint8_t> px;
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 20; ++x) px.insert(px.end(), {std::uint8_t(x < 10 ? 255 : 0), 0, std::uint8_t(x < 10 ? 0 : 255), 255});
  auto image = Image::from_rgba8(20, 10, px);
  ASSERT_TRUE(image);
  Scene scene;
  paint_image_cover(scene, Affine::identity(), Rect{10, 10, 50, 50}, 8, image);
  paint_image_cover(scene, Affine::identity(), Rect{60, 10, 60, 50}, 0, image);  // empty frame draws nothing
  auto img = render(scene, 70, 60);
  EXPECT_EQ(img.rgba_at(15, 30), kRed);
  EXPECT_EQ(img.rgba_at(45, 30), 0x0000ffffu);
  EXPECT_EQ(img.rgba_at(10, 10), kBlack);  // rounded corner
  EXPECT_EQ(img.rgba_at(5, 30), kBlack);
}

TEST(Rendering, WrappedPixelsAndTheNativeSurface) {
  // Two rows of 2 pixels with a padded stride of 12 bytes, shared without a copy.
  auto storage = std::make_shared<std::vector<std::uint32_t>>(6, 0u);
  auto* words = storage->data();
  std::shared_ptr<const std::uint8_t> shared(storage, reinterpret_cast<const std::uint8_t*>(words));
  words[0] = words[1] = 0xffff0000u;  // opaque red
  words[3] = words[4] = 0xff0000ffu;  // opaque blue
  auto image = Image::wrap(2, 2, 12, shared);
  ASSERT_TRUE(image);
  EXPECT_EQ(image->pixel(1, 1), 0xff0000ffu);
  EXPECT_FALSE(Image::wrap(4, 1, 8, shared));
  Scene scene;
  scene.draw_image(image, Affine::scale(5), Affine::identity());
  auto r = OffscreenRenderer::create(10, 10);
  ASSERT_TRUE(r.has_value());
  r->render_into(scene, Color::black());
  ASSERT_GE(r->stride(), 40u);
  auto px = r->argb32_pixels();
  ASSERT_EQ(px.size(), r->stride() * 10);
  auto at = [&](int x, int y) { return *reinterpret_cast<const std::uint32_t*>(px.data() + y * r->stride() + x * 4); };
  EXPECT_EQ(at(2, 2), 0xffff0000u);
  EXPECT_EQ(at(2, 7), 0xff0000ffu);  // the centre of the second row

  // Wrapped as opaque, the alpha bytes are not read: a pixel with alpha 0 still covers.
  words[0] = 0x0000ff00u;
  auto opaque = Image::wrap_opaque(2, 2, 12, shared);
  ASSERT_TRUE(opaque);
  EXPECT_TRUE(opaque->opaque());
  EXPECT_FALSE(image->opaque());
  EXPECT_FALSE(Image::wrap_opaque(4, 1, 8, shared));
  Scene over;
  over.draw_image(opaque, Affine::scale(5), Affine::identity());
  r->render_into(over, Color::white());
  EXPECT_EQ(at(2, 2), 0xff00ff00u);
  EXPECT_EQ(at(2, 7), 0xff0000ffu);
}

TEST(Rendering, TextMeasuresTheSameEveryTime) {
  TextRenderer text;
  const Size a = text.measure("Hello, world", 20);
  EXPECT_GT(a.width, 80);
  EXPECT_LT(a.width, 160);
  EXPECT_DOUBLE_EQ(a.height, 20 * 1.25);
  EXPECT_EQ(text.measure("Hello, world", 20), a);
  EXPECT_GE(text.cache_stats().hits, 1u);
  const Size wrapped = text.measure("Hello, world", 20, a.width / 2);
  EXPECT_DOUBLE_EQ(wrapped.height, 2 * 20 * 1.25);
  EXPECT_LE(wrapped.width, a.width / 2 + 0.5);
  TextStyle loose = TextStyle::sized(10);
  loose.line_height = 2.0f;
  EXPECT_DOUBLE_EQ(text.measure_style("x", loose).height, 20);
  // A second renderer measures exactly alike (no hinting, no rounding).
  TextRenderer other;
  EXPECT_EQ(other.measure("Hello, world", 20), a);
  EXPECT_EQ(text.measure("", 14).width, 0);
}

// Styles of several sizes and weights, none of them used before in the
// renderer that prepares them.
std::vector<TextStyle> prepared_styles() {
  std::vector<TextStyle> styles;
  for (const float size : {9.5f, 13.5f, 17.0f, 22.0f, 31.0f}) {
    for (const FontWeight weight : {FontWeight::Regular, FontWeight::Semibold, FontWeight::Bold}) {
      TextStyle style = TextStyle::sized(size);
      style.weight = weight;
      styles.push_back(style);
    }
  }
  return styles;
}

TEST(Rendering, PreparedFontsMeasureAndDrawAsUnpreparedOnes) {
  const std::vector<std::string> texts = {"Up next", "842K views \xE2\x80\xA2 3 days ago", "W", ""};
  TextRenderer plain;
  TextRenderer prepared;
  prepared.prepare_fonts(prepared_styles());
  // Measured and drawn while the fonts load on the other thread, then again
  // once they have: the same sizes and pixels as without preparing.
  for (int round = 0; round < 2; ++round) {
    for (const TextStyle& style : prepared_styles()) {
      for (const std::string& text : texts) {
        EXPECT_EQ(prepared.measure_style(text, style), plain.measure_style(text, style))
            << text << " at " << style.font_size << " round " << round;
        EXPECT_EQ(prepared.measure_style(text, style, 40.0), plain.measure_style(text, style, 40.0)) << text;
      }
    }
    Scene a;
    Scene b;
    TextStyle title = TextStyle::sized(22.0f);
    title.weight = FontWeight::Bold;
    prepared.draw_style(a, Affine::identity(), "Up next", title, Color::white(), Point{2, 2});
    plain.draw_style(b, Affine::identity(), "Up next", title, Color::white(), Point{2, 2});
    const auto image_a = render(a, 120, 32);
    const auto image_b = render(b, 120, 32);
    for (std::uint32_t y = 0; y < 32; ++y)
      for (std::uint32_t x = 0; x < 120; ++x) ASSERT_EQ(image_a.rgba_at(x, y), image_b.rgba_at(x, y)) << x << "," << y;
    prepared.finish_preparing_fonts();
  }
  // Preparing adds nothing to the layout cache.
  EXPECT_EQ(prepared.cache_stats().entries, plain.cache_stats().entries);
  EXPECT_EQ(prepared.cache_stats().misses, plain.cache_stats().misses);
}

TEST(Rendering, PreparingFontsEndsWithItsRendererAndNeverHoldsUpAWait) {
  {
    TextRenderer nothing_asked;
    nothing_asked.finish_preparing_fonts();  // nothing asked: returns at once
    nothing_asked.prepare_fonts({});
    nothing_asked.finish_preparing_fonts();
  }
  for (int i = 0; i < 3; ++i) {
    TextRenderer text;
    text.prepare_fonts(prepared_styles());
    if (i == 1) text.prepare_fonts({TextStyle::sized(18.5f)});  // replaces the styles still waiting
    if (i == 2) text.finish_preparing_fonts();
    // Destroyed while its preparation waits, loads, or is done.
  }
}

TEST(Rendering, LayoutsOutliveTheCacheAndTheRenderer) {
  std::shared_ptr<const TextLayout> kept;
  {
    TextRenderer text;
    kept = text.layout("kept", TextStyle::sized(16));
    const Size first = text.measure("entry 0", 12);
    // More layouts than the cache keeps: the oldest are let go on the way.
    for (int i = 0; i < 9000; ++i) text.measure(fmt::format("entry {}", i), 12);
    EXPECT_LT(text.cache_stats().entries, 9000u);
    EXPECT_EQ(text.measure("entry 0", 12), first);
  }
  EXPECT_GT(kept->size().width, 0);
  EXPECT_GT(kept->caret_x(4), kept->caret_x(0));
  EXPECT_EQ(kept->index_at(1e6), 4u);
  Scene scene;
  scene.draw_text_layout(kept, Point{2, 2}, Color::white(), Affine::identity());
  auto img = render(scene, 60, 24);
  int lit = 0;
  for (std::uint32_t y = 0; y < 24; ++y)
    for (std::uint32_t x = 0; x < 60; ++x) lit += (img.rgba_at(x, y) >> 24) > 200;
  EXPECT_GT(lit, 10);
}

TEST(Rendering, OtherScriptsAndEmojiFallBackToPackagedFonts) {
  TextRenderer text;
  // Full-width ideographs advance one em each (no missing-glyph boxes).
  EXPECT_DOUBLE_EQ(text.measure("東京", 20).width, 40);
  Scene scene;
  text.draw_text(scene, Affine::identity(), "😀", 20, Color::white(), Point{2, 2});
  auto img = render(scene, 40, 30);
  int yellow = 0;
  for (std::uint32_t y = 0; y < 30; ++y)
    for (std::uint32_t x = 0; x < 40; ++x) {
      const std::uint32_t p = img.rgba_at(x, y);
      yellow += (p >> 24) > 150 && ((p >> 16) & 0xff) > 100 && ((p >> 8) & 0xff) < 80;
    }
  EXPECT_GT(yellow, 20);  // drawn in the emoji's own colours, not the text colour
}

TEST(Rendering, DrawnTextLeavesInk) {
  TextRenderer text;
  Scene scene;
  text.draw_text(scene, Affine::identity(), "HHHH", 24, Color::white(), Point{4, 4});
  auto img = render(scene, 120, 40);
  int lit = 0;
  for (std::uint32_t y = 0; y < 40; ++y)
    for (std::uint32_t x = 0; x < 120; ++x) lit += (img.rgba_at(x, y) >> 24) > 200;
  EXPECT_GT(lit, 40);
  EXPECT_EQ(img.rgba_at(110, 35), kBlack);
}

TEST(Rendering, EveryIconDrawsInk) {
  for (std::uint16_t id : icons::all_icons()) {
    Scene scene;
    icons::draw_icon(scene, Affine::identity(), id, Point{0, 0}, 24, Color::white(), 2.0);
    auto img = render(scene, 24, 24);
    int lit = 0;
    for (std::uint32_t y = 0; y < 24; ++y)
      for (std::uint32_t x = 0; x < 24; ++x) lit += (img.rgba_at(x, y) >> 24) > 100;
    EXPECT_GT(lit, 10) << "icon " << id;
  }
  for (std::uint16_t id : {4, 7, 9, 11, 19, 26, 27, 38, 42, 57, 58, 59, 60, 62, 63, 64, 67, 69, 73, 74, 78, 95})
    EXPECT_TRUE(icons::has_icon(id)) << id;
  Scene none;
  icons::draw_icon(none, Affine::identity(), 9999, Point{}, 24, Color::white());
  EXPECT_TRUE(none.commands().empty());
}

TEST(Rendering, PaintersDrawIntoTheScene) {
  Theme theme = Theme::dark();
  TextRenderer text;
  Scene scene;
  const Color c = Avatar::color_for_initials("AB", theme);
  EXPECT_EQ(c, Avatar::color_for_initials("AB", theme));
  Avatar::draw_at(scene, Affine::identity(), Rect{0, 0, 36, 36}, "AB", c, theme, text);
  Toggle::paint(scene, Affine::identity(), theme, ToggleState{Rect{40, 5, 86, 31}, true, false, true, false});
  auto img = render(scene, 90, 40);
  const std::uint32_t centre_ring = img.rgba_at(3, 18);  // avatar fill, left of the letters
  EXPECT_EQ(centre_ring >> 8, (static_cast<std::uint32_t>(color_compat::ColorCompat(c).r()) << 16) |
                                  (static_cast<std::uint32_t>(color_compat::ColorCompat(c).g()) << 8) |
                                  color_compat::ColorCompat(c).b());
  EXPECT_EQ(img.rgba_at(72, 18), 0xffffffffu);  // the knob sits right when on
  auto node = toggle_accessibility(true, false, "Autoplay", true);
  EXPECT_EQ(node.toggled, true);
  EXPECT_EQ(node.role, Role::Switch);
}

TEST(Rendering, BadCommandsAreSkipped) {
  Scene scene;
  scene.pop_layer();  // unbalanced: ignored
  scene.fill(FillRule::NonZero, Affine::identity(), Color::white(), Rect{0, 0, std::nan(""), 5});
  scene.stroke(Stroke::with_width(-1), Affine::identity(), Color::white(), Rect{0, 0, 5, 5});
  scene.push_layer(BlendMode::Normal, 0.5f, Affine::identity(), Rect{0, 0, 10, 10});  // never popped
  scene.fill(FillRule::NonZero, Affine::identity(), Color::white(), Rect{0, 0, 10, 10});
  auto img = render(scene, 20, 20);
  EXPECT_NEAR(static_cast<int>(img.rgba_at(5, 5) >> 24), 128, 1);
  EXPECT_EQ(img.rgba_at(15, 15), kBlack);
  EXPECT_FALSE(OffscreenRenderer::create(0, 10).has_value());
}

TEST(Offscreen, WidgetTreesBecomePngFiles) {
  vorn_ui_test::Column col;
  col.add_widget(vorn_ui::widget::Text("Hi").with_size(18));
  const auto dir = std::filesystem::temp_directory_path() / ("vorn-ui-shot-" + std::to_string(::getpid()));
  const auto path = dir / "nested" / "shot.png";
  ASSERT_TRUE(offscreen::write_widget_png(col, 64, 32, Theme::light(), path).has_value());
  std::ifstream in(path, std::ios::binary);
  char magic[8] = {};
  in.read(magic, 8);
  EXPECT_EQ(std::string(magic + 1, 3), "PNG");
  std::size_t files = 0;
  for (auto& e : std::filesystem::directory_iterator(path.parent_path())) {
    (void)e;
    ++files;
  }
  EXPECT_EQ(files, 1u);  // no temporary file left behind
  auto img = offscreen::render_widget(col, 64, 32, Theme::light());
  ASSERT_TRUE(img.has_value());
  EXPECT_EQ(img->rgba_at(63, 31), 0xf7f7f9ffu);  // the light background
  EXPECT_FALSE(offscreen::encode_png(4, 4, std::vector<std::uint8_t>(3)).has_value());
  std::filesystem::remove_all(dir);
  // A path whose parent is a file cannot be written; the error says so.
  const auto blocker = std::filesystem::temp_directory_path() / ("vorn-ui-block-" + std::to_string(::getpid()));
  std::ofstream(blocker) << "x";
  auto failed = offscreen::write_file_atomically(blocker / "shot.png", std::vector<std::uint8_t>{1, 2, 3});
  EXPECT_FALSE(failed.has_value());
  std::filesystem::remove(blocker);
}

}  // namespace
