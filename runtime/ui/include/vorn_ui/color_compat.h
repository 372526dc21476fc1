// 8-bit accessors of a float colour. Any thread.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "vorn_ui/color.h"

namespace vorn_ui::color_compat {

// Reads a colour's channels as 8-bit values: each float channel is clamped to
// 0..1, multiplied by 255 and rounded half away from zero.
class ColorCompat {
 public:
  constexpr explicit ColorCompat(const Color& c) : m_color(c) {}
  std::uint8_t r() const { return to_u8(m_color.r); }
  std::uint8_t g() const { return to_u8(m_color.g); }
  std::uint8_t b() const { return to_u8(m_color.b); }
  std::uint8_t a() const { return to_u8(m_color.a); }

  static std::uint8_t to_u8(float v) {
    if (!(v > 0.0f)) return 0;  // also maps NaN to 0
    return static_cast<std::uint8_t>(std::lround(std::min(v, 1.0f) * 255.0f));
  }

 private:
  Color m_color;
};

}  // namespace vorn_ui::color_compat
