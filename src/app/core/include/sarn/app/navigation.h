#pragma once
// Navigation: the current route, the back stack, the route table (scroll key
// and screen name of every page) and the in-application links
// "sarn://watch/{id}" and "sarn://channel/{id}".
//
// Plain values and pure functions; the root widget owns its Navigation on
// the interface thread.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sarn/model/library.h"
#include "sarn/model/route.h"

namespace sarn {

inline constexpr std::string_view kWatchLinkPrefix = "sarn://watch/";
inline constexpr std::string_view kChannelLinkPrefix = "sarn://channel/";

struct Navigation {
    Route current = Route::home();
    std::vector<Route> back;  // the top of the stack is the last element

    // Pushes the current route and moves to the target; nothing when equal.
    void navigate(const Route& target);
    // Moves to the target without pushing; a target equal to the top of the
    // stack is popped first (a repeated search does not pile up).
    void replace(const Route& target);
    // Pops the top of the stack into the current route; false when empty.
    bool go_back();
    bool can_go_back() const { return !back.empty(); }
};

// "home", "trending", "subs", "queue", "watch:{id}", "channel:{id}",
// "playlist:{id}", "search:{query}", "history", "settings".
std::string route_scroll_key(const Route& route);
// The name of the page for assistive technology: "Home", the video's title
// (or "Video"), the channel's name (or "Creator"), the playlist's title (or
// "Playlist"), "Search results for {query}", ...
std::string route_screen_name(const Route& route, const Library& library);

std::string watch_link(std::string_view video_id);
std::string channel_link(std::string_view channel_id);
// The text after the prefix when the text starts with it (it may be empty).
std::optional<std::string> parse_watch_link(std::string_view text);
std::optional<std::string> parse_channel_link(std::string_view text);

}  // namespace sarn
