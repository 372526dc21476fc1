// Decoding of fetched picture bytes (JPEG, PNG, WebP) into straight-alpha RGBA.
// Pure functions; any thread may call them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vorn_ui::image_decode {

enum class Format : std::uint8_t { Jpeg, Png, WebP, Gif, Other };

// Recognises a format by its first bytes (never by address or content type).
Format sniff(std::span<const std::uint8_t> bytes);
std::string_view to_string(Format format);

struct Rgba {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::vector<std::uint8_t> pixels;  // width * height * 4, straight alpha, rows packed
};

enum class DecodeErrorKind : std::uint8_t {
    UnknownFormat,  // not a JPEG, PNG or WebP
    Truncated,      // the data ends before the picture does
    Corrupt,        // the decoder refused the data
    TooLarge,       // wider, taller or larger than the limits
};

struct DecodeError {
    DecodeErrorKind kind;
    std::string message;
};

struct DecodeLimits {
    std::uint32_t max_dimension = 8192;
    // Decoded bytes (width * height * 4) a picture may take; larger ones are refused
    // from their header, before any pixel memory is taken.
    std::size_t max_bytes = std::size_t{8192} * 8192 * 4;
};

std::expected<Rgba, DecodeError> decode(std::span<const std::uint8_t> bytes, DecodeLimits limits = {});

}  // namespace vorn_ui::image_decode
