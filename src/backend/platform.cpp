#include "sarn/backend/platform.h"

#include <fmt/format.h>

#include "sarn/http/client.h"

namespace sarn {

using http::percent_encode;

std::string thumbnail_url(std::string_view video_id) {
    if (video_id.empty()) return {};
    return fmt::format("{}/vi/{}/hqdefault.jpg", kPlatformImageHost, percent_encode(video_id));
}

std::string watch_page_url(std::string_view video_id) {
    return fmt::format("{}/watch?v={}", kPlatformOrigin, percent_encode(video_id));
}

std::string channel_page_url(std::string_view channel_id) {
    return fmt::format("{}/channel/{}", kPlatformOrigin, percent_encode(channel_id));
}

std::string handle_page_url(std::string_view handle) {
    return fmt::format("{}/@{}", kPlatformOrigin, percent_encode(handle));
}

std::string playlist_page_url(std::string_view playlist_id) {
    return fmt::format("{}/playlist?list={}", kPlatformOrigin, percent_encode(playlist_id));
}

std::string trending_page_url() { return fmt::format("{}/feed/trending", kPlatformOrigin); }

}  // namespace sarn
