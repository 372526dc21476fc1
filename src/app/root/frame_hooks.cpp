// The per-frame synchronisation and the between-frame answers: projection of
// the shared and the owner-local documents, device-sync import, the one-time
// legacy history migration, the home feed and stream requests, and the
// follow-up of the playing video (skip segments, autoplay).
#include <algorithm>
#include <cmath>
#include <limits>
#include <set>

#include <fmt/format.h>

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

// A map of the shared document as every copy of it wrote it. Two instances
// (or devices) that first wrote a map at the same time each created one of
// the same name; after a merge the document holds both as concurrent values
// and names only one of them the winner. Reading just the winner would hide
// the other one's changes, so the projection reads them all: the winning map
// first, and a key that several hold takes the first one's value.
struct ConcurrentMaps {
    std::vector<automerge::ObjId> maps;  // the winner first

    static ConcurrentMaps at(const automerge::Document& document, automerge::ObjId parent, std::string_view key) {
        return ConcurrentMaps{{parent}}.child(document, key);
    }

    bool empty() const { return maps.empty(); }

    // Every map stored under the key in any of the maps.
    ConcurrentMaps child(const automerge::Document& document, std::string_view key) const {
        ConcurrentMaps out;
        for (const automerge::ObjId& map : maps) {
            auto items = document.get_all(map, key);
            if (!items) continue;
            // get_all answers the winner last.
            for (auto it = items->rbegin(); it != items->rend(); ++it) {
                if (it->object == automerge::ObjType::map) out.maps.push_back(it->id);
            }
        }
        return out;
    }

    // The scalar of the first map that holds the key.
    std::optional<automerge::Value> scalar(const automerge::Document& document, std::string_view key) const {
        for (const automerge::ObjId& map : maps) {
            auto item = document.get(map, key);
            if (!item || !*item) continue;
            if ((*item)->is_object()) return std::nullopt;
            return (*item)->value;
        }
        return std::nullopt;
    }

    std::optional<bool> flag(const automerge::Document& document, std::string_view key) const {
        const auto value = scalar(document, key);
        return value ? value->as_bool() : std::nullopt;
    }

    // The keys of all the maps, in key order.
    std::set<std::string> keys(const automerge::Document& document) const {
        std::set<std::string> out;
        for (const automerge::ObjId& map : maps) {
            if (auto keys = document.keys(map)) out.insert(keys->begin(), keys->end());
        }
        return out;
    }

    // The keys whose value is true, in key order.
    std::vector<std::string> keys_with_true(const automerge::Document& document) const {
        std::vector<std::string> out;
        for (const std::string& key : keys(document)) {
            if (flag(document, key) == std::optional<bool>(true)) out.push_back(key);
        }
        return out;
    }
};

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
    const auto root = ConcurrentMaps::at(document, automerge::ObjId::root(), "sarn");
    if (root.empty()) return false;
    bool changed = false;
    auto replace = [&changed](auto& target, auto value) {
        if (target != value) {
            target = std::move(value);
            changed = true;
        }
    };

    if (const auto likes = root.child(document, "likes"); !likes.empty()) {
        std::vector<std::string> liked;
        for (const Video& video : m_library.videos) {
            if (likes.flag(document, video.id) == std::optional<bool>(true)) liked.push_back(video.id);
        }
        replace(m_library.likes, std::move(liked));
    }
    if (const auto comment_likes = root.child(document, "comment_likes"); !comment_likes.empty()) {
        std::map<std::string, bool, std::less<>> likes;
        for (const std::string& key : comment_likes.keys(document)) {
            if (const auto value = comment_likes.flag(document, key)) likes[key] = *value;
        }
        replace(m_library.comment_likes, std::move(likes));
    }
    if (const auto subscriptions = root.child(document, "subscriptions"); !subscriptions.empty()) {
        replace(m_library.subscriptions, subscriptions.keys_with_true(document));
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

    // Subscriptions, in the canonical form of the platform's address.
    const std::size_t subscription_count = std::min(pulled.subscription_urls.size(), kPulledSubscriptionsPerMessage);
    for (std::size_t i = 0; i < subscription_count; ++i) {
        const auto normalized = normalize_watch_url(pulled.subscription_urls[i]);
        if (!normalized || normalized->size() > kLongestPulledSubscription) continue;
        if (std::find(m_library.subscriptions.begin(), m_library.subscriptions.end(), *normalized) !=
            m_library.subscriptions.end()) {
            continue;
        }
        const std::string_view path = std::string_view(*normalized).substr(kPlatformBareOrigin.size());
        const bool known = std::any_of(m_library.channels.begin(), m_library.channels.end(), [&](const Channel& c) {
            std::string_view handle = c.handle;
            const bool same = handle == *normalized || [&] {
                std::string_view trimmed = handle;
                while (trimmed.starts_with('/')) trimmed.remove_prefix(1);
                return trimmed == path;
            }();
            return same && m_library.is_subscribed(c.id);
        });
        if (known) continue;
        dispatch(action::SetSubscription{*normalized, true});
    }

    // Watch history; the first id is the most recent.
    const std::size_t history_count = std::min(pulled.history_urls.size(), kPulledHistoryPerMessage);
    const std::uint64_t now = unix_now_ms();
    std::set<std::string, std::less<>> seen;
    for (std::size_t i = 0; i < history_count; ++i) {
        const std::string_view id = trim_white(pulled.history_urls[i]);
        if (id.empty() || id.size() > kLongestPulledHistoryId || has_control_character(id)) continue;
        if (std::find(m_library.history.begin(), m_library.history.end(), id) != m_library.history.end()) continue;
        if (!seen.emplace(id).second) continue;
        const std::uint64_t watched_at = now > i ? now - i : 0;
        const auto action = OwnerHistoryAction::set_entry(
            std::string(id), watched_at, true, fmt::format("{}:device-sync:{}:{}", owner(), id, watched_at));
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

    // 1. The shared document.
    if (document != nullptr && load_shared_state(*document)) m_structure_dirty = true;

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
        // 5. Imported actions show in the same frame.
        if (load_shared_state(*document)) m_structure_dirty = true;
        // 6. The one-time migration of history kept in the shared document.
        if (!m_history_store.legacy_migration_done()) migrate_legacy_history(*document);
    }

    // 7. The owner-local history, and how its last writes went.
    if (project_owner_history()) m_structure_dirty = true;
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
    return was_dirty || applied || tree || marked_since;
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
