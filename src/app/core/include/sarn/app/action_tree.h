#pragma once
// What the program offers the runtime's action surfaces: the "sarn.action"
// namespace with its decoder, the tree of action resources (the current
// video, navigation, the known library, the playback settings, and device
// sync beside them), the bindings that tie the program's own controls to
// actions of that tree, and the decoding of operations handed back.
//
// The tree is built afresh on every request from the Library; nothing is
// cached. Interface thread only.

#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sarn/model/library.h"
#include "sarn/model/operation.h"
#include "sarn/sync/handle.h"
#include "vorn_actions/registry.h"
#include "vorn_actions/resource.h"

namespace sarn {

inline constexpr std::string_view kOperationKind = "sarn.operation";

// Control characters (below U+0020, U+007F to U+009F) become spaces; at most
// 160 characters are kept, with "…" appended when the text was longer.
std::string sanitize_label(std::string_view text);

// Registers "sarn.action" with decode_shared_action; nothing else.
void register_sarn_actions(vorn_actions::ActionRegistry& registry);
// The SarnAction in the payload as the runtime's typed action, or a decode
// error naming the namespace.
std::expected<std::unique_ptr<vorn_actions::TypedAction>, vorn_actions::ActionError> decode_shared_action(
    std::string_view payload);
// Nothing when the kind is not exactly "sarn.operation"; otherwise the
// operation in the payload or the parser's error text.
std::optional<std::expected<SarnOperation, std::string>> decode_operation(std::string_view kind,
                                                                          std::string_view payload);

// The operation class each operation variant declares: ViewOnly for
// TogglePlayback, ToggleSidebar, Navigate, OpenVideo, OpenChannel,
// OpenPlaylist; BeyondView for the others.
vorn_actions::resource::EffectClass operation_effect_class(const SarnOperation& operation);

// The comment's key in the library document: the video id, "#" and 16 hex
// digits of FNV-1a-64 over the video id, the author, the initials and the
// text, each followed by one 0xFF byte (not the relative time, which changes
// from one fetch to the next).
std::string comment_content_key(std::string_view video_id, const Comment& comment);

// One resource, "sarn.app", built from the Library (its current route,
// settings and search results).
std::vector<vorn_actions::resource::Resource> action_resources_tree(const Library& library);
// "sarn.video:{id}" with the video's actions (and its first 50 comments when
// asked); nothing when the Library lacks the video.
std::optional<vorn_actions::resource::Resource> video_resource(const Library& library, std::string_view video_id,
                                                               bool include_comments);
vorn_actions::resource::Resource navigation_resource();
vorn_actions::resource::Resource device_sync_resource(const DeviceSyncHandle& handle);
vorn_actions::resource::ActionSpec pair_action_spec();

// The "queue" action of the video's resource; nothing when the video is unknown.
std::optional<vorn_actions::resource::ActionBinding> queue_binding(const Library& library,
                                                                   std::string_view video_id);
// The navigation resource's "toggle-sidebar".
std::optional<vorn_actions::resource::ActionBinding> sidebar_binding();
// The navigation action of a route (Home, Trending, Subscriptions, Queue,
// History, Settings); nothing for the others.
std::optional<vorn_actions::resource::ActionBinding> route_binding(const Route& route);

// The first resource with the address among the children of the listed
// resources (one level down), in order.
const vorn_actions::resource::Resource* find_resource(std::span<const vorn_actions::resource::Resource> resources,
                                                      std::string_view address);

}  // namespace sarn
