// The per-frame synchronisation and the between-frame answers: projection of
// the shared and the owner-local documents, device-sync import, the one-time
// legacy history migration, the home feed and stream requests, and the
// follow-up of the playing video (skip segments, autoplay).
#include <algorithm>
#include <cmath>
#include <limits>
#include <set>
#include <unordered_set>

#include <fmt/format.h>

#include "sarn/actions/library_maps.h"
#include "sarn/actions/owner_history.h"
#include "sarn/actions/shared_reducer.h"
#include "sarn/app/format.h"
#include "sarn/app/sarn_app.h"
#include "sarn/model/platform_url.h"
#include "sarn/sync/import.h"
#include "vorn_log/log.h"

namespace sarn {

namespace {

constexpr std::string_view kLog = "sarn::app";

bool has_control_character(std::string_view text) {
    // Code points 0-31 and 127-159; the latter are two-byte sequences C2 80-9F.
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto b = static_cast<unsigned char>(text[i]);
        if (b < 0x20 || b == 0x7f) return true;
        if (b == 0xc2 && i + 1 < text.size()) {
            const auto next = static_cast<unsigned char>(text[i + 1]);
            if (next >= 0x80 && next <= 0x9f) return true;
        }
    }
    return false;
}

std::string_view trim_white(std::string_view text) {
    constexpr std::string_view kSpace = " \t\n\r\f\v";
    const auto first = text.find_first_not_of(kSpace);
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(kSpace);
    return text.substr(first, last - first + 1);
}

std::uint64_t seconds_to_ms(double seconds) {
    if (!(seconds > 0.0)) return 0;
    const double ms = seconds * 1000.0;
    if (ms >= static_cast<double>(std::numeric_limits<std::uint64_t>::max())) {
        return std::numeric_limits<std::uint64_t>::max();
    }
    return static_cast<std::uint64_t>(ms);
}

}  // namespace

// ---- shared-document projection ----

bool SarnApp::load_shared_state(const automerge::Document& document) {
    const auto root = LibraryMaps::root(document);
    if (root.empty()) return false;
    bool changed = false;
    auto replace = [&changed](auto& target, auto value) {
        if (target != value) {
            target = std::move(value);
            changed = true;
        }
    };

    if (const auto likes = root.child(document, "likes"); !likes.empty()) {
        const std::vector<std::string> liked = likes.keys_with_true(document);
        m_liked_ids = std::unordered_set<std::string>(liked.begin(), liked.end());
        m_likes_memo.forget();
        if (project_likes()) changed = true;
    }
    if (const auto comment_likes = root.child(document, "comment_likes"); !comment_likes.empty()) {
        std::map<std::string, bool, std::less<>> likes;
        for (const std::string& key : comment_likes.keys(document)) {
            if (const auto value = comment_likes.flag(document, key)) likes[key] = *value;
        }
        replace(m_library.comment_likes, std::move(likes));
    }
    if (const auto subscriptions = root.child(document, "subscriptions"); !subscriptions.empty()) {
        std::vector<std::string> followed = subscriptions.keys_with_true(document);
        if (followed != m_library.subscriptions) {
            // Keys followed before and not now: the channel was removed under
            // them, wherever the removal came from.
            if (m_subscriptions_projected) {
                for (const std::string& key : m_library.subscriptions) {
                    if (std::find(followed.begin(), followed.end(), key) == followed.end()) {
                        m_unfollowed_keys.push_back(key);
                    }
                }
            }
            m_library.subscriptions = std::move(followed);
            changed = true;
        }
        m_subscriptions_projected = true;
        replace(m_library.subscription_removals, subscriptions.keys_with(document, false));
    }
    if (const auto queue = root.child(document, "queue"); !queue.empty()) {
        replace(m_library.queue, queue.keys_with_true(document));
    }
    if (const auto settings = root.child(document, "settings"); !settings.empty()) {
        PlaybackSettings next = m_library.settings;
        for (Setting setting : kAllSettings) {
            if (const auto value = settings.flag(document, setting_key(setting))) next.set_flag(setting, *value);
        }
        if (const auto quality = settings.scalar(document, "preferred_quality")) {
            if (const auto text = quality->as_str(); text && is_accepted_quality(*text)) {
                next.preferred_quality = std::string(*text);
            }
        }
        if (const auto categories = settings.child(document, "sponsor_categories"); !categories.empty()) {
            for (SponsorCategory category : kAllSponsorCategories) {
                const auto value = categories.scalar(document, category_key(category));
                if (!value || !value->as_str()) continue;
                if (const auto mode = parse_mode_document_text(*value->as_str())) {
                    next.sponsor_categories[std::string(category_key(category))] = *mode;
                }
            }
        }
        replace(m_library.settings, std::move(next));
    }
    return changed;
}

