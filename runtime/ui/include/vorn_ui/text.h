// Text measurement and drawing over shaped, cached layouts.
// Interface thread only; one renderer per thread that draws.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vorn_ui/color.h"
#include "vorn_ui/geometry.h"
#include "vorn_ui/scene.h"

namespace vorn_ui {

enum class FontWeight : std::uint16_t { Regular = 400, Medium = 500, Semibold = 600, Bold = 700 };
enum class TextAlign : std::uint8_t { Start, Center, End };

struct TextStyle {
  float font_size = 14.0f;    // logical pixels
  float line_height = 1.25f;  // multiple of the font size
  FontWeight weight = FontWeight::Regular;
  TextAlign align = TextAlign::Start;
  std::uint32_t max_lines = 0;  // 0: no limit; otherwise the last line ends in "…"

  static TextStyle sized(float size) {
    TextStyle s;
    s.font_size = size;
    return s;
  }
  friend bool operator==(const TextStyle&, const TextStyle&) = default;
};

// Shaped text ready to draw. Sizes are logical pixels.
class TextLayout {
 public:
  virtual ~TextLayout() = default;
  virtual Size size() const = 0;
  virtual std::size_t line_count() const = 0;
  // Horizontal offset of the caret before byte `index` of the text (first line).
  virtual double caret_x(std::size_t index) const = 0;
  // The byte index of the caret position nearest to horizontal offset `x`.
  virtual std::size_t index_at(double x) const = 0;
};

struct TextCacheStats {
  std::uint64_t hits = 0;
  std::uint64_t misses = 0;
  std::size_t entries = 0;
};

// Shapes text with the packaged fonts (hinting and metric hinting off, so
// sizes are the same on every machine) and keeps recent layouts, so that a
// redraw or a second measurement does not shape the text again.
class TextRenderer {
 public:
  TextRenderer();
  ~TextRenderer();
  TextRenderer(TextRenderer&&) noexcept;
  TextRenderer& operator=(TextRenderer&&) noexcept;

  // Size of the text at a font size, wrapped to max_width when given.
  Size measure(std::string_view text, float font_size, std::optional<double> max_width = std::nullopt);
  Size measure_style(std::string_view text, const TextStyle& style, std::optional<double> max_width = std::nullopt);
  void draw_text(Scene& scene, const Affine& transform, std::string_view text, float font_size, Color color,
                 Point origin, std::optional<double> max_width = std::nullopt);
  void draw_style(Scene& scene, const Affine& transform, std::string_view text, const TextStyle& style,
                  Color color, Point origin, std::optional<double> max_width = std::nullopt);
  std::shared_ptr<const TextLayout> layout(std::string_view text, const TextStyle& style,
                                           std::optional<double> max_width = std::nullopt);

  // How many of this renderer's units make one logical pixel: always 1.0, since
  // sizes are measured in logical pixels at every display scale (the display
  // scale is applied by the drawing transform). A widget that converts a
  // measurement into logical pixels divides by it.
  float scale_factor() const { return 1.0f; }
  TextCacheStats cache_stats() const;

  // Loads the fonts of these styles on a thread of the renderer's own, after
  // a short pause so that the frame that asked is presented first: the first
  // text of a size or weight costs a font match and load (milliseconds),
  // which a page shown later then does not pay on the interface thread. What
  // is drawn does not change. A later call replaces the styles still waiting.
  // While a font loads, a measurement or drawing on this thread waits for it.
  void prepare_fonts(std::vector<TextStyle> styles);
  // Waits until the fonts asked for are loaded.
  void finish_preparing_fonts();

  class Impl;

 private:
  std::unique_ptr<Impl> m_impl;
};

}  // namespace vorn_ui
