// Internal seam to the Cairo scene backend (render_cairo.cpp).
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "vorn_ui/color.h"
#include "vorn_ui/scene.h"

namespace vorn_ui::detail {

// An ARGB32 image surface plus the caches the backend keeps between frames.
class CairoTarget {
 public:
  static std::unique_ptr<CairoTarget> create(std::uint32_t width, std::uint32_t height);
  virtual ~CairoTarget() = default;
  virtual void render(const Scene& scene, Color clear, bool clear_first) = 0;
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
