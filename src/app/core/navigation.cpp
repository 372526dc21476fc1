#include "sarn/app/navigation.h"

#include <fmt/format.h>

namespace sarn {

void Navigation::navigate(const Route& target) {
    if (target == current) return;
    back.push_back(std::move(current));
    current = target;
}

void Navigation::replace(const Route& target) {
    if (!back.empty() && back.back() == target) back.pop_back();
    current = target;
}

bool Navigation::go_back() {
    if (back.empty()) return false;
    current = std::move(back.back());
    back.pop_back();
    return true;
}

std::string route_scroll_key(const Route& route) {
    switch (route.kind) {
        case Route::Kind::Home: return "home";
        case Route::Kind::Trending: return "trending";
        case Route::Kind::Subscriptions: return "subs";
        case Route::Kind::Queue: return "queue";
        case Route::Kind::Watch: return "watch:" + route.text;
        case Route::Kind::Channel: return "channel:" + route.text;
        case Route::Kind::Playlist: return "playlist:" + route.text;
        case Route::Kind::Search: return "search:" + route.text;
        case Route::Kind::History: return "history";
        case Route::Kind::Settings: return "settings";
    }
    return "home";
}

std::string route_screen_name(const Route& route, const Library& library) {
    switch (route.kind) {
        case Route::Kind::Home: return "Home";
        case Route::Kind::Trending: return "Trending";
        case Route::Kind::Subscriptions: return "Subscriptions";
        case Route::Kind::Queue: return "Shared watch queue";
        case Route::Kind::Watch: {
            const Video* video = library.find_video(route.text);
            return video != nullptr ? video->title : "Video";
        }
        case Route::Kind::Channel: {
            const Channel* channel = library.find_channel(route.text);
            return channel != nullptr ? channel->name : "Creator";
        }
        case Route::Kind::Playlist: {
            const Playlist* playlist = library.find_playlist(route.text);
            return playlist != nullptr ? playlist->title : "Playlist";
        }
        case Route::Kind::Search: return fmt::format("Search results for {}", route.text);
        case Route::Kind::History: return "Watch history";
        case Route::Kind::Settings: return "Settings";
    }
    return "Home";
}

std::string watch_link(std::string_view video_id) { return fmt::format("{}{}", kWatchLinkPrefix, video_id); }
std::string channel_link(std::string_view channel_id) { return fmt::format("{}{}", kChannelLinkPrefix, channel_id); }

std::optional<std::string> parse_watch_link(std::string_view text) {
    if (!text.starts_with(kWatchLinkPrefix)) return std::nullopt;
    return std::string(text.substr(kWatchLinkPrefix.size()));
}

std::optional<std::string> parse_channel_link(std::string_view text) {
    if (!text.starts_with(kChannelLinkPrefix)) return std::nullopt;
    return std::string(text.substr(kChannelLinkPrefix.size()));
}

}  // namespace sarn