// The liked list holds the liked videos the Library knows, in its order: the
// catalogue's, then the kept records. Records come and go without the
// document changing, so this is asked every frame; it walks the videos only
// when the liked ids, the Library's videos or its list moved since it last did.
bool SarnApp::project_likes() {
    if (!m_liked_ids) return false;
    if (!m_likes_memo.stale(m_library)) return false;
    std::vector<std::string> liked;
    std::unordered_set<std::string_view> in_catalogue;
    for (const Video& video : m_library.videos) {
        in_catalogue.insert(video.id);
        if (m_liked_ids->contains(video.id)) liked.push_back(video.id);
    }
    for (const Video& video : m_library.kept_videos) {
        if (m_liked_ids->contains(video.id) && in_catalogue.insert(video.id).second) liked.push_back(video.id);
    }
    const bool changed = liked != m_library.likes;
    if (changed) m_library.likes = std::move(liked);
    m_likes_memo.remember(m_library);
    return changed;
}

// A channel may be followed under several keys (its id, its addresses, its
// handle). Removing it under one key, by any of the document's writers (a
// page's button, the runtime's action surfaces, another instance), removes it
// under the others, or the channel would stay followed and never leave.
void SarnApp::unfollow_other_keys(automerge::Document& document) {
    if (m_unfollowed_keys.empty()) return;
    std::vector<std::string> removed = std::move(m_unfollowed_keys);
    m_unfollowed_keys.clear();
    for (const std::string& key : removed) {
        const bool stored_false = std::find(m_library.subscription_removals.begin(),
                                            m_library.subscription_removals.end(),
                                            key) != m_library.subscription_removals.end();
        if (!stored_false) continue;
        const Channel* channel = m_library.subscription_channel(key);
        const std::optional<std::string> id = channel != nullptr ? std::optional<std::string>(channel->id)
                                                                 : m_library.channel_id_of(key);
        if (!id) continue;
        for (const std::string& other : m_library.subscription_keys(*id)) {
            dispatch_action(document, action::SetSubscription{other, false});
        }
    }
}

// ---- owner-local history ----

bool SarnApp::dispatch_history_action(const OwnerHistoryAction& action) {
    if (m_history_store.dispatch(m_history_dispatch, action)) return true;
    m_library.history_notice =
        std::string(m_history_store.recovery_required() ? kHistoryOpenFailedText : kHistorySaveFailedText);
    return false;
}

bool SarnApp::project_owner_history() {
    const auto history_map = owner_history_map(m_history_store.document());
    std::vector<HistoryPair> pairs;
    if (history_map) {
        for (HistoryEntry& entry : entries_after_clear(m_history_store.document(), *history_map, Removals::Skip)) {
            pairs.emplace_back(std::move(entry.video_id), entry.record.watched_at_ms);
        }
    }
    Library projected;
    projected.project_history(std::move(pairs));
    if (projected.history == m_library.history) return false;
    m_library.history = std::move(projected.history);
    return true;
}

void SarnApp::migrate_legacy_history(const automerge::Document& document) {
    const auto root = child_map(document, automerge::ObjId::root(), "sarn");
    if (!root) return;
    const auto private_history = child_map(document, *root, "private_history");
    if (!private_history) return;
    const auto mine = child_map(document, *private_history, owner());
    if (!mine) return;
    for (const HistoryEntry& entry : entries_after_clear(document, *mine, Removals::Include)) {
        const auto action = OwnerHistoryAction::set_entry(entry.video_id, entry.record.watched_at_ms,
                                                          entry.record.present, "legacy:" + entry.record.mutation_id);
        if (!dispatch_history_action(action)) return;  // tried again next frame
    }
    vorn_log::warn(kLog, "migrated legacy shared Sarn history locally; existing shared replicas and exports cannot be recalled");
    if (dispatch_history_action(OwnerHistoryAction::legacy_migration_complete())) m_structure_dirty = true;
}

// ---- device-sync import ----

