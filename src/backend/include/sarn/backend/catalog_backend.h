// The one interface through which the program reads the video platform's
// catalogue, the queries it takes and the pages it answers.
//
// Threads: an implementation is used by one thread at a time (the fetch
// worker, the interface thread for the palette, or a developer mode); the
// interface itself holds no lock. Every operation is synchronous.
#pragma once

#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "sarn/model/records.h"

namespace sarn {

// Every query answers its value or a displayable error text.
template <class T>
using CatalogResult = std::expected<T, std::string>;

// The query run_query takes, variants in this order.
struct CatalogQuery {
    struct Search {
        std::string text;
    };
    struct Video {
        std::string id;
    };
    struct Channel {
        std::string id;  // channel id, handle or channel address
    };
    struct Related {
        std::string video_id;
    };
    struct Trending {};
    struct SubscriptionFeed {
        std::vector<std::string> channel_ids;
    };
    using Value = std::variant<Search, Video, Channel, Related, Trending, SubscriptionFeed>;

    Value value;

    // Debug text for worker notes: the variant name, then the payload in
    // parentheses, e.g. Trending, Search("cats"), SubscriptionFeed(["a", "b"]).
    std::string debug_text() const;
};

// The successful answer of a catalogue query.
struct CatalogPage {
    struct Videos {
        std::vector<sarn::Video> videos;
    };
    struct Video {
        sarn::Video video;
    };
    struct Channel {
        sarn::Channel channel;
        std::vector<sarn::Video> videos;  // its uploads
    };
    using Value = std::variant<Videos, Video, Channel>;

    Value value;

    static CatalogPage of_videos(std::vector<sarn::Video> videos) { return {Videos{std::move(videos)}}; }
    static CatalogPage of_video(sarn::Video video) { return {Video{std::move(video)}}; }
    static CatalogPage of_channel(sarn::Channel channel, std::vector<sarn::Video> uploads) {
        return {Channel{std::move(channel), std::move(uploads)}};
    }

    // The page as one kind, or null when it is another.
    Videos* as_videos() { return std::get_if<Videos>(&value); }
    const Videos* as_videos() const { return std::get_if<Videos>(&value); }
    Video* as_video() { return std::get_if<Video>(&value); }
    const Video* as_video() const { return std::get_if<Video>(&value); }
    Channel* as_channel() { return std::get_if<Channel>(&value); }
    const Channel* as_channel() const { return std::get_if<Channel>(&value); }
};

// One directly playable stream.
struct PlaybackSource {
    std::string url;      // never empty in a successful answer
    std::string format;   // "{container}; {video codec}"
    std::string quality;  // format note or resolution text
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    bool has_audio = false;
    std::uint8_t fps = 1;  // rounded, 1..=255
    friend bool operator==(const PlaybackSource&, const PlaybackSource&) = default;
};

// A playlist and its videos in order.
struct PlaylistAnswer {
    Playlist playlist;
    std::vector<sarn::Video> videos;
};

inline constexpr std::string_view kNoPlaylistsText = "this backend cannot resolve playlists";
inline constexpr std::string_view kNoPlaybackSourceText = "this backend cannot resolve a playback source";
inline constexpr std::string_view kNoSubscriptionUploadsText = "no uploads across subscriptions";

class CatalogBackend {
public:
    virtual ~CatalogBackend() = default;

    // Names the backend; valid as long as the backend lives.
    virtual std::string_view name() const = 0;
    virtual CatalogResult<CatalogPage> search(std::string_view query) = 0;
    virtual CatalogResult<CatalogPage> video(std::string_view id) = 0;
    virtual CatalogResult<CatalogPage> channel(std::string_view id) = 0;
    virtual CatalogResult<CatalogPage> related(std::string_view id) = 0;
    virtual CatalogResult<CatalogPage> trending() = 0;

    // Defaults: playlist and playback_source fail with their texts above,
    // comments answers an empty list, popular_search is search(topic).
    virtual CatalogResult<PlaylistAnswer> playlist(std::string_view id);
    virtual CatalogResult<std::vector<Comment>> comments(std::string_view video_id);
    virtual CatalogResult<CatalogPage> popular_search(std::string_view topic);
    virtual CatalogResult<PlaybackSource> playback_source(std::string_view video_id);

    // Interleaves the uploads of each channel's own channel() answer; an
    // empty list answers no videos without any query. Not overridable.
    CatalogResult<CatalogPage> subscription_feed(std::span<const std::string> channel_ids);

    // Dispatches on the query's variant. Not overridable.
    CatalogResult<CatalogPage> run_query(CatalogQuery query);
};

// Merges lists pass by pass: each pass takes the next video of every list
// that still has one, in list order. A(a1,a2,a3) B(b1) C(c1,c2) gives
// a1 b1 c1 a2 c2 a3.
std::vector<Video> interleave_video_lists(std::vector<std::vector<Video>> lists);

// A text in quotes with the usual escapes (\" \\ \n \r \t \0, other control
// characters as \u{hex}), as used in debug texts of queries and topics.
std::string debug_quoted(std::string_view text);

}  // namespace sarn
