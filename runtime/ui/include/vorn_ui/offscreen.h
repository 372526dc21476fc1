// Drawing scenes and whole widget trees into pictures without a window, and
// encoding them as PNG. Interface thread (or any one thread per renderer).
#pragma once

#include <cstdint>
#include <expected>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "vorn_ui/color.h"
#include "vorn_ui/geometry.h"
#include "vorn_ui/scene.h"
#include "vorn_ui/theme.h"

namespace vorn_ui::widget {
class Widget;
}

namespace vorn_ui::offscreen {

struct RenderError {
  enum class Kind : std::uint8_t { Surface, Layout, Encode, Write };
  Kind kind;
  std::string message;
};

// A rendered picture: straight-alpha RGBA bytes, rows packed.
struct RenderedImage {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::vector<std::uint8_t> rgba;

  // The pixel at (x, y) as 0xRRGGBBAA.
  std::uint32_t rgba_at(std::uint32_t x, std::uint32_t y) const;
};

// A frame whose only change is the offset of one scroll container: the
// viewport it shows its content in (logical pixels: the clip of the layer it
// draws the content in) and how far that content moved on screen.
struct ScrollBlit {
  Rect viewport;
  Point shift;
};

// The one scroll container in `root` whose offset is all that changed since
// the tree was last drawn: no other container scrolled and no widget asks for
// a redraw. Ask after input and sync and before apply_layout, on a frame that
// neither rebuilds nor solves the layout (nor changes size, scale or theme);
// then draw and hand the answer to render_frame. Leaves the tree as it was.
std::optional<ScrollBlit> scroll_only_change(widget::Widget& root);

class OffscreenRenderer {
 public:
  // A renderer for pictures of width by height pixels (each at least 1).
  static std::expected<OffscreenRenderer, RenderError> create(std::uint32_t width, std::uint32_t height);
  ~OffscreenRenderer();
  OffscreenRenderer(OffscreenRenderer&&) noexcept;
  OffscreenRenderer& operator=(OffscreenRenderer&&) noexcept;

  // Clears to `clear` and draws the scene. Commands that cannot be drawn
  // (unbalanced layers, degenerate shapes) are skipped, never fatal.
  std::expected<RenderedImage, RenderError> render_resilient(const Scene& scene, Color clear = Color::transparent());
  // Clears to `clear` and draws the scene without reading the picture back;
  // for drawing many frames into one surface (see argb32_pixels).
  void render_into(const Scene& scene, Color clear);
  // Draws one frame of a sequence (a window's frames) into the picture. With
  // `scroll` given, when the picture holds the previous frame drawn here with
  // the same clear colour and the scene allows it, moves the viewport's pixels
  // by the shift and draws only what the move exposed and what is drawn over
  // the viewport, clipped to whole pixels so that every pixel is the one a full
  // drawing gives; answers true then. Otherwise draws the whole scene and
  // answers false. The scene is kept (copied) for the next frame.
  bool render_frame(const Scene& scene, Color clear, const std::optional<ScrollBlit>& scroll = std::nullopt);
  // A whole-pixel rectangle of the picture.
  struct PixelArea {
    std::uint32_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    friend bool operator==(const PixelArea&, const PixelArea&) = default;
  };
  // Draws one frame of a sequence in which nothing outside `area` (device
  // pixels) differs from the previous frame drawn here: when the picture holds
  // that frame, drawn with the same clear colour, clears and draws only the
  // area rounded out to whole pixels (which gives there the pixels a full
  // drawing gives) and answers it; otherwise draws the whole scene and answers
  // nothing. The scene is kept for the next frame, as by render_frame.
  std::optional<PixelArea> render_frame_area(const Scene& scene, Color clear, const Rect& area);
  std::uint32_t width() const;
  std::uint32_t height() const;
  // The picture after the last render as the backend keeps it: premultiplied
  // native 0xAARRGGBB words, stride() bytes per row. Valid until the next render.
  std::span<const std::uint8_t> argb32_pixels() const;
  std::size_t stride() const;

  struct Impl;

 private:
  explicit OffscreenRenderer(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> m_impl;
};

// PNG bytes of an RGBA picture.
std::expected<std::vector<std::uint8_t>, RenderError> encode_png(std::uint32_t width, std::uint32_t height,
                                                                 std::span<const std::uint8_t> rgba);

// Writes bytes atomically (atomic_file: a temporary file in the same
// directory, synced, renamed over `path`); missing parents are created.
std::expected<void, RenderError> write_file_atomically(const std::filesystem::path& path,
                                                       std::span<const std::uint8_t> bytes);

// Lays out `root` in a width by height viewport (sync is the caller's), draws
// it with the theme and renders it.
std::expected<RenderedImage, RenderError> render_widget(widget::Widget& root, std::uint32_t width,
                                                        std::uint32_t height, const Theme& theme);
// render_widget, then encode_png and write_file_atomically.
std::expected<void, RenderError> write_widget_png(widget::Widget& root, std::uint32_t width, std::uint32_t height,
                                                  const Theme& theme, const std::filesystem::path& path);

}  // namespace vorn_ui::offscreen
