#include "sarn/app/action_tree.h"

#include <algorithm>
#include <array>
#include <utility>

#include <fmt/format.h>
#include <unicode/uchar.h>

#include "json_reader/text.h"
#include "sarn/actions/owner_identity.h"
#include "sarn/actions/shared_reducer.h"
#include "sarn/model/text.h"

namespace sarn {

namespace {

using vorn_actions::EncodedAction;
using vorn_actions::resource::ActionArgs;
using vorn_actions::resource::ActionBinding;
using vorn_actions::resource::ActionContract;
using vorn_actions::resource::ActionParam;
using vorn_actions::resource::ActionSpec;
using vorn_actions::resource::EffectClass;
using vorn_actions::resource::Resource;

constexpr std::size_t kCollectionLimit = 100;
constexpr std::size_t kCommentLimit = 50;
constexpr std::size_t kLabelLimit = 160;
// A comment text of this many characters or more is shortened to its first
// kShortTextKeep characters and an ellipsis.
constexpr std::size_t kShortTextThreshold = 49;
constexpr std::size_t kShortTextKeep = 45;
constexpr std::string_view kEllipsis = "\u2026";
constexpr std::size_t kInviteMaxLength = 16384;

constexpr std::string_view kSyncUnavailableCode = "grayjay_sync_unavailable";
constexpr std::string_view kSyncUnavailableFallback =
    "Encrypted Grayjay sync is available when the desktop secret broker is unlocked.";

// ---- Text ------------------------------------------------------------------

// Steps over one code point of valid UTF-8 (as json_reader::lossy_utf8
// leaves it) and answers it.
char32_t next_code_point(std::string_view valid, std::size_t& at) {
    const auto lead = static_cast<unsigned char>(valid[at]);
    std::size_t length = 1;
    char32_t value = lead;
    if (lead >= 0xF0) {
        length = 4;
        value = lead & 0x07u;
    } else if (lead >= 0xE0) {
        length = 3;
        value = lead & 0x0Fu;
    } else if (lead >= 0xC0) {
        length = 2;
        value = lead & 0x1Fu;
    }
    for (std::size_t i = 1; i < length && at + i < valid.size(); ++i) {
        value = (value << 6) | (static_cast<unsigned char>(valid[at + i]) & 0x3Fu);
    }
    at = std::min(at + length, valid.size());
    return value;
}

bool is_control(char32_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

bool is_white_space(char32_t c) { return u_isUWhiteSpace(static_cast<UChar32>(c)) != 0; }

// The first `count` code points of valid UTF-8.
std::string_view first_code_points(std::string_view valid, std::size_t count) {
    std::size_t at = 0;
    for (std::size_t n = 0; n < count && at < valid.size(); ++n) next_code_point(valid, at);
    return valid.substr(0, at);
}

// Every run of white space as one space, the ends trimmed; from 49
// characters on, the first 45 and an ellipsis.
std::string comment_short_text(std::string_view text) {
    const std::string valid = json_reader::lossy_utf8(text);
    std::string out;
    out.reserve(valid.size());
    std::size_t count = 0;
    bool pending_space = false;
    std::size_t at = 0;
    while (at < valid.size()) {
        const std::size_t start = at;
        const char32_t c = next_code_point(valid, at);
        if (is_white_space(c)) {
            pending_space = !out.empty();
            continue;
        }
        if (pending_space) {
            out.push_back(' ');
            ++count;
            pending_space = false;
        }
        out.append(valid, start, at - start);
        ++count;
    }
    if (count < kShortTextThreshold) return out;
    std::string shortened(first_code_points(out, kShortTextKeep));
    shortened += kEllipsis;
    return shortened;
}

// ---- Action specifications -------------------------------------------------

// A fixed library action, encoded once under "sarn.action".
ActionSpec shared_action_binding(std::string name, std::string label, const SarnAction& action) {
    return ActionSpec::fixed(std::move(name), std::move(label),
                             EncodedAction{std::string(kSharedActionKind), encode_json(action)})
        .collaborative(is_collaborative(action))
        .typed_document_action();
}

// A fixed operation under "sarn.operation", declaring its operation class.
ActionSpec operation_contract(std::string name, std::string label, const SarnOperation& operation) {
    return ActionSpec::fixed(std::move(name), std::move(label),
                             EncodedAction{std::string(kOperationKind), encode_json(operation)})
        .with_contract(ActionContract{{}, operation_effect_class(operation)});
}

ActionSpec reply_action_spec(std::string comment_key) {
    auto build = [key = std::move(comment_key)](const ActionArgs& args) -> std::expected<std::string, std::string> {
        std::string text = args.text("value");
        std::string reply_id = reply_id_for(key, text);
        return encode_json(SarnAction{action::SetCommentReply{key, std::move(reply_id), std::move(text), true}});
    };
    return ActionSpec("reply", "Reply to comment",
                      vorn_actions::resource::derive_input(std::string(kSharedActionKind), std::move(build)))
        .with_param(ActionParam::text("value", "Reply").with_placeholder("your reply\u2026"))
        .collaborative(true);
}

// ---- Resources -------------------------------------------------------------

Resource comment_resource(const Library& library, std::string_view video_id, const Comment& comment) {
    std::string key = comment_content_key(video_id, comment);
    const auto entry = library.comment_likes.find(key);
    const bool liked = entry != library.comment_likes.end() && entry->second;
    const std::string short_text = comment_short_text(comment.text);
    const std::string label = comment.author.empty() ? short_text : fmt::format("{}: {}", comment.author, short_text);
    return Resource(fmt::format("sarn.comment:{}", key), "sarn.comment", sanitize_label(label))
        .with_action(shared_action_binding("like", liked ? "Unlike comment" : "Like comment",
                                           action::SetCommentLiked{key, !liked}))
        .with_action(reply_action_spec(std::move(key)));
}

Resource settings_resource(const PlaybackSettings& settings) {
    struct Toggle {
        std::string_view name;
        std::string_view label;
        Setting setting;
    };
    static constexpr std::array<Toggle, 5> kToggles = {{
        {"autoplay", "Toggle autoplay", Setting::Autoplay},
        {"comments", "Toggle comments", Setting::ShowComments},
        {"sponsorblock", "Toggle SponsorBlock", Setting::SponsorBlock},
        {"dearrow", "Toggle DeArrow", Setting::DeArrow},
        {"dislikes", "Toggle dislike counts", Setting::ReturnDislike},
    }};
    Resource resource("sarn.settings", "sarn.settings", "Playback settings");
    for (const Toggle& t : kToggles) {
        resource.actions.push_back(shared_action_binding(std::string(t.name), std::string(t.label),
                                                         action::SetSetting{t.setting, !settings.flag(t.setting)}));
    }

    // The quality after the current one, wrapping; an unknown one goes to 720p.
    std::string next_quality = "720p";
    const auto current = std::find(kAcceptedQualities.begin(), kAcceptedQualities.end(), settings.preferred_quality);
    if (current != kAcceptedQualities.end()) {
        const auto next = std::next(current);
        next_quality = std::string(next == kAcceptedQualities.end() ? kAcceptedQualities.front() : *next);
    }
    resource.children.push_back(
        Resource("sarn.setting:preferred-quality", "sarn.setting",
                 fmt::format("Preferred quality: {}", settings.preferred_quality))
            .with_action(shared_action_binding("cycle", "Cycle preferred quality",
                                               action::SetPreferredQuality{std::move(next_quality)})));

    for (SponsorCategory category : kAllSponsorCategories) {
        const auto stored = settings.sponsor_categories.find(category_key(category));
        const SponsorMode mode = stored == settings.sponsor_categories.end() ? SponsorMode::Skip : stored->second;
        std::string_view mode_text = "Auto-skip";
        SponsorMode next = SponsorMode::Show;
        if (mode == SponsorMode::Show) {
            mode_text = "Show";
            next = SponsorMode::Disabled;
        } else if (mode == SponsorMode::Disabled) {
            mode_text = "Off";
            next = SponsorMode::Skip;
        }
        resource.children.push_back(
            Resource(fmt::format("sarn.setting:sponsor-category:{}", category_key(category)), "sarn.setting",
                     fmt::format("SponsorBlock {}: {}", category_label(category), mode_text))
                .with_action(shared_action_binding("cycle",
                                                   fmt::format("Cycle {} handling", category_label(category)),
                                                   action::SetSponsorCategory{category, next})));
    }
    return resource;
}

template <typename T>
std::span<const T> first_items(const std::vector<T>& items) {
    return std::span<const T>(items).first(std::min(items.size(), kCollectionLimit));
}

Resource collection(std::string id, std::string label) {
    return Resource(std::move(id), "sarn.collection", std::move(label));
}

// The watched video's comments hang under "sarn.current:" alone, so that
// every address in the tree names one resource.
Resource videos_collection(const Library& library) {
    Resource resource = collection("sarn.videos", "Videos");
    for (const Video& video : first_items(library.videos)) {
        if (auto child = video_resource(library, video.id, false)) resource.children.push_back(std::move(*child));
    }
    return resource;
}

// Subscribes to the channel, or removes the entry it is followed under; the
// root then removes the channel's other keys, if it is followed under several.
SarnAction subscribe_toggle(const Library& library, const std::string& channel_id) {
    if (auto entry = library.find_subscription(channel_id)) return action::SetSubscription{*entry, false};
    return action::SetSubscription{channel_id, true};
}

Resource creators_collection(const Library& library) {
    Resource resource = collection("sarn.creators", "Creators");
    for (const Channel& channel : first_items(library.channels)) {
        resource.children.push_back(
            Resource(fmt::format("sarn.channel:{}", channel.id), "sarn.channel", sanitize_label(channel.name))
                .with_action(operation_contract("open", "Open creator", operation::OpenChannel{channel.id}))
                .with_action(shared_action_binding("subscribe", "Subscribe or unsubscribe", subscribe_toggle(library, channel.id))));
    }
    return resource;
}

Resource playlists_collection(const Library& library) {
    Resource resource = collection("sarn.playlists", "Playlists");
    for (const Playlist& playlist : first_items(library.playlists)) {
        resource.children.push_back(
            Resource(fmt::format("sarn.playlist:{}", playlist.id), "sarn.playlist", sanitize_label(playlist.title))
                .with_action(operation_contract("open", "Open playlist", operation::OpenPlaylist{playlist.id})));
    }
    return resource;
}

Resource subscriptions_collection(const Library& library) {
    Resource resource = collection("sarn.subscriptions", "Subscriptions");
    for (const std::string& entry : first_items(library.subscriptions)) {
        const Channel* channel = library.subscription_channel(entry);
        Resource item(fmt::format("sarn.subscription:{}", entry), "sarn.subscription",
                      sanitize_label(channel != nullptr && !channel->name.empty()
                                         ? channel->name
                                         : fmt::format("Subscribed creator {}", entry)));
        item.actions.push_back(
            shared_action_binding("unsubscribe", "Unsubscribe", action::SetSubscription{entry, false}));
        if (channel != nullptr) {
            item.actions.push_back(operation_contract("open", "Open creator", operation::OpenChannel{channel->id}));
        }
        resource.children.push_back(std::move(item));
    }
    return resource;
}

Resource queue_collection(const Library& library) {
    Resource resource = collection("sarn.queue", "Shared watch queue");
    for (const std::string& id : first_items(library.queue)) {
        const Video* video = library.find_video(id);
        Resource item(fmt::format("sarn.queue:{}", id), "sarn.queue-entry",
                      sanitize_label(video != nullptr ? video->title : fmt::format("Queued video {}", id)));
        item.actions.push_back(
            shared_action_binding("remove", "Remove from queue", action::SetQueueMembership{id, false}));
        if (video != nullptr) {
            item.actions.push_back(operation_contract("open", "Open video", operation::OpenVideo{id}));
        }
        resource.children.push_back(std::move(item));
    }
    return resource;
}

Resource history_collection(const Library& library) {
    Resource resource =
        collection("sarn.history", "Watch history")
            .with_action(operation_contract("clear", "Clear watch history", operation::ClearHistory{})
                             .with_description("Clear owner-local, device-synchronised watch history")
                             .destructive());
    for (const std::string& id : first_items(library.history)) {
        const Video* video = library.find_video(id);
        resource.children.push_back(
            Resource(fmt::format("sarn.history:{}", id), "sarn.history-entry",
                     sanitize_label(video != nullptr ? video->title : fmt::format("Watched video {}", id)))
                .with_action(operation_contract("open", "Open video", operation::OpenVideo{id}))
                .with_action(operation_contract("remove", "Remove from history", operation::RemoveHistory{id})));
    }
    return resource;
}

Resource search_results_collection(const Library& library) {
    const std::string query(trim_white_space(library.search_query));
    std::string label = "Search results";
    if (!query.empty()) label = fmt::format("Search results: {}", json_reader::lossy_utf8(query));
    Resource resource = collection("sarn.search-results", std::move(label));
    if (query.empty()) return resource;
    auto room = [&resource] { return resource.children.size() < kCollectionLimit; };
    for (const Video* video : library.search_results(library.search_query)) {
        if (!room()) return resource;
        resource.children.push_back(Resource(fmt::format("sarn.search-result:video:{}", video->id),
                                             "sarn.search-result", sanitize_label(video->title))
                                        .with_action(operation_contract("open", "Open video",
                                                                        operation::OpenVideo{video->id})));
    }
    for (const Playlist* playlist : library.search_result_playlist_records(library.search_query)) {
        if (!room()) return resource;
        resource.children.push_back(Resource(fmt::format("sarn.search-result:playlist:{}", playlist->id),
                                             "sarn.search-result", sanitize_label(playlist->title))
                                        .with_action(operation_contract("open", "Open playlist",
                                                                        operation::OpenPlaylist{playlist->id})));
    }
    for (const Channel* channel : library.search_result_channel_records(library.search_query)) {
        if (!room()) return resource;
        resource.children.push_back(Resource(fmt::format("sarn.search-result:channel:{}", channel->id),
                                             "sarn.search-result", sanitize_label(channel->name))
                                        .with_action(operation_contract("open", "Open creator",
                                                                        operation::OpenChannel{channel->id})));
    }
    return resource;
}

Resource library_resource(const Library& library) {
    return Resource("sarn.library", "sarn.library", "Known library")
        .with_child(videos_collection(library))
        .with_child(creators_collection(library))
        .with_child(playlists_collection(library))
        .with_child(subscriptions_collection(library))
        .with_child(queue_collection(library))
        .with_child(history_collection(library))
        .with_child(search_results_collection(library))
        .with_child(collection("sarn.downloads", "Downloads (none available)"));
}

}  // namespace

std::string sanitize_label(std::string_view text) {
    const std::string valid = json_reader::lossy_utf8(text);
    std::string out;
    out.reserve(std::min(valid.size(), kLabelLimit * 4) + kEllipsis.size());
    std::size_t count = 0;
    std::size_t at = 0;
    while (at < valid.size()) {
        if (count == kLabelLimit) {
            out += kEllipsis;
            break;
        }
        const std::size_t start = at;
        if (is_control(next_code_point(valid, at))) {
            out.push_back(' ');
        } else {
            out.append(valid, start, at - start);
        }
        ++count;
    }
    return out;
}

std::string comment_content_key(std::string_view video_id, const Comment& comment) {
    // What stays the same between fetches: the relative time ("2 hours ago")
    // does not, and a key over it would lose the comment's like and replies
    // the next day.
    std::string bytes;
    bytes.reserve(video_id.size() + comment.author.size() + comment.initials.size() + comment.text.size() + 4);
    for (std::string_view part : {video_id, std::string_view(comment.author), std::string_view(comment.initials),
                                  std::string_view(comment.text)}) {
        bytes.append(part);
        bytes.push_back(static_cast<char>(0xFF));
    }
    return fmt::format("{}#{:016x}", video_id, fnv1a64(bytes));
}

vorn_actions::resource::EffectClass operation_effect_class(const SarnOperation& operation) {
    const bool view_only = std::holds_alternative<operation::TogglePlayback>(operation) ||
                           std::holds_alternative<operation::ToggleSidebar>(operation) ||
                           std::holds_alternative<operation::Navigate>(operation) ||
                           std::holds_alternative<operation::OpenVideo>(operation) ||
                           std::holds_alternative<operation::OpenChannel>(operation) ||
                           std::holds_alternative<operation::OpenPlaylist>(operation);
    return view_only ? EffectClass::ViewOnly : EffectClass::BeyondView;
}

std::optional<Resource> video_resource(const Library& library, std::string_view video_id, bool include_comments) {
    const Video* video = library.find_video(video_id);
    if (video == nullptr) return std::nullopt;
    const std::string& id = video->id;
    const bool liked = library.is_liked(id);
    const bool queued = library.is_queued(id);
    Resource resource =
        Resource(fmt::format("sarn.video:{}", id), "sarn.video", sanitize_label(video->title))
            .with_action(operation_contract("open", "Open video", operation::OpenVideo{id}))
            .with_action(shared_action_binding("like", "Like video", action::SetVideoLiked{id, !liked})
                             .with_description("Set the like state for this video"))
            .with_action(shared_action_binding("queue", queued ? "Remove from queue" : "Add to queue",
                                               action::SetQueueMembership{id, !queued})
                             .with_description("Set membership in the shared watch queue")
                             .with_contract(ActionContract{{}, EffectClass::BeyondView}))
            .with_action(operation_contract("mark-watched", "Mark watched", operation::RecordHistory{id})
                             .with_description("Add this video to owner-local, device-synchronised watch history"))
            .with_action(operation_contract("download", "Download video", operation::Download{id})
                             .unavailable("download_storage_unavailable",
                                          "Sarn has no host-granted download storage capability"))
            // Still an operation of class 1: the root refuses a Share of any other class.
            .with_action(operation_contract("share", "Copy share link", operation::Share{id})
                             .with_contract(ActionContract{{"clipboard", "sharing"}, EffectClass::BeyondView}));
    if (include_comments) {
        const std::size_t count = std::min(video->comments.size(), kCommentLimit);
        for (std::size_t i = 0; i < count; ++i) {
            resource.children.push_back(comment_resource(library, id, video->comments[i]));
        }
    }
    return resource;
}

std::vector<Resource> action_resources_tree(const Library& library) {
    const std::string* watched = library.route.kind == Route::Kind::Watch ? &library.route.text : nullptr;
    Resource root("sarn.app", "sarn.application", "Sarn");
    if (watched != nullptr) {
        if (auto current = video_resource(library, *watched, true)) {
            current->id = fmt::format("sarn.current:{}", *watched);
            current->actions.push_back(operation_contract("play-pause", "Play or pause", operation::TogglePlayback{}));
            root.children.push_back(std::move(*current));
        }
    }
    root.children.push_back(navigation_resource());
    root.children.push_back(library_resource(library));
    root.children.push_back(settings_resource(library.settings));
    std::vector<Resource> tree;
    tree.push_back(std::move(root));
    return tree;
}

Resource navigation_resource() {
    struct Entry {
        std::string_view name;
        std::string_view label;
        Route route;
    };
    const std::array<Entry, 6> entries = {{
        {"home", "Open Home", Route::home()},
        {"trending", "Open Trending", Route::trending()},
        {"subscriptions", "Open subscriptions", Route::subscriptions()},
        {"queue", "Open shared watch queue", Route::queue()},
        {"history", "Open watch history", Route::history()},
        {"settings", "Open settings", Route::settings()},
    }};
    Resource resource("sarn.navigation", "sarn.navigation", "Navigate");
    for (const Entry& e : entries) {
        resource.actions.push_back(
            operation_contract(std::string(e.name), std::string(e.label), operation::Navigate{e.route}));
    }
    resource.actions.push_back(
        operation_contract("toggle-sidebar", "Show or hide navigation", operation::ToggleSidebar{}));
    return resource;
}

ActionSpec pair_action_spec() {
    auto build = [](const ActionArgs& args) -> std::expected<std::string, std::string> {
        return encode_json(SarnOperation{operation::PairDevice{args.text("invite")}});
    };
    auto handler = vorn_actions::resource::enforce_operation_type(
        std::string(kOperationKind), vorn_actions::resource::derive_input(std::string(kOperationKind), build));
    return ActionSpec("pair", "Pair using invite", std::move(handler))
        .with_description("Paste a Grayjay pairing invite")
        .privileged()
        .with_param(ActionParam::text("invite", "Invite")
                        .with_description("Grayjay pairing invite; redacted from logs and history")
                        .with_schema(nlohmann::json{{"minLength", 1}, {"maxLength", kInviteMaxLength}}));
}

Resource device_sync_resource(const DeviceSyncHandle& handle) {
    const bool available = handle.state() != DeviceSyncState::Unavailable;
    Resource resource("sarn.device-sync", "sarn.device-sync",
                      available ? "Grayjay device sync" : "Grayjay device sync (unavailable)");
    if (!available) {
        const bool blank = trim_white_space(handle.status_text()).empty();
        const std::string text = blank ? std::string(kSyncUnavailableFallback) : handle.status_text();
        resource.actions.push_back(pair_action_spec().unavailable(std::string(kSyncUnavailableCode), text));
        resource.actions.push_back(operation_contract("sync", "Sync approved devices now", operation::SyncDevices{})
                                       .unavailable(std::string(kSyncUnavailableCode), text));
        return resource;
    }
    resource.actions.push_back(pair_action_spec());
    const auto& peers = handle.peers();
    if (std::any_of(peers.begin(), peers.end(), [](const PeerRecord& p) { return p.is_approved(); })) {
        resource.actions.push_back(operation_contract("sync", "Sync approved devices now", operation::SyncDevices{}));
    }
    for (const PeerRecord& peer : peers) {
        if (peer.revoked_at) continue;
        Resource device(fmt::format("sarn.device:{}", peer.id), "sarn.device", peer.name);
        if (peer.pending_approval) {
            device.actions.push_back(
                operation_contract("approve", "Approve device", operation::ApproveDevice{peer.id}).privileged());
        } else {
            device.actions.push_back(
                operation_contract("revoke", "Revoke device access", operation::RevokeDevice{peer.id}).destructive());
        }
        resource.children.push_back(std::move(device));
    }
    return resource;
}

std::optional<ActionBinding> queue_binding(const Library& library, std::string_view video_id) {
    const auto resource = video_resource(library, video_id, false);
    if (!resource) return std::nullopt;
    const std::size_t listed = std::min(library.videos.size(), kCollectionLimit);
    const bool in_videos = std::any_of(library.videos.begin(), library.videos.begin() + static_cast<std::ptrdiff_t>(listed),
                                       [&](const Video& v) { return v.id == video_id; });
    if (in_videos) return ActionBinding::unit_for(*resource, "queue");
    // Past the first hundred videos the tree holds the video only as the
    // watched one or as a queue entry: bind to what the runtime can run, or
    // the control would never be available.
    const auto tree = action_resources_tree(library);
    if (const auto* current = find_resource_deep(tree, "sarn.current:" + std::string(video_id))) {
        return ActionBinding::unit_for(*current, "queue");
    }
    if (const auto* entry = find_resource_deep(tree, "sarn.queue:" + std::string(video_id))) {
        return ActionBinding::unit_for(*entry, "remove");
    }
    return std::nullopt;
}

std::optional<ActionBinding> sidebar_binding() {
    return ActionBinding::unit_for(navigation_resource(), "toggle-sidebar");
}

std::optional<ActionBinding> route_binding(const Route& route) {
    std::string_view name;
    switch (route.kind) {
        case Route::Kind::Home: name = "home"; break;
        case Route::Kind::Trending: name = "trending"; break;
        case Route::Kind::Subscriptions: name = "subscriptions"; break;
        case Route::Kind::Queue: name = "queue"; break;
        case Route::Kind::History: name = "history"; break;
        case Route::Kind::Settings: name = "settings"; break;
        case Route::Kind::Watch:
        case Route::Kind::Channel:
        case Route::Kind::Playlist:
        case Route::Kind::Search: return std::nullopt;
    }
    return ActionBinding::unit_for(navigation_resource(), name);
}

const Resource* find_resource(std::span<const Resource> resources, std::string_view address) {
    for (const Resource& resource : resources) {
        for (const Resource& child : resource.children) {
            if (child.id == address) return &child;
        }
    }
    return nullptr;
}

void register_sarn_actions(vorn_actions::ActionRegistry& registry) {
    registry.register_action_namespace(std::string(kSharedActionKind), decode_shared_action);
}

std::expected<std::unique_ptr<vorn_actions::TypedAction>, vorn_actions::ActionError> decode_shared_action(
    std::string_view payload) {
    auto decoded = decode_action(payload);
    if (!decoded) {
        return std::unexpected(vorn_actions::ActionError::decode(std::string(kSharedActionKind), decoded.error()));
    }
    return std::make_unique<TypedSarnAction>(std::move(*decoded));
}

std::optional<std::expected<SarnOperation, std::string>> decode_operation(std::string_view kind,
                                                                          std::string_view payload) {
    if (kind != kOperationKind) return std::nullopt;
    return decode_operation(payload);
}

}  // namespace sarn
