// Addresses under the video platform's own web origins.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace sarn {

inline constexpr std::string_view kPlatformBareOrigin = "https://youtube.com/";
inline constexpr std::string_view kPlatformWwwOrigin = "https://www.youtube.com/";
inline constexpr std::string_view kPlatformMobileOrigin = "https://m.youtube.com/";
inline constexpr std::string_view kPlatformShortOrigin = "https://youtu.be/";

// Canonical form of an address under one of the platform's three web origins
// (bare, "www.", "m."): the bare origin followed by the rest. None when the
// text (trimmed of Unicode white space) starts with no such origin, or the
// rest is empty, longer than 232 bytes or holds a control character
// (U+0000-U+001F, U+007F-U+009F).
std::optional<std::string> normalize_watch_url(std::string_view text);

// A channel id of the platform: "UC" and 1 to 62 letters, digits, "-" or "_".
bool is_channel_id(std::string_view text);

// The channel id of an address under one of the platform's origins whose path
// is "channel/{id}", with or without a trailing slash or a further path.
std::optional<std::string> channel_id_in_address(std::string_view text);

// The video id of a watch address ("watch?v={id}", "shorts/{id}", "live/{id}"
// under the platform's origins, or the short-link origin followed by the id);
// ids are 1 to 64 letters, digits, "-" or "_".
std::optional<std::string> video_id_in_address(std::string_view text);

// The address a phone stores for a channel: the "www." origin, "channel/", the id.
std::string channel_address_for_peer(std::string_view channel_id);

// The same address under the "www." origin, for an address under the bare one;
// other texts unchanged.
std::string www_spelling(std::string_view address);

// Removes ASCII white space at both ends.
std::string_view trim_ascii(std::string_view text);

}  // namespace sarn
