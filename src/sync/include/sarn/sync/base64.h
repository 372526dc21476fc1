#pragma once
// Base64 of key texts and invites. Pure functions; any thread.

#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sarn/sync/error.h"

namespace sarn {

// Trims white space, then tries standard padded, standard unpadded, URL-safe
// padded and URL-safe unpadded; Pairing "invalid base64 value" when none fits.
std::expected<std::vector<std::uint8_t>, DeviceSyncError> decode_base64_any(std::string_view text);

// Standard alphabet with padding.
std::string encode_base64(std::span<const std::uint8_t> bytes);

}  // namespace sarn
