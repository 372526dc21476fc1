// Internal seam to the Cairo scene backend (render_cairo.cpp).
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "vorn_ui/color.h"
#include "vorn_ui/scene.h"

namespace vorn_ui::detail {

// A rectangle of whole surface pixels: x0 <= x < x1, y0 <= y < y1.
struct PixelRect {
  int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
  bool empty() const { return x1 <= x0 || y1 <= y0; }
  PixelRect intersect(const PixelRect& o) const {
    return {std::max(x0, o.x0), std::max(y0, o.y0), std::min(x1, o.x1), std::min(y1, o.y1)};
  }
  PixelRect translated(int dx, int dy) const { return {x0 + dx, y0 + dy, x1 + dx, y1 + dy}; }
  friend bool operator==(const PixelRect&, const PixelRect&) = default;
};

// An ARGB32 image surface plus the caches the backend keeps between frames.
class CairoTarget {
 public:
  static std::unique_ptr<CairoTarget> create(std::uint32_t width, std::uint32_t height);
  virtual ~CairoTarget() = default;
  virtual void render(const Scene& scene, Color clear, bool clear_first) = 0;
  // Moves the pixels of `to` shifted back by (dx, dy) into `to` (both inside the surface).
  virtual void move_pixels(const PixelRect& to, int dx, int dy) = 0;
  // Clears `area` to `clear` and draws the scene clipped to it, leaving out the
  // commands whose entry in `keep` is false. (One rectangle at a time: Cairo
  // composites through a clip of several rectangles by another path, whose
  // pixels may differ from an unclipped drawing.)
  virtual void render_area(const Scene& scene, Color clear, const PixelRect& area, const std::vector<bool>& keep) = 0;
  // Straight-alpha RGBA copy of the surface.
  virtual std::vector<std::uint8_t> read_rgba() const = 0;
  // The surface as Cairo keeps it (premultiplied native 0xAARRGGBB rows).
  virtual std::span<const std::uint8_t> argb32() const = 0;
  virtual std::size_t stride() const = 0;
  virtual std::uint32_t width() const = 0;
  virtual std::uint32_t height() const = 0;
};

// PNG bytes of straight-alpha RGBA pixels; empty on failure.
std::vector<std::uint8_t> encode_png_rgba(std::uint32_t width, std::uint32_t height, std::span<const std::uint8_t> rgba);

}  // namespace vorn_ui::detail