void SarnApp::import_pulled(automerge::Document& document, const PullResult& pulled, bool& changed) {
    auto dispatch = [&](const SarnAction& action) {
        if (import_synced_actions(m_shared_dispatch, document, action)) changed = true;
    };

    // Subscriptions, in the canonical form of the platform's address. A
    // channel already followed under another key, or removed here under any
    // of its keys, is left as it is: a pull never undoes a removal.
    std::vector<std::string> pulled_channels;
    std::vector<std::string> imported;  // keys dispatched from this message
    const std::size_t subscription_count = std::min(pulled.subscription_urls.size(), kPulledSubscriptionsPerMessage);
    for (std::size_t i = 0; i < subscription_count; ++i) {
        const auto normalized = normalize_watch_url(pulled.subscription_urls[i]);
        if (!normalized || normalized->size() > kLongestPulledSubscription) continue;
        const std::string key = m_library.channel_key(*normalized);
        auto same_channel = [&](const std::string& entry) {
            return entry == *normalized || m_library.channel_key(entry) == key;
        };
        const bool followed = std::any_of(m_library.subscriptions.begin(), m_library.subscriptions.end(), same_channel) ||
                              std::any_of(imported.begin(), imported.end(), same_channel);
        if (!followed && std::any_of(m_library.subscription_removals.begin(), m_library.subscription_removals.end(),
                                     same_channel)) {
            continue;
        }
        if (const PulledChannel* described = pulled_channel(pulled, pulled.subscription_urls[i])) {
            pulled_channels.push_back(remember_pulled_channel(*normalized, *described, changed));
        }
        if (followed) continue;
        imported.push_back(*normalized);
        dispatch(action::SetSubscription{*normalized, true});
    }
    request_missing_records({}, pulled_channels);

    // Watch history; the first id is the most recent. An id the owner-local
    // store holds in any state (watched, removed, cleared) is never recorded
    // again, so a pass neither reorders the history nor undoes a removal or
    // a clear. An entry keeps the time the peer's user watched it.
    const std::size_t history_count = std::min(pulled.history_urls.size(), kPulledHistoryPerMessage);
    const std::uint64_t now = unix_now_ms();
    std::set<std::string, std::less<>> seen;
    for (std::size_t i = 0; i < history_count; ++i) {
        const std::string_view text = trim_white(pulled.history_urls[i]);
        if (text.empty() || text.size() > kLongestPulledHistoryId || has_control_character(text)) continue;
        // A watch address is kept as the video's id, which the catalogue can open.
        const std::string id = video_id_in_address(text).value_or(std::string(text));
        if (!seen.emplace(id).second) continue;
        const PulledHistoryEntry* described = pulled_history_entry(pulled, pulled.history_urls[i]);
        if (described != nullptr) remember_pulled_video(id, id != text, *described, changed);
        const automerge::Document& owner_document = m_history_store.document();
        if (holds_history_entry(owner_document, id) || holds_history_entry(owner_document, text)) continue;
        std::uint64_t watched_at = now > i ? now - i : 0;
        if (described != nullptr && described->watched_at_ms) watched_at = std::min(*described->watched_at_ms, now);
        const auto action = OwnerHistoryAction::set_entry(
            id, watched_at, true, fmt::format("{}:device-sync:{}:{}", owner(), id, watched_at));
        if (dispatch_history_action(action)) changed = true;
    }

    // Settings the peer sent along.
    if (pulled.settings) {
        const PlaybackSettings& theirs = *pulled.settings;
        for (Setting setting : kAllSettings) {
            if (theirs.flag(setting) != m_library.settings.flag(setting)) {
                dispatch(action::SetSetting{setting, theirs.flag(setting)});
            }
        }
        if (is_accepted_quality(theirs.preferred_quality) &&
            theirs.preferred_quality != m_library.settings.preferred_quality) {
            dispatch(action::SetPreferredQuality{theirs.preferred_quality});
        }
        for (SponsorCategory category : kAllSponsorCategories) {
            const auto key = category_key(category);
            const auto their_mode = theirs.sponsor_categories.find(key);
            if (their_mode == theirs.sponsor_categories.end()) continue;
            const auto our_mode = m_library.settings.sponsor_categories.find(key);
            if (our_mode != m_library.settings.sponsor_categories.end() && our_mode->second == their_mode->second) {
                continue;
            }
            dispatch(action::SetSponsorCategory{category, their_mode->second});
        }
    }
}

// ---- sync ----

