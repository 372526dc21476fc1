#pragma once
// 32-bit FNV-1a: a stable, cheap hash of bytes (placeholder hues, search grams).

#include <cstdint>
#include <string_view>

namespace vorn_ui::detail {

inline std::uint32_t fnv1a(std::string_view s) {
  std::uint32_t h = 0x811c9dc5u;
  for (unsigned char c : s) {
    h ^= c;
    h *= 0x01000193u;
  }
  return h;
}

}  // namespace vorn_ui::detail
