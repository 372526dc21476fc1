// A decoded picture: premultiplied 8-bit BGRA pixels in native-endian 32-bit
// words (0xAARRGGBB), rows of `stride` bytes. Immutable once built; shared
// between threads through ImageRef.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace vorn_ui {

class Image {
 public:
  // Converts straight-alpha RGBA bytes (4 per pixel, rows packed). Answers
  // nothing when the buffer is shorter than width * height * 4.
  static std::shared_ptr<const Image> from_rgba8(std::uint32_t width, std::uint32_t height,
                                                 std::span<const std::uint8_t> rgba);
  // Takes premultiplied native 0xAARRGGBB words, rows packed.
  static std::shared_ptr<const Image> from_argb32_premultiplied(std::uint32_t width, std::uint32_t height,
                                                                std::vector<std::uint32_t> pixels);
  // Wraps premultiplied native 0xAARRGGBB rows of `stride` bytes without a
  // copy; the bytes must stay unchanged while the image lives. Nothing when
  // the stride is below width * 4 or not a multiple of 4, or the pointer is null.
  static std::shared_ptr<const Image> wrap(std::uint32_t width, std::uint32_t height, std::size_t stride,
                                           std::shared_ptr<const std::uint8_t> pixels);
  // wrap, for pictures without transparency: every pixel is drawn opaque and
  // the alpha bytes are not read, so the picture is copied rather than blended.
  static std::shared_ptr<const Image> wrap_opaque(std::uint32_t width, std::uint32_t height, std::size_t stride,
                                                  std::shared_ptr<const std::uint8_t> pixels);
  // A single-colour picture (tests, placeholders).
  static std::shared_ptr<const Image> solid(std::uint32_t width, std::uint32_t height, std::uint8_t r,
                                            std::uint8_t g, std::uint8_t b, std::uint8_t a = 255);

  std::uint32_t width() const { return m_width; }
  std::uint32_t height() const { return m_height; }
  std::size_t stride() const { return m_stride; }
  bool opaque() const { return m_opaque; }
  const std::uint32_t* data() const { return reinterpret_cast<const std::uint32_t*>(m_bytes.get()); }
  std::uint32_t pixel(std::uint32_t x, std::uint32_t y) const { return row(y)[x]; }
  const std::uint32_t* row(std::uint32_t y) const {
    return reinterpret_cast<const std::uint32_t*>(m_bytes.get() + std::size_t{y} * m_stride);
  }

  Image(std::uint32_t w, std::uint32_t h, std::vector<std::uint32_t> px);
  Image(std::uint32_t w, std::uint32_t h, std::size_t stride, std::shared_ptr<const std::uint8_t> bytes,
        bool opaque = false)
      : m_width(w), m_height(h), m_stride(stride), m_bytes(std::move(bytes)), m_opaque(opaque) {}

 private:
  std::uint32_t m_width = 0;
  std::uint32_t m_height = 0;
  std::size_t m_stride = 0;
  std::shared_ptr<const std::uint8_t> m_bytes;
  bool m_opaque = false;
};

using ImageRef = std::shared_ptr<const Image>;

}  // namespace vorn_ui
