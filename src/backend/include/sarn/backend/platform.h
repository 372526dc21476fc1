// Addresses of the video platform's web pages and images that the backends
// build. Safe on any thread.
#pragma once

#include <string>
#include <string_view>

namespace sarn {

// Web origin (no trailing slash) and image host of the platform.
inline constexpr std::string_view kPlatformOrigin = "https://www.youtube.com";
inline constexpr std::string_view kPlatformImageHost = "https://i.ytimg.com";

// "{image host}/vi/{id}/hqdefault.jpg" with the id percent-encoded; an empty
// id gives an empty text.
std::string thumbnail_url(std::string_view video_id);

// Pages under the web origin; ids are percent-encoded.
std::string watch_page_url(std::string_view video_id);
std::string channel_page_url(std::string_view channel_id);
std::string handle_page_url(std::string_view handle);  // handle without "@"
std::string playlist_page_url(std::string_view playlist_id);
std::string trending_page_url();

}  // namespace sarn
