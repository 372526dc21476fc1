// The fetch worker's results: each one is applied to the Library and the page
// state on the interface thread, at most 32 per pass.
#include <algorithm>

#include "sarn/app/sarn_app.h"
#include "sarn/model/library.h"
#include "vorn_log/log.h"

namespace sarn {

namespace {

constexpr std::string_view kLog = "sarn::app";

// The three steps that store one fetched video.
void store_video(Library& library, Video video) {
    library.ensure_channel_stub(video.channel_id, video.channel_name);
    library.fill_channel_avatars(video.channel_id, video.channel_name, video.channel_avatar_url);
    library.upsert_video(std::move(video));
}

// A searched channel merges into the record the Library already has.
void merge_result_channel(Library& library, Channel found) {
    library.fill_channel_avatars(found.id, found.name, found.avatar_url);
    Channel* stored = library.find_channel(found.id);
    if (stored == nullptr) {
        library.channels.push_back(std::move(found));
        return;
    }
    if (stored->avatar_url.empty()) stored->avatar_url = found.avatar_url;
    if (stored->subscribers == 0) stored->subscribers = found.subscribers;
    if (stored->handle == stored->id && !found.handle.empty()) stored->handle = found.handle;
    stored->verified = stored->verified || found.verified;
}

std::string lower_ascii(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); });
    return out;
}

}  // namespace

bool SarnApp::apply_fetch_results() {
    if (!m_fetch_worker) return false;
    std::vector<std::string> pending_channels;
    bool changed = false;
    for (FetchResult& result : m_fetch_worker->take_results(kFetchResultsPerPass)) {
        if (apply_fetch_result(std::move(result), pending_channels)) changed = true;
    }
    for (const std::string& channel_id : pending_channels) ensure_channel_details(channel_id);
    sync_player_standby();
    return changed;
}

