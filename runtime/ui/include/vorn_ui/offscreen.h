// Drawing scenes and whole widget trees into pictures without a window, and
// encoding them as PNG. Interface thread (or any one thread per renderer).
#pragma once

#include <cstdint>
#include <expected>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "vorn_ui/color.h"
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
