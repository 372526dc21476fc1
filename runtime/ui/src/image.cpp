#include "vorn_ui/image.h"

namespace vorn_ui {
namespace {

std::uint32_t premultiply(std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a) {
  auto mul = [a](std::uint8_t c) -> std::uint32_t { return (std::uint32_t{c} * a + 127) / 255; };
  return (std::uint32_t{a} << 24) | (mul(r) << 16) | (mul(g) << 8) | mul(b);
}

}  // namespace

Image::Image(std::uint32_t w, std::uint32_t h, std::vector<std::uint32_t> px) : m_width(w), m_height(h), m_stride(std::size_t{w} * 4) {
  auto owner = std::make_shared<std::vector<std::uint32_t>>(std::move(px));
  m_bytes = std::shared_ptr<const std::uint8_t>(owner, reinterpret_cast<const std::uint8_t*>(owner->data()));
}

std::shared_ptr<const Image> Image::wrap(std::uint32_t width, std::uint32_t height, std::size_t stride,
                                         std::shared_ptr<const std::uint8_t> pixels) {
  if (!pixels || stride < std::size_t{width} * 4 || stride % 4 != 0) return nullptr;
  return std::make_shared<const Image>(width, height, stride, std::move(pixels));
}

std::shared_ptr<const Image> Image::wrap_opaque(std::uint32_t width, std::uint32_t height, std::size_t stride,
                                                std::shared_ptr<const std::uint8_t> pixels) {
  if (!pixels || stride < std::size_t{width} * 4 || stride % 4 != 0) return nullptr;
  return std::make_shared<const Image>(width, height, stride, std::move(pixels), true);
}

std::shared_ptr<const Image> Image::from_rgba8(std::uint32_t width, std::uint32_t height,
                                               std::span<const std::uint8_t> rgba) {
  const std::size_t count = std::size_t{width} * height;
  if (rgba.size() / 4 < count) return nullptr;
  std::vector<std::uint32_t> px(count);
  for (std::size_t i = 0; i < count; ++i)
    px[i] = premultiply(rgba[i * 4], rgba[i * 4 + 1], rgba[i * 4 + 2], rgba[i * 4 + 3]);
  return std::make_shared<const Image>(width, height, std::move(px));
}

std::shared_ptr<const Image> Image::from_argb32_premultiplied(std::uint32_t width, std::uint32_t height,
                                                              std::vector<std::uint32_t> pixels) {
  if (pixels.size() < std::size_t{width} * height) return nullptr;
  pixels.resize(std::size_t{width} * height);
  return std::make_shared<const Image>(width, height, std::move(pixels));
}

std::shared_ptr<const Image> Image::solid(std::uint32_t width, std::uint32_t height, std::uint8_t r, std::uint8_t g,
                                          std::uint8_t b, std::uint8_t a) {
  return std::make_shared<const Image>(width, height,
                                       std::vector<std::uint32_t>(std::size_t{width} * height, premultiply(r, g, b, a)));
}

}  // namespace vorn_ui
