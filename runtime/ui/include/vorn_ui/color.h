// sRGB colours with straight alpha: four 32-bit floats, each 0 to 1.
// Plain values; any thread may use them.
#pragma once

#include <cstdint>

namespace vorn_ui {

struct Color {
  float r = 0.0f;
  float g = 0.0f;
  float b = 0.0f;
  float a = 1.0f;

  static constexpr Color rgba8(std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a = 255) {
    return {r / 255.0f, g / 255.0f, b / 255.0f, a / 255.0f};
  }
  static constexpr Color white() { return {1, 1, 1, 1}; }
  static constexpr Color black() { return {0, 0, 0, 1}; }
  static constexpr Color transparent() { return {0, 0, 0, 0}; }
  constexpr Color with_alpha(float alpha) const { return {r, g, b, alpha}; }
  constexpr Color multiply_alpha(float f) const { return {r, g, b, a * f}; }
  friend bool operator==(const Color&, const Color&) = default;
};

}  // namespace vorn_ui