bool SarnApp::apply_fetch_result(FetchResult result, std::vector<std::string>& pending_channels) {
    Library& lib = m_library;
    auto want_details = [&](const std::string& channel_id) {
        if (!channel_id.empty() &&
            std::find(pending_channels.begin(), pending_channels.end(), channel_id) == pending_channels.end()) {
            pending_channels.push_back(channel_id);
        }
    };

    const bool changed = std::visit(
        [&](auto& r) -> bool {
            using R = std::decay_t<decltype(r)>;
            if constexpr (std::is_same_v<R, FetchResult::SponsorSegments>) {
                Video* video = lib.find_video(r.video_id);
                if (video == nullptr) return false;
                video->sponsor = std::move(r.segments);
                return true;
            } else if constexpr (std::is_same_v<R, FetchResult::Branding>) {
                bool changed = false;
                if (Video* video = lib.find_video(r.video_id)) {
                    if (r.title) video->dearrow_title = r.title;
                    video->dearrow_thumb = r.thumbnail.has_value();
                    changed = true;
                }
                if (r.thumbnail && !r.thumbnail->empty()) {
                    lib.crowd_thumbnails[r.video_id] = *r.thumbnail;
                    changed = true;
                }
                return changed;
            } else if constexpr (std::is_same_v<R, FetchResult::Dislikes>) {
                lib.dislikes[r.video_id] = r.dislikes;
                return true;
            } else if constexpr (std::is_same_v<R, FetchResult::SearchResults>) {
                lib.search_loading = false;
                lib.search_error.reset();
                std::vector<std::string> video_ids, channel_ids, playlist_ids;
                for (Video& video : r.videos) {
                    video_ids.push_back(video.id);
                    store_video(lib, std::move(video));
                }
                for (Playlist& playlist : r.playlists) {
                    playlist_ids.push_back(playlist.id);
                    lib.ensure_channel_stub(playlist.channel_id, playlist.channel_name);
                    lib.upsert_playlist(std::move(playlist));
                }
                for (Channel& channel : r.channels) {
                    channel_ids.push_back(channel.id);
                    merge_result_channel(lib, std::move(channel));
                }
                lib.share_channel_avatars();
                lib.search_results_query = r.query;
                lib.search_result_videos = video_ids;
                lib.search_result_channels = std::move(channel_ids);
                lib.search_result_playlists = std::move(playlist_ids);
                // The page and the navigation state name the same search.
                if (lib.route.kind == Route::Kind::Search) {
                    lib.route.text = r.query;
                    if (m_navigation.current.kind == Route::Kind::Search) m_navigation.current.text = r.query;
                }
                std::size_t wanted = 0;
                for (const std::string& id : video_ids) {
                    if (wanted == kChannelDetailsPerSearch) break;
                    const Video* video = lib.find_video(id);
                    if (video == nullptr || video->channel_id.empty()) continue;
                    if (std::find(pending_channels.begin(), pending_channels.end(), video->channel_id) !=
                        pending_channels.end()) {
                        continue;
                    }
                    const Channel* channel = lib.find_channel(video->channel_id);
                    if (channel != nullptr && !channel->avatar_url.empty()) continue;
                    pending_channels.push_back(video->channel_id);
                    ++wanted;
                }
                return true;
            } else if constexpr (std::is_same_v<R, FetchResult::PlaylistPage>) {
                for (Video& video : r.videos) {
                    lib.ensure_channel_stub(video.channel_id, video.channel_name);
                    lib.fill_channel_avatar(video.channel_id, video.channel_avatar_url);
                    lib.upsert_video(std::move(video));
                }
                lib.ensure_channel_stub(r.playlist.channel_id, r.playlist.channel_name);
                lib.upsert_playlist(std::move(r.playlist));
                return true;
            } else if constexpr (std::is_same_v<R, FetchResult::HomeFeed>) {
                lib.ingest_catalog_videos(std::move(r.videos), "live (rustypipe)");
                lib.home_loading = false;
                lib.home_error.reset();
                return true;
            } else if constexpr (std::is_same_v<R, FetchResult::VideoDetails>) {
                const std::string id = r.video.id;
                const std::string channel_id = r.video.channel_id;
                store_video(lib, std::move(r.video));
                if (!channel_id.empty()) {
                    const Channel* channel = lib.find_channel(channel_id);
                    if (channel == nullptr || channel->avatar_url.empty() || channel->subscribers == 0) {
                        want_details(channel_id);
                    }
                }
                std::vector<std::string> related_ids;
                for (Video& related : r.related) {
                    related_ids.push_back(related.id);
                    store_video(lib, std::move(related));
                }
                lib.share_channel_avatars();
                if (!related_ids.empty()) {
                    lib.up_next_for = id;
                    lib.up_next = std::move(related_ids);
                }
                return true;
            } else if constexpr (std::is_same_v<R, FetchResult::Comments>) {
                Video* video = lib.find_video(r.video_id);
                if (video == nullptr) return false;
                video->comments = std::move(r.comments);
                return true;
            } else if constexpr (std::is_same_v<R, FetchResult::ChannelPage>) {
                lib.fill_channel_avatars(r.channel.id, r.channel.name, r.channel.avatar_url);
                lib.upsert_channel(std::move(r.channel));
                for (Video& video : r.videos) store_video(lib, std::move(video));
                lib.share_channel_avatars();
                return true;
            } else if constexpr (std::is_same_v<R, FetchResult::Status>) {
                if (!r.live && lower_ascii(r.text).find("offline") != std::string::npos) {
                    lib.home_loading = false;
                    lib.search_loading = false;
                }
                // An offline start asks the worker only for a typed search and
                // an opened video's extras: the "connecting…" of its start would
                // stand until a search answers, so the sample keeps its own
                // status until one does.
                if (!m_live && !r.live && lower_ascii(r.text).find("connect") != std::string::npos) return false;
                if (lib.status.live == r.live && lib.status.text == r.text) return false;
                lib.status = BackendStatus{r.text, r.live};
                return true;
            } else if constexpr (std::is_same_v<R, FetchResult::StreamReady>) {
                // Requests that were never answered (the worker failed in
                // between) are left behind with the one answered now.
                while (!m_stream_requests.empty()) {
                    const bool answered = m_stream_requests.front() == r.video_id;
                    m_stream_requests.pop_front();
                    if (answered) break;
                }
                if (lib.route.kind != Route::Kind::Watch || lib.route.text != r.video_id) return false;
                std::optional<vorn_ui::widget::video_player::NowPlaying> now;
                if (const Video* video = lib.find_video(r.video_id)) {
                    const bool crowd = lib.settings.dearrow && lib.settings.dearrow_titles;
                    now = vorn_ui::widget::video_player::NowPlaying{Library::display_title(*video, crowd),
                                                                     video->channel_name, video->thumbnail_url};
                }
                m_player->open(r.url);
                m_player->play();
                if (now) m_player->set_now_playing(std::move(*now));
                if (m_live && !m_mpris_enabled) {
                    if (auto published = m_player->enable_mpris(std::string(kMprisBusName),
                                                                std::string(kMprisDisplayName));
                        !published) {
                        vorn_log::debug(kLog, "media keys unavailable", {vorn_log::field("error", published.error())});
                    }
                    m_mpris_enabled = true;
                }
                m_loaded_video = r.video_id;
                lib.playing = true;
                vorn_log::debug(kLog, "stream loaded into player",
                                {vorn_log::field("quality", r.quality), vorn_log::field("has_audio", r.has_audio)});
                return true;
            } else {
                static_assert(std::is_same_v<R, FetchResult::Note>);
                vorn_log::debug(kLog, "sarn worker note", {vorn_log::field("note", r.text)});
                // The oldest unanswered Stream request ended without a stream.
                if (r.text == kNoStreamNote && !m_stream_requests.empty()) {
                    m_stream_failure.emplace(std::move(m_stream_requests.front()), r.text);
                    m_stream_requests.pop_front();
                }
                return false;
            }
        },
        result.value);
    // A record may have come for what the lists name.
    if (changed) m_records_due = true;
    return changed;
}

}  // namespace sarn
