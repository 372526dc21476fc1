// Addresses under the video platform's own web origins.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace sarn {

inline constexpr std::string_view kPlatformBareOrigin = "https://youtube.com/";
inline constexpr std::string_view kPlatformWwwOrigin = "https://www.youtube.com/";
inline constexpr std::string_view kPlatformMobileOrigin = "https://m.youtube.com/";

// Canonical form of an address under one of the platform's three web origins
// (bare, "www.", "m."): the bare origin followed by the rest. None when the
// text (trimmed of Unicode white space) starts with no such origin, or the
// rest is empty, longer than 232 bytes or holds a control character
// (U+0000-U+001F, U+007F-U+009F).
std::optional<std::string> normalize_watch_url(std::string_view text);

// Removes ASCII white space at both ends.
std::string_view trim_ascii(std::string_view text);

}  // namespace sarn
