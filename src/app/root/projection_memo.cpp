// The projections of both documents, skipped when nothing they read or
// wrote has changed since the last one (see projection_memo.h).
#include "sarn/app/projection_memo.h"

#include <algorithm>

#include "sarn/app/sarn_app.h"

namespace sarn {

namespace {

bool same_video_ids(const std::vector<Video>& videos, const std::vector<std::string>& ids) {
    return videos.size() == ids.size() &&
           std::equal(videos.begin(), videos.end(), ids.begin(), [](const Video& v, const std::string& id) {
               return v.id == id;
           });
}

void copy_video_ids(const std::vector<Video>& videos, std::vector<std::string>& ids) {
    ids.clear();
    ids.reserve(videos.size());
    for (const Video& video : videos) ids.push_back(video.id);
}

}  // namespace

bool DocumentMark::matches(automerge::Document& document) const {
    if (!m_heads || document.pending_ops() != 0) return false;
    return document.heads() == *m_heads;
}

void DocumentMark::mark(automerge::Document& document) {
    if (document.pending_ops() != 0) {
        m_heads.reset();
        return;
    }
    m_heads = document.heads();
}

bool SharedProjectionMemo::current(automerge::Document& document, const Library& library) const {
    return m_document.matches(document) && library.likes == m_likes && library.subscriptions == m_subscriptions &&
           library.subscription_removals == m_subscription_removals &&
           library.queue == m_queue && library.settings == m_settings && library.comment_likes == m_comment_likes &&
           same_video_ids(library.videos, m_video_ids);
}

void SharedProjectionMemo::remember(automerge::Document& document, const Library& library) {
    m_document.mark(document);
    copy_video_ids(library.videos, m_video_ids);
    m_likes = library.likes;
    m_comment_likes = library.comment_likes;
    m_subscriptions = library.subscriptions;
    m_subscription_removals = library.subscription_removals;
    m_queue = library.queue;
    m_settings = library.settings;
}

bool LikesProjectionMemo::stale(const Library& library) const {
    return !m_valid || library.likes != m_likes || !same_video_ids(library.videos, m_video_ids) ||
           !same_video_ids(library.kept_videos, m_kept_ids);
}

void LikesProjectionMemo::remember(const Library& library) {
    copy_video_ids(library.videos, m_video_ids);
    copy_video_ids(library.kept_videos, m_kept_ids);
    m_likes = library.likes;
    m_valid = true;
}

bool HistoryProjectionMemo::current(automerge::Document& document, const Library& library) const {
    return m_document.matches(document) && library.history == m_history;
}

void HistoryProjectionMemo::remember(automerge::Document& document, const Library& library) {
    m_document.mark(document);
    m_history = library.history;
}

// ---- the root's side ----

bool SarnApp::project_shared_state(automerge::Document& document) {
    if (m_shared_memo.current(document, m_library)) return false;
    const bool changed = load_shared_state(document);
    m_shared_memo.remember(document, m_library);
    return changed;
}

bool SarnApp::project_history_state() {
    automerge::Document& document = m_history_store.document();
    if (m_history_memo.current(document, m_library)) return false;
    const bool changed = project_owner_history();
    m_history_memo.remember(document, m_library);
    return changed;
}

void SarnApp::forget_projections() {
    m_shared_memo.forget();
    m_history_memo.forget();
    m_likes_memo.forget();
}

}  // namespace sarn