void SarnApp::sync(vorn_ui::widget::RuntimeState& state) {
    automerge::Document* document = state.document;
    follow_document_state(state);

    // 1. The shared document, with the lists of maps it just gained.
    if (document != nullptr) seed_new_library_maps(*document);
    if (document != nullptr && project_shared_state(*document)) m_structure_dirty = true;
    if (document != nullptr) unfollow_other_keys(*document);

    // 2. One sync pass on the first frame.
    if (!m_first_sync_done) {
        m_first_sync_done = true;
        (void)m_device_sync->send(device_sync_snapshot(m_library));
    }

    // 3. and 4. Device-sync events, then what the peers sent.
    std::vector<PullResult> pulled;
    if (m_device_sync->drain_device_sync([&pulled](PullResult result) { pulled.push_back(std::move(result)); })) {
        m_structure_dirty = true;
    }
    if (document != nullptr) {
        for (const PullResult& message : pulled) {
            bool changed = false;
            import_pulled(*document, message, changed);
            if (changed) m_structure_dirty = true;
        }
        // 5. Imported actions show in the same frame; what only a losing
        // copy of a library map holds moves into the winning one.
        if (project_shared_state(*document)) m_structure_dirty = true;
        unfollow_other_keys(*document);
        converge_library_maps(*document);
        // 6. The one-time migration of history kept in the shared document.
        if (!m_history_store.legacy_migration_done()) migrate_legacy_history(*document);
    }

    // 7. The owner-local history, and how its last writes went.
    if (project_history_state()) m_structure_dirty = true;
    if (m_history_store.take_write_failure()) {
        m_library.history_notice = std::string(kHistorySaveFailedText);
        m_structure_dirty = true;
    }

    // 8. The home feed, once.
    if (m_live && !m_home_requested) {
        m_home_requested = true;
        request_when_live(FetchRequest::home_feed());
    }

    // 9. The stream of a newly opened watch page.
    sync_stream_target();
    sync_player_standby();

    // 10. The palette query follows its input.
    if (m_library.palette_open) {
        std::string text = m_palette_text.text();
        if (text != m_library.palette_query) {
            m_library.palette_query = std::move(text);
            m_structure_dirty = true;
        }
    }

    // 11. and 12. The page tree, then the desktop's media keys.
    if (m_child) m_child->sync(state);
    m_player->pump_media_controls();

    // 13. The player's own quality choice is the preferred quality.
    for (const auto& command : m_player->take_commands()) {
        using Kind = vorn_ui::widget::video_player::PlayerCommand::Kind;
        if (command.kind != Kind::SetSetting || command.setting_id != "resolution") continue;
        if (command.option_index >= kAcceptedQualities.size()) continue;
        const std::string quality(kAcceptedQualities[command.option_index]);
        if (quality == m_library.settings.preferred_quality) continue;
        m_library.settings.preferred_quality = quality;
        m_structure_dirty = true;
        // Stored in the shared document too, or the next projection takes it back.
        dispatch_shared(document, action::SetPreferredQuality{quality});
    }

    // 14. The playing video.
    follow_playback();

    // The liked list follows the records the Library holds; the kept records
    // follow the lists, and the page shown asks for the records it lacks.
    if (project_likes()) m_structure_dirty = true;
    const bool changed = m_records_due || m_structure_dirty;
    if (changed) m_records_due = true;
    // Without a document the lists are none of the user's: nothing is dropped.
    if (document != nullptr) keep_records();
    request_page_records(changed);
}

void SarnApp::follow_playback() {
    if (m_library.route.kind != Route::Kind::Watch || m_loaded_video != m_library.route.text) return;
    const std::uint64_t position_ms = m_player->position_ms();
    const std::uint64_t duration_ms = m_player->duration_ms();
    m_library.position = static_cast<double>(position_ms) / 1000.0;
    m_library.playing = m_player->is_playing();

    bool changed = auto_skip();

    ActiveSegment next{false, m_library.position};
    const Video* video = m_library.find_video(m_library.route.text);
    if (m_library.settings.sponsorblock && video != nullptr) {
        for (const Segment& segment : video->sponsor) {
            if (category_mode(m_library.settings, segment.category) != SponsorMode::Show) continue;
            if (segment.start <= m_library.position && m_library.position < segment.end) {
                next = ActiveSegment{true, segment.end};
                break;
            }
        }
    }
    if (next.inside != m_active_segment.inside || (next.inside && next.end != m_active_segment.end)) changed = true;
    m_active_segment = next;

    // A duration of 0 is unknown (a live stream): never near its end.
    if (duration_ms > 0 && position_ms + kNearEndWindowMs + 1 > duration_ms) {
        if (autoplay_next()) changed = true;
    }
    if (changed) m_structure_dirty = true;
}

