// Feeds arbitrary bytes to the picture decoders, as a fetched answer would reach
// them: every answer is a picture of the stated size or an error, never a crash.
#include <cstddef>
#include <cstdint>
#include <span>

#include "vorn_ui/image.h"
#include "vorn_ui/image_decode.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  namespace dec = vorn_ui::image_decode;
  const std::span<const std::uint8_t> bytes(data, size);
  auto decoded = dec::decode(bytes, dec::DecodeLimits{.max_dimension = 1024});
  if (!decoded) {
    if (decoded.error().message.empty()) __builtin_trap();
    return 0;
  }
  const std::size_t expected = std::size_t{decoded->width} * decoded->height * 4;
  if (decoded->width == 0 || decoded->height == 0 || decoded->width > 1024 || decoded->height > 1024 ||
      decoded->pixels.size() != expected)
    __builtin_trap();
  if (!vorn_ui::Image::from_rgba8(decoded->width, decoded->height, decoded->pixels)) __builtin_trap();
  return 0;
}
