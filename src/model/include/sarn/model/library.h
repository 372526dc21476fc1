// The in-memory model the interface shows: catalogue records, the user's
// library as projected from the shared document, the owner-local history
// order and the page state. Confined to the interface thread.
#pragma once

#include <cstdint>
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
    std::vector<std::string> subscriptions;
    std::vector<std::string> queue;
    std::string profile = default_profile_label();
    std::vector<std::string> history;
    std::optional<std::string> history_notice;
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

    // Lookups: linear, first match, exact byte equality.
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
    std::optional<std::string> find_subscription(std::string_view channel_id) const;
    bool is_subscribed(std::string_view channel_id) const;
    std::optional<std::string> subscription_url(std::string_view entry) const;

    // Derived lists; records in the order given, unknown ids skipped.
    std::vector<const Video*> videos_of_channel(std::string_view channel_id) const;
    std::vector<const Video*> subscribed_videos() const;
    std::vector<const Video*> history_videos() const;
    std::vector<const Video*> search_library(std::string_view query) const;
    std::vector<const Video*> search_results(std::string_view query) const;
    std::vector<const Channel*> search_result_channel_records(std::string_view query) const;
    std::vector<const Playlist*> search_result_playlist_records(std::string_view query) const;
    std::vector<const Video*> related_videos(std::string_view video_id) const;
    std::vector<const Video*> up_next_videos(std::string_view video_id) const;

    // Changes to the local copy.
    void toggle_like(std::string_view video_id);
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