void SarnApp::sync_stream_target() {
    if (!m_live) return;
    if (m_library.route.kind == Route::Kind::Watch) {
        if (m_stream_target == m_library.route.text) return;
        m_stream_target = m_library.route.text;
        m_loaded_video.reset();
        m_player->pause();
        if (m_stream_failure && m_stream_failure->first == m_library.route.text) m_stream_failure.reset();
        request_when_live(FetchRequest::stream(m_library.route.text));
    } else if (m_stream_target) {
        m_stream_target.reset();
        m_loaded_video.reset();
        m_player->pause();
    }
}

bool SarnApp::auto_skip() {
    if (!m_library.settings.sponsorblock || m_library.route.kind != Route::Kind::Watch) return false;
    const Video* video = m_library.find_video(m_library.route.text);
    if (video == nullptr) return false;
    for (const Segment& segment : video->sponsor) {
        if (category_mode(m_library.settings, segment.category) != SponsorMode::Skip) continue;
        if (!(segment.start <= m_library.position && m_library.position < segment.end)) continue;
        m_library.position = segment.end;
        m_player->seek(seconds_to_ms(segment.end));
        m_library.push_recent_entry(fmt::format("Skipped {} ({}–{})", category_label(segment.category),
                                                timecode_from_secs(segment.start), timecode_from_secs(segment.end)));
        return true;
    }
    return false;
}

bool SarnApp::autoplay_next() {
    if (!m_library.settings.autoplay || m_library.route.kind != Route::Kind::Watch) return false;
    const std::string current = m_library.route.text;
    const Video* video = m_library.find_video(current);
    // A duration of 0 is unknown: a live stream has no end to play past.
    if (video == nullptr || video->duration == 0) return false;
    if (static_cast<double>(video->duration) - kEndOfVideoMargin > m_library.position) return false;
    const auto next = m_library.up_next_videos(current);
    if (!next.empty() && next.front()->id != current) open_video(next.front()->id);
    return true;
}

void SarnApp::open_video(const std::string& video_id) {
    const std::uint64_t now = unix_now_ms();
    const auto entry = OwnerHistoryAction::set_entry(video_id, now, true,
                                                     fmt::format("{}:watch:{}:{}", owner(), video_id, now));
    if (dispatch_history_action(entry)) m_library.remember_watched(video_id);
    navigate(Route::watch(video_id));
    m_library.position = 0.0;
    m_library.playing = true;
    submit_request(FetchRequest::video_extras(video_id));
    if (const Video* video = m_library.find_video(video_id)) ensure_channel_details(video->channel_id);
    request_when_live(FetchRequest::video(video_id));
}

void SarnApp::ensure_channel_details(const std::string& channel_id) {
    if (channel_id.empty() || m_requested_channels.contains(channel_id)) return;
    if (const Channel* channel = m_library.find_channel(channel_id)) {
        if (!channel->avatar_url.empty() && channel->subscribers != 0) return;
    }
    m_requested_channels.insert(channel_id);
    request_when_live(FetchRequest::channel(channel_id));
}

// ---- between frames ----

bool SarnApp::take_structure_dirty() {
    const bool was_dirty = std::exchange(m_structure_dirty, false);
    const bool applied = apply_fetch_results();
    const bool tree = m_child && m_child->take_structure_dirty();
    // Whatever applying the results marked is rebuilt this frame too.
    const bool marked_since = std::exchange(m_structure_dirty, false);
    const bool changed = was_dirty || applied || tree || marked_since;
    // The next frame looks at the kept records again.
    if (changed) m_records_due = true;
    return changed;
}

bool SarnApp::needs_redraw() const {
    if (m_structure_dirty || images_pending() || !m_child) return true;
    return m_child->needs_redraw();
}

bool SarnApp::needs_idle_sync() const { return m_fetch_worker.has_value() || images_pending(); }

bool SarnApp::needs_animation_frame() const {
    if (m_live && m_library.route.kind == Route::Kind::Watch && m_stream_target == m_library.route.text &&
        m_loaded_video == m_library.route.text) {
        return true;
    }
    if (images_pending()) return true;
    return m_child && m_child->needs_animation_frame();
}

bool SarnApp::is_layout_dirty() const { return !m_child || m_child->is_layout_dirty(); }

}  // namespace sarn
