// Parsers of the platform's innertube web API answers ("search", "next",
// "browse", "navigation/resolve_url") into the catalogue records.
//
// Each parser takes the whole answer body and either gives its records or an
// error text. They never throw: malformed JSON, wrong member types and
// missing members give an error text (when the answer is unusable) or fewer
// items (when single items are broken). Both the older renderer layouts
// ("videoRenderer", "channelRenderer", "commentThreadRenderer" with
// "commentRenderer", ...) and the newer view-model layouts
// ("lockupViewModel", "commentViewModel" with its entity batch, ...) are read.
//
// Every video item is mapped the same way: seed = id, thumbnail_url = the
// image host's hqdefault address of the id, category "Search", channel_seed =
// channel id, channel_name "Unknown" when the item carries no channel.
//
// Threads: any thread; each thread keeps its own JSON parser buffer.
#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <vector>

#include "sarn/model/records.h"

namespace sarn::innertube {

template <class T>
using ParseResult = std::expected<T, std::string>;

// Items of one search answer (first page or a continuation), each list in
// item order. Shorts shelves and "people also watched" shelves are left out.
struct SearchPage {
    std::vector<Video> videos;
    std::vector<Channel> channels;
    std::vector<Playlist> playlists;
};
ParseResult<SearchPage> parse_search(std::string_view body);

// The "next" answer of a watch page: the video's details, its recommended
// videos and the continuation token of its top comments (empty when comments
// are turned off or absent). The details' duration is 0 (not in this answer).
struct WatchPage {
    Video video;
    std::vector<Video> related;
    std::string comments_token;
};
ParseResult<WatchPage> parse_watch(std::string_view body);

// The comments of a "next" continuation answer, in page order (top-level
// threads only, replies are counted, not listed). A page without items is an
// empty list.
ParseResult<std::vector<Comment>> parse_comments(std::string_view body);

// A channel's videos tab: the channel's header and its uploads. Uploads that
// carry no channel of their own take this channel's id, name and avatar.
struct ChannelPage {
    Channel channel;
    std::vector<Video> uploads;
};
ParseResult<ChannelPage> parse_channel(std::string_view body);

// A playlist's first page ("VL" + id). `requested_id` names the playlist when
// the answer does not. The video count is the one the page reports, else the
// number of videos found.
struct PlaylistPage {
    Playlist playlist;
    std::vector<Video> videos;
};
ParseResult<PlaylistPage> parse_playlist(std::string_view body, std::string_view requested_id);

// The videos of any browse feed (grids, shelves, rich grids, continuations),
// as a trending feed answers them.
ParseResult<std::vector<Video>> parse_video_feed(std::string_view body);

// The channel id that a "navigation/resolve_url" answer points to.
ParseResult<std::string> parse_resolved_channel(std::string_view body);

// The message of an API error answer ({"error":{"message":...}}) or of the
// first error alert; empty when the body holds neither (or is no JSON).
std::string api_error_message(std::string_view body);

// Largest-area entry of a thumbnail list ("thumbnails" or view-model
// "sources" entries with url, width and height; the later entry wins ties),
// with "https:" put before an address that starts with "//".
// Exposed for tests; takes the JSON text of the list.
std::string best_thumbnail_url_of(std::string_view thumbnails_json);

// The image host's fallback address of a video id (percent-encoded); empty
// for an empty id.
std::string video_thumbnail_url(std::string_view video_id);

}  // namespace sarn::innertube
