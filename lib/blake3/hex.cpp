#include "blake3/hex.h"

#include <array>
#include <cstdint>

#include "blake3.h"

namespace blake3 {

std::string hex_digest(std::string_view bytes) {
  blake3_hasher hasher;
  blake3_hasher_init(&hasher);
  blake3_hasher_update(&hasher, bytes.data(), bytes.size());
  std::array<std::uint8_t, BLAKE3_OUT_LEN> out{};
  blake3_hasher_finalize(&hasher, out.data(), out.size());
  static constexpr char digits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(out.size() * 2);
  for (std::uint8_t byte : out) {
    hex.push_back(digits[byte >> 4]);
    hex.push_back(digits[byte & 0x0f]);
  }
  return hex;
}

}  // namespace blake3
