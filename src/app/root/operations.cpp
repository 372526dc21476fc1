// The runtime's side of the root: operations it hands back after running an
// action, the control bindings of the watch page's play-pause and share,
// the device operations queued as invocations, the resource tree and the
// dispatch state.
#include <fmt/format.h>

#include "sarn/app/action_tree.h"
#include "sarn/app/sarn_app.h"
#include "vorn_ui/text_selection/clipboard.h"

namespace sarn {

namespace {

constexpr std::string_view kPlayPauseBinding = "sarn.watch.play-pause";
constexpr std::string_view kShareBinding = "sarn.watch.share";

}  // namespace

std::vector<std::string> SarnApp::operation_kinds() const { return {std::string(kOperationKind)}; }

vorn_ui::OperationResult SarnApp::perform_operation(const vorn_ui::OperationRequest& request) {
    if (request.operation_type == 0) return vorn_ui::OperationResult::not_handled();
    const auto decoded = decode_operation(request.kind, request.payload);
    if (!decoded) return vorn_ui::OperationResult::not_handled();
    if (!*decoded) return vorn_ui::OperationResult::failed(decoded->error());
    const SarnOperation& operation = **decoded;
    if (static_cast<std::uint32_t>(operation_effect_class(operation)) != request.operation_type) {
        return vorn_ui::OperationResult::failed(std::string(kOperationContractMismatch));
    }

    const std::uint64_t now = unix_now_ms();
    std::visit(
        [&](const auto& op) {
            using O = std::decay_t<decltype(op)>;
            if constexpr (std::is_same_v<O, operation::TogglePlayback>) {
                m_player->toggle_play();
                m_library.playing = m_player->is_playing();
            } else if constexpr (std::is_same_v<O, operation::ToggleSidebar>) {
                m_sidebar_override = sidebar_visible() ? 0 : 1;
            } else if constexpr (std::is_same_v<O, operation::Share>) {
                const std::string link = fmt::format("{}{}", kShareLinkOrigin, op.video_id);
                vorn_ui::text_selection::clipboard_copy(link);
                m_library.push_recent_entry(fmt::format("Link copied: {}", link));
            } else if constexpr (std::is_same_v<O, operation::Navigate>) {
                navigate(op.route);
                reset_sidebar_override();
            } else if constexpr (std::is_same_v<O, operation::OpenVideo>) {
                if (m_library.find_video(op.video_id) != nullptr) {
                    open_video(op.video_id);
                    reset_sidebar_override();
                } else {
                    m_library.push_recent_entry("That video is no longer available");
                }
            } else if constexpr (std::is_same_v<O, operation::OpenChannel>) {
                if (m_library.find_channel(op.channel_id) != nullptr) {
                    navigate(Route::channel(op.channel_id));
                    reset_sidebar_override();
                    request_when_live(FetchRequest::channel(op.channel_id));
                } else {
                    m_library.push_recent_entry("That creator is no longer available");
                }
            } else if constexpr (std::is_same_v<O, operation::OpenPlaylist>) {
                if (m_library.find_playlist(op.playlist_id) != nullptr) {
                    navigate(Route::playlist(op.playlist_id));
                    reset_sidebar_override();
                    request_when_live(FetchRequest::playlist(op.playlist_id));
                } else {
                    m_library.push_recent_entry("That playlist is no longer available");
                }
            } else if constexpr (std::is_same_v<O, operation::Download>) {
                m_library.push_recent_entry(
                    fmt::format("Downloads are unavailable for {}: no storage capability", op.video_id));
            } else if constexpr (std::is_same_v<O, operation::PairDevice>) {
                if (op.invite.empty() || !m_device_sync->send(sync_command::Pair{op.invite})) {
                    m_library.push_recent_entry("Device pairing is busy or unavailable");
                }
            } else if constexpr (std::is_same_v<O, operation::SyncDevices>) {
                if (!m_device_sync->send(device_sync_snapshot(m_library))) {
                    m_library.push_recent_entry("Device sync is busy or unavailable");
                }
            } else if constexpr (std::is_same_v<O, operation::ApproveDevice>) {
                if (!m_device_sync->send(sync_command::Approve{op.peer_id})) {
                    m_library.push_recent_entry("Could not queue device approval");
                }
            } else if constexpr (std::is_same_v<O, operation::RevokeDevice>) {
                if (!m_device_sync->send(sync_command::Revoke{op.peer_id})) {
                    m_library.push_recent_entry("Could not queue device revocation");
                }
            } else if constexpr (std::is_same_v<O, operation::RecordHistory>) {
                if (dispatch_history_action(OwnerHistoryAction::set_entry(
                        op.video_id, now, true, fmt::format("{}:watch:{}:{}", owner(), op.video_id, now)))) {
                    m_library.remember_watched(op.video_id);
                }
            } else if constexpr (std::is_same_v<O, operation::RemoveHistory>) {
                if (dispatch_history_action(OwnerHistoryAction::set_entry(
                        op.video_id, now, false, fmt::format("{}:remove:{}:{}", owner(), op.video_id, now)))) {
                    std::erase(m_library.history, op.video_id);
                }
            } else if constexpr (std::is_same_v<O, operation::ClearHistory>) {
                if (dispatch_history_action(
                        OwnerHistoryAction::clear(now, fmt::format("{}:clear:all:{}", owner(), now)))) {
                    m_library.history.clear();
                }
            }
        },
        operation);
    m_structure_dirty = true;
    return vorn_ui::OperationResult::handled();
}

void SarnApp::current_video_resource() {
    if (m_library.route.kind != Route::Kind::Watch) {
        m_bound_video.reset();
        m_play_pause_emitter.reset();
        m_share_emitter.reset();
        return;
    }
    const std::string& id = m_library.route.text;
    if (m_bound_video == id) return;
    const auto tree = action_resources_tree(m_library);
    m_play_pause_emitter.reset();
    m_share_emitter.reset();
    if (const auto* current = find_resource(tree, "sarn.current:" + id)) {
        if (auto binding = vorn_actions::resource::ActionBinding::unit_for(*current, "play-pause")) {
            m_play_pause_emitter.emplace(std::move(*binding));
        }
        if (auto binding = vorn_actions::resource::ActionBinding::unit_for(*current, "share")) {
            m_share_emitter.emplace(std::move(*binding));
        }
    }
    m_bound_video = id;
}

bool SarnApp::dispatch_device_operation(std::string_view name, const std::optional<std::string>& peer_id) {
    const auto resource = device_sync_resource(*m_device_sync);
    const vorn_actions::resource::Resource* target = &resource;
    if (peer_id) {
        target = nullptr;
        const std::string address = "sarn.device:" + *peer_id;
        for (const auto& child : resource.children) {
            if (child.id == address) target = &child;
        }
        if (target == nullptr) return false;
    }
    std::optional<vorn_actions::resource::ActionBinding> binding;
    if (name == "pair") {
        std::string invite = m_device_sync->take_pairing_invite();
        if (invite.empty()) return false;
        binding = vorn_actions::resource::ActionBinding::static_json(*target, "pair",
                                                                     nlohmann::json{{"invite", std::move(invite)}});
    } else {
        binding = vorn_actions::resource::ActionBinding::unit_for(*target, name);
    }
    if (!binding) return false;
    auto invocation = binding->invocation();
    if (!invocation) return false;
    m_invocations.push_back(std::move(*invocation));
    return true;
}

std::optional<vorn_ui::ControlInvocation> SarnApp::take_control_invocation() {
    if (!m_invocations.empty()) {
        auto next = std::move(m_invocations.front());
        m_invocations.pop_front();
        return next;
    }
    if (m_play_pause_emitter) {
        if (auto next = m_play_pause_emitter->take()) return next;
    }
    if (m_share_emitter) {
        if (auto next = m_share_emitter->take()) return next;
    }
    if (m_child) return m_child->take_control_invocation();
    return std::nullopt;
}

std::vector<vorn_ui::ControlBindingMetadata> SarnApp::control_action_bindings() const {
    std::vector<vorn_ui::ControlBindingMetadata> out;
    if (m_play_pause_emitter) out.push_back({std::string(kPlayPauseBinding), m_play_pause_emitter->address()});
    if (m_share_emitter) out.push_back({std::string(kShareBinding), m_share_emitter->address()});
    if (m_child) {
        auto tree = m_child->control_action_bindings();
        out.insert(out.end(), std::make_move_iterator(tree.begin()), std::make_move_iterator(tree.end()));
    }
    return out;
}

void SarnApp::refresh_control_action_availability(const vorn_ui::AvailableActions& available) {
    if (m_play_pause_emitter) m_play_pause_emitter->refresh_availability(available);
    if (m_share_emitter) m_share_emitter->refresh_availability(available);
    if (m_child) m_child->refresh_control_action_availability(available);
}

vorn_ui::widget::ActionResources SarnApp::action_resources() const {
    auto resources = action_resources_tree(m_library);
    resources.push_back(device_sync_resource(*m_device_sync));
    return resources;
}

std::optional<vorn_ui::widget::DispatchState> SarnApp::take_dispatch_state() {
    auto heads = m_shared_dispatch.take_pending_heads();
    if (!heads) return std::nullopt;
    vorn_ui::widget::DispatchState state;
    for (const auto& hash : *heads) {
        std::array<std::uint8_t, 32> bytes{};
        std::copy_n(hash.bytes.begin(), bytes.size(), bytes.begin());
        state.heads.push_back(bytes);
    }
    return state;
}

}  // namespace sarn
