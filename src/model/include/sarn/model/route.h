// The page address. Navigation behaviour lives with the application shell.
#pragma once

#include <cstdint>
#include <string>

namespace sarn {

struct Route {
    enum class Kind : std::uint8_t {
        Home,
        Trending,
        Subscriptions,
        Queue,
        Watch,     // video id
        Channel,   // channel id
        Playlist,  // playlist id
        Search,    // query
        History,
        Settings,
    };

    Kind kind = Kind::Home;
    std::string text;  // only for Watch, Channel, Playlist and Search

    static Route home() { return {Kind::Home, {}}; }
    static Route trending() { return {Kind::Trending, {}}; }
    static Route subscriptions() { return {Kind::Subscriptions, {}}; }
    static Route queue() { return {Kind::Queue, {}}; }
    static Route watch(std::string video_id) { return {Kind::Watch, std::move(video_id)}; }
    static Route channel(std::string channel_id) { return {Kind::Channel, std::move(channel_id)}; }
    static Route playlist(std::string playlist_id) { return {Kind::Playlist, std::move(playlist_id)}; }
    static Route search(std::string query) { return {Kind::Search, std::move(query)}; }
    static Route history() { return {Kind::History, {}}; }
    static Route settings() { return {Kind::Settings, {}}; }

    static bool carries_text(Kind kind) {
        return kind == Kind::Watch || kind == Kind::Channel || kind == Kind::Playlist || kind == Kind::Search;
    }

    friend bool operator==(const Route&, const Route&) = default;
};

}  // namespace sarn
