// The in-memory model the interface shows: catalogue records, the user's
// library as projected from the shared document, the owner-local history
// order and the page state. Confined to the interface thread.
#pragma once

#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "sarn/model/platform_url.h"
#include "sarn/model/records.h"
#include "sarn/model/route.h"
#include "sarn/model/settings.h"

namespace sarn {

inline constexpr std::size_t kHistoryLimit = 50;
inline constexpr std::size_t kNoticeLimit = 8;
// The platform's web-address prefix: https scheme, main host, one slash. The
// main host is the bare one, so that addresses normalised from any of the
// platform's origins (as device sync stores them) match known channels.
inline constexpr std::string_view kPlatformWebPrefix = kPlatformBareOrigin;

struct BackendStatus {
    std::string text = "sample data";
    bool live = false;
    friend bool operator==(const BackendStatus&, const BackendStatus&) = default;
};

struct SearchTypeFilter {
    bool video = true;
    bool playlist = true;
    bool creator = true;
    bool all = true;
    friend bool operator==(const SearchTypeFilter&, const SearchTypeFilter&) = default;
};

// One watch-history entry as projected: (video id, watch time in ms).
using HistoryPair = std::pair<std::string, std::uint64_t>;

std::string default_profile_label();

// Trimmed at both ends and lower-cased with full Unicode case mapping.
std::string lowercase(std::string_view text);

struct Library {
    // The built-in offline catalogue: six channels, twelve videos with their
    // comments and skip segments, and a small library state around them.
    static Library sample();

    std::vector<Video> videos;
    std::vector<Channel> channels;
    std::vector<Playlist> playlists;
    // The kept records: what the program keeps, across restarts, of the
    // videos and channels its lists name (likes, queue, history,
    // subscriptions). The lookups fall back on them when the catalogue lists
    // above lack an id; the catalogue's own lists and pages (Home, Trending,
    // a channel's videos, the search) never show them, and the upserts
    // never change them.
    std::vector<Video> kept_videos;
    std::vector<Channel> kept_channels;
    std::vector<std::string> subscriptions;
    // The subscription keys the shared document holds as false: channels the
    // user removed, in the document's key order.
    std::vector<std::string> subscription_removals;
    std::vector<std::string> queue;
    std::string profile = default_profile_label();
    std::vector<std::string> history;
    std::optional<std::string> history_notice;
    // The shared library's status text: its file could not be opened and
    // changes are not being saved. Shown at the top of every page.
    std::optional<std::string> library_notice;
    // The kept records' status text: their file could not be read. Shown at
    // the top of every page.
    std::optional<std::string> records_notice;
    PlaybackSettings settings;
    Route route;
    std::string search_query;
    std::vector<std::string> likes;
    std::map<std::string, bool, std::less<>> comment_likes;
    std::vector<std::string> notices;
    std::string palette_query;
    BackendStatus status;
    std::string search_results_query;
    std::vector<std::string> search_result_videos;
    std::vector<std::string> search_result_channels;
    std::vector<std::string> search_result_playlists;
    std::string up_next_for;
    std::vector<std::string> up_next;
    std::map<std::string, std::uint64_t, std::less<>> dislikes;
    std::map<std::string, std::string, std::less<>> crowd_thumbnails;
    std::optional<std::string> home_error;
    std::optional<std::string> search_error;
    double position = 0.0;
    SearchTypeFilter search_filter;
    bool playing = false;
    bool palette_open = false;
    bool home_loading = false;
    bool search_loading = false;

    // Lookups: linear, first match, exact byte equality; the catalogue lists
    // first, then the kept records.
    const Video* find_video(std::string_view id) const;
    Video* find_video(std::string_view id);
    const Channel* find_channel(std::string_view id) const;
    Channel* find_channel(std::string_view id);
    const Playlist* find_playlist(std::string_view id) const;
    Playlist* find_playlist(std::string_view id);
    bool is_liked(std::string_view video_id) const;
    bool is_queued(std::string_view video_id) const;
    std::uint64_t count_with_own(const Video& video) const;
    std::optional<std::uint64_t> dislike_count(std::string_view video_id) const;
    // The first subscription entry naming the channel: its id, its handle or
    // its address (by handle while the channel is known; by id as
    // "channel/{id}" under any of the platform's origins, trailing slash or not).
    std::optional<std::string> find_subscription(std::string_view channel_id) const;
    // Every subscription entry find_subscription would match, in list order.
    std::vector<std::string> subscription_keys(std::string_view channel_id) const;
    bool is_subscribed(std::string_view channel_id) const;
    std::optional<std::string> subscription_url(std::string_view entry) const;
    // The channel record a subscription entry names: by id, by the id in its
    // channel address, or by a channel's handle (as find_subscription matches).
    const Channel* subscription_channel(std::string_view entry) const;
    // The platform channel id ("UC…") an entry names, when it is one, holds
    // one in its address, or names a known channel with one.
    std::optional<std::string> channel_id_of(std::string_view entry) const;
    // What two entries share when they name the same channel: the channel id
    // (or the known channel's id), else the canonical address without a
    // trailing slash, else the entry itself.
    std::string channel_key(std::string_view entry) const;
    // The address a phone can open and match for an entry: the "www." channel
    // address when the channel id is known, else subscription_url under the
    // "www." origin; none when the entry yields no address.
    std::optional<std::string> peer_subscription_url(std::string_view entry) const;

    // Derived lists; records in the order given, unknown ids skipped.
    std::vector<const Video*> videos_of_channel(std::string_view channel_id) const;
    std::vector<const Video*> subscribed_videos() const;
    std::vector<const Video*> history_videos() const;
    // The videos whose title, channel name or category, lower-cased, holds the
    // trimmed, lower-cased query (all of them for a blank one); the first
    // `limit` of them.
    std::vector<const Video*> search_library(std::string_view query,
                                             std::size_t limit = std::numeric_limits<std::size_t>::max()) const;
    std::vector<const Video*> search_results(std::string_view query) const;
    std::vector<const Channel*> search_result_channel_records(std::string_view query) const;
    std::vector<const Playlist*> search_result_playlist_records(std::string_view query) const;
    std::vector<const Video*> related_videos(std::string_view video_id) const;
    std::vector<const Video*> up_next_videos(std::string_view video_id) const;

    // Changes to the local copy.
    void toggle_like(std::string_view video_id);
    // Removes every entry naming the channel, or appends the id when none does.
    void toggle_subscription(std::string_view channel_id);
    void remember_watched(std::string_view video_id);
    void push_recent_entry(std::string text);
    void project_history(std::vector<HistoryPair> entries);
    void upsert_video(Video video);
    void upsert_channel(Channel channel);
    void upsert_playlist(Playlist playlist);
    void ensure_channel_stub(std::string_view channel_id, std::string_view channel_name);
    void fill_channel_avatar(std::string_view channel_id, std::string_view address);
    bool fill_channel_avatars(std::string_view channel_id, std::string_view channel_name, std::string_view address);
    void share_channel_avatars();
    void ingest_catalog_videos(std::vector<Video> videos, std::string status_text);

    // Display helpers.
    static const std::string& display_title(const Video& video, bool use_crowd_title);
    const std::string& thumbnail_for(const Video& video) const;
};

}  // namespace sarn
