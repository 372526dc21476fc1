// Small pictures encoded by the test itself, so that the decoders meet real files.
#pragma once

#include <cstdint>
#include <vector>

namespace test_images {

// A w x h picture: left half red, right half blue, alpha 255.
std::vector<std::uint8_t> pattern_rgba(std::uint32_t w, std::uint32_t h);

std::vector<std::uint8_t> encode_png(std::uint32_t w, std::uint32_t h, const std::vector<std::uint8_t>& rgba);
std::vector<std::uint8_t> encode_jpeg(std::uint32_t w, std::uint32_t h, const std::vector<std::uint8_t>& rgba);
std::vector<std::uint8_t> encode_webp(std::uint32_t w, std::uint32_t h, const std::vector<std::uint8_t>& rgba);

}  // namespace test_images
