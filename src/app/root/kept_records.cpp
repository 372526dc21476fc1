// The kept records of the live app: read back by the live start, kept in
// step with the lists whenever something changed, and the missing ones asked
// for while their page is shown.
//
// Which record is kept of an id: the catalogue's, when it holds one (the
// freshest the program has, from whatever source put it there: a feed, a
// search, an opened video, device sync), else the kept one. Every id of the
// likes, the queue and the history keeps its video's record, every
// subscription entry its channel's; the others are dropped. Two states stop
// the dropping: a shared document whose file did not load shows lists that
// are not the user's (nothing is saved then), and a history in recovery
// shows no history.
#include <unordered_map>
#include <unordered_set>

#include "sarn/app/sarn_app.h"

namespace sarn {

namespace {

// A fresh record replaces the kept one, except that the addresses and the
// crowd-sourced title it lacks stay, as the catalogue's upserts keep them.
Video merged(Video now, const Video* before) {
    if (before != nullptr) {
        if (now.thumbnail_url.empty()) now.thumbnail_url = before->thumbnail_url;
        if (now.channel_avatar_url.empty()) now.channel_avatar_url = before->channel_avatar_url;
        if (!now.dearrow_title) now.dearrow_title = before->dearrow_title;
    }
    return now;
}

Channel merged(Channel now, const Channel* before) {
    if (before != nullptr && now.avatar_url.empty()) now.avatar_url = before->avatar_url;
    return now;
}

template <class Record>
std::unordered_map<std::string_view, const Record*> by_id(const std::vector<Record>& records) {
    std::unordered_map<std::string_view, const Record*> out;
    out.reserve(records.size());
    for (const Record& record : records) out.emplace(record.id, &record);
    return out;
}

template <class Record>
const Record* lookup(const std::unordered_map<std::string_view, const Record*>& index, std::string_view id) {
    const auto found = index.find(id);
    return found == index.end() ? nullptr : found->second;
}

bool is_in(const std::vector<Channel>& list, const Channel* channel) {
    return !list.empty() && channel >= list.data() && channel < list.data() + list.size();
}

}  // namespace

void SarnApp::keep_records() {
    if (!m_kept_records) return;
    // A failed write is logged; the next change writes the whole file again.
    (void)m_kept_records->take_write_failure();
    if (!m_records_due || m_document_error) return;
    m_records_due = false;

    const KeptRecords& before = m_kept_records->records();
    const auto saved_videos = by_id(before.videos);
    const auto saved_channels = by_id(before.channels);
    const auto catalogue_videos = by_id(m_library.videos);
    const auto kept_videos = by_id(m_library.kept_videos);

    KeptRecords next;
    std::vector<Video> library_videos;  // the Library's kept copies
    std::unordered_set<std::string_view> taken;
    auto keep_video = [&](const std::string& id) {
        if (!taken.insert(id).second) return;
        if (const Video* fresh = lookup(catalogue_videos, id)) {
            next.videos.push_back(merged(kept_fields(*fresh), lookup(saved_videos, id)));
            library_videos.push_back(next.videos.back());
        } else if (const Video* kept = lookup(kept_videos, id)) {
            // The Library's copy may hold what came for it since (comments,
            // segments); the file keeps its kept fields.
            next.videos.push_back(merged(kept_fields(*kept), lookup(saved_videos, id)));
            library_videos.push_back(*kept);
        }
    };
    for (const std::string& id : m_library.queue) keep_video(id);
    for (const std::string& id : m_library.history) keep_video(id);
    for (const std::string& id : m_library.likes) keep_video(id);
    if (m_history_store.recovery_required()) {
        // The history that is not shown may still name them.
        for (const Video& video : m_library.kept_videos) keep_video(video.id);
    }

    std::vector<Channel> library_channels;
    std::unordered_set<std::string_view> taken_channels;
    for (const std::string& entry : m_library.subscriptions) {
        const Channel* channel = m_library.subscription_channel(entry);
        if (channel == nullptr || !taken_channels.insert(channel->id).second) continue;
        next.channels.push_back(merged(kept_fields(*channel), lookup(saved_channels, channel->id)));
        library_channels.push_back(is_in(m_library.kept_channels, channel) ? *channel : next.channels.back());
    }

    if (library_videos != m_library.kept_videos) m_library.kept_videos = std::move(library_videos);
    if (library_channels != m_library.kept_channels) m_library.kept_channels = std::move(library_channels);
    if (next == before && !m_kept_records->unsaved()) return;
    m_kept_records->save(std::move(next));
}

void SarnApp::request_page_records(bool changed) {
    if (!m_live) return;
    // The lists are walked when they or the page changed, else once a second
    // while requests are out (one may have run out of patience).
    const auto now = RecordRequests::Clock::now();
    const bool page_changed = m_records_route != m_library.route;
    const bool waiting = m_record_requests.in_flight() > 0 && now - m_records_checked >= std::chrono::seconds(1);
    if (!changed && !page_changed && !waiting) return;
    m_records_route = m_library.route;
    m_records_checked = now;
    switch (m_library.route.kind) {
        case Route::Kind::Queue: request_missing_records(m_library.queue, {}); break;
        case Route::Kind::History: request_missing_records(m_library.history, {}); break;
        case Route::Kind::Subscriptions: request_missing_records({}, m_library.subscriptions); break;
        default: break;
    }
}

void SarnApp::request_missing_records(std::span<const std::string> video_ids,
                                      std::span<const std::string> channel_entries) {
    if (!m_live) return;
    for (FetchRequest& request :
         m_record_requests.next(m_library, video_ids, channel_entries, RecordRequests::Clock::now())) {
        submit_request(std::move(request));
    }
}

void SarnApp::finish_record_writes() {
    if (m_kept_records) m_kept_records->finish_writes();
}

}  // namespace sarn
